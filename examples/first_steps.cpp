// First steps with nubrix: clauses and a formula with an at-most-one constraint, gathered with the
// builders, and models checked against the formula.
#include <cstdio>
#include <string>

#include <nubrix/builders.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/nubrix.hpp>

using namespace nubrix;

namespace {

// The formula as text: clauses as image() writes them, each at-most-one entry [0, from, to] as the
// range it stands for (image() shows its marker 0 as a literal).
std::string text(const formulas::formula& f) {
  std::string out;
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
    const literal_array_access c = f.get(i);
    if (!out.empty()) out += " & ";
    out += is_at_most_one(c) ? "at most one of " + std::to_string(to_int(c.data()[1])) + " .. " +
                                   std::to_string(to_int(c.data()[2]))
                             : image(c);
  }
  return out;
}

const char* verdict(const formulas::formula& f, const model& m) {
  return formulas::sat_result_names[static_cast<std::size_t>(formulas::satisfies(f, m))].data();
}

}  // namespace

int main() {
  // Four people, numbered 1 .. 4; at most one of 2, 3 and 4 may lead, someone must, and 1 leads
  // only if 2 does not.
  builders::clause_builder someone = builders::empty_clause_builder;
  for (std::int32_t v = 1; v <= 4; ++v) someone.add(+variable{v});
  builders::formula_builder fb = builders::empty_formula_builder;
  fb.add_simplify(someone.build());              // the formula builder takes the clause over
  fb.add_at_most_one(variable{2}, variable{4});  // stored as the one entry [0, 2, 4]
  fb.add_simplify(new_clause({-1, -2}));
  formulas::formula f = fb.build();
  std::printf("formula:  %s\n", text(f).c_str());

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
