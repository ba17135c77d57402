// Clause allocation and release, and the text images of clauses and models.
#include <nubrix/nubrix.hpp>

#include <algorithm>
#include <charconv>

#include <nubrix/internals.hpp>

namespace nubrix {

namespace {
// Appends the decimal digits of a non-negative number.
void append_digits(std::string& res, std::int64_t n) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
  res.append(digits, end);
}
}  // namespace

literal_array_access new_clause(std::span<const literal> literals) {
  assert(literals.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()));
  const literal_array_access c = internals::allocate_clause(static_cast<std::int32_t>(literals.size()));
  std::copy(literals.begin(), literals.end(), c.data());
  return c;
}

literal_array_access new_clause(std::initializer_list<std::int32_t> literals) {
  const literal_array_access c = internals::allocate_clause(static_cast<std::int32_t>(literals.size()));
  std::transform(literals.begin(), literals.end(), c.data(), [](std::int32_t x) { return literal{x}; });
  return c;
}

literal_array_access free(literal_array_access c) noexcept {
  if (!c.is_null()) internals::release(c.bounds());
  return literal_array_access{};
}

std::string image(literal_array_access c) {
  std::string res = "(";
  for (std::int32_t i = c.first(); i <= c.last(); ++i) {
    const std::int64_t x = to_int(c[i]);
    if (x < 0) res += "\u00ac";
    append_digits(res, x < 0 ? -x : x);
    if (i < c.last()) res += " | ";
  }
  res += ')';
  return res;
}

std::string image(const model& m) {
  std::string res;
  bool first = true;
  for (std::int64_t i = m.first(); i <= m.last(); ++i) {
    if (m[variable{static_cast<std::int32_t>(i)}] != variable_value::true_) continue;
    if (!first) res += " & ";
    res += ' ';
    append_digits(res, i);
    first = false;
  }
  return res;
}

}  // namespace nubrix
