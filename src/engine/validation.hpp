// The checks that keep malformed entries and models out of the search.
// They run in passes the solver makes anyway (building the watch lists, taking an explanation over),
// so a well-formed call pays one comparison per literal and nothing else.
#ifndef NUBRIX_ENGINE_VALIDATION_HPP
#define NUBRIX_ENGINE_VALIDATION_HPP

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include <nubrix/nubrix.hpp>

namespace nubrix::engine {

// Raises std::invalid_argument unless m can carry a search: no entry below variable 1 and none at
// 2147483647, the one variable whose successor the search cannot name.
inline void validate_model(const model& m) {
  if (m.is_empty()) return;
  if (m.first() <= 0) {
    throw std::invalid_argument("nubrix::dpll::solve: the model's bounds " + std::to_string(m.first()) + " .. " +
                                std::to_string(m.last()) + " start below variable 1");
  }
  if (m.last() == std::numeric_limits<std::int32_t>::max()) {
    throw std::invalid_argument(
        "nubrix::dpll::solve: the model's bounds end at variable 2147483647; the solver takes at most "
        "2147483646");
  }
}

// Whether l names a variable of m: never 0 nor -2147483648, its variable within m's bounds. One
// unsigned comparison: 0 and -2147483648 fall outside every model.
inline bool names_variable_of(literal l, const model& m) noexcept {
  const std::int32_t x = to_int(l);
  const std::uint32_t magnitude = x < 0 ? 0U - static_cast<std::uint32_t>(x) : static_cast<std::uint32_t>(x);
  return !m.is_empty() &&
         magnitude - static_cast<std::uint32_t>(m.first()) <= static_cast<std::uint32_t>(m.last() - m.first());
}

// Raises std::invalid_argument for entry `position` of `source`, saying why.
[[noreturn, gnu::cold]] inline void entry_fault(const char* source, std::int32_t position, const std::string& why) {
  throw std::invalid_argument(std::string("nubrix::dpll::solve: entry ") + std::to_string(position) + " of " + source +
                              " " + why);
}

inline std::string bounds_text(const model& m) {
  return m.is_empty() ? std::string("(the model is empty)")
                      : "(the model holds " + std::to_string(m.first()) + " .. " + std::to_string(m.last()) + ")";
}

// Raises std::invalid_argument naming `position` in `source` ("the formula", "the explanation") and
// the literal at fault unless c is an entry the search can take over under m (a model that passed
// validate_model): not null; a clause whose every literal names a variable of m; or an at-most-one
// entry [0, from, to] whose ends are positive, the range from .. to lying within m unless empty.
inline void validate_entry(literal_array_access c, std::int32_t position, const model& m, const char* source) {
  if (c.is_null()) entry_fault(source, position, "is null");
  const literal* const lits = c.data();
  const std::int32_t n = c.length();
  const auto outside = [&](literal l) { return !names_variable_of(l, m); };
  if (n > 0 && lits[0] == literal{0}) {
    if (n < 2) entry_fault(source, position, "is an at-most-one entry [0] without a range");
    const std::int32_t from = to_int(lits[1]);
    const std::int32_t to = to_int(lits[n - 1]);
    for (const std::int32_t end : {from, to}) {
      if (end <= 0) {
        entry_fault(
            source, position,
            "is an at-most-one entry whose range ends at literal " + std::to_string(end) + ", not a positive variable");
      }
    }
    if (from <= to && (outside(literal{from}) || outside(literal{to}))) {
      entry_fault(source, position,
                  "is the at-most-one range " + std::to_string(from) + " .. " + std::to_string(to) +
                      ", which reaches outside the model " + bounds_text(m));
    }
    return;
  }
  for (std::int32_t i = 0; i < n; ++i) {
    if (!outside(lits[i])) continue;
    const std::int32_t x = to_int(lits[i]);
    const std::string at = "holds literal " + std::to_string(x) + " at position " + std::to_string(i + 1);
    if (x == 0) entry_fault(source, position, at + ": 0 only starts an at-most-one entry [0, from, to]");
    if (x == std::numeric_limits<std::int32_t>::min()) entry_fault(source, position, at + ", which names no variable");
    entry_fault(source, position, at + ", whose variable lies outside the model " + bounds_text(m));
  }
}

}  // namespace nubrix::engine

#endif  // NUBRIX_ENGINE_VALIDATION_HPP
