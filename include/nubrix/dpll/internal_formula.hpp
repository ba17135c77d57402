// The solver's internal formula and its watch lists; part of <nubrix/dpll.hpp>.
#ifndef NUBRIX_DPLL_INTERNAL_FORMULA_HPP
#define NUBRIX_DPLL_INTERNAL_FORMULA_HPP

#include <nubrix/dpll.hpp>

namespace nubrix {

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
auto dpll<user_context, check>::internal_formula::create(literal first, literal last, const formulas::formula& clauses)
    -> internal_formula_access {
  static_assert(sizeof(internal_formula) % alignof(watch_list) == 0);
  static_assert(sizeof(watch_list) % alignof(implication_list) == 0);
  const std::int64_t count = std::int64_t{to_int(last)} - to_int(first) + 1;
  const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
  void* block = internals::allocate(sizeof(internal_formula) + n * (sizeof(watch_list) + sizeof(implication_list)));
  auto* f = ::new (block) internal_formula{first, last, clauses, learnt_vectors::empty_vector};
  watch_list* lists = f->lists();
  for (std::size_t i = 0; i < n; ++i) ::new (lists + i) watch_list{};
  implication_list* implied = f->implication_lists();
  for (std::size_t i = 0; i < n; ++i) ::new (implied + i) implication_list{};
  return f;
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::internal_formula::release(internal_formula_access f) noexcept { internals::release(f); }

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
auto dpll<user_context, check>::internal_formula::lists() noexcept -> watch_list* {
  return reinterpret_cast<watch_list*>(reinterpret_cast<std::byte*>(this) + sizeof(internal_formula));
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
auto dpll<user_context, check>::internal_formula::implication_lists() noexcept -> implication_list* {
  return reinterpret_cast<implication_list*>(lists() + (literal_count() > 0 ? literal_count() : 0));
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
auto dpll<user_context, check>::internal_formula::occurs_list(literal l) noexcept -> watch_list& {
  assert(to_int(l) >= to_int(first) && to_int(l) <= to_int(last));
  return lists()[std::int64_t{to_int(l)} - to_int(first)];
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
auto dpll<user_context, check>::internal_formula::implications(literal l) noexcept -> implication_list& {
  assert(to_int(l) >= to_int(first) && to_int(l) <= to_int(last));
  return implication_lists()[std::int64_t{to_int(l)} - to_int(first)];
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
template <typename visit>
void dpll<user_context, check>::internal_formula::for_each_watch(literal_array_access c, visit f) {
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
  } else {
    f(occurs_list(lits[0]), watcher{lits[1], 2, block});
    f(occurs_list(lits[1]), watcher{lits[0], 2, block});
  }
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::internal_formula::append_watcher(literal_array_access c) {
  for_each_watch(c, [](auto& list, auto entry) { append_grown(list, entry, 2); });
}

// Each list's size counts its entries first, then its block is allocated for exactly that many.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::internal_formula::reserve_watchers(const formulas::formula& counted,
                                                                   const formulas::formula& more) {
  for (const formulas::formula* f : {&counted, &more}) {
    for (std::int32_t i = f->first_index(); f->has_element(i); i = f->next(i)) {
      if (f->get(i).length() >= 2) for_each_watch(f->get(i), [](auto& list, auto) { ++list.size; });
    }
  }
  const auto reserve_counted = [count = literal_count()](auto* all) {
    std::int64_t i = 0;
    try {
      for (; i < count; ++i) {
        const std::int32_t n = all[i].size;
        all[i].size = 0;
        if (n > 0) all[i].reserve(n);
      }
    } catch (...) {
      for (; i < count; ++i) all[i].size = 0;
      throw;
    }
  };
  try {
    reserve_counted(lists());
  } catch (...) {
    for (std::int64_t i = 0; i < literal_count(); ++i) implication_lists()[i].size = 0;
    throw;
  }
  reserve_counted(implication_lists());
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::internal_formula::append_clause(literal_array_access c) {
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

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::internal_formula::append_learnt(literal_array_access c, std::int32_t lbd,
                                                                std::int32_t age) {
  assert(c.length() >= 2);
  try {
    learnts.append(learnt_record{c.bounds(), lbd, age});
  } catch (...) {
    free(c);
    throw;
  }
  append_watcher(c);
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::internal_formula::destroy() noexcept {
  formulas::free_all(clauses);
  for (std::int32_t i = 0; i < learnts.size; ++i) free(literal_array_access(learnts.e[i].clause));
  learnts.destroy();
  destroy_watch_lists();
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::internal_formula::destroy_watch_lists() noexcept {
  for (std::int64_t i = 0; i < literal_count(); ++i) {
    lists()[i].destroy();
    implication_lists()[i].destroy();
  }
}

}  // namespace nubrix

#endif  // NUBRIX_DPLL_INTERNAL_FORMULA_HPP
