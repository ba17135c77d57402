// The solver through its entry points: random formulas against brute force, theories that reject,
// the min_vars bound, preset models, and every out-of-memory path of a whole solve.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include <nubrix/builders.hpp>
#include <nubrix/dpll.hpp>
#include <nubrix/helpers.hpp>

#include "support.hpp"

namespace nubrix::testing {
namespace {

using enum variable_value;
using formulas::sat_result;

// n-queens over variables r * n + c + 1: one queen per row (a clause and an at-most-one range),
// at most one per column and per diagonal (pairs).
entries queens(int n) {
  entries es;
  const auto q = [n](int r, int c) { return r * n + c + 1; };
  for (int r = 0; r < n; ++r) {
    entry row;
    for (int c = 0; c < n; ++c) row.push_back(q(r, c));
    es.push_back(row);
    es.push_back({0, q(r, 0), q(r, n - 1)});
  }
  for (int r1 = 0; r1 < n; ++r1)
    for (int r2 = r1 + 1; r2 < n; ++r2)
      for (int c = 0; c < n; ++c) {
        es.push_back({-q(r1, c), -q(r2, c)});
        const int d = r2 - r1;
        if (c + d < n) es.push_back({-q(r1, c), -q(r2, c + d)});
        if (c - d >= 0) es.push_back({-q(r1, c), -q(r2, c - d)});
      }
  return es;
}

// p pigeons in h holes, hole-major so that each hole's pigeons are one at-most-one range.
entries pigeonhole(int p, int h) {
  entries es;
  const auto x = [p](int pigeon, int hole) { return hole * p + pigeon + 1; };
  for (int i = 0; i < p; ++i) {
    entry some_hole;
    for (int j = 0; j < h; ++j) some_hole.push_back(x(i, j));
    es.push_back(some_hole);
  }
  for (int j = 0; j < h; ++j) es.push_back({0, x(0, j), x(p - 1, j)});
  return es;
}

// Solves the entries with dpll_solve and checks the answer against a copy made before the call.
struct outcome {
  bool found;
  model m;
};
outcome solve_plain(const entries& es, model m, std::int32_t min_vars = 0,
                    search_policy policy = search_policy::preferred) {
  formulas::formula f = formula_of(es);
  formulas::formula before = formula_of(es);
  const bool found = helpers::dpll_solve(f, m, variable{min_vars}, policy);
  EXPECT_EQ(f, formulas::clause_vectors::empty_vector) << "the caller's record is reset";
  if (found) {
    EXPECT_NE(formulas::satisfies(before, m), sat_result::unsat);
  }
  formulas::free_all(before);
  return {found, m};
}

using solve_test = heap_test;

struct nothing {};
constexpr auto accept = theory::accept_every_model;  // lets the search settle values for good

// The preferred search with its witness from the first decision on: through the entry points it
// decides in order alone for its first conflicts, which small formulas never pass. A small `cap`
// makes it take turns with the in-order search alone. With a `margin`, it decides in order alone for
// `first_turn` conflicts and then speculates on all but the newest `margin` in-order decisions.
bool solve_with_witness(const entries& es, model& m, std::int64_t cap = 8000, std::int32_t margin = 0,
                        std::int64_t first_turn = 0) {
  access<nothing, accept> a(es, m, 0, search_policy::preferred, {}, witness_after(first_turn, cap, margin));
  const bool found = a.search();
  m = a.m;
  return found;
}

TEST_F(solve_test, entry_point_cases) {
  EXPECT_TRUE(solve_plain({}, model()).found);
  EXPECT_TRUE(solve_plain({{1}, {-2}, {3}}, model(1, 3)).found);
  EXPECT_EQ(image(solve_plain({{1}, {-2}, {3}}, model(1, 3)).m), " 1 &  3");
  EXPECT_FALSE(solve_plain({{1}, {-1}}, model(1, 1)).found);
  EXPECT_EQ(solve_plain({{1, 2}}, model(1, 2), 0).m, solve_plain({{1, 2}}, model(1, 2), 2).m);
  // A clause without literals has no model, wherever it stands and whatever else holds.
  EXPECT_FALSE(solve_plain({{1, 2}, {}}, model(1, 2)).found);
  EXPECT_FALSE(solve_plain({{}}, model()).found);
}

TEST_F(solve_test, preset_entries_are_fixed_facts) {
  model m(1, 3);
  m[variable{1}] = false_;
  const outcome o = solve_plain({{1, 2}, {-2, 3}}, m);
  ASSERT_TRUE(o.found);
  EXPECT_EQ(image(o.m), " 2 &  3");
  EXPECT_EQ(o.m[variable{1}], false_);

  model contradicted(1, 2);
  contradicted[variable{2}] = true_;
  EXPECT_FALSE(solve_plain({{1}, {-1, -2}}, contradicted).found) << "propagation sees the preset value";

  model all_set = model_of({true_, false_});
  EXPECT_FALSE(solve_plain({{2}}, all_set).found);
  EXPECT_TRUE(solve_plain({{1}}, all_set).found);
}

TEST_F(solve_test, min_vars_bounds_the_decisions) {
  const outcome o = solve_plain({{-1, 3}}, model(1, 4), 1);
  ASSERT_TRUE(o.found);
  EXPECT_EQ(o.m[variable{1}], true_);
  EXPECT_EQ(o.m[variable{3}], true_) << "propagation still runs above the bound";
  EXPECT_EQ(o.m[variable{2}], unset) << "first_unset passed the bound with the first decision";
  EXPECT_EQ(o.m[variable{4}], unset);

  // Propagation sets everything up to the bound while first_unset is still at it: one more decision,
  // on the lowest unset variable above the bound.
  const outcome more = solve_plain({{1}, {2}}, model(1, 4), 2);
  ASSERT_TRUE(more.found);
  EXPECT_EQ(image(more.m), " 1 &  2 &  3");
  EXPECT_EQ(more.m[variable{4}], unset);
}

TEST_F(solve_test, queens_and_pigeons) {
  const outcome eight = solve_plain(queens(8), model(1, 64));
  ASSERT_TRUE(eight.found);
  // The greatest solution with queens numbered row by row: rows take columns 1, 5, 8, 6, 3, 7, 2, 4.
  EXPECT_EQ(image(eight.m), " 1 &  13 &  24 &  30 &  35 &  47 &  50 &  60");
  EXPECT_FALSE(solve_plain(queens(3), model(1, 9)).found);
  EXPECT_FALSE(solve_plain(pigeonhole(6, 5), model(1, 30)).found);
  EXPECT_TRUE(solve_plain(pigeonhole(5, 5), model(1, 25)).found);
}

// Random formulas with preset entries, against brute force: the same satisfiability whatever the
// policy, and the model found by the preferred and the in-order search is the greatest one
// (variable 1 first, true above false), the one the decision rule promises.
TEST_F(solve_test, random_formulas_against_brute_force) {
  const std::uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937_64 rng(seed);
  int satisfiable = 0;
  const int rounds = 4000;
  for (int round = 0; round < rounds; ++round) {
    const int n = 1 + static_cast<int>(rng() % 12);
    const entries es = random_entries(rng, n, static_cast<int>(rng() % (4 * n + 2)));
    model m(1, n);
    if (rng() % 4 == 0)
      for (std::int32_t v = 1; v <= n; ++v)
        if (rng() % 5 == 0) m[variable{v}] = rng() % 2 ? true_ : false_;
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round << " n " << n);
    const std::optional<std::uint64_t> expected = greatest_model(es, n, m);
    for (const search_policy policy : {search_policy::preferred, search_policy::in_order, search_policy::any_model}) {
      const outcome o = solve_plain(es, m, 0, policy);
      ASSERT_EQ(o.found, expected.has_value()) << static_cast<int>(policy);
      if (!o.found) continue;
      for (std::int32_t v = 1; v <= n; ++v) ASSERT_NE(o.m[variable{v}], unset);
      if (policy != search_policy::any_model) {
        ASSERT_EQ(bits_of(o.m, n), *expected) << static_cast<int>(policy);
      } else {
        ASSERT_TRUE(holds(es, bits_of(o.m, n)));
        for (std::int32_t v = 1; v <= n; ++v) {
          if (m[variable{v}] != unset) {
            ASSERT_EQ(o.m[variable{v}], m[variable{v}]) << "a preset entry moved";
          }
        }
      }
    }
    model witnessed = m;
    ASSERT_EQ(solve_with_witness(es, witnessed, round % 2 == 0 ? 8000 : 1 + round % 3), expected.has_value());
    if (expected) {
      ASSERT_EQ(bits_of(witnessed, n), *expected) << "with a witness";
    }
    satisfiable += expected.has_value() ? 1 : 0;
  }
  EXPECT_GT(satisfiable, rounds / 5);
  EXPECT_LT(satisfiable, rounds * 4 / 5);
}

// Appends `count` clauses of three random literals over 1 .. n to es.
void add_random_clauses(std::mt19937_64& rng, entries& es, int n, int count) {
  for (int i = 0; i < count; ++i) {
    entry e;
    for (int k = 0; k < 3; ++k) {
      const auto v = static_cast<std::int32_t>(1 + rng() % n);
      e.push_back(rng() % 2 ? v : -v);
    }
    es.push_back(e);
  }
}

// Larger formulas, where the preferred search needs its witness and excursions: its model is the
// in-order search's, and the search by activity agrees on satisfiability.
TEST_F(solve_test, policies_agree_on_generated_formulas) {
  std::mt19937_64 rng(::testing::UnitTest::GetInstance()->random_seed() + 5);
  for (int round = 0; round < 40; ++round) {
    const int n = 30 + static_cast<int>(rng() % 40);
    entries es = random_entries(rng, n, n / 4);
    es.erase(std::remove_if(es.begin(), es.end(), [](const entry& e) { return e.empty(); }), es.end());
    add_random_clauses(rng, es, n, 4 * n);
    SCOPED_TRACE(::testing::Message() << "round " << round);
    const outcome preferred = solve_plain(es, model(1, n));
    const outcome in_order = solve_plain(es, model(1, n), 0, search_policy::in_order);
    const outcome any = solve_plain(es, model(1, n), 0, search_policy::any_model);
    model witnessed(1, n);
    model in_turns(1, n);
    ASSERT_EQ(solve_with_witness(es, witnessed), in_order.found);
    ASSERT_EQ(solve_with_witness(es, in_turns, 1 + round % 5), in_order.found);
    ASSERT_EQ(preferred.found, in_order.found);
    ASSERT_EQ(any.found, in_order.found);
    if (preferred.found) {
      ASSERT_EQ(preferred.m, in_order.m);
      ASSERT_EQ(witnessed, in_order.m);
      ASSERT_EQ(in_turns, in_order.m);
    }
  }
}

// Speculations on the in-order decisions, wrong as often as right on random 3-SAT across its
// threshold: the model stays the in-order search's.
TEST_F(solve_test, speculations_keep_the_preferred_model) {
  std::mt19937_64 rng(::testing::UnitTest::GetInstance()->random_seed() + 7);
  for (int round = 0; round < 150; ++round) {
    const int n = 40 + static_cast<int>(rng() % 40);
    entries es;
    add_random_clauses(rng, es, n, n * (25 + static_cast<int>(rng() % 20)) / 10);
    SCOPED_TRACE(::testing::Message() << "round " << round);
    const outcome in_order = solve_plain(es, model(1, n), 0, search_policy::in_order);
    model speculated(1, n);
    ASSERT_EQ(solve_with_witness(es, speculated, round % 2 == 0 ? 8000 : 2, 1 + round % 3, 1 + round % 8),
              in_order.found);
    if (in_order.found) {
      ASSERT_EQ(speculated, in_order.m);
    }
  }
}

// --- theories ----------------------------------------------------------------------------------

// The clause that rules out exactly the assignment m gives to 1 .. n.
literal_array_access blocking_clause(const model& m) {
  std::vector<literal> lits;
  for (std::int32_t v = m.first(); v <= m.last(); ++v) {
    if (m[variable{v}] == true_) lits.push_back(-variable{v});
    if (m[variable{v}] == false_) lits.push_back(+variable{v});
  }
  return new_clause(lits);
}

// Rejects every model with its blocking clause, so the search enumerates them all.
struct enumeration {
  std::set<std::vector<variable_value>> seen;
  bool repeated = false;
};
bool enumerate(enumeration& ctx, const model& m, formulas::formula& explanation) {
  if (!ctx.seen.emplace(m.data(), m.data() + m.length()).second) ctx.repeated = true;
  give(explanation, blocking_clause(m));
  return false;
}

// Rejects without explanation: the search must exclude each model itself.
bool reject_silently(enumeration& ctx, const model& m, formulas::formula&) {
  if (!ctx.seen.emplace(m.data(), m.data() + m.length()).second) ctx.repeated = true;
  return false;
}

std::int64_t count_by_theory(const entries& es, int n, bool explain) {
  enumeration ctx;
  formulas::formula f = formula_of(es);
  model m(1, n);
  const bool found = explain ? dpll<enumeration, enumerate>::solve(f, ctx, m, variable{0})
                             : dpll<enumeration, reject_silently>::solve(f, ctx, m, variable{0});
  EXPECT_FALSE(found);
  EXPECT_FALSE(ctx.repeated) << "a rejected model was offered again";
  return static_cast<std::int64_t>(ctx.seen.size());
}

using theory_test = heap_test;

TEST_F(theory_test, enumeration_counts_every_model) {
  EXPECT_EQ(count_by_theory(queens(8), 64, true), 92);
  EXPECT_EQ(count_by_theory(queens(6), 36, false), 4);
  const std::uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937_64 rng(seed + 1);
  for (int round = 0; round < 300; ++round) {
    const int n = 1 + static_cast<int>(rng() % 8);
    const entries es = random_entries(rng, n, static_cast<int>(rng() % (3 * n + 1)));
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round);
    const bool explain = round % 2 == 0;
    ASSERT_EQ(count_by_theory(es, n, explain), count_models(es, n));
  }
}

