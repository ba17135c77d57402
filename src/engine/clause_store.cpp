// The clause store: building and releasing the internal formula and its lists.
#include "clause_store.hpp"

#include <memory>

namespace nubrix::engine {

internal_formula_access internal_formula::create(literal first, literal last, const formulas::formula& clauses) {
  static_assert(sizeof(internal_formula) % alignof(watch_list) == 0);
  static_assert(sizeof(watch_list) % alignof(implication_list) == 0);
  const auto n = static_cast<std::size_t>(literal_count(first, last));
  void* block = internals::allocate(sizeof(internal_formula) + n * (sizeof(watch_list) + sizeof(implication_list)));
  auto* f = ::new (block) internal_formula{first, last, clauses, learnt_vectors::empty_vector, nullptr, nullptr};
  watch_list* lists = f->lists();
  for (std::size_t i = 0; i < n; ++i) ::new (lists + i) watch_list{};
  implication_list* implied = f->implication_lists();
  for (std::size_t i = 0; i < n; ++i) ::new (implied + i) implication_list{};
  return f;
}

void internal_formula::release(internal_formula_access f) noexcept { internals::release(f); }

internal_formula_access internal_formula::grown(internal_formula_access f, literal first, literal last) {
  assert(to_int(first) <= to_int(f->first) && to_int(last) >= to_int(f->last));
  const internal_formula_access g = create(first, last, f->clauses);
  g->learnts = f->learnts;
  g->arena = f->arena;
  g->arena_end = f->arena_end;
  // Lists are plain records over their blocks: moved by copying the records.
  const std::int64_t offset = std::int64_t{to_int(f->first)} - to_int(first);
  std::memcpy(static_cast<void*>(g->lists() + offset), f->lists(),
              static_cast<std::size_t>(f->literal_count()) * sizeof(watch_list));
  std::memcpy(static_cast<void*>(g->implication_lists() + offset), f->implication_lists(),
              static_cast<std::size_t>(f->literal_count()) * sizeof(implication_list));
  release(f);
  return g;
}

void internal_formula::reset_watch_lists() noexcept {
  destroy_watch_lists();
  const std::int64_t n = literal_count();
  for (std::int64_t i = 0; i < n; ++i) {
    ::new (lists() + i) watch_list{};
    ::new (implication_lists() + i) implication_list{};
  }
}

void internal_formula::append_watcher(literal_array_access c) {
  struct {
    internal_formula* f;
    void operator()(watch_list& list, watcher w) const { f->append_watch(list, w); }
    void operator()(implication_list& list, literal l) const { list.append(l); }
  } append{this};
  for_each_watch(c, append);
}

void internal_formula::grow_watch_list(watch_list& list) {
  if (list.capacity == watch_list::max_capacity) throw std::bad_alloc();
  const std::int32_t grown = grown_capacity(list.capacity, 2);
  if (!in_arena(list)) {
    list.reserve(grown);
    return;
  }
  void* const block = internals::allocate(watch_list::bd_size + static_cast<std::size_t>(grown) * sizeof(watcher));
  auto* const e = reinterpret_cast<watcher*>(static_cast<std::byte*>(block) + watch_list::offset);
  std::memcpy(static_cast<void*>(e), list.e, static_cast<std::size_t>(list.size) * sizeof(watcher));
  list.e = e;
  list.capacity = grown;
}

// Each list's size counts its entries first, then its block is allocated for exactly that many.
void internal_formula::reserve_watchers(const formulas::formula& counted, const formulas::formula& more,
                                        known_true skip) {
  // Watch lists count in their size; implication lists, a pointer each, in a table of their own.
  const std::int64_t literals = literal_count();
  const std::unique_ptr<std::int32_t, decltype(&internals::release)> counts(
      static_cast<std::int32_t*>(internals::allocate(static_cast<std::size_t>(literals + 1) * sizeof(std::int32_t))),
      &internals::release);
  std::int32_t* const implied_counts = counts.get();
  std::memset(implied_counts, 0, static_cast<std::size_t>(literals) * sizeof(std::int32_t));
  struct {
    std::int32_t* implied_counts;
    implication_list* implied;
    void operator()(watch_list& list, watcher) const { ++list.size; }
    void operator()(implication_list& list, literal) const { ++implied_counts[&list - implied]; }
  } count{implied_counts, implication_lists()};
  for (const formulas::formula* f : {&counted, &more}) {
    for (std::int32_t i = f->first_index(); f->has_element(i); i = f->next(i)) {
      const literal_array_access c = f->get(i);
      if (c.length() < 2 || skip.satisfies(c)) continue;
      if (skip.at == nullptr || c.length() == 2 || c.data()[0] == literal{0}) {
        for_each_watch(c, count);
      } else {
        // Watched as skip.order() will arrange it (the order of a binary clause does not count).
        const auto [a, b] = skip.watched_pair(c);
        ++occurs_list(a).size;
        ++occurs_list(b).size;
      }
    }
  }
  // One arena for all of them: the watch entries, then the implication lists' regions.
  assert(arena == nullptr);
  const std::int64_t n = literal_count();
  watch_list* const watches = lists();
  std::size_t entries = 0;
  std::size_t words = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    entries += static_cast<std::size_t>(watches[i].size);
    if (implied_counts[i] > 0) words += implication_list::region_words(implied_counts[i]);
  }
  if (entries + words == 0) return;
  const std::size_t bytes = entries * sizeof(watcher) + words * sizeof(std::int32_t);
  if (bytes > arena_limit) {
    // A large formula: lists of their own, which grow in place where the room moved out of an arena
    // would stay unused.
    std::int64_t i = 0;
    try {
      for (; i < n; ++i) {
        const std::int32_t k = watches[i].size;
        watches[i].size = 0;
        if (k > 0) watches[i].reserve(k);
      }
    } catch (...) {
      for (; i < n; ++i) watches[i].size = 0;
      throw;
    }
    for (i = 0; i < n; ++i)
      if (implied_counts[i] > 0) implication_lists()[i].reserve(implied_counts[i]);
    return;
  }
  try {
    arena = internals::allocate(bytes);
  } catch (...) {
    for (std::int64_t i = 0; i < n; ++i) watches[i].size = 0;
    throw;
  }
  auto* next = static_cast<watcher*>(arena);
  for (std::int64_t i = 0; i < n; ++i) {
    const std::int32_t k = watches[i].size;
    watches[i].size = 0;
    if (k == 0) continue;
    watches[i].e = next;
    watches[i].capacity = k;
    next += k;
  }
  arena_end = next;
  auto* region = reinterpret_cast<std::int32_t*>(next);
  for (std::int64_t i = 0; i < n; ++i) {
    if (implied_counts[i] == 0) continue;
    implication_lists()[i].carve(region, implied_counts[i]);
    region += implication_list::region_words(implied_counts[i]);
  }
}

