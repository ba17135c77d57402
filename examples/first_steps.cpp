// First steps with nubrix: clauses, a formula with an at-most-one constraint, and models checked
// against it.
#include <cstdio>

#include <nubrix/formulas.hpp>
#include <nubrix/nubrix.hpp>

using namespace nubrix;

namespace {

const char* verdict(const formulas::formula& f, const model& m) {
  return formulas::sat_result_names[static_cast<std::size_t>(formulas::satisfies(f, m))].data();
}

}  // namespace

int main() {
  // Four people, numbered 1 .. 4; at most one of 2, 3 and 4 may lead, someone must, and 1 leads
  // only if 2 does not.
  formulas::formula f = formulas::clause_vectors::empty_vector;
  f.append(new_clause({1, 2, 3, 4}));
  f.append(new_clause({0, 2, 4}));  // at most one of 2 .. 4
  f.append(new_clause({-1, -2}));
  std::printf("formula:  %s\n", formulas::image(f).c_str());

  model m(1, 4);
  std::printf("nothing set yet:   %-7s %s\n", verdict(f, m), image(m).c_str());
  m[variable{3}] = variable_value::true_;
  std::printf("3 leads:           %-7s %s\n", verdict(f, m), image(m).c_str());
  m[variable{4}] = variable_value::true_;
  std::printf("3 and 4 lead:      %-7s %s\n", verdict(f, m), image(m).c_str());
  m[variable{4}] = variable_value::false_;
  m[variable{1}] = variable_value::true_;
  m[variable{2}] = variable_value::false_;
  std::printf("1 and 3 lead:      %-7s %s\n", verdict(f, m), image(m).c_str());

  formulas::free_all(f);
  return 0;
}
