// The incremental solver and the search under assumptions, checked against brute force and against
// a solve from scratch over random sequences of additions and solves.
#include <nubrix/helpers.hpp>
#include <nubrix/solver.hpp>

#include <algorithm>

#include "support.hpp"

namespace nubrix::testing {
namespace {

struct no_theory {};
using search = access<no_theory, theory::accept_every_model>;  // settles values for good after a witness

constexpr search_policy policies[] = {search_policy::preferred, search_policy::in_order, search_policy::any_model};

// What a solve over `es` and variables 1 .. n under `assumed` must answer: with `bits` the model
// found (when sat) and `failed` the failed assumptions (when unsat).
void expect_answer(const entries& es, int n, const entry& assumed, search_policy policy, bool sat,
                   std::uint64_t bits, const entry& failed) {
  entries with_units = es;
  for (const std::int32_t a : assumed) with_units.push_back({a});
  const std::optional<std::uint64_t> greatest = greatest_model(with_units, n, model(1, n));
  ASSERT_EQ(sat, greatest.has_value());
  if (sat) {
    if (policy == search_policy::any_model) {
      EXPECT_TRUE(holds(with_units, bits));
    } else {
      EXPECT_EQ(bits, *greatest);
    }
    return;
  }
  // The failed assumptions are assumptions, and refute the formula on their own; none only when
  // the formula alone has no model.
  entries with_failed = es;
  for (const std::int32_t a : failed) {
    EXPECT_NE(std::find(assumed.begin(), assumed.end(), a), assumed.end()) << a << " was not assumed";
    with_failed.push_back({a});
  }
  EXPECT_FALSE(greatest_model(with_failed, n, model(1, n)).has_value());
  EXPECT_TRUE(!failed.empty() || !greatest_model(es, n, model(1, n)).has_value());
}

entry random_assumptions(std::mt19937_64& rng, int n) {
  entry out(rng() % 5);
  for (std::int32_t& a : out) a = static_cast<std::int32_t>(1 + rng() % n) * (rng() % 2 ? 1 : -1);
  return out;
}

// The search itself under assumptions, with the witness sought from the first decision so that
// the searches by activity meet the assumptions too.
TEST_F(heap_test, search_under_assumptions_matches_brute_force) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 3000; ++round) {
    const int n = 1 + static_cast<int>(rng() % 12);
    const entries es = random_entries(rng, n, static_cast<int>(rng() % 3 * n + 1));
    const entry assumed = random_assumptions(rng, n);
    const search_policy policy = policies[rng() % 3];
    std::vector<literal> literals;
    for (const std::int32_t a : assumed) literals.push_back(literal{a});
    internals::literal_vectors::vector failed = internals::literal_vectors::empty_vector;
    bool sat = false;
    {
      const engine::parameters tuning =
          rng() % 2 == 0 ? witness_after(0, rng() % 2 == 0 ? 8000 : 1 + static_cast<std::int64_t>(rng() % 3))
                         : engine::default_parameters;
      search a(es, model(1, n), 0, policy, {}, tuning);
      a.s->set_assumptions(literals.data(), static_cast<std::int32_t>(literals.size()), &failed);
      sat = a.search();
      entry failed_numbers(reinterpret_cast<std::int32_t*>(failed.e),
                           reinterpret_cast<std::int32_t*>(failed.e) + failed.size);
      expect_answer(es, n, assumed, policy, sat, sat ? bits_of(a.m, n) : 0, failed_numbers);
    }
    failed.destroy();
    ASSERT_FALSE(HasFailure()) << "round " << round;
  }
}

// Sequences of additions and solves under assumptions: every answer is the one brute force gives
// for what was added so far, and every clause passed to the learnt-clause callback is implied.
TEST_F(heap_test, incremental_sequences_match_brute_force) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 1500; ++round) {
    const int n = 1 + static_cast<int>(rng() % 12);
    const bool numbers = round % 2 == 1;  // literals given and read back as signed numbers
    solver s;
    entries es;
    entries learnt;
    solve_options options;
    options.learnt_max_size = static_cast<std::int32_t>(rng() % 4);
    options.learnt_data = &learnt;
    options.learnt_clause = [](void* data, const literal* lits, std::int32_t size) {
      static_cast<entries*>(data)->emplace_back(reinterpret_cast<const std::int32_t*>(lits),
                                                reinterpret_cast<const std::int32_t*>(lits) + size);
    };
    for (int step = 0; step < 4; ++step) {
      for (const entry& e : random_entries(rng, n, static_cast<int>(1 + rng() % n))) {
        es.push_back(e);
        if (is_at_most_one(e)) {
          s.add_at_most_one(variable{e[1]}, variable{e[2]});
        } else if (numbers) {
          s.add_clause(std::span<const std::int32_t>(e));
        } else {
          std::vector<literal> c;
          for (const std::int32_t x : e) c.push_back(literal{x});
          s.add_clause(c);
        }
      }
      const entry assumed = random_assumptions(rng, n);
      for (const std::int32_t a : assumed) numbers ? s.assume(a) : s.assume(literal{a});
      options.policy = policies[rng() % 3];
      const solve_result r = s.solve(options);
      const int vars = s.variables();
      std::uint64_t bits = 0;
      const std::vector<std::int32_t> m = s.model();
      ASSERT_EQ(m.size(), r == solve_result::sat ? static_cast<std::size_t>(vars) : 0);
      for (int v = 1; v <= vars; ++v) {
        const bool is_true = numbers ? r == solve_result::sat && m[static_cast<std::size_t>(v - 1)] == v
                                     : s.value(variable{v}) == variable_value::true_;
        ASSERT_EQ(s.holds(v), is_true);
        ASSERT_EQ(s.holds(-v), r == solve_result::sat && !is_true);
        if (is_true) bits |= std::uint64_t{1} << (v - 1);
      }
      entry failed;
      for (const literal l : s.failed_assumptions()) {
        failed.push_back(to_int(l));
        EXPECT_TRUE(s.failed(l));
      }
      expect_answer(es, vars, assumed, options.policy, r == solve_result::sat, bits, failed);
      EXPECT_EQ(s.value(variable{vars + 1}), variable_value::unset);
    }
    const int vars = s.variables();
    for (const entry& c : learnt) {
      EXPECT_LE(c.size(), static_cast<std::size_t>(options.learnt_max_size));
      for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << vars); ++bits)
        ASSERT_TRUE(!holds(es, bits) || holds(c, bits)) << "a learnt clause that the formula does not imply";
    }
    ASSERT_FALSE(HasFailure()) << "round " << round;
  }
}