TEST_F(theory_test, enumeration_of_ten_queens) { EXPECT_EQ(count_by_theory(queens(10), 100, true), 724); }

// Holds clauses the search does not see, and returns copies of those the model violates.
struct hidden {
  entries clauses;
  std::size_t at_most = 1000;    // how many to return at once
  bool extra_satisfied = false;  // also return a clause the model satisfies
  int calls = 0;
};
bool reveal(hidden& ctx, const model& m, formulas::formula& explanation) {
  ++ctx.calls;
  const std::uint64_t bits = bits_of(m, m.last());
  std::size_t given = 0;
  bool rejected = false;
  for (const entry& e : ctx.clauses) {
    if (holds(e, bits)) {
      if (ctx.extra_satisfied && !rejected) give(explanation, clause_of(e));
      continue;
    }
    rejected = true;
    if (given++ < ctx.at_most) give(explanation, clause_of(e));
  }
  return !rejected;
}

TEST_F(theory_test, hidden_clauses_give_the_same_answer_as_stating_them) {
  const std::uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937_64 rng(seed + 2);
  for (int round = 0; round < 1500; ++round) {
    const int n = 1 + static_cast<int>(rng() % 10);
    const entries visible = random_entries(rng, n, static_cast<int>(rng() % (2 * n + 1)));
    hidden ctx;
    ctx.clauses = random_entries(rng, n, static_cast<int>(rng() % (2 * n + 1)));
    ctx.at_most = 1 + rng() % 3;
    ctx.extra_satisfied = rng() % 3 == 0;
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round);

    entries all = visible;
    all.insert(all.end(), ctx.clauses.begin(), ctx.clauses.end());
    const std::optional<std::uint64_t> expected = greatest_model(all, n, model(1, n));

    formulas::formula f = formula_of(visible);
    model m(1, n);
    const bool found = dpll<hidden, reveal>::solve(f, ctx, m, variable{0});
    ASSERT_EQ(found, expected.has_value());
    if (found) {
      ASSERT_EQ(bits_of(m, n), *expected);
    }
  }
}

