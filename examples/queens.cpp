// n queens on an n x n board, none attacking another. Square (r, c) is variable r * n + c + 1, so
// the solver's preference for low variables set true places each queen as far left as it can.
// Usage: queens [n]   (default 8)
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <nubrix/builders.hpp>
#include <nubrix/helpers.hpp>

using namespace nubrix;

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 8;
  if (n < 1 || n > 200) {
    std::fprintf(stderr, "usage: queens [n], 1 <= n <= 200\n");
    return 1;
  }
  const auto square = [n](int r, int c) { return variable{r * n + c + 1}; };

  builders::formula_builder fb = builders::empty_formula_builder;
  for (int r = 0; r < n; ++r) {
    // A queen somewhere in the row, and at most one: the row's squares are consecutive variables.
    builders::clause_builder row = builders::empty_clause_builder;
    for (int c = 0; c < n; ++c) row.add(+square(r, c));
    fb.add(row.build());
    fb.add_at_most_one(square(r, 0), square(r, n - 1));
  }
  for (int r1 = 0; r1 < n; ++r1) {
    for (int r2 = r1 + 1; r2 < n; ++r2) {
      for (int c = 0; c < n; ++c) {
        const int d = r2 - r1;  // columns and both diagonals, pair by pair
        fb.add(new_clause({-to_int(square(r1, c)), -to_int(square(r2, c))}));
        if (c + d < n) fb.add(new_clause({-to_int(square(r1, c)), -to_int(square(r2, c + d))}));
        if (c - d >= 0) fb.add(new_clause({-to_int(square(r1, c)), -to_int(square(r2, c - d))}));
      }
    }
  }
  builders::formula_builder copy = fb.copy();
  formulas::formula f = fb.build();

  model m(1, n * n);
  const bool found = helpers::dpll_solve(f, m, variable{0});
  if (!found) {
    std::printf("%d queens: no placement\n", n);
    copy.destroy();
    return 0;
  }
  const bool verified = formulas::satisfies(copy.v, m) == formulas::sat_result::sat;
  copy.destroy();
  std::printf("%d queens (%s):\n", n, verified ? "verified" : "NOT A MODEL");
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) std::printf(" %c", m[square(r, c)] == variable_value::true_ ? 'Q' : '.');
    std::printf("\n");
  }
  std::printf("model:%s\n", image(m).c_str());
  return verified ? 0 : 1;
}
