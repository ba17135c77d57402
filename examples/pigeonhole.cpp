// p pigeons in h holes, at most one pigeon a hole: no placement exists when p > h, and the solver
// must prove it. Pigeon i in hole j is variable j * p + i + 1, so each hole's pigeons are one
// at-most-one range.
// Usage: pigeonhole [p h]   (default 8 7)
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <nubrix/builders.hpp>
#include <nubrix/helpers.hpp>

using namespace nubrix;

int main(int argc, char** argv) {
  const int p = argc > 2 ? std::atoi(argv[1]) : 8;
  const int h = argc > 2 ? std::atoi(argv[2]) : 7;
  if (p < 1 || h < 1 || p * h > 10000) {
    std::fprintf(stderr, "usage: pigeonhole [pigeons holes], at most 10000 variables\n");
    return 1;
  }
  const auto in = [p](int pigeon, int hole) { return variable{hole * p + pigeon + 1}; };

  builders::formula_builder fb = builders::empty_formula_builder;
  for (int i = 0; i < p; ++i) {
    builders::clause_builder somewhere = builders::empty_clause_builder;
    for (int j = 0; j < h; ++j) somewhere.add(+in(i, j));
    fb.add(somewhere.build());
  }
  for (int j = 0; j < h; ++j) fb.add_at_most_one(in(0, j), in(p - 1, j));
  formulas::formula f = fb.build();

  model m(1, p * h);
  const auto start = std::chrono::steady_clock::now();
  const bool found = helpers::dpll_solve(f, m, variable{0});
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  std::printf("%d pigeons in %d holes: %s (%.1f ms)\n", p, h, found ? "placed" : "impossible", took.count());
  return found == (p <= h) ? 0 : 1;
}