// A theory whose verdict and explanation are a pseudo-random function of the model: it rejects about
// four models in five with 0 to 2 random entries (clauses, units, ranges, now and then an empty
// clause; the model may satisfy some), and records every model offered.
using whimsical = recording_theory;
bool verdict(std::uint64_t salt, int n, std::uint64_t bits, entries& explanation) {
  std::mt19937_64 rng(salt ^ (bits * 0x9e3779b97f4a7c15U));
  const bool accept = rng() % 5 == 0;
  explanation = accept ? entries{} : random_entries(rng, n, static_cast<int>(rng() % 3));
  return accept;
}
constexpr auto whim = recorded<verdict>;

// The models a search must offer such a theory, found by brute force: each is the greatest model of
// the formula, the entries received so far, and the exclusion of every rejected model that no entry
// received with it falsified.
TEST_F(theory_test, check_calls_follow_the_greatest_models) {
  const std::uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937_64 rng(seed + 3);
  int offered = 0;
  for (int round = 0; round < 1000; ++round) {
    const int n = 1 + static_cast<int>(rng() % 9);
    const entries visible = random_entries(rng, n, static_cast<int>(rng() % (n + 1)));
    whimsical ctx{rng(), n, {}};
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round);

    entries known = visible;
    std::vector<std::uint64_t> expected;
    bool expected_found = false;
    while (const std::optional<std::uint64_t> next = greatest_model(known, n, model(1, n))) {
      expected.push_back(*next);
      entries explanation;
      if (verdict(ctx.salt, n, *next, explanation)) {
        expected_found = true;
        break;
      }
      const bool falsified =
          std::any_of(explanation.begin(), explanation.end(), [&](const entry& e) { return !holds(e, *next); });
      known.insert(known.end(), explanation.begin(), explanation.end());
      if (!falsified) {
        entry block;
        for (std::int32_t v = 1; v <= n; ++v) block.push_back(((*next >> (v - 1)) & 1U) != 0 ? -v : v);
        known.push_back(block);
      }
    }

    for (const search_policy policy : {search_policy::preferred, search_policy::in_order}) {
      formulas::formula f = formula_of(visible);
      model m(1, n);
      ctx.offered.clear();
      ASSERT_EQ((dpll<whimsical, whim>::solve(f, ctx, m, variable{0}, policy)), expected_found);
      ASSERT_EQ(ctx.offered, expected);
    }
    access<whimsical, whim> a(visible, model(1, n), 0, search_policy::preferred, whimsical{ctx.salt, n, {}},
                              witness_after(0, 1 + ctx.salt % 3));
    ASSERT_EQ(a.search(), expected_found);
    ASSERT_EQ(a.ctx.offered, expected) << "with a witness, taking turns";
    offered += static_cast<int>(expected.size());
  }
  EXPECT_GT(offered, 2500) << "theories that reject many models before the answer";
}

