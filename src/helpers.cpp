// The plain satisfiability instance of the solver.
#include <nubrix/helpers.hpp>

#include <nubrix/dpll.hpp>

namespace nubrix::helpers {

namespace {

// The empty theory: no context, and every model accepted.
struct empty_context {};
empty_context c;

bool empty_theory_check(empty_context&, const model&, formulas::formula&) { return true; }

using sat = dpll<empty_context, empty_theory_check>;

}  // namespace

bool dpll_solve(formulas::formula& f, model& m, variable_or_null min_vars) { return sat::solve(f, c, m, min_vars); }

bool dpll_solve(formulas::formula& f, model& m, variable_or_null min_vars, search_policy policy) {
  return sat::solve(f, c, m, min_vars, policy);
}

}  // namespace nubrix::helpers
