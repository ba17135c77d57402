// The search loop and the solver entry; part of <nubrix/dpll.hpp>.
#ifndef NUBRIX_DPLL_SEARCH_HPP
#define NUBRIX_DPLL_SEARCH_HPP

#include <nubrix/dpll.hpp>
#include <nubrix/dpll/search_state.hpp>

namespace nubrix {

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::search_state::check_assign(literal l, array_bounds* antecedent) {
  const variable_value actual = val(l);
  if (actual == variable_value::unset) {
    assign(l, antecedent);
    return !propagate();
  }
  return actual == variable_value::true_;
}

// Level 0 first: the model's preset entries, then every clause of one literal, in formula order. A
// clause without literals has no model. Then decide, propagate and learn until every variable up to
// min_vars is set, and ask the theory.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::search_state::search() {
  start();
  return run();
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::search_state::run() {
  if (propagate()) return cleanup(false);
  for (std::int32_t i = f_.clauses.first_index(); f_.clauses.has_element(i); i = f_.clauses.next(i)) {
    const literal_array_access c = f_.clauses.get(i);
    if (c.is_empty()) return cleanup(false);
    if (c.length() != 1) continue;
    if (!check_assign(c.data()[0], c.bounds())) return cleanup(false);
  }
  for (;;) {
    if (!assign_all()) return cleanup(false);
    switch (theory_step()) {
      case verdict::accepted:
        return cleanup(true);
      case verdict::no_model:
        return cleanup(false);
      case verdict::go_on:
        break;
    }
  }
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::solve(formulas::formula& f, user_context& ctx, model& m, variable_or_null min_vars) {
  return solve(f, ctx, m, min_vars, search_policy::preferred);
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::solve(formulas::formula& f, user_context& ctx, model& m, variable_or_null min_vars,
                                      search_policy policy) {
  dpll_detail::validate_model(m);
  const bool is_empty = m.first() > m.last();
  const literal first = is_empty ? literal{1} : -variable{m.last()};
  const literal last = is_empty ? literal{0} : +variable{m.last()};
  const internal_formula_access internal = internal_formula::create(first, last, f);
  try {
    for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
      const literal_array_access c = f.get(i);
      dpll_detail::validate_entry(c, i, m, "the formula");
      if (c.length() > 1) internal->append_watcher(c);
    }
  } catch (...) {
    internal->destroy_watch_lists();
    internal_formula::release(internal);
    throw;
  }
  f = formulas::clause_vectors::empty_vector;

  const variable_or_null bound = to_int(min_vars) == 0 ? variable{m.last()} : min_vars;
  // The preferred model is the in-order search's only when every variable is decided.
  if (policy == search_policy::preferred && to_int(bound) < m.last()) policy = search_policy::in_order;
  search_state state(*internal, ctx, m, bound, policy);
  bool r = false;
  try {
    r = state.search();
  } catch (...) {
    state.cleanup(false);
    internal_formula::release(internal);
    throw;
  }
  internal_formula::release(internal);
  return r;
}

}  // namespace nubrix

#endif  // NUBRIX_DPLL_SEARCH_HPP
