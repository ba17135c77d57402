// The generic conflict-driven solver, instantiated with a theory.
//
// The search decides the lowest unset variable true first and propagates through two watched
// literals per long clause (binary clauses from lists of implied literals, at-most-one constraints
// from their watch entries alone). Each conflict yields its first-UIP clause, found by walking the
// trail back from the conflict and resolving on the literals of the conflict level until one is
// left; the clause is minimised (literals implied by the others are removed, recursively), the
// search jumps to the highest level among its other literals and asserts its literal of the
// conflict level. Learnt clauses are kept by literal block distance and the less useful half is
// released at growing intervals. There are no restarts and no activity heuristics, so the model
// found is the greatest one, variable 1 most significant and true above false: when a variable is
// set, every decision on the trail is a lower variable set true, and any model that agrees with the
// assignment below it agrees with it there too. How the conflicts are analysed only decides how
// fast the search gets there.
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

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include <nubrix/control.hpp>
#include <nubrix/decisions.hpp>
#include <nubrix/dpll/validation.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/nubrix.hpp>
#include <nubrix/proof.hpp>
#include <nubrix/theory.hpp>
#include <nubrix/vectors.hpp>

namespace nubrix {

namespace testing {
template <typename user_context, auto check>
struct access;  // the test suite's window on the solver's internal state
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
  // f is only read: its entries stay the caller's. `learnts` holds learnt clauses implied by f from
  // earlier solves, taken over; on return, exception or not, it holds the learnt clauses the search
  // kept, again the caller's (without the memory to list them they are released, and std::bad_alloc
  // is raised). The
  // literals of `assumptions` (variables of m) hold before any decision; when they cannot, the
  // answer is unsat and `failed` lists the assumptions that the refutation used (f with them alone
  // has no model; it stays empty only when f alone has none). Learnt clauses are implied by f and the explanations received from check;
  // options.proof must be null. On std::invalid_argument, f and `learnts` are as they were. When
  // `phases` is not null, it holds an entry per variable 0 .. m.last() (1: true, 0: false): the
  // searches by activity start from them, and they are overwritten with the phases the search ends
  // with (the model, after sat), whatever the outcome.
  static solve_result solve_incremental(const formulas::formula& f, formulas::formula& learnts, user_context& ctx,
                                        model& m, const internals::literal_vectors::vector& assumptions,
                                        internals::literal_vectors::vector& failed, const solve_options& options,
                                        std::uint8_t* phases = nullptr);

 private:
  template <typename, auto>
  friend struct testing::access;

  // One watch entry of a clause or at-most-one constraint, in the list of the literal whose
  // falsity makes propagation look at it.
  struct watcher {
    literal blit;          // clause: a literal whose truth shows it satisfied; at-most-one: 0
    std::int32_t next;     // clause of four or more literals: the position (from 0) where the search
                           // for a new watch resumes, 2 .. length - 1; clause of three: its literal
                           // other than the watched one and blit, as third(); at-most-one: 0
    array_bounds* clause;  // the clause block, shared: entries never own it

    // A clause of three literals keeps both its other literals in the entry (when variables are
    // below 2^30: the third as a negative `next`), so that propagation reads the clause only to
    // move its watch.
    static constexpr std::int32_t ternary_bias = std::int32_t{1} << 30;
    static constexpr bool holds_ternary(literal last) noexcept { return to_int(last) < ternary_bias; }
    static constexpr std::int32_t ternary(literal third) noexcept { return to_int(third) - ternary_bias; }
    bool is_ternary() const noexcept { return next < 0; }
    literal third() const noexcept { return literal{next + ternary_bias}; }
  };
  static_assert(sizeof(watcher) == 16);

