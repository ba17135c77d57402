// A caller of the installed library: builds a formula, solves it, checks the model and prints it.
#include <cstdio>

#include <nubrix.hpp>

int main() {
  using namespace nubrix;
  builders::formula_builder fb = builders::empty_formula_builder;
  fb.add(new_clause({-1, -2}));
  fb.add(new_clause({2, 3}));
  fb.add_at_most_one(variable{3}, variable{5});
  builders::formula_builder copy = fb.copy();
  formulas::formula f = fb.build();
  model m(1, 5);
  const bool found = helpers::dpll_solve(f, m, variable{0});
  const bool ok = found && formulas::satisfies(copy.v, m) == formulas::sat_result::sat && image(m) == " 1 &  3";
  std::printf("%s: %s has the model%s\n", ok ? "ok" : "FAILED", formulas::image(copy.v).c_str(), image(m).c_str());
  copy.destroy();
  return ok ? 0 : 1;
}
