// The decision rule: the lowest-numbered unset variable.
#ifndef NUBRIX_DECISIONS_HPP
#define NUBRIX_DECISIONS_HPP

#include <cstdint>

#include <nubrix/nubrix.hpp>

namespace nubrix {

// How the solver looks for a model. Whatever the policy, it answers whether one exists.
enum class search_policy : std::uint8_t {
  // The greatest model (variable 1 most significant, true above false), found by deciding in
  // variable order where a model is known to follow and asking a search by activity to refute or
  // witness each other choice; with a theory, the same check calls as in_order. With min_vars below
  // the last variable, in_order.
  preferred = 0,
  // The lowest unset variable is decided true at every step: the greatest model, step by step.
  in_order = 1,
  // Decisions by activity with saved phases and restarts: some model, the first found.
  any_model = 2,
};

}  // namespace nubrix

namespace nubrix::decisions {

// The lowest unset variable of m at or after first_unset, which then moves just past it; 0 (and
// first_unset unchanged) when there is none. m must not reach variable 2147483647.
inline variable_or_null first_unassigned(const model& m, variable& first_unset) noexcept {
  assert(to_int(first_unset) >= m.first() || m.is_empty());
  const variable_value* const values = m.data();
  for (std::int32_t i = to_int(first_unset); i <= m.last(); ++i) {
    if (values[i - m.first()] == variable_value::unset) {
      first_unset = variable{i + 1};
      return variable{i};
    }
  }
  return variable{0};
}

}  // namespace nubrix::decisions

#endif  // NUBRIX_DECISIONS_HPP