// A theory that needs a variable above min_vars: unit explanations over unset variables.
struct wants_top {
  std::int32_t top;
  int calls = 0;
};
bool require_top(wants_top& ctx, const model& m, formulas::formula& explanation) {
  ++ctx.calls;
  if (m[variable{ctx.top}] == true_) return true;
  give(explanation, new_clause({ctx.top}));
  return false;
}

TEST_F(theory_test, unit_explanations_assert_variables_the_model_left_unset) {
  wants_top ctx{5};
  formulas::formula f = formula_of({{-1, 2}});
  model m(1, 5);
  ASSERT_TRUE((dpll<wants_top, require_top>::solve(f, ctx, m, variable{2})));
  EXPECT_EQ(image(m), " 1 &  2 &  3 &  5") << "the same decisions, now with 5 asserted";
  EXPECT_EQ(ctx.calls, 2);
  EXPECT_EQ(m[variable{4}], unset);
}

// An at-most-one explanation: at most one of 1 .. 3.
bool at_most_one_of_three(int& calls, const model& m, formulas::formula& explanation) {
  ++calls;
  int trues = 0;
  for (std::int32_t v = 1; v <= 3; ++v) trues += m[variable{v}] == true_ ? 1 : 0;
  if (trues <= 1) return true;
  give(explanation, new_clause({0, 1, 3}));
  return false;
}

