// Core vocabulary: variables, literals, clauses, at-most-one constraints, values and models.
#ifndef NUBRIX_NUBRIX_HPP
#define NUBRIX_NUBRIX_HPP

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nubrix {

// A Boolean variable, numbered 1 .. 2147483647.
enum class variable : std::int32_t {};

// A variable or 0 for none.
using variable_or_null = variable;

// A variable (+v) or its negation (-v). 0 marks an at-most-one constraint and is the literal of no
// variable, as is -2147483648.
enum class literal : std::int32_t {};

// The positive literal of v.
constexpr literal operator+(variable v) noexcept { return literal{static_cast<std::int32_t>(v)}; }

// The negative literal of v; no variable overflows.
constexpr literal operator-(variable v) noexcept { return literal{-static_cast<std::int32_t>(v)}; }

// The complementary literal; l must not be -2147483648.
constexpr literal operator-(literal l) noexcept { return literal{-static_cast<std::int32_t>(l)}; }

// The variable of l, |l|; 0 for the literals 0 and -2147483648, which name no variable.
constexpr variable get_var(literal l) noexcept {
  const std::int32_t x = static_cast<std::int32_t>(l);
  if (x >= 0) return variable{x};
  if (x == std::numeric_limits<std::int32_t>::min()) return variable{0};
  return variable{-x};
}

// The number of a literal or variable, for arithmetic and output.
constexpr std::int32_t to_int(literal l) noexcept { return static_cast<std::int32_t>(l); }
constexpr std::int32_t to_int(variable v) noexcept { return static_cast<std::int32_t>(v); }

// True for a positive literal (+v).
constexpr bool is_positive(literal l) noexcept { return static_cast<std::int32_t>(l) > 0; }

// The value of a variable in a model, one byte with fixed numbers.
enum class variable_value : std::uint8_t { true_ = 0, false_ = 1, unset = 2 };

// "TRUE", "FALSE", "UNSET", indexed by the number of a variable_value.
inline constexpr std::array<std::string_view, 3> variable_value_names{"TRUE", "FALSE", "UNSET"};

// The bounds header at the start of every clause and vector block.
struct array_bounds {
  std::int32_t first;  // index of the first literal, 1 for every clause the library makes
  std::int32_t last;   // index of the last literal; last < first for an empty clause
};

// The byte layout of a clause block: the bounds, then the literals, entry `first` at byte 8.
inline constexpr std::size_t clause_header_size = sizeof(array_bounds);
static_assert(sizeof(array_bounds) == 8);
static_assert(offsetof(array_bounds, first) == 0 && offsetof(array_bounds, last) == 4);
static_assert(sizeof(literal) == 4 && alignof(literal) <= alignof(array_bounds));

// The size in bytes of a clause block with room for n literals.
constexpr std::size_t clause_block_size(std::size_t n) noexcept { return clause_header_size + n * sizeof(literal); }

// A clause: an owning, nullable reference to one heap block laid out as [first, last, literals...].
// It holds two addresses, the first literal and the bounds header, and is copied like a pointer:
// copies share the block, and exactly one owner releases it with free().
class literal_array_access {
 public:
  // The null reference.
  constexpr literal_array_access() noexcept = default;

  // A reference to the block whose header is at `bounds`; its literals start right after it.
  explicit literal_array_access(array_bounds* bounds) noexcept
      : data_(reinterpret_cast<literal*>(reinterpret_cast<std::byte*>(bounds) + clause_header_size)), bounds_(bounds) {}

  constexpr bool is_null() const noexcept { return data_ == nullptr; }
  constexpr explicit operator bool() const noexcept { return data_ != nullptr; }

  std::int32_t first() const noexcept { return bounds_->first; }
  std::int32_t last() const noexcept { return bounds_->last; }
  // The number of literals: last - first + 1, or 0 when last < first.
  std::int32_t length() const noexcept {
    const std::int64_t n = std::int64_t{bounds_->last} - bounds_->first + 1;
    return n > 0 ? static_cast<std::int32_t>(n) : 0;
  }
  bool is_empty() const noexcept { return bounds_->last < bounds_->first; }

  // The literal at index i of the clause's own bounds, first .. last.
  literal& operator[](std::int32_t i) const noexcept {
    assert(i >= bounds_->first && i <= bounds_->last);
    return data_[static_cast<std::int64_t>(i) - bounds_->first];
  }

  // The literals as a contiguous range, entry `first` at begin().
  literal* begin() const noexcept { return data_; }
  literal* end() const noexcept { return data_ + length(); }

  // The address of the first literal (byte 8 of the block) and of the bounds (byte 0).
  constexpr literal* data() const noexcept { return data_; }
  constexpr array_bounds* bounds() const noexcept { return bounds_; }

  friend constexpr bool operator==(const literal_array_access&, const literal_array_access&) noexcept = default;

 private:
  literal* data_ = nullptr;         // first literal, byte 8 of the block; null for the null reference
  array_bounds* bounds_ = nullptr;  // bounds header, byte 0 of the block; never read when null
};
static_assert(sizeof(literal_array_access) == 16);

// True for an at-most-one entry [0, from, to] (at most one of the variables from .. to is true): its
// first literal is the marker 0, which no clause holds.
inline bool is_at_most_one(literal_array_access entry) noexcept {
  return !entry.is_empty() && entry.data()[0] == literal{0};
}

// A new clause with bounds 1 .. n holding the given literals, owned by the caller (release with
// free). Raises std::bad_alloc when the heap is exhausted.
literal_array_access new_clause(std::span<const literal> literals);
literal_array_access new_clause(std::initializer_list<std::int32_t> literals);

// Releases the whole block of c, spare room included, when c is not null. Returns the null
// reference for the owner to store back.
literal_array_access free(literal_array_access c) noexcept;

// An assignment: one variable_value per variable first .. last, every entry unset when made.
// The caller's own value type: copying copies the values.
class model {
 public:
  // The empty model, bounds 1 .. 0.
  model() = default;
  // A model over first .. last (first >= 1), every entry unset; empty when last < first.
  model(std::int32_t first, std::int32_t last)
      : first_(first), last_(last), values_(length_of(first, last), variable_value::unset) {
    assert(first >= 1 || last < first);
  }

  std::int32_t first() const noexcept { return first_; }
  std::int32_t last() const noexcept { return last_; }
  std::int32_t length() const noexcept { return static_cast<std::int32_t>(values_.size()); }
  bool is_empty() const noexcept { return values_.empty(); }

  // The entry of v, for v in first .. last.
  variable_value& operator[](variable v) noexcept {
    assert(to_int(v) >= first_ && to_int(v) <= last_);
    return values_[static_cast<std::size_t>(to_int(v) - first_)];
  }
  const variable_value& operator[](variable v) const noexcept {
    assert(to_int(v) >= first_ && to_int(v) <= last_);
    return values_[static_cast<std::size_t>(to_int(v) - first_)];
  }

  // The entries first .. last as a contiguous array.
  variable_value* data() noexcept { return values_.data(); }
  const variable_value* data() const noexcept { return values_.data(); }

  friend bool operator==(const model&, const model&) = default;

 private:
  static std::size_t length_of(std::int32_t first, std::int32_t last) noexcept {
    return last < first ? 0 : static_cast<std::size_t>(std::int64_t{last} - first + 1);
  }

  std::int32_t first_ = 1;              // index of the first entry
  std::int32_t last_ = 0;               // index of the last entry; last < first when empty
  std::vector<variable_value> values_;  // entry of variable v at v - first
};

// The text of a clause: "(1 | ¬2 | 3)", "()" when empty; an at-most-one entry prints as "(0 | 4 | 6)".
// c must not be null.
std::string image(literal_array_access c);

// The variables that m sets true, each with a leading space, joined by " & ": " 1 &  4".
std::string image(const model& m);

}  // namespace nubrix

#endif  // NUBRIX_NUBRIX_HPP
