// The C interface and IPASIR as their callers use them: incremental sequences over random formulas,
// each answer checked against a solver built afresh for that step, under every allocation failure
// in turn; terminate and learn callbacks, limits and the error codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include <nubrix/helpers.hpp>
#include <nubrix/ipasir.h>
#include <nubrix/nubrix.h>

#include "new_probe.hpp"
#include "support.hpp"

namespace nubrix::testing {
namespace {

// One step of an incremental sequence: entries to add (clauses, or {0, from, to} ranges), then
// assumptions, then a solve. `named` is the highest variable named by the steps so far.
struct step {
  entries added;
  std::vector<std::int32_t> assumed;
  std::int32_t named = 0;
};

// The calls of one interface, as plain function pointers over a void* handle; statuses are 0 where
// the interface returns none.
struct calls {
  void* (*init)();
  void (*release)(void*);
  int (*add)(void*, std::int32_t);
  int (*at_most_one)(void*, std::int32_t, std::int32_t);  // null when the interface has no ranges
  int (*assume)(void*, std::int32_t);
  int (*solve)(void*);
  std::int32_t (*val)(void*, std::int32_t);
  int (*failed)(void*, std::int32_t);
  bool reports_errors;  // whether adding calls return their status and init null (IPASIR aborts)
};

nubrix_solver* c_handle(void* s) { return static_cast<nubrix_solver*>(s); }

const calls c_interface{
    []() -> void* { return nubrix_create(); },
    [](void* s) { nubrix_release(c_handle(s)); },
    [](void* s, std::int32_t l) { return nubrix_add(c_handle(s), l); },
    [](void* s, std::int32_t from, std::int32_t to) { return nubrix_add_at_most_one(c_handle(s), from, to); },
    [](void* s, std::int32_t l) { return nubrix_assume(c_handle(s), l); },
    [](void* s) { return nubrix_solve(c_handle(s)); },
    [](void* s, std::int32_t l) { return nubrix_value(c_handle(s), l); },
    [](void* s, std::int32_t l) { return nubrix_failed(c_handle(s), l); },
    true};

const calls ipasir{ipasir_init,
                   ipasir_release,
                   [](void* s, std::int32_t l) { return ipasir_add(s, l), 0; },
                   nullptr,
                   [](void* s, std::int32_t l) { return ipasir_assume(s, l), 0; },
                   ipasir_solve,
                   ipasir_val,
                   ipasir_failed,
                   false};

bool is_empty_range(const entry& e) { return is_at_most_one(e) && e[2] < e[1]; }

// The greatest model over 1 .. n of es with the literals of units as unit clauses, from
// helpers::dpll_solve on a formula built afresh; none when there is no model.
std::optional<model> fresh_solve(const entries& es, std::span<const std::int32_t> units, std::int32_t n) {
  entries all;
  for (const entry& e : es)
    if (!is_empty_range(e)) all.push_back(e);
  for (const std::int32_t u : units) all.push_back({u});
  formulas::formula f = formula_of(all);
  model m(1, n);
  if (!helpers::dpll_solve(f, m, variable{0})) return std::nullopt;
  return m;
}

// A random sequence: small formulas with ranges, repeats and the odd empty clause, or random 3-SAT
// over up to 40 variables that becomes hard as its clauses reach 4.3 per variable.
std::vector<step> random_sequence(std::mt19937_64& rng, bool ranges) {
  const auto n = static_cast<std::int32_t>(3 + rng() % 38);
  const int steps = 2 + static_cast<int>(rng() % 6);
  std::vector<step> sequence;
  std::int32_t named = 0;
  for (int i = 0; i < steps; ++i) {
    step s;
    if (n <= 12) {
      for (entry& e : random_entries(rng, n, 1 + static_cast<int>(rng() % 4)))
        if ((ranges || !is_at_most_one(e)) && (!e.empty() || rng() % 4 == 0)) s.added.push_back(e);
    } else {
      for (int c = 0; c < (43 * n / 10 + steps - 1) / steps; ++c) {
        entry e;
        for (int k = 0; k < 3; ++k) e.push_back(static_cast<std::int32_t>(1 + rng() % n) * (rng() % 2 ? 1 : -1));
        s.added.push_back(e);
      }
    }
    for (auto k = rng() % 4; k > 0; --k) s.assumed.push_back(static_cast<std::int32_t>(1 + rng() % n) * (rng() % 2 ? 1 : -1));
    for (const entry& e : s.added)
      for (const std::int32_t l : e)
        if (!is_empty_range(e)) named = std::max(named, std::abs(l));
    for (const std::int32_t a : s.assumed) named = std::max(named, std::abs(a));
    s.named = named;
    sequence.push_back(s);
  }
  return sequence;
}

// Runs the sequence through `api`, writing to `log` whether the handle was made, every status and
// answer, and after each answer the values of 1 .. named and their negations (10) or the failed flag
// of each assumption held (20). The caller reserves the log, so that the run allocates only in the
// library. arm() is called before init, or right after it when init cannot report a failure.
template <typename function>
void run(const calls& api, const std::vector<step>& sequence, std::vector<std::int32_t>& log, function arm) {
  if (api.reports_errors) arm();
  void* const s = api.init();
  if (!api.reports_errors) arm();
  log.push_back(s != nullptr ? 1 : 0);
  if (s == nullptr) return;
  std::array<std::int32_t, 64> held{};  // the assumptions taken and not yet dropped by a solve
  std::size_t held_count = 0;
  for (const step& st : sequence) {
    for (const entry& e : st.added) {
      if (is_at_most_one(e)) {
        log.push_back(api.at_most_one(s, e[1], e[2]));
        continue;
      }
      for (const std::int32_t l : e) log.push_back(api.add(s, l));
      log.push_back(api.add(s, 0));
    }
    for (const std::int32_t a : st.assumed) {
      log.push_back(api.assume(s, a));
      if (log.back() == NUBRIX_OK) held.at(held_count++) = a;
    }
    const int answer = api.solve(s);
    log.push_back(answer);
    for (std::int32_t v = 1; answer == NUBRIX_SAT && v <= st.named; ++v) {
      log.push_back(api.val(s, v));
      log.push_back(api.val(s, -v));
    }
    for (std::size_t i = 0; answer == NUBRIX_UNSAT && i < held_count; ++i) log.push_back(api.failed(s, held[i]));
    if (answer >= 0 || !api.reports_errors) held_count = 0;
  }
  api.release(s);
}

// Checks a log of run() against solvers built afresh: each answer for the entries and assumptions
// the interface took (all of them through IPASIR, which reports no status), the failed assumptions
// as a refutation, and the model: the preferred one when `exact`, else one that satisfies the step.
// An allocation failure may only show as NUBRIX_ERROR_NO_MEMORY, leaving out what its call added
// (a solve keeps its assumptions for the next), or through IPASIR as the answer 0. Returns whether
// the log shows a failure.
bool check(const calls& api, const std::vector<step>& sequence, const std::vector<std::int32_t>& log, bool exact) {
  std::size_t at = 0;
  auto next = [&] { return at < log.size() ? log[at++] : std::numeric_limits<std::int32_t>::min(); };
  if (next() == 0) return true;  // no handle
  bool failure = false;
  auto kept = [&](int status) {
    EXPECT_TRUE(status == NUBRIX_OK || status == NUBRIX_ERROR_NO_MEMORY) << status;
    failure = failure || status != NUBRIX_OK;
    return status == NUBRIX_OK;
  };
  entries clauses;
  std::vector<std::int32_t> assumed;  // what the solver holds for its next solve
  std::int32_t named = 0;             // the highest variable of what the solver took
  for (std::size_t i = 0; i < sequence.size(); ++i) {
    const step& st = sequence[i];
    for (const entry& e : st.added) {
      for (std::size_t k = 0; !is_at_most_one(e) && k < e.size(); ++k) kept(next());
      if (!kept(next())) continue;  // the status of the closing 0, or of the range
      clauses.push_back(e);
      for (const std::int32_t l : e)
        if (!is_empty_range(e)) named = std::max(named, std::abs(l));
    }
    for (const std::int32_t a : st.assumed)
      if (kept(next())) {
        assumed.push_back(a);
        named = std::max(named, std::abs(a));
      }
    const int answer = next();
    if (answer == NUBRIX_ERROR_NO_MEMORY || (answer == 0 && !api.reports_errors)) {
      failure = true;
      if (!api.reports_errors) assumed.clear();
      continue;
    }
    const std::optional<model> expected = fresh_solve(clauses, assumed, named);
    EXPECT_EQ(answer, expected ? NUBRIX_SAT : NUBRIX_UNSAT) << "step " << i;
    if (answer != (expected ? NUBRIX_SAT : NUBRIX_UNSAT)) return failure;
    std::uint64_t bits = 0;
    for (std::int32_t v = 1; expected && v <= st.named; ++v) {
      const std::int32_t value = next();
      const bool is_true = exact ? v <= named && (*expected)[variable{v}] == variable_value::true_ : value == v;
      const std::int32_t want = v > named ? 0 : is_true ? v : -v;  // 0 for a variable the solver never took
      EXPECT_EQ(value, want) << "step " << i << ", variable " << v;
      EXPECT_EQ(next(), want) << "step " << i << ", literal " << -v;  // -v false: -(-v)
      if (is_true) bits |= std::uint64_t{1} << (v - 1);
    }
    if (expected) {
      entries with_units = clauses;
      for (const std::int32_t a : assumed) with_units.push_back({a});
      EXPECT_TRUE(holds(with_units, bits)) << "step " << i << ": the model violates the step";
    }
    std::vector<std::int32_t> failed;
    for (const std::int32_t a : assumed) {
      const std::int32_t flag = expected ? 0 : next();
      EXPECT_TRUE(flag == 0 || flag == 1);
      if (flag == 1) failed.push_back(a);
    }
    if (!expected) {
      EXPECT_FALSE(fresh_solve(clauses, failed, named)) << "step " << i << ": the failed assumptions refute nothing";
    }
    assumed.clear();
  }
  return failure;
}

TEST(c_interface, incremental_sequences_agree_with_a_solver_built_afresh_for_each_step) {
  for (const calls* api : {&c_interface, &ipasir}) {
    std::mt19937_64 rng(api == &ipasir ? 2 : 1);
    for (int i = 0; i < 150 && !HasFailure(); ++i) {
      const std::vector<step> sequence = random_sequence(rng, api == &c_interface);
      std::vector<std::int32_t> log;
      run(*api, sequence, log, [] {});
      EXPECT_FALSE(check(*api, sequence, log, true)) << "sequence " << i;
    }
  }
}

// Every allocation of the library's heap, then every operator new, fails in turn: the call that
// meets it reports it, the handle goes on answering right for what it holds, and nothing leaks.
TEST(c_interface, every_allocation_failure_is_reported_and_leaves_a_working_handle) {
  std::vector<std::int32_t> log;
  for (const calls* api : {&c_interface, &ipasir}) {
    std::mt19937_64 rng(7);
    std::vector<step> sequence;
    while (sequence.size() < 3 || sequence.back().named > 10) sequence = random_sequence(rng, api->at_most_one != nullptr);
    for (const bool library_heap : {true, false}) {
      int failures = 0;
      for (std::int64_t k = 1; !HasFailure(); ++k) {
        log.clear();
        log.reserve(4096);
        probe::reset();
        new_probe::reset();
        run(*api, sequence, log, [&] { (library_heap ? probe::fail_request : new_probe::fail_request)(k); });
        const bool raised = library_heap ? probe::failure_raised() : new_probe::failure_raised();
        probe::fail_request(0);
        new_probe::fail_request(0);
        EXPECT_EQ(probe::read().live(), 0) << "library blocks leaked, request " << k;
        EXPECT_EQ(new_probe::read().live(), 0) << "operator new blocks leaked, request " << k;
        SCOPED_TRACE(::testing::Message() << (api == &ipasir ? "IPASIR" : "C interface") << ", failing request " << k
                                          << (library_heap ? " of the library's heap" : " of operator new"));
        const bool shown = check(*api, sequence, log, api->reports_errors || !raised);
        if (api->reports_errors) {
          EXPECT_EQ(shown, raised) << "request " << k;
        }
        if (!raised) break;
        ++failures;
      }
      EXPECT_GT(failures, 0);
    }
  }
}

TEST(ipasir, learnt_clauses_follow_from_the_clauses_and_keep_to_the_limit) {
  struct collected {
    std::vector<entry> clauses;
  } learnt;
  std::int64_t checked = 0;
  for (int seed = 0; seed < 6; ++seed) {
    std::mt19937_64 rng(seed);
    const int max_length = 2 + seed;
    void* const s = ipasir_init();
    ipasir_set_learn(s, &learnt, max_length, [](void* data, std::int32_t* clause) {
      entry e;
      while (*clause != 0) e.push_back(*clause++);
      static_cast<collected*>(data)->clauses.push_back(e);
    });
    entries clauses;
    for (int round = 0; round < 2; ++round) {
      for (int c = 0; c < 128; ++c) {
        entry e;
        for (int k = 0; k < 3; ++k) e.push_back(static_cast<std::int32_t>(1 + rng() % 60) * (rng() % 2 ? 1 : -1));
        for (const std::int32_t l : e) ipasir_add(s, l);
        ipasir_add(s, 0);
        clauses.push_back(e);
      }
      for (int k = 0; k < 4; ++k) ipasir_assume(s, static_cast<std::int32_t>(1 + rng() % 60) * (rng() % 2 ? 1 : -1));
      EXPECT_NE(ipasir_solve(s), 0);
    }
    ipasir_release(s);
    for (const entry& e : learnt.clauses) {
      EXPECT_LE(e.size(), static_cast<std::size_t>(max_length));
      std::vector<std::int32_t> negation;
      for (const std::int32_t l : e) negation.push_back(-l);
      EXPECT_FALSE(fresh_solve(clauses, negation, 60)) << "a learnt clause that the clauses do not imply";
    }
    checked += static_cast<std::int64_t>(learnt.clauses.size());
    learnt.clauses.clear();
  }
  EXPECT_GT(checked, 0);
}

// n pigeons into n - 1 holes, as clauses.
void add_pigeonhole(const calls& api, void* s, std::int32_t n) {
  auto var = [n](std::int32_t p, std::int32_t h) { return p * (n - 1) + h + 1; };
  for (std::int32_t p = 0; p < n; ++p) {
    for (std::int32_t h = 0; h < n - 1; ++h) api.add(s, var(p, h));
    api.add(s, 0);
  }
  for (std::int32_t h = 0; h < n - 1; ++h)
    for (std::int32_t p = 0; p < n; ++p)
      for (std::int32_t q = p + 1; q < n; ++q) {
        api.add(s, -var(p, h));
        api.add(s, -var(q, h));
        api.add(s, 0);
      }
}

TEST(ipasir, a_terminate_callback_stops_a_hard_solve_with_0) {
  void* const s = ipasir_init();
  add_pigeonhole(ipasir, s, 10);
  int polls = 0;
  ipasir_set_terminate(s, &polls, [](void* data) { return ++*static_cast<int*>(data) >= 3 ? 1 : 0; });
  EXPECT_EQ(ipasir_solve(s), 0);
  EXPECT_EQ(polls, 3);
  EXPECT_EQ(ipasir_val(s, 1), 0);
  ipasir_set_terminate(s, nullptr, nullptr);
  ipasir_add(s, 0);  // the empty clause: the solver, still consistent, now refutes at once
  EXPECT_EQ(ipasir_solve(s), 20);
  ipasir_release(s);
}

TEST(c_interface, limits_stop_each_solve_and_statistics_tell_what_it_did) {
  nubrix_solver* const s = nubrix_create();
  add_pigeonhole(c_interface, s, 10);
  nubrix_statistics stats{};
  ASSERT_EQ(nubrix_set_conflict_limit(s, 50), NUBRIX_OK);
  for (int policy : {NUBRIX_POLICY_PREFERRED, NUBRIX_POLICY_IN_ORDER, NUBRIX_POLICY_ANY_MODEL}) {
    ASSERT_EQ(nubrix_set_policy(s, policy), NUBRIX_OK);
    EXPECT_EQ(nubrix_solve(s), NUBRIX_UNKNOWN);
    ASSERT_EQ(nubrix_get_statistics(s, &stats), NUBRIX_OK);
    EXPECT_GE(stats.conflicts, 50);
    EXPECT_GT(stats.decisions, 0);
    EXPECT_GE(stats.learnt_literals_before, stats.learnt_literals);
  }
  ASSERT_EQ(nubrix_set_conflict_limit(s, -1), NUBRIX_OK);
  ASSERT_EQ(nubrix_set_propagation_limit(s, 1000), NUBRIX_OK);
  EXPECT_EQ(nubrix_solve(s), NUBRIX_UNKNOWN);
  ASSERT_EQ(nubrix_get_statistics(s, &stats), NUBRIX_OK);
  EXPECT_GE(stats.propagations, 1000);
  ASSERT_EQ(nubrix_set_propagation_limit(s, -1), NUBRIX_OK);
  ASSERT_EQ(nubrix_set_time_limit(s, 0), NUBRIX_OK);  // a deadline already past
  EXPECT_EQ(nubrix_solve(s), NUBRIX_UNKNOWN);
  ASSERT_EQ(nubrix_set_time_limit(s, 60), NUBRIX_OK);
  EXPECT_EQ(nubrix_assume(s, -1), NUBRIX_OK);
  EXPECT_EQ(nubrix_add(s, 0), NUBRIX_OK);
  EXPECT_EQ(nubrix_solve(s), NUBRIX_UNSAT);
  EXPECT_EQ(nubrix_failed(s, -1), 0);  // the clauses alone have no model
  nubrix_release(s);
}

TEST(c_interface, bad_input_returns_invalid_and_changes_nothing) {
  constexpr std::int32_t min = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
  EXPECT_STREQ(nubrix_version(), NUBRIX_VERSION_STRING);
  EXPECT_STREQ(ipasir_signature(), "nubrix " NUBRIX_VERSION_STRING);
  EXPECT_EQ(nubrix_add(nullptr, 1), NUBRIX_ERROR_INVALID);
  EXPECT_EQ(nubrix_solve(nullptr), NUBRIX_ERROR_INVALID);
  EXPECT_EQ(nubrix_value(nullptr, 1), 0);
  EXPECT_EQ(nubrix_get_statistics(nullptr, nullptr), NUBRIX_ERROR_INVALID);
  nubrix_release(nullptr);

  nubrix_solver* const s = nubrix_create();
  for (const std::int32_t bad : {min, max, -max}) {
    EXPECT_EQ(nubrix_add(s, 1), NUBRIX_OK);
    EXPECT_EQ(nubrix_add(s, bad), NUBRIX_ERROR_INVALID);
    EXPECT_EQ(nubrix_add(s, 2), NUBRIX_ERROR_INVALID);  // the spoilt clause ignores the rest
    EXPECT_EQ(nubrix_solve(s), NUBRIX_ERROR_INVALID);   // while a clause is open
    EXPECT_EQ(nubrix_add(s, 0), NUBRIX_ERROR_INVALID);
    EXPECT_EQ(nubrix_assume(s, bad), NUBRIX_ERROR_INVALID);
    EXPECT_EQ(nubrix_add_at_most_one(s, 1, bad), NUBRIX_ERROR_INVALID);
  }
  EXPECT_EQ(nubrix_add_at_most_one(s, 0, 3), NUBRIX_ERROR_INVALID);
  EXPECT_EQ(nubrix_set_policy(s, 3), NUBRIX_ERROR_INVALID);
  EXPECT_EQ(nubrix_set_time_limit(s, std::nan("")), NUBRIX_ERROR_INVALID);
  EXPECT_EQ(nubrix_set_learn(s, nullptr, -1, nullptr), NUBRIX_ERROR_INVALID);
  // None of the spoilt clauses (1 2) was added: -1 -2 has a model.
  EXPECT_EQ(nubrix_assume(s, -1), NUBRIX_OK);
  EXPECT_EQ(nubrix_assume(s, -2), NUBRIX_OK);
  EXPECT_EQ(nubrix_solve(s), NUBRIX_SAT);
  EXPECT_EQ(nubrix_value(s, 1), -1);
  EXPECT_EQ(nubrix_value(s, min), 0);
  EXPECT_EQ(nubrix_variables(s), 2);
  nubrix_release(s);
}

}  // namespace
}  // namespace nubrix::testing
