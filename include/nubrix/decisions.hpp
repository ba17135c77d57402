// The decision rule: the lowest-numbered unset variable.
#ifndef NUBRIX_DECISIONS_HPP
#define NUBRIX_DECISIONS_HPP

#include <nubrix/nubrix.hpp>

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
