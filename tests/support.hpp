// Shared helpers of the test suite: heap balance checks, clause and formula shorthands, random
// formulas and a brute-force oracle.
#ifndef NUBRIX_TESTS_SUPPORT_HPP
#define NUBRIX_TESTS_SUPPORT_HPP

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <new>
#include <optional>
#include <random>
#include <vector>

#include <nubrix/formulas.hpp>
#include <nubrix/heap.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/nubrix.hpp>

namespace nubrix::testing {

namespace probe = internals::heap_probe;

// A test whose library heap traffic must balance: every block allocated during the test is
// released by its end.
class heap_test : public ::testing::Test {
 protected:
  void SetUp() override { probe::reset(); }
  void TearDown() override {
    probe::fail_request(0);
    EXPECT_EQ(probe::read().live(), 0) << "library blocks leaked by this test";
  }
};

using entry = std::vector<std::int32_t>;
using entries = std::vector<entry>;

// The literals of a clause as numbers.
inline entry numbers_of(literal_array_access c) {
  entry out;
  for (const literal l : c) out.push_back(to_int(l));
  return out;
}

// The entries of a formula as numbers.
inline entries numbers_of(const formulas::formula& f) {
  entries out;
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) out.push_back(numbers_of(f.get(i)));
  return out;
}

inline literal_array_access clause_of(const entry& numbers) {
  std::vector<literal> lits;
  for (const std::int32_t x : numbers) lits.push_back(literal{x});
  return new_clause(lits);
}

// A formula owning new clauses with the given literals.
inline formulas::formula formula_of(const entries& es) {
  formulas::formula f = formulas::clause_vectors::empty_vector;
  for (const entry& e : es) f.append(clause_of(e));
  return f;
}

// A model over 1 .. values.size() with the given values.
inline model model_of(std::initializer_list<variable_value> values) {
  model m(1, static_cast<std::int32_t>(values.size()));
  std::int32_t v = 1;
  for (const variable_value x : values) m[variable{v++}] = x;
  return m;
}

inline bool is_at_most_one(const entry& e) { return !e.empty() && e[0] == 0; }

// Whether the complete assignment `bits` (bit v - 1 is variable v) satisfies the entry.
inline bool holds(const entry& e, std::uint64_t bits) {
  auto is_true = [&](std::int32_t v) { return ((bits >> (v - 1)) & 1U) != 0; };
  if (is_at_most_one(e)) {
    int count = 0;
    if (e.size() >= 2)
      for (std::int32_t v = std::abs(e[1]); v <= std::abs(e.back()); ++v) count += is_true(v) ? 1 : 0;
    return count <= 1;
  }
  for (const std::int32_t l : e)
    if (is_true(std::abs(l)) == (l > 0)) return true;
  return false;
}

inline bool holds(const entries& es, std::uint64_t bits) {
  for (const entry& e : es)
    if (!holds(e, bits)) return false;
  return true;
}

// The number of complete assignments of variables 1 .. n (n <= 24) that satisfy every entry.
inline std::int64_t count_models(const entries& es, int n) {
  std::int64_t count = 0;
  for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << n); ++bits) count += holds(es, bits) ? 1 : 0;
  return count;
}

// The values of variables 1 .. n as an assignment in the encoding of holds() (bit v - 1 is variable v);
// entries of m outside 1 .. n, or unset, count as false.
inline std::uint64_t bits_of(const model& m, int n) {
  std::uint64_t bits = 0;
  for (std::int32_t v = 1; v <= n; ++v)
    if (m[variable{v}] == variable_value::true_) bits |= std::uint64_t{1} << (v - 1);
  return bits;
}

// The lexicographically greatest complete assignment of 1 .. n (variable 1 first, true above false)
// that satisfies every entry and agrees with the set entries of `fixed` (a model over 1 .. n); none
// when there is no such assignment. n <= 24.
inline std::optional<std::uint64_t> greatest_model(const entries& es, int n, const model& fixed) {
  for (std::uint64_t k = std::uint64_t{1} << n; k-- > 0;) {
    std::uint64_t bits = 0;
    bool agrees = true;
    for (std::int32_t v = 1; v <= n; ++v) {
      const bool is_true = ((k >> (n - v)) & 1U) != 0;
      if (is_true) bits |= std::uint64_t{1} << (v - 1);
      const variable_value want = fixed[variable{v}];
      if (want != variable_value::unset && (want == variable_value::true_) != is_true) agrees = false;
    }
    if (agrees && holds(es, bits)) return bits;
  }
  return std::nullopt;
}

// Random entries over variables 1 .. n: clauses of 0 to 5 literals (rarely empty, often short) with
// repeated and complementary literals, unit clauses, and at-most-one ranges, empty ones included.
inline entries random_entries(std::mt19937_64& rng, int n, int count) {
  entries es;
  for (int i = 0; i < count; ++i) {
    const auto pick = rng() % 100;
    if (pick < 12) {
      const auto from = static_cast<std::int32_t>(1 + rng() % n);
      const auto to = static_cast<std::int32_t>(1 + rng() % n);
      es.push_back({0, from, to});
      continue;
    }
    const std::size_t length = pick < 14 ? 0 : pick < 24 ? 1 : 2 + rng() % 4;
    entry e;
    while (e.size() < length) {
      const auto v = static_cast<std::int32_t>(1 + rng() % n);
      e.push_back(rng() % 2 ? v : -v);
      if (rng() % 8 == 0 && e.size() < length) e.push_back(rng() % 2 ? e.back() : -e.back());
    }
    es.push_back(e);
  }
  return es;
}

// Runs `attempt(k)` for k = 1, 2, ...: the attempt does its own set-up, arms the probe with
// probe::fail_request(k), runs the operation under test, and releases what it owns whether the
// operation threw or not (it may check the state the failure left). Stops at the first k whose failure
// was never raised and returns the number of runs that failed. Checks that every raised failure
// surfaced as std::bad_alloc and that the heap balanced after each run.
template <typename Attempt>
int for_each_failing_request(Attempt attempt) {
  for (int k = 1;; ++k) {
    probe::reset();
    bool threw = false;
    try {
      attempt(k);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    const bool raised = probe::failure_raised();
    probe::fail_request(0);
    EXPECT_EQ(threw, raised) << "failing request " << k;
    EXPECT_EQ(probe::read().live(), 0) << "leak after failing request " << k;
    if (!raised || ::testing::Test::HasFailure() || k > 1000000) return k - 1;
  }
}

}  // namespace nubrix::testing

#endif  // NUBRIX_TESTS_SUPPORT_HPP
