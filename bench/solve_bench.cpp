// Per-solve time of dpll_solve, building the formula included: what a caller that solves many small
// problems in-process pays for each one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include <nubrix/builders.hpp>
#include <nubrix/helpers.hpp>

namespace {

using namespace nubrix;

formulas::formula queens(int n) {
  const auto q = [n](int r, int c) { return r * n + c + 1; };
  builders::formula_builder fb = builders::empty_formula_builder;
  std::vector<literal> row;
  for (int r = 0; r < n; ++r) {
    row.clear();
    for (int c = 0; c < n; ++c) row.push_back(literal{q(r, c)});
    fb.add(new_clause(row));
    fb.add_at_most_one(variable{q(r, 0)}, variable{q(r, n - 1)});
  }
  for (int r1 = 0; r1 < n; ++r1)
    for (int r2 = r1 + 1; r2 < n; ++r2)
      for (int c = 0; c < n; ++c) {
        const int d = r2 - r1;
        fb.add(new_clause({-q(r1, c), -q(r2, c)}));
        if (c + d < n) fb.add(new_clause({-q(r1, c), -q(r2, c + d)}));
        if (c - d >= 0) fb.add(new_clause({-q(r1, c), -q(r2, c - d)}));
      }
  return fb.build();
}

formulas::formula pigeonhole(int p, int h) {
  builders::formula_builder fb = builders::empty_formula_builder;
  std::vector<literal> some_hole;
  for (int i = 0; i < p; ++i) {
    some_hole.clear();
    for (int j = 0; j < h; ++j) some_hole.push_back(literal{j * p + i + 1});
    fb.add(new_clause(some_hole));
  }
  for (int j = 0; j < h; ++j) fb.add_at_most_one(variable{j * p + 1}, variable{j * p + p});
  return fb.build();
}

// Uniform random 3-SAT: three distinct variables a clause, random signs.
using cnf = std::vector<std::vector<std::int32_t>>;
cnf random_3sat(int n, int clauses, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  cnf out(clauses);
  for (auto& c : out) {
    while (c.size() < 3) {
      const auto v = static_cast<std::int32_t>(1 + rng() % n);
      bool fresh = true;
      for (const std::int32_t x : c) fresh = fresh && x != v && x != -v;
      if (fresh) c.push_back(rng() % 2 ? v : -v);
    }
  }
  return out;
}

formulas::formula formula_of(const cnf& clauses) {
  formulas::formula f = formulas::clause_vectors::empty_vector;
  f.reserve(static_cast<std::int32_t>(clauses.size()));
  for (const auto& c : clauses) f.append(new_clause({c[0], c[1], c[2]}));
  return f;
}

void solve_queens(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    formulas::formula f = queens(n);
    model m(1, n * n);
    benchmark::DoNotOptimize(helpers::dpll_solve(f, m, variable{0}));
  }
}
BENCHMARK(solve_queens)->Arg(8)->Arg(12)->Unit(benchmark::kMicrosecond);

void solve_pigeonhole(benchmark::State& state) {
  for (auto _ : state) {
    formulas::formula f = pigeonhole(8, 7);
    model m(1, 56);
    benchmark::DoNotOptimize(helpers::dpll_solve(f, m, variable{0}));
  }
}
BENCHMARK(solve_pigeonhole)->Unit(benchmark::kMillisecond);

// Solves each of a fixed set of instances at 4.26 clauses per variable once (about half of them
// satisfiable): the time reported is the mean over the set.
void solve_random_3sat(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int clauses = static_cast<int>(n * 4.26 + 0.5);
  std::vector<cnf> instances;
  for (std::int64_t seed = 1; seed <= state.range(1); ++seed)
    instances.push_back(random_3sat(n, clauses, static_cast<std::uint64_t>(seed)));
  std::size_t next = 0;
  std::int64_t satisfiable = 0;
  for (auto _ : state) {
    formulas::formula f = formula_of(instances[next++ % instances.size()]);
    model m(1, n);
    satisfiable += helpers::dpll_solve(f, m, variable{0}) ? 1 : 0;
  }
  state.counters["satisfiable"] = benchmark::Counter(static_cast<double>(satisfiable) / state.iterations());
}
BENCHMARK(solve_random_3sat)->Args({50, 32})->Iterations(32)->Unit(benchmark::kMillisecond);
BENCHMARK(solve_random_3sat)->Args({100, 32})->Iterations(32)->Unit(benchmark::kMillisecond);
BENCHMARK(solve_random_3sat)->Args({150, 8})->Iterations(8)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
