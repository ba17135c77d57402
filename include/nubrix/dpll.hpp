// The generic conflict-driven solver, instantiated with a theory. The template is a thin layer: the
// search itself is compiled once into libnubrix, and each instance hands it `check` and the context
// as a function and a pointer.
//
// The search decides the lowest unset variable true first and propagates through two watched
// literals per long clause (binary clauses from lists of implied literals, at-most-one constraints
// from their watch entries alone). Each conflict yields its first-UIP clause, found by walking the
// trail back from the conflict and resolving on the literals of the conflict level until one is
// left; the clause is minimised (literals implied by the others are removed, recursively), the
// search jumps to the highest level among its other literals and asserts its literal of the
// conflict level. Learnt clauses are kept by literal block distance and the less useful half is
// released at growing intervals. With the preferred and in-order policies the model found is the
// greatest one, variable 1 most significant and true above false: every decision that stays on the
// trail is the lowest unset variable set true, so any model that agrees with the assignment below a
// variable gives it the same value. The preferred policy gets there faster by checking each such
// decision against a witness model found by a search by activity, with restarts and saved phases;
// that search only decides how fast the answer comes, never which one it is.
//
// Theories. Once every variable up to min_vars is assigned, check(ctx, m, explanation) is called.
// If it accepts, solve returns true. If it rejects, the explanation's entries join the search for
// good and the search goes on from the highest decision level consistent with them:
//  - an entry that the rejected model falsifies is a conflict: the levels above the highest level
//    among its literals are undone, and it is analysed and learnt from like any other conflict;
//  - an entry that is unit under the assignment kept asserts its literal;
//  - when no entry is falsified (an empty explanation included), the search also excludes exactly
//    the rejected assignment: it analyses the negation of its decisions as a conflict and keeps
//    the clause learnt from it for good;
//  - an empty clause ends the search with false.
// Every rejected model is thereby excluded for good, so the search never offers one twice and
// terminates. solve returns true only with a model that check accepted in its last call and that
// satisfies the formula and every entry received; it returns false only when every assignment of
// the variables up to min_vars that satisfies the formula and the entries received was rejected
// (with the empty theory: when the formula has no model).
#ifndef NUBRIX_DPLL_HPP
#define NUBRIX_DPLL_HPP

#include <cstdint>

#include <nubrix/control.hpp>
#include <nubrix/decisions.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/nubrix.hpp>
#include <nubrix/theory.hpp>

namespace nubrix::engine {

// A theory as the compiled search calls it: check(context, m, explanation), as the theory's own
// check; accepts_every_model lets the search use the fact that the first model it completes is the
// answer.
struct theory_ref {
  bool (*check)(void* context, const model& m, formulas::formula& explanation);
  void* context;
  bool accepts_every_model;
};

// The theory `check` over the caller's context, for the compiled search; ctx must outlive it.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context> theory_ref theory_of(user_context& ctx)
noexcept {
  const auto call = [](void* context, const model& m, formulas::formula& explanation) -> bool {
    return check(*static_cast<user_context*>(context), m, explanation);
  };
  return theory_ref{+call, static_cast<void*>(&ctx), theory::accepts_every_model<check>};
}

// The compiled search behind dpll<...>::solve_bounded and dpll<...>::solve_incremental, with the
// same contracts.
solve_result solve_bounded(formulas::formula& f, const theory_ref& theory, model& m, variable_or_null min_vars,
                           const solve_options& options);
solve_result solve_incremental(const formulas::formula& f, formulas::formula& learnts, const theory_ref& theory,
                               model& m, const internals::literal_vectors::vector& assumptions,
                               internals::literal_vectors::vector& failed, const solve_options& options,
                               std::uint8_t* phases);

}  // namespace nubrix::engine