  using watcher_vectors = vectors::instance<watcher>;
  using watch_list = typename watcher_vectors::vector;
  // The capacity a full list grows to: 1/share of its capacity more (a few elements at least), within
  // the limit of 2147483647 elements.
  static std::int32_t grown_capacity(std::int32_t capacity, std::int32_t share) noexcept {
    return static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{capacity} + capacity / share + 4,
                                                            std::numeric_limits<std::int32_t>::max()));
  }
  // The other literals of the binary clauses of a literal: when it becomes false, each must be true.
  // An entry is a quarter of a watch entry and never moves, and the list itself is one pointer: its
  // block starts with the size and the capacity, and there is no block while it is empty.
  class implication_list {
   public:
    const literal* begin() const noexcept { return e_; }
    const literal* end() const noexcept { return e_ == nullptr ? e_ : e_ + header()[0]; }
    std::int32_t size() const noexcept { return e_ == nullptr ? 0 : header()[0]; }
    // Makes room for exactly n literals in an empty list. Raises std::bad_alloc, the list unchanged.
    void reserve(std::int32_t n) {
      assert(size() == 0 && n > 0);
      set_block(resized(block_bytes(n)), 0, n);
    }
    // Appends l, growing a full block by half. Raises std::bad_alloc, the list unchanged.
    void append(literal l) {
      const std::int32_t n = size();
      const std::int32_t capacity = e_ == nullptr ? 0 : header()[1];
      if (n == capacity) {
        if (capacity == std::numeric_limits<std::int32_t>::max()) throw std::bad_alloc();
        const std::int32_t grown = grown_capacity(capacity, 2);
        set_block(resized(block_bytes(grown)), n, grown);
      }
      e_[n] = l;
      header()[0] = n + 1;
    }
    // Removes the last entry equal to l, which the list must hold, keeping the others in order.
    void remove_last(literal l) noexcept {
      const std::int32_t n = size();
      std::int32_t i = n - 1;
      while (e_[i] != l) --i;
      std::memmove(e_ + i, e_ + i + 1, static_cast<std::size_t>(n - 1 - i) * sizeof(literal));
      header()[0] = n - 1;
    }
    // Releases the block, if any; the list must not be used again.
    void destroy() noexcept {
      if (e_ != nullptr) internals::release(header());
    }

   private:
    static std::size_t block_bytes(std::int32_t capacity) noexcept {
      return 2 * sizeof(std::int32_t) + static_cast<std::size_t>(capacity) * sizeof(literal);
    }
    std::int32_t* header() const noexcept { return reinterpret_cast<std::int32_t*>(e_) - 2; }
    void* resized(std::size_t bytes) const {
      return e_ == nullptr ? internals::allocate(bytes) : internals::reallocate(header(), bytes);
    }
    void set_block(void* block, std::int32_t size, std::int32_t capacity) noexcept {
      auto* const h = static_cast<std::int32_t*>(block);
      h[0] = size;
      h[1] = capacity;
      e_ = reinterpret_cast<literal*>(h + 2);
    }

    literal* e_ = nullptr;
  };
  static_assert(sizeof(implication_list) == sizeof(void*));

  // A learnt clause that may be released again, with what decides whether it is kept.
  struct learnt_record {
    array_bounds* clause;  // the clause block, owned by the internal formula
    std::int32_t lbd;      // literal block distance when learnt: the number of levels among its literals
    std::int32_t age;      // the number of conflicts before it was learnt, modulo 2^31: older is lower
  };
  static_assert(std::is_trivially_copyable_v<learnt_record>);

  using learnt_vectors = vectors::instance<learnt_record>;

  // The literals of the clause block at `block`: its entry `first` is the first of them.
  static literal* clause_literals(array_bounds* block) noexcept {
    return reinterpret_cast<literal*>(reinterpret_cast<std::byte*>(block) + clause_header_size);
  }

  struct internal_formula;
  using internal_formula_access = internal_formula*;
  class search_state;
};

// Every clause the search knows, and one watch list and one implication list per literal first ..
// last. One allocation holds the record and, right after it, all its list records.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
struct dpll<user_context, check>::internal_formula {
  literal first;                            // lowest literal with a watch list: -U for a model ending at U
  literal last;                             // highest literal with a watch list: +U (1 and 0 for an empty model)
  formulas::formula clauses;                // the caller's clauses, then theory entries and learnt clauses kept for
                                            // good; owns them all
  typename learnt_vectors::vector learnts;  // learnt clauses that reduction may release; owns them

