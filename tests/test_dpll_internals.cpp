// The solver's internal steps, seen through its own types: watch lists, the search state, unit
// propagation, conflict analysis and the search loop.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>
#include <tuple>

#include <nubrix/dpll.hpp>

#include "support.hpp"

namespace nubrix::testing {

namespace {
struct no_context {};
bool accept_all(no_context&, const model&, formulas::formula&) { return true; }
}  // namespace

using dpll_access = access<no_context, accept_all>;

namespace {

using enum variable_value;
using triples = std::vector<dpll_access::watch_triple>;

model unset_model(std::int32_t n) { return model(1, n); }

// `count` clauses of three distinct variables over 1 .. n, each negated at random: near 4.26 clauses
// a variable, searches with many conflicts.
entries random_3sat(std::mt19937_64& rng, int n, int count) {
  entries es;
  while (static_cast<int>(es.size()) < count) {
    entry e;
    while (e.size() < 3) {
      const auto v = static_cast<std::int32_t>(1 + rng() % n);
      if (std::find(e.begin(), e.end(), v) == e.end() && std::find(e.begin(), e.end(), -v) == e.end())
        e.push_back(rng() % 2 ? v : -v);
    }
    es.push_back(e);
  }
  return es;
}

using internal_formula_test = heap_test;

TEST_F(internal_formula_test, entries_by_kind) {
  dpll_access a({{1, 2, 3}, {4, -7}, {0, 3, 5}, {0, 6, 4}, {5}}, unset_model(7));
  EXPECT_EQ(a.list(1), (triples{{2, 3, {1, 2, 3}}}));
  EXPECT_EQ(a.list(2), (triples{{1, 3, {1, 2, 3}}}));
  EXPECT_EQ(a.list(3), triples{});
  EXPECT_EQ(a.list(4), (triples{{-7, 0, {4, -7}}}));
  EXPECT_EQ(a.list(-7), (triples{{4, 0, {-7, 4}}}));
  for (const std::int32_t l : {-3, -4, -5}) EXPECT_EQ(a.list(l), (triples{{0, 0, {0, 3, 5}}})) << l;
  EXPECT_EQ(a.list(5), triples{});
  EXPECT_EQ(a.list(-6), triples{}) << "a range from 6 down to 4 is empty";
  EXPECT_EQ(a.list(0), triples{});
}

TEST_F(internal_formula_test, append_clause_and_destroy) {
  dpll_access a({}, unset_model(5));
  a.f->append_clause(new_clause({5}));
  EXPECT_EQ(a.clause_count(), 1);
  for (std::int32_t l = -5; l <= 5; ++l) EXPECT_TRUE(a.list(l).empty());
  a.f->append_clause(new_clause({1, -2}));
  EXPECT_EQ(a.list(1).size(), 1U);
  EXPECT_EQ(a.list(-2).size(), 1U);

  // A failed append to the clause list releases the clause: nothing leaks.
  dpll_access b({}, unset_model(2));
  probe::fail_request(2);  // the clause allocates first, the list growth second
  EXPECT_THROW(b.f->append_clause(new_clause({1, 2})), std::bad_alloc);
  EXPECT_EQ(b.clause_count(), 0);
}

using search_state_test = heap_test;

TEST_F(search_state_test, start_decide_assign_and_undo) {
  // Entries already set are level-0 facts, queued for propagation.
  model preset = unset_model(5);
  preset[variable{2}] = true_;
  preset[variable{4}] = false_;
  dpll_access a({}, preset);
  EXPECT_EQ(a.unassigned_left(), 3);
  EXPECT_EQ(a.queue(), (entry{2, -4}));
  EXPECT_EQ(a.val(-4), true_);
  EXPECT_EQ(a.val(3), unset);
  a.clear_queue();

  a.decide();  // 1, the lowest unset variable
  const literal_array_access k = new_clause({5, -1});
  a.f->append_clause(k);
  a.assign(5, k);
  EXPECT_EQ(a.queue(), (entry{1, 5}));
  EXPECT_EQ(a.antecedent(5), k);
  a.decide();  // 3: variable 2 is set
  EXPECT_EQ(a.first_unset(), 4);
  EXPECT_EQ(a.decision_level(), 2);
  EXPECT_EQ(a.level(3), 2);
  EXPECT_EQ(a.level(5), 1);

  a.unassign_all(2);  // nothing is above 2
  EXPECT_EQ(a.first_unset(), 4);
  a.unassign_all(0);
  EXPECT_EQ(a.unassigned_left(), 3);
  EXPECT_EQ(a.first_unset(), 1) << "the lowest variable undone";
  EXPECT_EQ(a.queue(), entry{}) << "the trail keeps level 0, which was propagated";
  EXPECT_EQ(image(a.m), " 2");
}

TEST(decisions, first_unassigned) {
  const model m = model_of({true_, false_, true_});
  variable first_unset{2};
  EXPECT_EQ(decisions::first_unassigned(m, first_unset), variable{0});
  EXPECT_EQ(first_unset, variable{2});
  first_unset = variable{4};
  EXPECT_EQ(decisions::first_unassigned(m, first_unset), variable{0});
  EXPECT_EQ(first_unset, variable{4});
  const model n = model_of({true_, unset, unset});
  first_unset = variable{1};
  EXPECT_EQ(decisions::first_unassigned(n, first_unset), variable{2});
  EXPECT_EQ(first_unset, variable{3});
}

using propagation_test = heap_test;

TEST_F(propagation_test, at_most_one_ranges) {
  dpll_access a({{0, 1, 3}}, unset_model(3));
  a.decide_on(1);
  ASSERT_FALSE(a.propagate());
  EXPECT_EQ(a.value(2), false_);
  EXPECT_EQ(a.value(3), false_);
  EXPECT_EQ(a.antecedent(3), a.clause(1));
  EXPECT_EQ(a.level(3), 1);

  dpll_access b({{0, 1, 3}}, unset_model(3));
  b.assign(3);
  b.clear_queue();
  b.decide_on(1);
  const auto c = b.propagate();
  ASSERT_EQ(c.what, dpll_access::conflict::kind::pair);
  EXPECT_EQ(std::set({to_int(c.first), to_int(c.second)}), std::set({-1, -3}));
  EXPECT_EQ(b.value(2), false_) << "variables set before the conflict stay set";
}

TEST_F(propagation_test, binary_and_long_clauses) {
  dpll_access a({{4, -7}}, unset_model(7));
  a.decide_on(4);  // satisfies the clause
  EXPECT_FALSE(a.propagate());
  EXPECT_EQ(a.value(7), unset);

  dpll_access b({{1, 2, 3, 4}}, unset_model(4));
  b.assign(-3);
  b.clear_queue();
  b.assign(-2);
  ASSERT_FALSE(b.propagate());
  EXPECT_EQ(numbers_of(b.clause(1)), (entry{1, 4, 3, 2})) << "4 takes over the watch of 2";
  EXPECT_EQ(b.list(2), triples{});
  EXPECT_EQ(b.list(4), (triples{{1, 2, {1, 4, 3, 2}}}));

  dpll_access c({{1, 2, 3}}, unset_model(3));
  c.assign(-3);
  c.assign(-1);
  ASSERT_FALSE(c.propagate());
  EXPECT_EQ(c.value(2), true_);
  EXPECT_EQ(c.antecedent(2), c.clause(1));

  dpll_access d({{1, 2, 3}}, unset_model(3));
  d.assign(-2);
  d.assign(-3);
  d.assign(-1);
  const auto violated = d.propagate();
  ASSERT_EQ(violated.what, dpll_access::conflict::kind::clause);
  EXPECT_EQ(literal_array_access(violated.clause), d.clause(1));
}

TEST_F(propagation_test, true_blocking_literal_skips_the_clause) {
  dpll_access a({{1, 2, 3}}, unset_model(3));
  // Give the entry in the list of 1 the blocking literal 3 and make 3 true: falsifying 1 and 2 then
  // leaves the clause untouched, though both its watched literals are false.
  a.f->occurs_list(literal{1}).get_access(1)->blit = literal{3};
  a.assign(3);
  a.assign(-2);
  a.clear_queue();
  a.assign(-1);
  EXPECT_FALSE(a.propagate());
  EXPECT_EQ(numbers_of(a.clause(1)), (entry{1, 2, 3}));
}

using analysis_test = heap_test;

TEST_F(analysis_test, the_first_unique_implication_point) {
  // Decision 1 forces 2, 2 forces 3, and (-2 -3) is violated: 2 is the first unique implication
  // point, so the clause learnt is (-2), not the decision's negation.
  dpll_access a({{-1, 2}, {-2, 3}, {-2, -3}}, unset_model(3));
  a.decide_on(1);
  const auto c = a.propagate();
  ASSERT_TRUE(c);
  const std::int32_t clauses = a.clause_count();
  ASSERT_TRUE(a.learn_from(c));
  EXPECT_EQ(numbers_of(a.clause(clauses + 1)), (entry{-2}));
  EXPECT_EQ(a.decision_level(), 0);
  EXPECT_EQ(a.value(2), false_);
  EXPECT_EQ(a.value(1), unset);
  EXPECT_EQ(a.first_unset(), 1);

  dpll_access b({{1}, {-1, 2}, {-1, -2}}, unset_model(2));
  b.assign(1, b.clause(1));
  const auto at_zero = b.propagate();
  ASSERT_TRUE(at_zero);
  EXPECT_FALSE(b.learn_from(at_zero)) << "a conflict at level 0 means no model";
}

// Runs the search step by step as the solver does, with learnt clauses reduced after every
// conflict, and checks every clause learnt: implied by the formula (brute force), its first literal
// its only one of the conflict level, its second literal of the level jumped to, the highest among
// the others, and no literal of level 0. The model found must still be the greatest one.
TEST_F(analysis_test, learnt_clauses_are_implied_asserting_and_watched_at_the_jump_level) {
  const std::uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937_64 rng(seed);
  int learnt = 0;
  for (int round = 0; round < 1500; ++round) {
    const int n = 4 + static_cast<int>(rng() % 9);
    entries es = random_entries(rng, n, static_cast<int>(rng() % 4));
    for (entry& e : random_3sat(rng, n, 4 * n)) es.push_back(std::move(e));
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round);
    const std::optional<std::uint64_t> expected = greatest_model(es, n, unset_model(n));
    std::vector<std::uint64_t> models;
    for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << n); ++bits)
      if (holds(es, bits)) models.push_back(bits);
    dpll_access a(es, unset_model(n));
    const bool found = a.search_inspecting([&](std::int32_t conflict_level, std::int32_t jump_level) {
      const entry clause = a.learnt();
      ++learnt;
      ASSERT_FALSE(clause.empty());
      for (const std::uint64_t bits : models) ASSERT_TRUE(holds(clause, bits)) << "not implied";
      std::int32_t jump = 0;
      for (std::size_t i = 0; i < clause.size(); ++i) {
        const std::int32_t level = a.level(std::abs(clause[i]));
        ASSERT_EQ(level == conflict_level, i == 0);
        ASSERT_GT(level, 0);
        if (i > 0) jump = std::max(jump, level);
      }
      ASSERT_EQ(jump_level, jump);
      if (clause.size() > 1) {
        ASSERT_EQ(a.level(std::abs(clause[1])), jump);
      }
    });
    if (HasFatalFailure()) return;
    ASSERT_EQ(found, expected.has_value());
    if (found) {
      ASSERT_EQ(bits_of(a.m, n), *expected);
    }
  }
  EXPECT_GT(learnt, 1000);
}

