// An incremental solver: clauses and at-most-one ranges added at any time, solves under
// assumptions, learnt clauses kept from one solve to the next. Beside the plain records of the rest
// of the library, this is an ordinary C++ class that owns what it holds and releases it in its
// destructor.
//
// Each solve answers for the clauses and ranges added so far together with the assumptions made
// since the last solve. By default (search_policy::preferred or in_order) its model is the greatest
// one, variable 1 most significant and true above false, exactly what helpers::dpll_solve gives for
// the same clauses with the assumptions as unit clauses; search_policy::any_model returns the first
// model found. Learnt clauses are implied by the clauses alone (assumptions are decisions, never
// facts), so they stay valid as clauses are added, and every later solve starts with them. The
// search itself lives from one solve to the next (its watch lists, trail, activities, phases and
// learnt clauses): a solve costs what it searches and what was added since the last one.
#ifndef NUBRIX_SOLVER_HPP
#define NUBRIX_SOLVER_HPP

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include <nubrix/control.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/nubrix.hpp>
#include <nubrix/theory.hpp>

namespace nubrix::engine {
class incremental_engine;
struct theory_ref;
}

namespace nubrix {

class solver {
 public:
  // An empty solver: no variables, no clauses; its first solve answers sat.
  solver() noexcept = default;
  // Releases every clause, learnt clause and table the solver holds.
  ~solver();
  solver(solver&& other) noexcept;
  solver& operator=(solver&& other) noexcept;
  solver(const solver&) = delete;
  solver& operator=(const solver&) = delete;

  // Adds the clause of `lits` (copied; repeats and complementary pairs allowed; no literals: no
  // model from now on). The solver's variables grow to the highest one named. Raises
  // std::invalid_argument, the solver unchanged, for literal 0 or -2147483648 or variable 2147483647;
  // std::bad_alloc leaves it unchanged too.
  void add_clause(std::span<const literal> lits);
  void add_clause(std::initializer_list<literal> lits) {
    add_clause(std::span<const literal>(lits.begin(), lits.size()));
  }
  // The same with the literals as signed numbers, as DIMACS writes them: add_clause({1, -2}).
  void add_clause(std::span<const std::int32_t> lits);
  void add_clause(std::initializer_list<std::int32_t> lits) {
    add_clause(std::span<const std::int32_t>(lits.begin(), lits.size()));
  }
  // Adds "at most one of the variables from .. to is true" (nothing when to < from). Raises
  // std::invalid_argument, the solver unchanged, unless from and to are both variables, 1 ..
  // 2147483646; std::bad_alloc leaves it unchanged.
  void add_at_most_one(variable from, variable to);
  // Makes l hold for the next solve only; the solver's variables grow to include it. Same errors as
  // add_clause.
  void assume(literal l);
  void assume(std::int32_t l) { assume(literal{l}); }
  // Drops the assumptions made since the last solve, for a caller that gives up on a solve that
  // raised an exception (which leaves them in place).
  void clear_assumptions() noexcept { assumptions_.clear(); }

  // Solves the clauses and ranges under the assumptions made since the last solve, which are then
  // dropped, within the bounds and callbacks of `options` and with its policy (options.proof must
  // be null: std::invalid_argument otherwise). sat: value() gives the model; unsat: failed() tells
  // which assumptions the refutation used; unknown: a bound was reached or options.terminate said
  // stop. Fills in *options.statistics when not null and keeps a copy for statistics().
  // std::bad_alloc and exceptions from the callbacks propagate with the solver as it was before the
  // call (clauses, variables and assumptions; learnt clauses are a cache and may be fewer) but for
  // the answer of the last solve, forgotten.
  solve_result solve(const solve_options& options = {});
  // The same with a theory: `check` is called with each model the search completes (over 1 ..
  // variables()), and the answer sat means that it accepted the model. The entries it gives when
  // it rejects one must name variables 1 .. variables(); they join the solver's clauses for good, as
  // if added (they are not counted by clauses()), so a theory whose verdicts change from one solve
  // to the next guards its entries with a literal it assumes. With search_policy::preferred and
  // in_order the calls and their models are those of a fresh in-order solve of the clauses with
  // the assumptions as unit clauses. Exceptions from check propagate as the callbacks' do, the
  // entries received before them kept.
  solve_result solve(const solve_options& options, theory::check_function check);

  // The value of v in the model of the last solve when it answered sat: true_ or false_; unset for
  // a variable outside 1 .. variables() and when the last solve did not answer sat.
  variable_value value(variable v) const noexcept;
  // After an unsat answer, whether the assumption l was used to refute the assumptions: the clauses
  // with the failed assumptions alone have no model, and when none failed, the clauses alone have
  // none. False after any other answer.
  bool failed(literal l) const noexcept;
  // The failed assumptions of the last unsat answer, each once, in the order they were assumed.
  std::span<const literal> failed_assumptions() const noexcept;
  // After a sat answer, whether l is true in the model; false after any other answer and for a
  // variable outside 1 .. variables().
  bool holds(literal l) const noexcept;
  bool holds(std::int32_t l) const noexcept { return holds(literal{l}); }
  // The model of the last sat answer as signed numbers, v or -v for each variable 1 .. variables()
  // in order; empty after any other answer.
  std::vector<std::int32_t> model() const;

  // The highest variable named so far by a clause, range or assumption; 0 for none.
  std::int32_t variables() const noexcept { return std::max(variables_, assumed_variables_); }
  // Clauses and ranges added so far.
  std::int32_t clauses() const noexcept { return clauses_; }
  // Learnt clauses held for the next solve.
  std::int32_t learnt_clauses() const noexcept;
  // The statistics of the last solve (all zero before the first).
  const solve_statistics& statistics() const noexcept { return statistics_; }

 private:
  void release() noexcept;
  // Raises std::invalid_argument, naming `operation`, unless l can be a literal of the model.
  static void validate(literal l, const char* operation);
  // Sets the answer of the last solve to none.
  void forget_answer() noexcept;
  // The engine, made with the first clause or range.
  engine::incremental_engine& engine();
  // Either add_clause: the literals as literals or as signed numbers.
  template <typename element>
  void add_clause_of(std::span<const element> lits);
  // Either solve, with the theory (null: every model accepted).
  solve_result solve_with(const solve_options& options, const engine::theory_ref* theory);

  engine::incremental_engine* engine_ = nullptr;  // the search and every clause held, owned
  internals::literal_vectors::vector assumptions_ = internals::literal_vectors::empty_vector;  // for the next solve
  std::vector<literal> failed_;         // the failed assumptions of the last unsat answer, in assumption order
  std::vector<literal> failed_sorted_;  // the same, sorted, for failed()
  nubrix::model model_;                 // the model of the last sat answer over 1 .. variables_, else empty
  std::vector<literal> outside_;        // its assumptions on other variables, sorted
  bool has_model_ = false;              // the last solve answered sat
  std::int32_t variables_ = 0;          // highest variable named so far by a clause or range
  std::int32_t assumed_variables_ = 0;  // highest variable named so far by an assumption
  std::int32_t clauses_ = 0;            // clauses and ranges added
  solve_statistics statistics_;         // of the last solve
};

}  // namespace nubrix

#endif  // NUBRIX_SOLVER_HPP
