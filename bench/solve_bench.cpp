// Per-solve time of dpll_solve, building the formula included: what a caller that solves many small
// problems in-process pays for each one. Each iteration copies a generated instance clause by clause
// (the allocations a caller building it would make) and solves the copy.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include <nubrix/builders.hpp>
#include <nubrix/helpers.hpp>

#include "generators.hpp"

namespace {

using namespace nubrix;

// Solves one fresh copy of the instance; true when it has a model.
bool solve_copy(const generators::instance& inst) {
  builders::formula_builder original{inst.f};
  formulas::formula f = original.copy().build();
  model m(1, inst.variables);
  return helpers::dpll_solve(f, m, variable{0});
}

// Runs every instance of the set once per iteration: the time reported is the mean over the set.
void solve_set(benchmark::State& state, std::vector<generators::instance> set) {
  std::int64_t satisfiable = 0;
  for (auto _ : state) {
    for (const generators::instance& inst : set) satisfiable += solve_copy(inst) ? 1 : 0;
  }
  const auto solves = static_cast<double>(set.size());
  state.counters["per_solve"] =
      benchmark::Counter(solves, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["satisfiable"] = static_cast<double>(satisfiable) / (solves * static_cast<double>(state.iterations()));
  for (generators::instance& inst : set) formulas::free_all(inst.f);
}

void solve_queens(benchmark::State& state) {
  solve_set(state, {generators::queens(static_cast<std::int32_t>(state.range(0)))});
}
BENCHMARK(solve_queens)->Arg(8)->Arg(12)->Unit(benchmark::kMicrosecond);

void solve_pigeonhole(benchmark::State& state) { solve_set(state, {generators::pigeonhole(7)}); }
BENCHMARK(solve_pigeonhole)->Unit(benchmark::kMillisecond);

// A fixed set of instances at 4.26 clauses per variable, about half of them satisfiable.
void solve_random_3sat(benchmark::State& state) {
  std::vector<generators::instance> set;
  for (std::int64_t seed = 1; seed <= state.range(1); ++seed)
    set.push_back(
        generators::random_ksat(3, static_cast<std::int32_t>(state.range(0)), 4.26, static_cast<std::uint64_t>(seed)));
  solve_set(state, std::move(set));
}
BENCHMARK(solve_random_3sat)->Args({50, 32})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(solve_random_3sat)->Args({100, 32})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(solve_random_3sat)->Args({150, 8})->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