void internal_formula::release_binary_clauses() noexcept {
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < clauses.size; ++i) {
    const literal_array_access c = clauses.e[i];
    if (c.length() == 2 && !is_at_most_one(c)) {
      free(c);
    } else {
      clauses.e[kept++] = c;
    }
  }
  clauses.size = kept;
}

void internal_formula::append_clause(literal_array_access c) {
  try {
    // The caller's formula is usually large and gains only the few clauses kept for good: it grows by
    // an eighth, where doubling would leave most of a second copy of its vector unused.
    append_grown(clauses, c, 8);
  } catch (...) {
    free(c);
    throw;
  }
  if (c.length() > 1) append_watcher(c);
}

void internal_formula::append_learnt(literal_array_access c, std::int32_t lbd, std::int32_t age) {
  assert(c.length() >= 2);
  try {
    learnts.append(learnt_record{c.bounds(), lbd, age});
  } catch (...) {
    free(c);
    throw;
  }
  append_watcher(c);
}

void internal_formula::destroy() noexcept {
  formulas::free_all(clauses);
  for (std::int32_t i = 0; i < learnts.size; ++i) free(literal_array_access(learnts.e[i].clause));
  learnts.destroy();
  destroy_watch_lists();
}

void internal_formula::destroy_watch_lists() noexcept {
  watch_list* const watches = lists();
  implication_list* const implied = implication_lists();
  for (std::int64_t i = 0; i < literal_count(); ++i) {
    if (!in_arena(watches[i])) watches[i].destroy();  // the arena's lists go with it
    implied[i].destroy();
  }
  internals::release(arena);
  arena = nullptr;
  arena_end = nullptr;
}

}  // namespace nubrix::engine