namespace nubrix {

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
class dpll {
 public:
  // Searches for a model of f accepted by the theory, deciding variables up to min_vars (0: all of
  // m). Takes f over: its clauses are released and f is reset to the empty formula, whatever the
  // outcome, except when f is refused (below) or building the watch lists fails for want of memory,
  // which leave f untouched with the caller. m is the caller's; entries already set act as fixed
  // facts. Returns true with the model in m (variables above min_vars may stay unset), or false when
  // there is none. std::bad_alloc and exceptions from check propagate after everything the search
  // owns is released.
  // Preconditions, each checked: std::invalid_argument names the entry (its position) and literal.
  //  - m starts at variable 1 or above and ends below 2147483647 (or is empty);
  //  - no entry of f (nor of an explanation from check) is null;
  //  - every literal of a clause names a variable of m: never 0, never -2147483648;
  //  - an at-most-one entry is [0, from, to] with from, to >= 1, and from .. to within m unless empty.
  // An entry of an explanation that breaks them is released with the rest of the explanation, and
  // the search releases what it owns, as when check raises.
  static bool solve(formulas::formula& f, user_context& ctx, model& m, variable_or_null min_vars);
  // The same, looking for models as `policy` says: with preferred (the above) and in_order the
  // answer, the model and the sequence of check calls are the same; any_model may find others.
  static bool solve(formulas::formula& f, user_context& ctx, model& m, variable_or_null min_vars, search_policy policy);
  // The same within the bounds of `options` and with its policy: sat and unsat answer as true and
  // false do above; unknown when a limit or the deadline was reached or options.terminate said stop
  // first, with f taken over all the same and m's entries as the caller gave them. Fills in
  // *options.statistics when it is not null (not when an exception propagates); exceptions from the
  // options' callbacks propagate as those from check do.
  static solve_result solve_bounded(formulas::formula& f, user_context& ctx, model& m, variable_or_null min_vars,
                                    const solve_options& options);
  // The incremental solver's solve: solve_bounded over every variable of m, with these differences.
  // f is only read, but for the order of the literals within a clause, which the search may change
  // (it watches a clause on its first two): its entries stay the caller's. `learnts` holds clauses
  // learnt in earlier solves, taken over; on return, exception or not, it holds the clauses the
  // search kept, again the caller's (without the memory to list them they are released, and
  // std::bad_alloc is raised). They are implied by f and the explanations received from check: the
  // empty clause among them once those have no model at all, so that no later solve asks check
  // again. The literals of `assumptions` (variables of m) hold before any decision; when they
  // cannot, the answer is unsat and `failed` lists the assumptions that the refutation used (f with
  // them alone has no model; it stays empty only when f alone has none). options.proof must be
  // null. On std::invalid_argument, f and `learnts` are as they were. When `phases` is not null, it
  // holds an entry per variable 0 .. m.last() (1: true, 0: false): the searches by activity start
  // from them, and they are overwritten with the phases the search ends with (the model, after
  // sat), whatever the outcome.
  static solve_result solve_incremental(const formulas::formula& f, formulas::formula& learnts, user_context& ctx,
                                        model& m, const internals::literal_vectors::vector& assumptions,
                                        internals::literal_vectors::vector& failed, const solve_options& options,
                                        std::uint8_t* phases = nullptr);
};

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::solve(formulas::formula& f, user_context& ctx, model& m, variable_or_null min_vars) {
  return solve(f, ctx, m, min_vars, search_policy::preferred);
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::solve(formulas::formula& f, user_context& ctx, model& m, variable_or_null min_vars,
                                      search_policy policy) {
  solve_options options;
  options.policy = policy;
  return solve_bounded(f, ctx, m, min_vars, options) == solve_result::sat;
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context> solve_result dpll<user_context, check>::solve_bounded(
    formulas::formula& f, user_context& ctx, model& m, variable_or_null min_vars, const solve_options& options) {
  return engine::solve_bounded(f, engine::theory_of<user_context, check>(ctx), m, min_vars, options);
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context> solve_result dpll<user_context, check>::solve_incremental(
    const formulas::formula& f, formulas::formula& learnts, user_context& ctx, model& m,
    const internals::literal_vectors::vector& assumptions, internals::literal_vectors::vector& failed,
    const solve_options& options, std::uint8_t* phases) {
  return engine::solve_incremental(f, learnts, engine::theory_of<user_context, check>(ctx), m, assumptions, failed,
                                   options, phases);
}

}  // namespace nubrix

#endif  // NUBRIX_DPLL_HPP
