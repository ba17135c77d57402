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
#include <tuple>
#include <vector>

#include <nubrix/dpll.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/heap.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/nubrix.hpp>

#include "engine/search_state.hpp"

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

// Appends c to a theory's explanation, releasing it if the append runs out of memory.
inline void give(formulas::formula& explanation, literal_array_access c) {
  try {
    explanation.append(c);
  } catch (...) {
    free(c);
    throw;
  }
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

// The context of a theory whose verdict on a model of variables 1 .. n is a fixed function of the
// model and a salt: it records every model it is offered (bits_of).
struct recording_theory {
  std::uint64_t salt;
  int n;
  std::vector<std::uint64_t> offered;
};
// The check of such a theory: records the model, asks verdict(salt, n, bits, entries), and gives the
// entries it returns as the explanation.
template <bool (*verdict)(std::uint64_t, int, std::uint64_t, entries&)>
bool recorded(recording_theory& ctx, const model& m, formulas::formula& explanation) {
  const std::uint64_t bits = bits_of(m, ctx.n);
  ctx.offered.push_back(bits);
  entries es;
  const bool accept = verdict(ctx.salt, ctx.n, bits, es);
  for (const entry& e : es) give(explanation, clause_of(e));
  return accept;
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

// Tuning that makes the preferred search turn to a witness after `conflicts` conflicts and stop an
// excursion after `cap` for a turn in order alone (both bounds doubling with each turn, as in the
// search); with a `margin`, it speculates, before its first witness, on all but the newest `margin`
// in-order decisions whenever there are more than twice as many.
inline engine::parameters witness_after(std::int64_t conflicts, std::int64_t cap = 8000, std::int32_t margin = 0) {
  engine::parameters p;
  p.first_in_order_turn = conflicts;
  p.in_order_turn = std::max<std::int64_t>(conflicts, 1);
  p.excursion_cap = cap;
  if (margin > 0) p.speculation_margin = margin;
  return p;
}

// Tuning that makes the search reduce its learnt clauses every `conflicts` conflicts or so.
inline engine::parameters reduce_every(std::int64_t conflicts) {
  engine::parameters p;
  p.first_reduction = conflicts;
  return p;
}

// A search set up as solve sets it up, with every step reachable: the internal formula over the
// entries (each of two or more entries watched), and a started search state over the model.
template <typename user_context, auto check>
struct access {
  using watcher = engine::watcher;
  using internal_formula = engine::internal_formula;
  using state = engine::search_state;
  using conflict = state::conflict;
  using watch_triple = std::tuple<std::int32_t, std::int32_t, entry>;

  model m;
  user_context ctx;
  internal_formula* f = nullptr;
  state* s = nullptr;
  bool finished = false;

  explicit access(const entries& es, model start_model, std::int32_t min_vars = 0,
                  search_policy policy = search_policy::in_order, user_context context = {},
                  const engine::parameters& tuning = engine::default_parameters)
      : m(std::move(start_model)), ctx(std::move(context)) {
    formulas::formula caller = formula_of(es);
    f = internal_formula::create(m, caller);
    for (std::int32_t i = 1; i <= caller.length(); ++i)
      if (caller.get(i).length() > 1) f->append_watcher(caller.get(i));
    s = new state(*f, engine::theory_of<user_context, check>(ctx), m, variable{min_vars == 0 ? m.last() : min_vars},
                  policy, {}, {}, tuning);
    s->start();
  }
  ~access() {
    if (!finished) s->cleanup(solve_result::unsat);
    delete s;
    internal_formula::release(f);
  }
  access(const access&) = delete;
  access& operator=(const access&) = delete;

  // Runs the rest of the search (which cleans up after itself).
  bool search() {
    const bool found = s->run() == solve_result::sat;
    finished = true;
    return found;
  }

  std::vector<watch_triple> list(std::int32_t l) {
    std::vector<watch_triple> out;
    const auto& w = f->occurs_list(literal{l});
    // A clause of three shows its third literal where a longer one shows where the search resumes.
    for (std::int32_t j = 1; j <= w.length(); ++j) {
      const watcher e = w.get(j);
      out.emplace_back(to_int(e.blit), e.is_ternary() ? to_int(e.third()) : e.next,
                       numbers_of(literal_array_access(e.clause)));
    }
    // A binary clause (l other) as the entry it would have: the other literal, no position.
    for (const literal other : f->implications(literal{l})) out.emplace_back(to_int(other), 0, entry{l, to_int(other)});
    return out;
  }
  literal_array_access clause(std::int32_t i) { return f->clauses.get(i); }
  std::int32_t clause_count() { return f->clauses.length(); }

  std::int32_t unassigned_left() { return s->unassigned_left_; }
  std::int32_t first_unset() { return to_int(s->first_unset_); }
  std::int32_t decision_level() { return s->decision_level_; }
  std::int32_t level(std::int32_t v) { return s->level_of(variable{v}); }
  literal_array_access antecedent(std::int32_t v) {
    array_bounds* const r = s->vars_[v].reason;
    return r == nullptr ? literal_array_access{} : literal_array_access(r);
  }
  // The literals on the trail not yet propagated.
  entry queue() {
    entry out;
    for (std::int32_t i = s->propagated_; i < s->trail_size_; ++i) out.push_back(to_int(s->trail_[i]));
    return out;
  }
  void clear_queue() { s->propagated_ = s->trail_size_; }
  entry learnt() {
    return entry(reinterpret_cast<const std::int32_t*>(s->learnt_.e),
                 reinterpret_cast<const std::int32_t*>(s->learnt_.e) + s->learnt_.size);
  }
  variable_value value(std::int32_t v) { return m[variable{v}]; }
  variable_value val(std::int32_t l) { return s->val(literal{l}); }

  void assign(std::int32_t l, literal_array_access antecedent = {}) { s->assign(literal{l}, antecedent.bounds()); }
  // A decision on v at the next level, left queued.
  void decide_on(std::int32_t v) {
    s->level_starts_[s->decision_level_++] = s->trail_size_;
    s->assign(+variable{v}, nullptr);
  }
  void decide() { s->decide(); }
  void unassign_all(std::int32_t level) { s->unassign_all(level); }
  conflict propagate() { return s->propagate(); }
  // Analyses the conflict and learns from it, as the search does; false at level 0.
  bool learn_from(const conflict& c) { return s->resolve_conflict(c, false) == state::step::done; }
  bool check_assign(std::int32_t l, literal_array_access antecedent) {
    return s->check_assign(literal{l}, antecedent.bounds());
  }

  // Runs the search of the empty theory step by step as run() does, calling inspect(conflict level,
  // jump level) with each clause learnt before it joins, and reducing the learnt clauses after every
  // conflict. Returns whether a model was found.
  template <typename function>
  bool search_inspecting(function inspect) {
    bool found = !s->propagate();
    for (std::int32_t i = 1; found && i <= clause_count(); ++i) {
      const literal_array_access c = clause(i);
      if (c.is_empty()) found = false;
      if (c.length() == 1) found = s->check_assign(c.data()[0], c.bounds());
    }
    while (found && s->unassigned_left_ > 0) {
      s->decide();
      while (const auto c = s->propagate()) {
        if (s->decision_level_ == 0) return false;
        ++s->conflicts_;
        const std::int32_t conflict_level = s->decision_level_;
        const auto analysis = s->analyze(c);
        inspect(conflict_level, analysis.jump_level);
        s->learn(analysis, false);
        s->reduce_learnts();
      }
    }
    return found;
  }
};

}  // namespace nubrix::testing

#endif  // NUBRIX_TESTS_SUPPORT_HPP