using search_test = heap_test;

TEST_F(search_test, search_loop_cases) {
  {
    dpll_access a({}, unset_model(3));
    EXPECT_TRUE(a.search());
    EXPECT_EQ(image(a.m), " 1 &  2 &  3");
  }
  {
    dpll_access a({{-2}, {2}}, unset_model(2));
    EXPECT_FALSE(a.search());
    EXPECT_EQ(a.value(1), unset) << "no decision was made";
  }
  {
    dpll_access a({}, unset_model(4), 2);
    EXPECT_TRUE(a.search());
    EXPECT_EQ(image(a.m), " 1 &  2");
    EXPECT_EQ(a.value(3), unset);
    EXPECT_EQ(a.value(4), unset);
  }
  {
    dpll_access a({{1}}, unset_model(3), 1);
    EXPECT_TRUE(a.search());
    EXPECT_EQ(a.value(2), true_) << "first_unset was still 1, so one more decision is made";
    EXPECT_EQ(a.value(3), unset);
  }
  {
    dpll_access a({}, model());
    EXPECT_TRUE(a.search());
  }
}

TEST_F(search_test, check_assign) {
  dpll_access a({{2}}, unset_model(2));
  a.assign(2);
  a.clear_queue();
  EXPECT_TRUE(a.check_assign(2, a.clause(1)));
  EXPECT_TRUE(a.queue().empty());
  EXPECT_FALSE(a.check_assign(-2, a.clause(1)));
}

// Every allocation of a long search failed in turn, with learnt clauses reduced every few
// conflicts: each failure surfaces as std::bad_alloc and releases everything.
TEST_F(search_test, every_failed_request_with_reduction) {
  std::mt19937_64 rng(7);
  const entries es = random_3sat(rng, 60, 258);
  ASSERT_GT(for_each_failing_request([&](int k) {
              dpll_access a(es, unset_model(60), 0, search_policy::in_order, {}, reduce_every(2));
              probe::fail_request(k);
              a.search();
            }),
            50);
}

}  // namespace
}  // namespace nubrix::testing