TEST_F(theory_test, at_most_one_explanations) {
  int calls = 0;
  formulas::formula f = formula_of({{2, 3}});
  model m(1, 4);
  ASSERT_TRUE((dpll<int, at_most_one_of_three>::solve(f, calls, m, variable{0})));
  EXPECT_EQ(image(m), " 2 &  4");
  EXPECT_EQ(calls, 2);
}

TEST_F(theory_test, an_empty_explanation_clause_means_no_model) {
  int calls = 0;
  formulas::formula f = formula_of({{1, 2}});
  model m(1, 2);
  constexpr auto never = [](int& n, const model&, formulas::formula& explanation) {
    ++n;
    explanation.append(new_clause({}));
    return false;
  };
  EXPECT_FALSE((dpll<int, never>::solve(f, calls, m, variable{0})));
  EXPECT_EQ(calls, 1);
}

TEST_F(theory_test, an_accepting_check_may_leave_clauses_behind) {
  int calls = 0;
  constexpr auto accept_with_clutter = [](int& n, const model&, formulas::formula& explanation) {
    ++n;
    explanation.append(new_clause({1, 2, 3}));
    return true;
  };
  formulas::formula f = formula_of({{1}});
  model m(1, 3);
  EXPECT_TRUE((dpll<int, accept_with_clutter>::solve(f, calls, m, variable{0})));
}

struct thrower {
  int throw_at;
  int calls = 0;
};
bool throw_later(thrower& ctx, const model& m, formulas::formula& explanation) {
  give(explanation, blocking_clause(m));
  if (++ctx.calls == ctx.throw_at) throw std::runtime_error("theory failed");
  return false;
}

TEST_F(theory_test, exceptions_from_check_reach_the_caller_and_leak_nothing) {
  for (const int at : {1, 2, 5}) {
    thrower ctx{at};
    formulas::formula f = formula_of(queens(5));
    model m(1, 25);
    EXPECT_THROW((dpll<thrower, throw_later>::solve(f, ctx, m, variable{0})), std::runtime_error);
    EXPECT_EQ(f, formulas::clause_vectors::empty_vector);
    for (std::int32_t v = 1; v <= 25; ++v) EXPECT_NE(m[variable{v}], unset) << "the model under examination";
  }
}

// --- malformed input -----------------------------------------------------------------------------

// A bad entry placed after good ones, for the formula and for an explanation: `what` is the message.
struct bad_input {
  std::optional<entry> bad;  // nullopt: a null entry
  std::int32_t first, last;  // the model's bounds
  std::string what;          // the message after "nubrix::dpll::solve: entry P of SOURCE "
};
const bad_input bad_inputs[] = {
    {entry{7}, 1, 3, "holds literal 7 at position 1, whose variable lies outside the model (the model holds 1 .. 3)"},
    {entry{1, 2, 9}, 1, 3,
     "holds literal 9 at position 3, whose variable lies outside the model (the model holds 1 .. 3)"},
    {entry{-2, 1}, 2, 4,
     "holds literal 1 at position 2, whose variable lies outside the model (the model holds 2 .. 4)"},
    {entry{1, 2, 0}, 1, 3, "holds literal 0 at position 3: 0 only starts an at-most-one entry [0, from, to]"},
    {entry{-2147483647 - 1}, 1, 3, "holds literal -2147483648 at position 1, which names no variable"},
    {std::nullopt, 1, 3, "is null"},
    {entry{0}, 1, 3, "is an at-most-one entry [0] without a range"},
    {entry{0, 2, 5}, 1, 3, "is the at-most-one range 2 .. 5, which reaches outside the model (the model holds 1 .. 3)"},
    {entry{0, 1, 3}, 2, 4, "is the at-most-one range 1 .. 3, which reaches outside the model (the model holds 2 .. 4)"},
    {entry{0, -1, -5}, 1, 3, "is an at-most-one entry whose range ends at literal -1, not a positive variable"},
    {entry{1}, 1, 0, "holds literal 1 at position 1, whose variable lies outside the model (the model is empty)"},
};

