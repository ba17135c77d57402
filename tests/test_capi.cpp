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

#include <nubrix/ipasir.h>
#include <nubrix/nubrix.h>
#include <nubrix/helpers.hpp>
#include <nubrix/solver.hpp>

#include "new_probe.hpp"
#include "support.hpp"

namespace nubrix::testing {
namespace {

// An incremental sequence over variables 1 .. n: each step adds entries (clauses, or {0, from, to}
// ranges), makes assumptions and solves.
struct step {
  entries added;
  std::vector<std::int32_t> assumed;
};
struct sequence {
  std::int32_t n;
  std::vector<step> steps;
};

// The calls of one interface over a void* handle; statuses are 0 where the interface returns none.
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

std::int32_t random_literal(std::mt19937_64& rng, std::int32_t n) {
  return static_cast<std::int32_t>(1 + rng() % n) * (rng() % 2 ? 1 : -1);
}

// Small formulas with ranges, repeats and the odd empty clause, or random 3-SAT over up to 60
// variables that becomes hard as its clauses reach 4.3 per variable; up to 3 assumptions a step.
sequence random_sequence(std::mt19937_64& rng, bool ranges, std::int32_t max_n = 60) {
  sequence out{static_cast<std::int32_t>(3 + rng() % (max_n - 2)), std::vector<step>(2 + rng() % 6)};
  for (step& st : out.steps) {
    if (out.n <= 12) {
      for (entry& e : random_entries(rng, out.n, 1 + static_cast<int>(rng() % 4)))
        if ((ranges || !is_at_most_one(e)) && (!e.empty() || rng() % 4 == 0)) st.added.push_back(e);
    } else {
      st.added.resize(43 * out.n / 10 / out.steps.size() + 1);
      for (entry& e : st.added)
        e = {random_literal(rng, out.n), random_literal(rng, out.n), random_literal(rng, out.n)};
    }
    for (auto k = rng() % 4; k > 0; --k) st.assumed.push_back(random_literal(rng, out.n));
  }
  return out;
}

// Runs the sequence through `api`, calling after_init(handle) first, and writes to `log` whether
// the handle was made, every status and answer, and after each answer the values of 1 .. n and of
// their negations (10) or the failed flag of each assumption held (20). The caller reserves the log,
// so that the run allocates only in the library.
template <typename function>
void run(const calls& api, const sequence& sq, std::vector<std::int32_t>& log, function after_init) {
  void* const s = api.init();
  log.push_back(s != nullptr ? 1 : 0);
  if (s == nullptr) return;
  after_init(s);
  std::array<std::int32_t, 32> held{};  // the assumptions taken and not yet dropped by a solve
  std::size_t held_count = 0;
  for (const step& st : sq.steps) {
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
    for (std::int32_t v = 1; answer == NUBRIX_SAT && v <= sq.n; ++v) {
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
bool check(const calls& api, const sequence& sq, const std::vector<std::int32_t>& log, bool exact) {
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
  for (std::size_t i = 0; i < sq.steps.size(); ++i) {
    SCOPED_TRACE(::testing::Message() << "step " << i);
    for (const entry& e : sq.steps[i].added) {
      for (std::size_t k = 0; !is_at_most_one(e) && k < e.size(); ++k) kept(next());
      if (!kept(next())) continue;  // the status of the closing 0, or of the range
      clauses.push_back(e);
      for (const std::int32_t l : e) named = std::max(named, is_empty_range(e) ? 0 : std::abs(l));
    }
    for (const std::int32_t a : sq.steps[i].assumed)
      if (kept(next())) assumed.push_back(a), named = std::max(named, std::abs(a));
    const int answer = next();
    if (answer == NUBRIX_ERROR_NO_MEMORY || (answer == 0 && !api.reports_errors)) {
      failure = true;
      if (!api.reports_errors) assumed.clear();
      continue;
    }
    const std::optional<model> expected = fresh_solve(clauses, assumed, named);
    EXPECT_EQ(answer, expected ? NUBRIX_SAT : NUBRIX_UNSAT);
    if (answer != (expected ? NUBRIX_SAT : NUBRIX_UNSAT)) return failure;
    entries step_entries = clauses;
    for (const std::int32_t a : assumed) step_entries.push_back({a});
    std::uint64_t bits = 0;
    for (std::int32_t v = 1; expected && v <= sq.n; ++v) {
      const std::int32_t value = next();
      const bool is_true = exact ? v <= named && (*expected)[variable{v}] == variable_value::true_ : value == v;
      const std::int32_t want = v > named ? 0 : is_true ? v : -v;  // 0 for a variable the solver never took
      EXPECT_EQ(value, want) << "variable " << v;
      EXPECT_EQ(next(), want) << "literal " << -v;  // -v is false: -(-v)
      if (is_true) bits |= std::uint64_t{1} << (v - 1);
    }
    EXPECT_TRUE(!expected || holds(step_entries, bits)) << "the model violates the step";
    std::vector<std::int32_t> failed;
    for (const std::int32_t a : assumed) {
      const std::int32_t flag = expected ? 0 : next();
      EXPECT_TRUE(flag == 0 || flag == 1);
      if (flag == 1) failed.push_back(a);
    }
    EXPECT_TRUE(expected || !fresh_solve(clauses, failed, named)) << "the failed assumptions refute nothing";
    assumed.clear();
  }
  return failure;
}

// Through IPASIR, every clause learnt (of at most a limit that varies) is checked against the
// sequence's clauses: they with the clause's negation have no model.
TEST(c_interface, incremental_sequences_agree_with_a_solver_built_afresh_for_each_step) {
  std::vector<entry> learnt;
  std::size_t learnt_checked = 0;
  for (const calls* api : {&c_interface, &ipasir}) {
    std::mt19937_64 rng(api == &ipasir ? 2 : 1);
    for (int i = 0; i < 150 && !HasFailure(); ++i) {
      const sequence sq = random_sequence(rng, api == &c_interface);
      const int max_length = 1 + i % 8;
      std::vector<std::int32_t> log;
      run(*api, sq, log, [&](void* s) {
        if (api != &ipasir) return;
        ipasir_set_learn(s, &learnt, max_length, [](void* data, std::int32_t* clause) {
          std::int32_t* end = clause;
          while (*end != 0) ++end;
          static_cast<std::vector<entry>*>(data)->emplace_back(clause, end);
        });
      });
      EXPECT_FALSE(check(*api, sq, log, true)) << "sequence " << i;
      entries all;
      for (const step& st : sq.steps) all.insert(all.end(), st.added.begin(), st.added.end());
      for (entry& clause : learnt) {
        EXPECT_LE(clause.size(), static_cast<std::size_t>(max_length));
        for (std::int32_t& l : clause) l = -l;
        EXPECT_FALSE(fresh_solve(all, clause, sq.n)) << "a learnt clause that the clauses do not imply";
      }
      learnt_checked += learnt.size();
      learnt.clear();
    }
  }
  EXPECT_GT(learnt_checked, 100U);
}

// A theory of the C interface: rejects a model, a fixed function of it and the salt, with up to two
// clauses false in it (or with none), and records what it was offered.
struct c_theory {
  std::uint64_t salt;
  std::int32_t n;
  std::vector<std::uint64_t> offered;
  std::int32_t spoil = 0;  // when not 0: added as a literal of the first explanation
};

entries c_theory_clauses(const c_theory& t, std::uint64_t bits, bool& accept) {
  std::mt19937_64 rng(t.salt ^ (bits * 0x9e3779b97f4a7c15U));
  accept = rng() % 4 == 0;
  entries out;
  for (auto k = accept ? 0 : rng() % 3; k-- > 0;) {
    entry c;
    for (auto length = 1 + rng() % 3; length-- > 0;) {
      const auto v = static_cast<std::int32_t>(1 + rng() % static_cast<std::uint64_t>(t.n));
      c.push_back(((bits >> (v - 1)) & 1U) != 0 ? -v : v);
    }
    out.push_back(c);
  }
  return out;
}

int c_check(void* data, nubrix_theory* th) {
  c_theory& t = *static_cast<c_theory*>(data);
  std::uint64_t bits = 0;
  for (std::int32_t v = 1; v <= t.n; ++v) bits |= nubrix_theory_value(th, v) > 0 ? std::uint64_t{1} << (v - 1) : 0;
  t.offered.push_back(bits);
  bool accept = false;
  for (const entry& c : c_theory_clauses(t, bits, accept)) {
    if (t.spoil != 0) nubrix_theory_add(th, t.spoil);
    for (const std::int32_t l : c) nubrix_theory_add(th, l);
    nubrix_theory_add(th, 0);
  }
  return accept ? 1 : 0;
}

// The C interface with a theory answers as nubrix::solver with the same theory given at run time
// (itself checked against brute force): the same models offered, answers, models and failed
// assumptions, step after step under every policy. A spoiled explanation ends that solve with
// NUBRIX_ERROR_INVALID and the handle goes on; so does every allocation failure in turn, with
// NUBRIX_ERROR_NO_MEMORY.
using c_theory_test = heap_test;
TEST_F(c_theory_test, a_c_theory_is_offered_what_the_solver_offers) {
  std::mt19937_64 rng(11);
  int rejected = 0;
  int spoilt = 0;
  for (int round = 0; round < 300 && !HasFailure(); ++round) {
    const auto n = static_cast<std::int32_t>(1 + rng() % 8);
    c_theory ct{rng(), n, {}};
    c_theory reference = ct;
    nubrix_solver* const h = nubrix_create();
    solver s;
    nubrix_add(h, n);
    nubrix_add(h, -n);
    nubrix_add(h, 0);
    s.add_clause({+variable{n}, -variable{n}});
    ASSERT_EQ(nubrix_set_theory(h, &ct, c_check), NUBRIX_OK);
    for (int st = 0; st < 3; ++st) {
      for (const entry& e : random_entries(rng, n, static_cast<int>(rng() % 3))) {
        if (!e.empty() && e[0] == 0) {
          nubrix_add_at_most_one(h, e[1], e[2]);
          s.add_at_most_one(variable{e[1]}, variable{e[2]});
          continue;
        }
        std::vector<literal> lits;
        for (const std::int32_t l : e) {
          nubrix_add(h, l);
          lits.push_back(literal{l});
        }
        nubrix_add(h, 0);
        s.add_clause(lits);
      }
      for (auto k = rng() % 3; k-- > 0;) {
        const std::int32_t a = static_cast<std::int32_t>(1 + rng() % static_cast<std::uint64_t>(n)) * (rng() % 2 ? 1 : -1);
        nubrix_assume(h, a);
        s.assume(literal{a});
      }
      const int policy = static_cast<int>(rng() % 3);
      nubrix_set_policy(h, policy);
      solve_options options;
      options.policy = static_cast<search_policy>(policy);
      ct.offered.clear();
      reference.offered.clear();
      const int answer = nubrix_solve(h);
      const solve_result r = s.solve(options, [&](const model& m, theory::explanation_sink& out) {
        const std::uint64_t bits = bits_of(m, n);
        reference.offered.push_back(bits);
        bool accept = false;
        for (const entry& c : c_theory_clauses(reference, bits, accept)) {
          std::vector<literal> lits;
          for (const std::int32_t l : c) lits.push_back(literal{l});
          out.add_clause(lits);
        }
        return accept;
      });
      SCOPED_TRACE(::testing::Message() << "round " << round << " step " << st << " policy " << policy);
      ASSERT_EQ(ct.offered, reference.offered);
      rejected += static_cast<int>(ct.offered.size()) - (r == solve_result::sat ? 1 : 0);
      ASSERT_EQ(answer, r == solve_result::sat ? NUBRIX_SAT : NUBRIX_UNSAT);
      for (std::int32_t v = 1; v <= n; ++v) {
        const variable_value x = s.value(variable{v});
        ASSERT_EQ(nubrix_value(h, v), x == variable_value::unset ? 0 : x == variable_value::true_ ? v : -v);
        ASSERT_EQ(nubrix_failed(h, v), s.failed(literal{v}) ? 1 : 0);
        ASSERT_EQ(nubrix_failed(h, -v), s.failed(literal{-v}) ? 1 : 0);
      }
    }
    // A literal outside the model spoils the explanation, and the solve ends with the error; the
    // theory removed, the handle solves again.
    ct.spoil = n + 1;
    const int spoiled = nubrix_solve(h);
    EXPECT_TRUE(spoiled == NUBRIX_ERROR_INVALID || spoiled == NUBRIX_SAT || spoiled == NUBRIX_UNSAT);
    EXPECT_EQ(nubrix_value(h, 1) != 0, spoiled == NUBRIX_SAT);
    spoilt += spoiled == NUBRIX_ERROR_INVALID ? 1 : 0;
    nubrix_set_theory(h, nullptr, nullptr);
    EXPECT_NE(nubrix_solve(h), NUBRIX_ERROR_INVALID);
    nubrix_release(h);
  }
  EXPECT_GT(rejected, 300);
  EXPECT_GT(spoilt, 10);

  // Every allocation failure in turn during solves with a theory.
  int failures = 0;
  for (std::int64_t k = 1; k < 100000; ++k) {
    c_theory ct{5, 6, {}};
    nubrix_solver* const h = nubrix_create();
    ASSERT_NE(h, nullptr);
    for (const entry& e : random_entries(rng, 6, 8)) {
      if (!e.empty() && e[0] == 0) continue;
      for (const std::int32_t l : e) nubrix_add(h, l);
      nubrix_add(h, 0);
    }
    nubrix_set_theory(h, &ct, c_check);
    probe::fail_request(k);
    int answer = NUBRIX_OK;
    for (int st = 0; st < 3; ++st) answer = std::min(answer, nubrix_solve(h));
    const bool raised = probe::failure_raised();
    probe::fail_request(0);
    if (raised) {
      ++failures;
      EXPECT_EQ(answer, NUBRIX_ERROR_NO_MEMORY) << "request " << k;
      EXPECT_NE(nubrix_solve(h), NUBRIX_ERROR_NO_MEMORY) << "request " << k;
    }
    nubrix_release(h);
    if (!raised) break;
  }
  EXPECT_GT(failures, 5);
}

// Every allocation of the library's heap, then every operator new, fails in turn: the call that
// meets it reports it, the handle goes on answering right for what it holds, and nothing leaks.
TEST(c_interface, every_allocation_failure_is_reported_and_leaves_a_working_handle) {
  std::vector<std::int32_t> log;
  for (const calls* api : {&c_interface, &ipasir}) {
    std::mt19937_64 rng(7);
    const sequence sq = random_sequence(rng, api->at_most_one != nullptr, 10);
    for (const bool library_heap : {true, false}) {
      int failures = 0;
      for (std::int64_t k = 1; !HasFailure(); ++k) {
        SCOPED_TRACE(::testing::Message() << (api == &ipasir ? "IPASIR" : "C interface") << ", failing request " << k
                                          << (library_heap ? " of the library's heap" : " of operator new"));
        log.clear();
        log.reserve(4096);
        probe::reset();
        new_probe::reset();
        auto arm = [&] { (library_heap ? probe::fail_request : new_probe::fail_request)(k); };
        if (api->reports_errors) arm();  // IPASIR's init aborts when it fails
        run(*api, sq, log, [&](void*) {
          if (!api->reports_errors) arm();
        });
        const bool raised = library_heap ? probe::failure_raised() : new_probe::failure_raised();
        probe::fail_request(0);
        new_probe::fail_request(0);
        EXPECT_EQ(probe::read().live(), 0) << "library blocks leaked";
        EXPECT_EQ(new_probe::read().live(), 0) << "operator new blocks leaked";
        const bool shown = check(*api, sq, log, api->reports_errors || !raised);
        EXPECT_TRUE(shown == raised || !api->reports_errors);
        if (!raised) break;
        ++failures;
      }
      EXPECT_GT(failures, 0);
    }
  }
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

// Pigeonhole 10 into 9 is far too hard for these bounds: a terminate callback and each limit stop
// its solve with 0, and the handle goes on.
TEST(c_interface, a_terminate_callback_or_a_limit_stops_a_hard_solve_with_0) {
  void* const p = ipasir_init();
  add_pigeonhole(ipasir, p, 10);
  int polls = 0;
  ipasir_set_terminate(p, &polls, [](void* data) { return ++*static_cast<int*>(data) >= 3 ? 1 : 0; });
  EXPECT_EQ(ipasir_solve(p), 0);
  EXPECT_EQ(polls, 3);
  ipasir_set_terminate(p, nullptr, nullptr);
  ipasir_add(p, 0);  // the empty clause
  EXPECT_EQ(ipasir_solve(p), 20);
  ipasir_release(p);

  nubrix_solver* const s = nubrix_create();
  add_pigeonhole(c_interface, s, 10);
  for (int limit = 0; limit < 3; ++limit) {  // conflicts, propagations, time; a policy each
    ASSERT_EQ(nubrix_set_conflict_limit(s, limit == 0 ? 50 : -1), NUBRIX_OK);
    ASSERT_EQ(nubrix_set_propagation_limit(s, limit == 1 ? 1000 : -1), NUBRIX_OK);
    ASSERT_EQ(nubrix_set_time_limit(s, limit == 2 ? 0 : -1), NUBRIX_OK);
    ASSERT_EQ(nubrix_set_policy(s, limit), NUBRIX_OK);
    EXPECT_EQ(nubrix_solve(s), NUBRIX_UNKNOWN);
    nubrix_statistics stats{};
    ASSERT_EQ(nubrix_get_statistics(s, &stats), NUBRIX_OK);
    const std::int64_t reached[] = {stats.conflicts, stats.propagations, 0}, bound[] = {50, 1000, 0};
    EXPECT_GE(reached[limit], bound[limit]);
  }
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
  // A solve refused while a clause is open forgets the answer before it, model and failed set.
  EXPECT_EQ(nubrix_assume(s, -1), NUBRIX_OK);
  EXPECT_EQ(nubrix_add(s, 1), NUBRIX_OK);
  EXPECT_EQ(nubrix_add(s, 0), NUBRIX_OK);
  EXPECT_EQ(nubrix_solve(s), NUBRIX_UNSAT);
  EXPECT_EQ(nubrix_failed(s, -1), 1);
  EXPECT_EQ(nubrix_add(s, 2), NUBRIX_OK);
  EXPECT_EQ(nubrix_solve(s), NUBRIX_ERROR_INVALID);
  EXPECT_EQ(nubrix_failed(s, -1), 0);
  EXPECT_EQ(nubrix_add(s, 0), NUBRIX_OK);
  EXPECT_EQ(nubrix_solve(s), NUBRIX_SAT);
  EXPECT_EQ(nubrix_add(s, -3), NUBRIX_OK);
  EXPECT_EQ(nubrix_solve(s), NUBRIX_ERROR_INVALID);
  EXPECT_EQ(nubrix_value(s, 1), 0);
  EXPECT_EQ(nubrix_add(s, 0), NUBRIX_OK);
  // An assumption on the highest variable, which no clause names, costs nothing, now or later.
  EXPECT_EQ(nubrix_assume(s, -(max - 1)), NUBRIX_OK);
  EXPECT_EQ(nubrix_solve(s), NUBRIX_SAT);
  EXPECT_EQ(nubrix_value(s, max - 1), -(max - 1));
  EXPECT_EQ(nubrix_assume(s, max - 1), NUBRIX_OK);
  EXPECT_EQ(nubrix_assume(s, -(max - 1)), NUBRIX_OK);
  EXPECT_EQ(nubrix_solve(s), NUBRIX_UNSAT);
  EXPECT_EQ(nubrix_failed(s, max - 1) + nubrix_failed(s, -(max - 1)), 2);
  EXPECT_EQ(nubrix_solve(s), NUBRIX_SAT);
  EXPECT_EQ(nubrix_value(s, 1), 1);
  nubrix_release(s);
}

}  // namespace
}  // namespace nubrix::testing
