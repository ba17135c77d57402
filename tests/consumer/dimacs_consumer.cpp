// A caller of the installed DIMACS component: reads a problem with an at-most-one line and writes it
// back.
#include <cstdio>
#include <sstream>

#include <nubrix/dimacs.hpp>

int main() {
  using namespace nubrix;
  std::istringstream in("c three people\np cnf+ 3 2\n1 2 3 <= 1\n-1 0\n");
  dimacs::problem p = dimacs::read(in, "inline.cnf");
  std::ostringstream out;
  dimacs::write(out, p.f, p.variables);
  const bool ok = formulas::image(p.f) == "(0 | 1 | 3) & (\u00ac1)" && out.str() == "p cnf+ 3 2\n1 2 3 <= 1\n-1 0\n";
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", formulas::image(p.f).c_str());
  formulas::free_all(p.f);
  return ok ? 0 : 1;
}
