// A caller of the installed library: builds a formula, checks a model and prints it.
#include <cstdio>

#include <nubrix.hpp>

int main() {
  using namespace nubrix;
  formulas::formula f = formulas::clause_vectors::empty_vector;
  f.append(new_clause({1, -2}));
  f.append(new_clause({0, 2, 4}));
  model m(1, 4);
  m[variable{1}] = variable_value::true_;
  m[variable{2}] = variable_value::false_;
  m[variable{3}] = variable_value::true_;
  m[variable{4}] = variable_value::false_;
  const bool ok = formulas::satisfies(f, m) == formulas::sat_result::sat && image(m) == " 1 &  3";
  std::printf("%s: %s under %s\n", ok ? "ok" : "FAILED", formulas::image(f).c_str(), image(m).c_str());
  formulas::free_all(f);
  return ok ? 0 : 1;
}
