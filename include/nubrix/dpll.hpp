// The generic conflict-driven solver, instantiated with a theory.
//
// The search decides the lowest unset variable true first, propagates through two watched literals
// per long clause (binary clauses and at-most-one constraints are propagated from their watch
// entries alone), learns one first-UIP clause per conflict, jumps back to the highest other level
// of that clause and asserts its remaining literal. There are no restarts, no clause deletion and no
// activity heuristics, so the model found is the one a caller who numbers choices by preference
// expects.
//
// Theories. Once every variable up to min_vars is assigned, check(ctx, m, explanation) is called.
// If it accepts, solve returns true. If it rejects, the explanation's entries join the search for
// good and the search goes on from the highest decision level consistent with them:
//  - an entry that the rejected model falsifies is a conflict: the levels above the highest level
//    among its literals are undone, and it is analysed and learnt from like any other conflict;
//  - an entry that is unit under the assignment kept asserts its literal;
//  - when no entry is falsified (an empty explanation included), the search also learns the clause
//    that excludes exactly the rejected assignment, the negation of its decisions;
//  - an empty clause ends the search with false.
// Every rejected model is thereby excluded for good, so the search never offers one twice and
// terminates. solve returns true only with a model that check accepted in its last call and that
// satisfies the formula and every entry received; it returns false only when every assignment of
// the variables up to min_vars that satisfies the formula and the entries received was rejected
// (with the empty theory: when the formula has no model).
#ifndef NUBRIX_DPLL_HPP
#define NUBRIX_DPLL_HPP

#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include <nubrix/decisions.hpp>
#include <nubrix/dpll/validation.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/nubrix.hpp>
#include <nubrix/theory.hpp>
#include <nubrix/vectors.hpp>

namespace nubrix {

namespace testing {
struct dpll_access;  // the test suite's window on the solver's internal state
}

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

 private:
  friend struct testing::dpll_access;

  // One watch entry of a clause or at-most-one constraint.
  struct watcher {
    literal blit;                   // a literal whose truth shows the clause satisfied; 0 for at-most-one
    literal other;                  // for a binary clause the list's own literal, else 0
    literal_array_access literals;  // the clause, shared: entries never own it
  };
  static_assert(sizeof(watcher) == 24);

  using watcher_vectors = vectors::instance<watcher>;
  using watch_list = typename watcher_vectors::vector;

  struct internal_formula;
  using internal_formula_access = internal_formula*;
  class search_state;
};

// Every clause the search knows, and one watch list per literal first .. last. One allocation holds
// the record and, right after it, all its list records.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
struct dpll<user_context, check>::internal_formula {
  literal first;              // lowest literal with a watch list: -U for a model ending at U
  literal last;               // highest literal with a watch list: +U (1 and 0 for an empty model)
  formulas::formula clauses;  // the caller's clauses, then learnt and theory ones; owns them all

  // A new record over first .. last whose clauses are `clauses` (shared, not copied) and whose
  // lists are all empty. Raises std::bad_alloc with nothing allocated.
  static internal_formula_access create(literal first, literal last, const formulas::formula& clauses);
  // Releases the record and its list records, nothing they refer to.
  static void release(internal_formula_access f) noexcept;

  // The watch list of literal l, for l in first .. last.
  watch_list& occurs_list(literal l) noexcept;

  // Adds the entries that watch c (two or more entries): its first two literals, both literals of a
  // binary clause, or every -v of an at-most-one range. Entries appended before a failure stay.
  void append_watcher(literal_array_access c);
  // Makes c part of the search and owned by it: appended to clauses, then watched when it has more
  // than one entry. When the append to clauses fails, c is released and the exception propagates.
  void append_clause(literal_array_access c);
  // Releases every clause and the clause block (consuming the caller's formula), then every list.
  void destroy() noexcept;
  // Releases the blocks of the watch lists only.
  void destroy_watch_lists() noexcept;

 private:
  watch_list* lists() noexcept;
};

}  // namespace nubrix

#include <nubrix/dpll/analysis.hpp>
#include <nubrix/dpll/internal_formula.hpp>
#include <nubrix/dpll/propagation.hpp>
#include <nubrix/dpll/search.hpp>
#include <nubrix/dpll/search_state.hpp>
#include <nubrix/dpll/theory_step.hpp>

#endif  // NUBRIX_DPLL_HPP
