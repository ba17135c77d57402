// Model checking, release and the text image of formulas.
#include <algorithm>

#include "support.hpp"

namespace nubrix::testing {
namespace {

using enum variable_value;
using formulas::sat_result;

sat_result check(const entries& es, const model& m) {
  formulas::formula f = formula_of(es);
  const sat_result r = formulas::satisfies(f, m);
  formulas::free_all(f);
  return r;
}

using formulas_test = heap_test;

TEST_F(formulas_test, verdict_numbers_and_names) {
  static_assert(sizeof(sat_result) == 1);
  EXPECT_EQ(static_cast<int>(sat_result::sat), static_cast<int>(true_));
  EXPECT_EQ(static_cast<int>(sat_result::unsat), static_cast<int>(false_));
  EXPECT_EQ(static_cast<int>(sat_result::unknown), static_cast<int>(unset));
  EXPECT_EQ(formulas::sat_result_names[0], "SAT");
  EXPECT_EQ(formulas::sat_result_names[1], "UNSAT");
  EXPECT_EQ(formulas::sat_result_names[2], "UNKNOWN");
}

TEST_F(formulas_test, first_unsatisfied_entry_decides) {
  EXPECT_EQ(check({}, model_of({unset})), sat_result::sat);
  EXPECT_EQ(check({{}}, model_of({true_})), sat_result::unsat);
  EXPECT_EQ(check({{1, 2}, {-3}}, model_of({false_, unset, false_})), sat_result::unknown);
  EXPECT_EQ(check({{1}, {}}, model_of({unset})), sat_result::unknown);
  EXPECT_EQ(check({{1}, {}}, model_of({true_})), sat_result::unsat);
  EXPECT_EQ(check({{-3}}, model_of({unset, unset, false_})), sat_result::sat);
  EXPECT_EQ(check({{-3}}, model_of({unset, unset, true_})), sat_result::unsat);
  EXPECT_EQ(check({{-3}}, model_of({unset, unset, unset})), sat_result::unknown);
  EXPECT_EQ(check({{2, 2}}, model_of({unset, true_})), sat_result::sat);
  EXPECT_EQ(check({{2, 2}}, model_of({unset, false_})), sat_result::unsat);
  EXPECT_EQ(check({{2, 2}}, model_of({unset, unset})), sat_result::unknown);
}

TEST_F(formulas_test, at_most_one_entries) {
  const entries amo = {{0, 2, 4}};
  EXPECT_EQ(check(amo, model_of({true_, false_, false_, false_})), sat_result::sat);
  EXPECT_EQ(check(amo, model_of({true_, true_, false_, false_})), sat_result::sat);
  EXPECT_EQ(check(amo, model_of({true_, true_, unset, true_})), sat_result::unsat);
  EXPECT_EQ(check(amo, model_of({unset, unset, unset, false_})), sat_result::unknown);
  EXPECT_EQ(check(amo, model_of({unset, true_, unset, false_})), sat_result::unknown);
  EXPECT_EQ(check(amo, model_of({unset, false_, unset, false_})), sat_result::sat)
      << "one unset left: no completion breaks it";
  EXPECT_EQ(check({{0, 5, 3}}, model_of({true_, true_, true_, true_, true_})), sat_result::sat) << "empty range";
  // The entry is judged by its range only; the marker is never read as a variable.
  EXPECT_EQ(check({{0, 1, 2}, {}}, model_of({true_, true_})), sat_result::unsat);
  EXPECT_EQ(check({{0, 1, 2}, {}}, model_of({unset, unset})), sat_result::unknown);
}

TEST_F(formulas_test, free_all_releases_each_entry_then_the_block) {
  formulas::formula none = formulas::clause_vectors::empty_vector;
  formulas::free_all(none);
  EXPECT_EQ(probe::read().releases, 0);

  formulas::formula f = formula_of({{1}, {2, 3}, {}});
  f.append(literal_array_access{});  // a null entry is skipped
  const auto before = probe::read().releases;
  formulas::free_all(f);
  EXPECT_EQ(probe::read().releases - before, 4);
  EXPECT_EQ(f.length(), 4) << "the fields are left as they were";
}

TEST_F(formulas_test, images) {
  const auto text = [](const entries& es) {
    formulas::formula f = formula_of(es);
    std::string s = formulas::image(f);
    formulas::free_all(f);
    return s;
  };
  EXPECT_EQ(text({{1, -2}, {3}}), "(1 | \u00ac2) & (3)");
  EXPECT_EQ(text({}), "");
  EXPECT_EQ(text({{}}), "()");
  EXPECT_EQ(text({{0, 4, 6}, {}, {-1}}), "(0 | 4 | 6) & () & (\u00ac1)");
}

// The verdict of one entry under a partial model, from its completions: satisfied by all of them,
// by none, or by some.
variable_value completion_verdict(const entry& e, const model& m, int n) {
  std::vector<std::int32_t> open;
  std::uint64_t fixed = 0;
  for (std::int32_t v = 1; v <= n; ++v) {
    if (m[variable{v}] == unset) open.push_back(v);
    if (m[variable{v}] == true_) fixed |= std::uint64_t{1} << (v - 1);
  }
  bool some = false, all = true;
  for (std::uint64_t pick = 0; pick < (std::uint64_t{1} << open.size()); ++pick) {
    std::uint64_t bits = fixed;
    for (std::size_t i = 0; i < open.size(); ++i)
      if ((pick >> i) & 1U) bits |= std::uint64_t{1} << (open[i] - 1);
    if (holds(e, bits)) {
      some = true;
    } else {
      all = false;
    }
  }
  return all ? true_ : some ? unset : false_;
}

// Random formulas under random partial models, against the completion oracle. Clauses avoid
// complementary pairs, where "satisfied by every completion" and "has a true literal" part ways.
TEST_F(formulas_test, random_formulas_agree_with_completions) {
  const std::uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 3000; ++round) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round);
    const int n = 1 + static_cast<int>(rng() % 6);
    entries es(rng() % 5);
    for (entry& e : es) {
      if (rng() % 4 == 0) {
        e = {0, 1 + static_cast<std::int32_t>(rng() % n), 1 + static_cast<std::int32_t>(rng() % n)};
        continue;
      }
      std::vector<int> sign(n + 1, 0);
      for (std::size_t len = rng() % 4; len > 0; --len) {
        const std::int32_t v = 1 + static_cast<std::int32_t>(rng() % n);
        if (sign[v] == 0) sign[v] = rng() % 2 ? 1 : -1;
        e.push_back(sign[v] * v);
      }
    }
    model m(1, n);
    for (std::int32_t v = 1; v <= n; ++v) m[variable{v}] = static_cast<variable_value>(rng() % 3);

    sat_result expected = sat_result::sat;
    for (const entry& e : es) {
      const variable_value verdict = completion_verdict(e, m, n);
      if (verdict != true_) {
        expected = static_cast<sat_result>(verdict);
        break;
      }
    }
    ASSERT_EQ(check(es, m), expected);
  }
}

}  // namespace
}  // namespace nubrix::testing
