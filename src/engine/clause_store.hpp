// The clause store: every clause the search knows, the watch lists of the long clauses and ranges,
// the implication lists that stand for the binary clauses, and the records of the learnt clauses
// that reduction may release. Clauses are the library's own blocks (bounds header, then literals),
// referred to by the address of the header; entries never own them.
#ifndef NUBRIX_ENGINE_CLAUSE_STORE_HPP
#define NUBRIX_ENGINE_CLAUSE_STORE_HPP

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <limits>
#include <new>
#include <type_traits>

#include <nubrix/formulas.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/nubrix.hpp>
#include <nubrix/vectors.hpp>

namespace nubrix::engine {

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
using watch_list = watcher_vectors::vector;
// The capacity a full list grows to: 1/share of its capacity more (a few elements at least), within
// the limit of 2147483647 elements.
inline std::int32_t grown_capacity(std::int32_t capacity, std::int32_t share) noexcept {
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(std::int64_t{capacity} + capacity / share + 4, std::numeric_limits<std::int32_t>::max()));
}
// The other literals of the binary clauses of a literal: when it becomes false, each must be true.
// An entry is a quarter of a watch entry and never moves, and the list itself is one pointer: its
// block starts with the size and the capacity, and there is no block while it is empty. A list may
// also start in a region of a block shared by many lists (carve()): its capacity is then stored
// negated, and a growth moves it to a block of its own.
class implication_list {
 public:
  const literal* begin() const noexcept { return e_; }
  const literal* end() const noexcept { return e_ == nullptr ? e_ : e_ + header()[0]; }
  std::int32_t size() const noexcept { return e_ == nullptr ? 0 : header()[0]; }
  // Makes room for exactly n literals in an empty list. Raises std::bad_alloc, the list unchanged.
  void reserve(std::int32_t n) {
    assert(size() == 0 && n > 0);
    set_block(internals::allocate(block_bytes(n)), 0, n);
  }
  // Makes an empty list start in `region`, room for n literals (region_words(n) words), which it
  // does not own.
  void carve(std::int32_t* region, std::int32_t n) noexcept {
    assert(size() == 0 && n > 0);
    set_block(region, 0, -n);
  }
  static constexpr std::size_t region_words(std::int32_t n) noexcept { return 2 + static_cast<std::size_t>(n); }
  // Appends l, growing a full block by half. Raises std::bad_alloc, the list unchanged.
  void append(literal l) {
    const std::int32_t n = size();
    const std::int32_t stored = e_ == nullptr ? 0 : header()[1];
    const std::int32_t capacity = stored < 0 ? -stored : stored;
    if (n == capacity) {
      if (capacity == std::numeric_limits<std::int32_t>::max()) throw std::bad_alloc();
      const std::int32_t grown = grown_capacity(capacity, 2);
      if (stored < 0) {
        void* const block = internals::allocate(block_bytes(grown));
        std::memcpy(static_cast<std::int32_t*>(block) + 2, e_, static_cast<std::size_t>(n) * sizeof(literal));
        set_block(block, n, grown);
      } else {
        set_block(e_ == nullptr ? internals::allocate(block_bytes(grown))
                                : internals::reallocate(header(), block_bytes(grown)),
                  n, grown);
      }
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
  // Releases the block, if the list has one of its own; the list must not be used again.
  void destroy() noexcept {
    if (e_ != nullptr && header()[1] >= 0) internals::release(header());
  }

 private:
  static std::size_t block_bytes(std::int32_t capacity) noexcept {
    return 2 * sizeof(std::int32_t) + static_cast<std::size_t>(capacity) * sizeof(literal);
  }
  std::int32_t* header() const noexcept { return reinterpret_cast<std::int32_t*>(e_) - 2; }
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

  // The order in which learnt clauses are kept: fewest levels first, the newest among equals.
  struct more_useful {
    bool operator()(const learnt_record& a, const learnt_record& b) const noexcept {
      return a.lbd != b.lbd ? a.lbd < b.lbd : a.age > b.age;
    }
  };
};
static_assert(std::is_trivially_copyable_v<learnt_record>);

using learnt_vectors = vectors::instance<learnt_record>;

// The literals of the clause block at `block`: its entry `first` is the first of them.
inline literal* clause_literals(array_bounds* block) noexcept {
  return reinterpret_cast<literal*>(reinterpret_cast<std::byte*>(block) + clause_header_size);
}

// Literals true for good before a search (unit clauses, preset entries): the clauses they satisfy
// need no watch. `at` points at the entry of literal 0; null when there are none.
struct known_true {
  const std::uint8_t* at = nullptr;
  bool satisfies(literal_array_access c) const noexcept {
    if (at == nullptr || c.length() < 2 || c.data()[0] == literal{0}) return false;
    for (const literal l : c)
      if (at[to_int(l)] != 0) return true;
    return false;
  }
  bool is_false(literal l) const noexcept { return at != nullptr && at[-to_int(l)] != 0; }
  // Moves the first two literals of the clause lits[0 .. n - 1] that are not known false, in clause
  // order, to its first two positions, so that watching them costs nothing while the known values
  // are asserted: a clause watched on a false literal moves its watch at once.
  void order(literal* lits, std::int32_t n) const noexcept {
    std::int32_t placed = 0;
    for (std::int32_t k = 0; k < n && placed < 2; ++k)
      if (!is_false(lits[k])) std::swap(lits[placed++], lits[k]);
  }
  // The first two literals of clause c once order() has arranged it, without arranging it.
  std::pair<literal, literal> watched_pair(literal_array_access c) const noexcept {
    const literal* const lits = c.data();
    std::int32_t first = -1;
    for (std::int32_t k = 0; k < c.length(); ++k) {
      if (is_false(lits[k])) continue;
      if (first >= 0) return {lits[first], lits[k]};
      first = k;
    }
    if (first <= 0) return {lits[0], lits[1]};
    return first == 1 ? std::pair{lits[1], lits[0]} : std::pair{lits[first], lits[1]};
  }
};

struct internal_formula;
using internal_formula_access = internal_formula*;

// Every clause the search knows, and one watch list and one implication list per literal first ..
// last. One allocation holds the record and, right after it, all its list records.
struct internal_formula {
  literal first;                   // lowest literal with a watch list: -U for a model ending at U
  literal last;                    // highest literal with a watch list: +U (1 and 0 for an empty model)
  formulas::formula clauses;       // the caller's clauses, then theory entries and learnt clauses kept for
                                   // good; owns them all
  learnt_vectors::vector learnts;  // learnt clauses that reduction may release; owns them
  // One block where reserve_watchers() starts every list of a small formula, so that building them
  // costs one allocation: watch entries first, up to arena_end, then the implication lists'
  // regions. A list that outgrows its room moves to a block of its own. Null when there is none.
  void* arena = nullptr;
  watcher* arena_end = nullptr;
  // The largest arena: beyond it, a heap request per list costs little beside the lists, and the
  // room that growing lists leave in an arena would be memory lost for the whole search.
  static constexpr std::size_t arena_limit = std::size_t{256} << 10;

  // A new record over first .. last whose clauses are `clauses` (shared, not copied) and whose
  // lists are all empty. Raises std::bad_alloc with nothing allocated.
  static internal_formula_access create(literal first, literal last, const formulas::formula& clauses);
  // The same over the literals of m's variables, -last .. +last (none for an empty model).
  static internal_formula_access create(const model& m, const formulas::formula& clauses) {
    return m.is_empty() ? create(literal{1}, literal{0}, clauses)
                        : create(-variable{m.last()}, +variable{m.last()}, clauses);
  }
  // Releases the clauses of two literals and drops them from `clauses` (its block keeps its size):
  // the implication lists hold all the search needs of them. Only for clauses the search owns, once
  // their lists are built.
  void release_binary_clauses() noexcept;
  // Releases the record and its list records, nothing they refer to.
  static void release(internal_formula_access f) noexcept;
  // A record over first .. last, a range that holds f's, that takes over f's clauses, learnt
  // clauses and lists (the new ones empty); f is released. Raises std::bad_alloc with f unchanged.
  static internal_formula_access grown(internal_formula_access f, literal first, literal last);

  // The watch list of literal l, for l in first .. last.
  watch_list& occurs_list(literal l) noexcept;
  // The implication list of literal l (the binary clauses that hold it), for l in first .. last.
  implication_list& implications(literal l) noexcept;

  // Appends w to the watch list `list`, growing a full one by half (a few entries at least), where a
  // plain append would double it: the search moves entries between lists all the time.
  void append_watch(watch_list& list, watcher w) {
    if (list.size == list.capacity) grow_watch_list(list);
    list.e[list.size++] = w;
  }
  // Appends e to v, growing a full v by 1/share of its capacity (a few elements at least) where a
  // plain append would double it: the caller's formula (share 8) gains only the clauses kept for
  // good.
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
  // two or more literals of `counted` and `more` that `skip` does not satisfy, which are to follow,
  // each clause of three or more literals arranged by skip.order() first: lists grown by doubling
  // would hold about a third more than they need. Raises std::bad_alloc with every list empty again.
  void reserve_watchers(const formulas::formula& counted,
                        const formulas::formula& more = formulas::clause_vectors::empty_vector, known_true skip = {});
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
  // Releases the blocks of the watch and implication lists and leaves every list empty.
  void reset_watch_lists() noexcept;

 private:
  // Makes room for one more entry in the full list `list`, in a block of its own.
  void grow_watch_list(watch_list& list);
  // Whether the watch list `list` starts in the arena, which owns its room.
  bool in_arena(const watch_list& list) const noexcept {
    const auto at = reinterpret_cast<std::uintptr_t>(list.e);
    return at >= reinterpret_cast<std::uintptr_t>(arena) && at < reinterpret_cast<std::uintptr_t>(arena_end);
  }
  watch_list* lists() noexcept;
  implication_list* implication_lists() noexcept;
  // The number of literals first .. last, each with a watch list and an implication list.
  static std::int64_t literal_count(literal first, literal last) noexcept {
    return std::max<std::int64_t>(std::int64_t{to_int(last)} - to_int(first) + 1, 0);
  }
  std::int64_t literal_count() const noexcept { return literal_count(first, last); }
};

// --- inline parts, on the propagation path ---

inline watch_list* internal_formula::lists() noexcept {
  return reinterpret_cast<watch_list*>(reinterpret_cast<std::byte*>(this) + sizeof(internal_formula));
}

inline implication_list* internal_formula::implication_lists() noexcept {
  return reinterpret_cast<implication_list*>(lists() + literal_count());
}

inline watch_list& internal_formula::occurs_list(literal l) noexcept {
  assert(to_int(l) >= to_int(first) && to_int(l) <= to_int(last));
  return lists()[std::int64_t{to_int(l)} - to_int(first)];
}

inline implication_list& internal_formula::implications(literal l) noexcept {
  assert(to_int(l) >= to_int(first) && to_int(l) <= to_int(last));
  return implication_lists()[std::int64_t{to_int(l)} - to_int(first)];
}

template <typename visit>
void internal_formula::for_each_watch(literal_array_access c, visit f) {
  assert(c.length() >= 2);
  const literal* lits = c.data();
  array_bounds* const block = c.bounds();
  if (lits[0] == literal{0}) {
    // At most one of from .. to: one entry in the list of -v for every v of the range.
    const watcher w{literal{0}, 0, block};
    const std::int64_t from = to_int(lits[1]);
    const std::int64_t to = to_int(lits[c.length() - 1]);
    for (std::int64_t lit = from; lit <= to; ++lit) f(occurs_list(-variable{static_cast<std::int32_t>(lit)}), w);
  } else if (c.length() == 2) {
    // Either literal false makes the other true.
    f(implications(lits[0]), lits[1]);
    f(implications(lits[1]), lits[0]);
  } else if (c.length() == 3 && watcher::holds_ternary(last)) {
    f(occurs_list(lits[0]), watcher{lits[1], watcher::ternary(lits[2]), block});
    f(occurs_list(lits[1]), watcher{lits[0], watcher::ternary(lits[2]), block});
  } else {
    f(occurs_list(lits[0]), watcher{lits[1], 2, block});
    f(occurs_list(lits[1]), watcher{lits[0], 2, block});
  }
}

}  // namespace nubrix::engine

#endif  // NUBRIX_ENGINE_CLAUSE_STORE_HPP