literal_array_access entry_of(const std::optional<entry>& e) { return e ? clause_of(*e) : literal_array_access{}; }

// Gives the explanation its good entries and then the bad one, once.
struct faulty {
  const bad_input* input;
  int calls = 0;
};
bool explain_badly(faulty& ctx, const model&, formulas::formula& explanation) {
  if (ctx.calls++ > 0) return true;
  give(explanation, clause_of({2, 3}));
  give(explanation, entry_of(ctx.input->bad));
  return false;
}

TEST_F(solve_test, malformed_input_is_refused_with_the_entry_and_literal_and_leaks_nothing) {
  for (const bad_input& c : bad_inputs) {
    SCOPED_TRACE(c.what);
    // The formula: refused before anything is taken over; the caller keeps it as it was.
    const entries good = c.last >= 3 ? entries{{-2, 3}, {0, 2, 3}} : entries{};
    formulas::formula f = formula_of(good);
    f.append(entry_of(c.bad));
    const std::string position = std::to_string(good.size() + 1);
    const formulas::formula record = f;
    model m(c.first, c.last);
    try {
      helpers::dpll_solve(f, m, variable{0});
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), "nubrix::dpll::solve: entry " + position + " of the formula " + c.what);
    }
    EXPECT_EQ(f, record) << "the caller's formula is untouched";
    if (c.bad) {
      EXPECT_EQ(numbers_of(f.get(f.length())), *c.bad);
    }
    formulas::free_all(f);

    // An explanation: released with what the search owns (the heap check at the end sees a leak).
    if (c.last < 3) continue;
    faulty ctx{&c};
    formulas::formula g = formulas::clause_vectors::empty_vector;
    model n(c.first, c.last);
    try {
      dpll<faulty, explain_badly>::solve(g, ctx, n, variable{0});
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), "nubrix::dpll::solve: entry 2 of the explanation " + c.what);
    }
  }
  // A model ending at the last variable: the search could not name the one after it.
  formulas::formula f = formula_of({{2147483647}});
  model m(2147483646, 2147483647);
  EXPECT_THROW(helpers::dpll_solve(f, m, variable{0}), std::invalid_argument);
  formulas::free_all(f);
}

// --- bounded solves -------------------------------------------------------------------------------

constexpr search_policy policies[] = {search_policy::preferred, search_policy::in_order, search_policy::any_model};

// What a bounded solve of the entries gave: the answer, the statistics and the model afterwards.
struct bounded_outcome {
  solve_result result;
  solve_statistics stats;
  model m;
};
bounded_outcome solve_within(const entries& es, model m, solve_options options) {
  formulas::formula f = formula_of(es);
  solve_statistics stats;
  options.statistics = &stats;
  const solve_result r = helpers::dpll_solve_bounded(f, m, variable{0}, options);
  EXPECT_EQ(f, formulas::clause_vectors::empty_vector) << "taken over whatever the answer";
  return {r, stats, m};
}

// What every finished solve's statistics satisfy, whatever the formula and the policy.
void expect_invariants(const solve_statistics& s, std::int32_t variables) {
  EXPECT_GE(s.propagations, s.decisions) << "every decision is propagated";
  EXPECT_EQ(s.learnt_clauses, s.conflicts) << "one clause learnt per conflict analysed";
  EXPECT_GE(s.learnt_literals, s.learnt_clauses);
  EXPECT_LE(s.learnt_literals, s.learnt_literals_before) << "minimisation only removes";
  EXPECT_LE(s.released_clauses, s.learnt_clauses + s.refutations);
  EXPECT_LE(s.witnesses + s.refutations, s.excursions + s.theory_calls);
  EXPECT_LE(s.theory_rejections, s.theory_calls);
  EXPECT_LE(s.highest_level, variables);
  EXPECT_LE(s.level, s.highest_level);
  EXPECT_GE(s.time.count(), 0);
}

using bounded_solve_test = heap_test;

