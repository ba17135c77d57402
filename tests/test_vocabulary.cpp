// Literals, variables, clauses, models and their text images.
#include <limits>
#include <type_traits>

#include "support.hpp"

namespace nubrix::testing {
namespace {

constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t int_min = std::numeric_limits<std::int32_t>::min();

static_assert(!std::is_convertible_v<variable, literal> && !std::is_convertible_v<literal, variable>,
              "variables and literals must not mix silently");

TEST(literals, conversions_between_variables_and_literals) {
  EXPECT_EQ(+variable{5}, literal{5});
  EXPECT_EQ(-variable{5}, literal{-5});
  EXPECT_EQ(-literal{-5}, literal{5});
  EXPECT_EQ(get_var(literal{-5}), variable{5});
  EXPECT_EQ(get_var(literal{5}), variable{5});
  EXPECT_EQ(get_var(literal{0}), variable{0});
  EXPECT_EQ(-variable{int_max}, literal{-int_max});
  EXPECT_EQ(get_var(literal{-int_max}), variable{int_max});
  // The literal of no variable maps to no variable, without overflow (UBSan watches this).
  EXPECT_EQ(get_var(literal{int_min}), variable{0});
  static_assert(get_var(literal{int_min}) == variable{0});
  EXPECT_TRUE(is_positive(literal{3}));
  EXPECT_FALSE(is_positive(literal{-3}));
  EXPECT_FALSE(is_positive(literal{0}));
}

TEST(values, numbers_and_names_are_fixed) {
  static_assert(sizeof(variable_value) == 1);
  EXPECT_EQ(static_cast<int>(variable_value::true_), 0);
  EXPECT_EQ(static_cast<int>(variable_value::false_), 1);
  EXPECT_EQ(static_cast<int>(variable_value::unset), 2);
  EXPECT_EQ(variable_value_names[0], "TRUE");
  EXPECT_EQ(variable_value_names[1], "FALSE");
  EXPECT_EQ(variable_value_names[2], "UNSET");
}

using clauses = heap_test;

TEST_F(clauses, new_clause_writes_the_block_layout) {
  const literal_array_access c = new_clause({1, -2, 3});
  EXPECT_EQ(probe::last_request_size(), 8U + 3 * 4);
  const auto* raw = reinterpret_cast<const std::int32_t*>(c.bounds());
  EXPECT_EQ(raw[0], 1);
  EXPECT_EQ(raw[1], 3);
  EXPECT_EQ(raw[2], 1);
  EXPECT_EQ(raw[3], -2);
  EXPECT_EQ(raw[4], 3);
  EXPECT_EQ(reinterpret_cast<const std::byte*>(c.data()) - reinterpret_cast<const std::byte*>(c.bounds()), 8);
  EXPECT_EQ(c.length(), 3);
  EXPECT_EQ(c[1], literal{1});
  EXPECT_EQ(c[3], literal{3});
  EXPECT_EQ(free(c), literal_array_access{});
  EXPECT_EQ(probe::read().releases, 1);
}

TEST_F(clauses, empty_and_null_clauses) {
  const literal_array_access empty = new_clause({});
  EXPECT_EQ(empty.first(), 1);
  EXPECT_EQ(empty.last(), 0);
  EXPECT_EQ(empty.length(), 0);
  EXPECT_TRUE(empty.is_empty());
  EXPECT_EQ(empty.begin(), empty.end());
  EXPECT_EQ(probe::last_request_size(), 8U);
  free(empty);

  const literal_array_access null{};
  EXPECT_TRUE(null.is_null());
  EXPECT_FALSE(static_cast<bool>(null));
  EXPECT_TRUE(free(null).is_null());
  EXPECT_EQ(probe::read().releases, 1);
}

TEST_F(clauses, indexing_follows_the_clause_s_own_bounds) {
  // A caller may allocate a clause with any first >= 1; index `first` is the first literal.
  auto* bounds = static_cast<array_bounds*>(internals::allocate(clause_block_size(2)));
  *bounds = {5, 6};
  const literal_array_access c(bounds);
  c[5] = literal{7};
  c[6] = literal{-8};
  EXPECT_EQ(c.length(), 2);
  EXPECT_EQ(numbers_of(c), (entry{7, -8}));
  EXPECT_EQ(image(c), "(7 | \u00ac8)");
  free(c);
}

TEST_F(clauses, failed_allocation_raises_and_allocates_nothing) {
  probe::fail_request(1);
  EXPECT_THROW(new_clause({1, 2}), std::bad_alloc);
  EXPECT_EQ(probe::read().allocations, 0);
}

TEST(models, bounds_values_and_copies) {
  model m(1, 4);
  EXPECT_EQ(m.first(), 1);
  EXPECT_EQ(m.last(), 4);
  EXPECT_EQ(m.length(), 4);
  for (std::int32_t v = 1; v <= 4; ++v) EXPECT_EQ(m[variable{v}], variable_value::unset);
  model copy = m;
  copy[variable{2}] = variable_value::true_;
  EXPECT_EQ(m[variable{2}], variable_value::unset) << "a model copy must not share its values";
  EXPECT_TRUE(model().is_empty());
  EXPECT_EQ(model().first(), 1);
  EXPECT_EQ(model().last(), 0);
  EXPECT_EQ(model(7, 7).length(), 1);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(m.data())[0], 2) << "unset is stored as the byte 2";
}

TEST_F(clauses, images) {
  const struct {
    entry literals;
    const char* text;
  } cases[] = {
      {{1, -2, 3}, "(1 | \u00ac2 | 3)"},
      {{-5}, "(\u00ac5)"},
      {{7}, "(7)"},
      {{}, "()"},
      {{0, 4, 6}, "(0 | 4 | 6)"},
      {{int_max, -int_max}, "(2147483647 | \u00ac2147483647)"},
  };
  for (const auto& k : cases) {
    const literal_array_access c = clause_of(k.literals);
    EXPECT_EQ(image(c), k.text);
    free(c);
  }
  const literal_array_access neg = new_clause({-5});
  EXPECT_EQ(image(neg).size(), 5U) << "the NOT SIGN takes two bytes";
  free(neg);
}

TEST(models, images) {
  using enum variable_value;
  EXPECT_EQ(image(model_of({true_, false_, unset, true_})), " 1 &  4");
  EXPECT_EQ(image(model_of({false_, unset, false_})), "");
  EXPECT_EQ(image(model_of({unset, unset})), "");
  EXPECT_EQ(image(model()), "");
  model seven(7, 7);
  seven[variable{7}] = true_;
  EXPECT_EQ(image(seven), " 7");
}

}  // namespace
}  // namespace nubrix::testing
