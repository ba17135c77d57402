// The engine of the incremental solver: one internal formula and one search state that live from the
// first clause to the solver's end. Clauses and ranges wait until the next solve, which attaches
// them to the live state at level 0 (a clause a fact satisfies is dropped, its false literals are
// left out, a unit is asserted and propagated), grows the variables' tables once, and searches from
// the trail, watch lists, activities, phases and learnt clauses the earlier solves left. A solve thus
// costs what its search touches and what was added since the last one, never a pass over the
// formula. Only after an exception, which may interrupt the search anywhere, are the lists and
// tables rebuilt from the clauses held, as a fresh search would build them.
#ifndef NUBRIX_ENGINE_INCREMENTAL_HPP
#define NUBRIX_ENGINE_INCREMENTAL_HPP

#include <cstdint>
#include <span>

#include <nubrix/control.hpp>
#include <nubrix/dpll.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/nubrix.hpp>

namespace nubrix::engine {

struct internal_formula;
class search_state;

class incremental_engine {
 public:
  incremental_engine() noexcept = default;
  // Releases every clause, learnt clause, list and table.
  ~incremental_engine();
  incremental_engine(const incremental_engine&) = delete;
  incremental_engine& operator=(const incremental_engine&) = delete;

  // Holds the clause of `lits` (variables 1 .. 2147483646, copied) or the range from .. to (from <=
  // to) for the next solve. Raises std::bad_alloc with nothing held.
  void add_clause(std::span<const literal> lits);
  void add_clause(std::span<const std::int32_t> lits);  // the literals as signed numbers
  void add_at_most_one(variable from, variable to);

  // Solves what was added so far over the variables 1 .. variables (at least every variable of a
  // clause or range held) under the assumptions (variables 1 .. variables), within `options` and
  // with their policy. sat: `m` becomes the model over 1 .. variables; unsat: `failed` (emptied
  // first) lists the assumptions the refutation used, none when the clauses alone have no model.
  // With `theory` (null: every model accepted), each complete model is checked, and the entries of
  // a rejection join the clauses held for good. Exceptions (std::bad_alloc, the callbacks', the
  // theory's) leave every clause held (and every entry received), the learnt clauses in doubt but
  // implied, and the next solve rebuilding the lists and tables.
  solve_result solve(std::int32_t variables, std::span<const literal> assumptions, const solve_options& options,
                     model& m, internals::literal_vectors::vector& failed, const theory_ref* theory = nullptr);

  // Learnt clauses held for later solves: those that reduction may release and the learnt units.
  std::int32_t learnt_clauses() const noexcept;

 private:
  // The internal formula and the state over no variable, when there are none yet.
  void create();
  // Holds c (owned) for the next solve; releases it when that runs out of memory.
  void hold(literal_array_access c);
  // A persistent state over f_ and m_, its unit clauses asserted (no_model_ when they conflict).
  void start_state();
  void release_state() noexcept;
  // Room and tables for the variables 1 .. last.
  void grow(std::int32_t last);
  // Attaches the clauses and ranges added since the last solve.
  void attach_pending();
  // The lists and tables anew from the clauses and learnt clauses held.
  void rebuild();
  void release() noexcept;

  internal_formula* f_ = nullptr;  // every clause attached, the learnt clauses and the lists; owned
  search_state* state_ = nullptr;  // the search over f_ and m_, its tables; owned
  model m_;                        // the assignment the search works on: level 0 between solves
  formulas::formula pending_ = formulas::clause_vectors::empty_vector;  // added, not yet attached; owned
  std::int32_t attached_ = 0;  // entries of f_->clauses added or given by a theory (the others: learnt units)
  bool no_model_ = false;      // the clauses held have no model: every later solve is unsat
  bool stale_ = false;         // an exception left the lists and tables in doubt: rebuild first
};

}  // namespace nubrix::engine

#endif  // NUBRIX_ENGINE_INCREMENTAL_HPP