// Random formulas under every policy: the unbounded answer, and statistics that agree with it.
TEST_F(bounded_solve_test, statistics_hold_their_invariants) {
  const std::uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 600; ++round) {
    const int n = 1 + static_cast<int>(rng() % 12);
    const entries es = random_entries(rng, n, static_cast<int>(rng() % (4 * n + 2)));
    const search_policy policy = policies[round % 3];
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round);
    const bounded_outcome o = solve_within(es, model(1, n), {.policy = policy});
    ASSERT_EQ(o.result == solve_result::sat, count_models(es, n) > 0);
    expect_invariants(o.stats, n);
    EXPECT_TRUE(policy != search_policy::in_order || o.stats.excursions == 0);
    EXPECT_EQ(o.stats.theory_calls, o.result == solve_result::sat ? 1 : 0);
    EXPECT_TRUE(o.result != solve_result::sat || o.stats.propagations >= n) << "every variable set is propagated";
  }
  // A theory that rejects every model: one call per model, each a rejection.
  enumeration ctx;
  formulas::formula f = formula_of(queens(5));
  model m(1, 25);
  solve_statistics s;
  EXPECT_EQ((dpll<enumeration, enumerate>::solve_bounded(f, ctx, m, variable{0}, {.statistics = &s})),
            solve_result::unsat);
  EXPECT_EQ(s.theory_calls, 10);
  EXPECT_EQ(s.theory_rejections, 10);
  expect_invariants(s, 25);
}

// Every bound stops a search that would run for long with unknown, the model's entries as given and
// nothing leaked (the fixture checks), under every policy.
TEST_F(bounded_solve_test, bounds_stop_a_hard_search_with_unknown) {
  const entries hard = pigeonhole(12, 11);
  model given(1, 132);
  given[variable{1}] = true_;  // pigeon 1 in hole 1
  given[variable{14}] = false_;
  const auto stopped = [&](solve_options options) {
    const bounded_outcome o = solve_within(hard, given, options);
    EXPECT_EQ(o.result, solve_result::unknown);
    EXPECT_EQ(o.m, given) << "the entries as the caller gave them";
    expect_invariants(o.stats, 132);
    return o.stats;
  };
  for (const search_policy policy : policies) {
    SCOPED_TRACE(static_cast<int>(policy));
    EXPECT_EQ(stopped({.policy = policy, .conflict_limit = 300}).conflicts, 300);
    const solve_statistics p = stopped({.policy = policy, .propagation_limit = 20000});
    EXPECT_GE(p.propagations, 20000);
    EXPECT_LT(p.propagations, 20000 + 132) << "one propagate() call past the limit at most";

    // A deadline already past, or a terminate callback that says stop at once: no work at all.
    const solve_statistics past = stopped({.policy = policy, .deadline = std::chrono::steady_clock::now()});
    EXPECT_EQ(past.propagations + past.decisions + past.conflicts, 0);
    EXPECT_EQ(stopped({.policy = policy, .deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds{20}})
                  .theory_calls,
              0);

    // Stops on its k-th call, with progress due at every poll: one report per poll.
    for (const int k : {1, 2, 7}) {
      struct counts {
        int terminate_calls = 0, progress_calls = 0, stop_at = 0;
        solve_statistics last;
        bool monotone = true;
      } c{0, 0, k, {}, true};
      const solve_statistics s = stopped({
          .policy = policy,
          .terminate =
              [](void* data) {
                auto& c = *static_cast<counts*>(data);
                return ++c.terminate_calls == c.stop_at;
              },
          .terminate_data = &c,
          .progress =
              [](void* data, const solve_statistics& now) {
                auto& c = *static_cast<counts*>(data);
                c.monotone = c.monotone && now.propagations >= c.last.propagations &&
                             now.conflicts >= c.last.conflicts && now.decisions >= c.last.decisions &&
                             now.level <= now.highest_level && now.time >= c.last.time;
                c.last = now;
                ++c.progress_calls;
              },
          .progress_data = &c,
          .progress_interval = std::chrono::steady_clock::duration::zero(),
      });
      EXPECT_EQ(c.terminate_calls, k);
      EXPECT_EQ(c.progress_calls, k);
      EXPECT_TRUE(c.monotone);
      EXPECT_GE(s.propagations, s.decisions);
      EXPECT_GE(s.propagations, c.last.propagations);
    }
  }
}