  // A new record over first .. last whose clauses are `clauses` (shared, not copied) and whose
  // lists are all empty. Raises std::bad_alloc with nothing allocated.
  static internal_formula_access create(literal first, literal last, const formulas::formula& clauses);
  // The same over the literals of m's variables, -last .. +last (none for an empty model).
  static internal_formula_access create(const model& m, const formulas::formula& clauses) {
    return m.is_empty() ? create(literal{1}, literal{0}, clauses) : create(-variable{m.last()}, +variable{m.last()}, clauses);
  }
  // Releases the clauses of two literals and drops them from `clauses` (its block keeps its size):
  // the implication lists hold all the search needs of them. Only for clauses the search owns, once
  // their lists are built.
  void release_binary_clauses() noexcept;
  // Releases the record and its list records, nothing they refer to.
  static void release(internal_formula_access f) noexcept;

  // The watch list of literal l, for l in first .. last.
  watch_list& occurs_list(literal l) noexcept;
  // The implication list of literal l (the binary clauses that hold it), for l in first .. last.
  implication_list& implications(literal l) noexcept;

  // Appends e to v, growing a full v by 1/share of its capacity (a few elements at least) where a
  // plain append would double it: watch lists (share 2), between which a search moves entries all
  // the time, and the caller's formula (share 8), which gains only the clauses kept for good.
  template <typename vector>
  static void append_grown(vector& v, typename vector::element_type e, std::int32_t share) {
    static_assert(vector::max_capacity == std::numeric_limits<std::int32_t>::max());
    if (v.size == v.capacity && v.capacity < vector::max_capacity) v.reserve(grown_capacity(v.capacity, share));
    v.append(e);
  }
  // Calls f(list, entry) for each watch or implication list of c (two or more entries) and the entry
  // that belongs there; see append_watcher.
  template <typename visit>
  void for_each_watch(literal_array_access c, visit f);
  // Adds the entries that watch c (two or more entries): its first two literals, each literal of a
  // binary clause in the implication list of the other, or every -v of an at-most-one range.
  // Entries appended before a failure stay.
  void append_watcher(literal_array_access c);
  // Sizes the watch and implication lists, all empty, for the append_watcher calls of the entries of
  // two or more literals of `counted` and `more`, which are to follow: lists grown by doubling would
  // hold about a third more than they need. Raises std::bad_alloc with every list empty again.
  void reserve_watchers(const formulas::formula& counted,
                        const formulas::formula& more = formulas::clause_vectors::empty_vector);
  // Makes c part of the search and owned by it: appended to clauses, then watched when it has more
  // than one entry. When the append to clauses fails, c is released and the exception propagates.
  void append_clause(literal_array_access c);
  // Makes the learnt clause c (two or more literals) part of the search as one that reduction may
  // release, watched on its first two literals. When the append fails, c is released and the
  // exception propagates.
  void append_learnt(literal_array_access c, std::int32_t lbd, std::int32_t age);
  // Releases every clause and the clause block (consuming the caller's formula), every learnt
  // clause and its list, then every watch list.
  void destroy() noexcept;
  // Releases the blocks of the watch and implication lists only.
  void destroy_watch_lists() noexcept;

 private:
  watch_list* lists() noexcept;
  implication_list* implication_lists() noexcept;
  // The number of literals first .. last, each with a watch list and an implication list.
  static std::int64_t literal_count(literal first, literal last) noexcept {
    return std::max<std::int64_t>(std::int64_t{to_int(last)} - to_int(first) + 1, 0);
  }
  std::int64_t literal_count() const noexcept { return literal_count(first, last); }
};

}  // namespace nubrix

#include <nubrix/dpll/activity.hpp>
#include <nubrix/dpll/analysis.hpp>
#include <nubrix/dpll/internal_formula.hpp>
#include <nubrix/dpll/propagation.hpp>
#include <nubrix/dpll/reduction.hpp>
#include <nubrix/dpll/search.hpp>
#include <nubrix/dpll/search_state.hpp>
#include <nubrix/dpll/theory_step.hpp>

#endif  // NUBRIX_DPLL_HPP