// Larger formulas, solved again and again under assumptions with the learnt clauses kept: each
// preferred model is the one a search from scratch finds in order with the assumptions as units.
TEST(solver, keeps_learnt_clauses_and_the_preferred_model) {
  std::mt19937_64 rng(5);
  for (int round = 0; round < 6; ++round) {
    const int n = 90;
    entries es;
    for (int i = 0; i < 4 * n; ++i) {
      entry c;
      for (int k = 0; k < 3; ++k) c.push_back(static_cast<std::int32_t>(1 + rng() % n) * (rng() % 2 ? 1 : -1));
      es.push_back(c);
    }
    solver s;
    for (const entry& e : es) {
      std::vector<literal> c;
      for (const std::int32_t x : e) c.push_back(literal{x});
      s.add_clause(c);
    }
    for (int step = 0; step < 8; ++step) {
      const entry assumed = random_assumptions(rng, n);
      for (const std::int32_t a : assumed) s.assume(literal{a});
      const solve_result r = s.solve();
      entries with_units = es;
      for (const std::int32_t a : assumed) with_units.push_back({a});
      model m(1, n);
      formulas::formula f = formula_of(with_units);
      ASSERT_EQ(r == solve_result::sat, helpers::dpll_solve(f, m, variable{0}, search_policy::in_order));
      if (r == solve_result::sat) {
        for (int v = 1; v <= n; ++v) ASSERT_EQ(s.value(variable{v}), m[variable{v}]) << "variable " << v;
      }
    }
  }
}

// Every allocation of a sequence of additions and solves failed in turn, the solver living across
// several solves: the failing call raises std::bad_alloc, the solver stays usable with what it
// held, and nothing leaks.
TEST(solver, every_allocation_failure_leaves_the_solver_usable) {
  std::mt19937_64 rng(3);
  const int n = 30;
  entries es;
  for (int i = 0; i < 130; ++i) {
    entry c;
    for (int k = 0; k < 3; ++k) c.push_back(static_cast<std::int32_t>(1 + rng() % n) * (rng() % 2 ? 1 : -1));
    es.push_back(c);
  }
  // The greatest model of the first `clauses` clauses over the variables they name.
  const auto expected = [&](std::size_t clauses, int vars) {
    const entries prefix(es.begin(), es.begin() + static_cast<std::ptrdiff_t>(clauses));
    model m(1, vars);
    formulas::formula f = formula_of(prefix);
    return helpers::dpll_solve(f, m, variable{0}) ? bits_of(m, vars) : ~std::uint64_t{0};
  };
  const auto answer = [&](solver& s) {
    if (s.solve() != solve_result::sat) return ~std::uint64_t{0};
    std::uint64_t bits = 0;
    for (int v = 1; v <= n; ++v)
      if (s.value(variable{v}) == variable_value::true_) bits |= std::uint64_t{1} << (v - 1);
    return bits;
  };
  const entry assumed = {-1, 2, -3};
  const int failures = for_each_failing_request([&](int k) {
    solver s;
    std::size_t added = 0;
    try {
      probe::fail_request(k);
      for (; added < es.size(); ++added) {
        if (added % 32 == 16) {
          for (const std::int32_t a : assumed) s.assume(literal{a});
          s.solve(solve_options{.policy = added % 64 == 16 ? search_policy::preferred : search_policy::any_model});
        }
        std::vector<literal> c;
        for (const std::int32_t x : es[added]) c.push_back(literal{x});
        s.add_clause(c);
      }
      for (const std::int32_t a : assumed) s.assume(literal{a});
      answer(s);
    } catch (const std::bad_alloc&) {
      probe::fail_request(0);
      // Usable, with every clause added before the failure; a solve drops the assumptions left.
      ASSERT_EQ(s.clauses(), static_cast<std::int32_t>(added));
      s.solve();
      EXPECT_EQ(answer(s), expected(added, s.variables()));
      throw;
    }
  });
  EXPECT_GT(failures, 20);
}

}  // namespace
}  // namespace nubrix::testing