// Solves on several threads at once, each with its own bounds and callbacks: each deterministic one
// does exactly what it does alone, and one stopped from another thread through its terminate
// callback stops. Run under ThreadSanitizer too (see README).
TEST_F(bounded_solve_test, concurrent_solves_stay_independent) {
  const entries hard = pigeonhole(12, 11);
  const entries medium = pigeonhole(8, 7);
  const auto limited = [](search_policy policy) { return solve_options{.policy = policy, .conflict_limit = 2000}; };
  std::vector<solve_statistics> alone;
  for (const search_policy policy : policies)
    alone.push_back(solve_within(medium, model(1, 56), limited(policy)).stats);

  struct stop_flag {
    std::atomic<bool> raised{false};
    std::atomic<std::int64_t> polls{0};
  } flag;
  bounded_outcome interrupted{solve_result::sat, {}, model()};
  std::thread stopped_from_outside([&] {
    interrupted = solve_within(hard, model(1, 132),
                               {.terminate =
                                    [](void* data) {
                                      auto& f = *static_cast<stop_flag*>(data);
                                      f.polls.fetch_add(1, std::memory_order_relaxed);
                                      return f.raised.load(std::memory_order_relaxed);
                                    },
                                .terminate_data = &flag});
  });
  std::vector<bounded_outcome> together(2 * std::size(policies), bounded_outcome{solve_result::sat, {}, model()});
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < together.size(); ++i)
    threads.emplace_back([&, i] { together[i] = solve_within(medium, model(1, 56), limited(policies[i % 3])); });
  for (std::thread& t : threads) t.join();
  while (flag.polls.load() < 3) std::this_thread::yield();  // it is searching
  flag.raised = true;
  stopped_from_outside.join();

  EXPECT_EQ(interrupted.result, solve_result::unknown);
  for (std::size_t i = 0; i < together.size(); ++i) {
    const solve_statistics& a = alone[i % 3];
    const solve_statistics& b = together[i].stats;
    EXPECT_EQ(together[i].result, solve_within(medium, model(1, 56), limited(policies[i % 3])).result);
    EXPECT_EQ(std::tie(a.decisions, a.propagations, a.conflicts, a.learnt_literals, a.released_clauses),
              std::tie(b.decisions, b.propagations, b.conflicts, b.learnt_literals, b.released_clauses));
  }
}

// --- out of memory -------------------------------------------------------------------------------

// Fails each heap request of a whole solve in turn: each run raises std::bad_alloc and leaks
// nothing, and the caller's formula is either consumed (reset to empty) or untouched.
void fail_every_request(const entries& es, int n, auto&& solve) {
  const int failures = for_each_failing_request([&](int k) {
    formulas::formula f = formula_of(es);
    const formulas::formula record = f;
    model m(1, n);
    probe::fail_request(k);
    try {
      solve(f, m);
    } catch (const std::bad_alloc&) {
      probe::fail_request(0);
      EXPECT_TRUE(f == formulas::clause_vectors::empty_vector || (f == record && numbers_of(f) == es));
      formulas::free_all(f);
      throw;
    }
  });
  EXPECT_GE(failures, 3);  // the tables, the lists and the internal formula at least
}

using solve_memory_test = heap_test;

TEST_F(solve_memory_test, every_failed_request_of_a_plain_solve) {
  for (const search_policy policy : {search_policy::preferred, search_policy::in_order, search_policy::any_model}) {
    const auto plain = [policy](formulas::formula& f, model& m) { helpers::dpll_solve(f, m, variable{0}, policy); };
    fail_every_request(queens(5), 25, plain);
    fail_every_request(pigeonhole(4, 3), 12, plain);
    fail_every_request({{1, 2, 3}, {-1, -2}, {-1, 2, 4}, {1, -3, -4}, {2, 3, 4}, {-2, -3}, {3, -4, 1}}, 4, plain);
  }
  // Excursions, refutations and the replay of the in-order decisions.
  std::mt19937_64 rng(11);
  entries es;
  add_random_clauses(rng, es, 40, 150);
  EXPECT_GT(for_each_failing_request([&](int k) {
              access<nothing, accept> a(es, model(1, 40), 0, search_policy::preferred, {},
                                        witness_after(0, k % 2 == 0 ? 8000 : 2));
              probe::fail_request(k);
              a.search();
            }),
            20);
  // Speculations on the in-order decisions, failed and borne out, and what a failed one releases.
  add_random_clauses(rng, es, 40, 30);
  EXPECT_GT(for_each_failing_request([&](int k) {
              access<nothing, accept> a(es, model(1, 40), 0, search_policy::preferred, {}, witness_after(3, 8000, 1));
              probe::fail_request(k);
              a.search();
            }),
            20);
}

TEST_F(solve_memory_test, every_failed_request_of_a_bounded_solve) {
  for (const search_policy policy : policies) {
    fail_every_request(pigeonhole(7, 6), 42, [policy](formulas::formula& f, model& m) {
      const model given = m;
      const solve_result r = helpers::dpll_solve_bounded(f, m, variable{0}, {.policy = policy, .conflict_limit = 40});
      EXPECT_EQ(r, solve_result::unknown);
      EXPECT_EQ(m, given);
    });
  }
}

TEST_F(solve_memory_test, every_failed_request_of_a_solve_with_a_theory) {
  fail_every_request(queens(5), 25, [](formulas::formula& f, model& m) {
    enumeration ctx;
    dpll<enumeration, enumerate>::solve(f, ctx, m, variable{0});
  });
  fail_every_request(pigeonhole(3, 3), 9, [](formulas::formula& f, model& m) {
    hidden ctx{{{-1, -5}, {0, 1, 9}, {2, 4, 6}}, 1, true};
    dpll<hidden, reveal>::solve(f, ctx, m, variable{0});
  });
}

}  // namespace
}  // namespace nubrix::testing
