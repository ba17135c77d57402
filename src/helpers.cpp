// The plain satisfiability instance of the solver.
#include <nubrix/helpers.hpp>

#include <nubrix/dpll.hpp>

namespace nubrix::helpers {

namespace {

// The empty theory: no context (a local of each call, so that solves share nothing), and every
// model accepted.
struct empty_context {};

using sat = dpll<empty_context, theory::accept_every_model>;

}  // namespace

bool dpll_solve(formulas::formula& f, model& m, variable_or_null min_vars) {
  empty_context c;
  return sat::solve(f, c, m, min_vars);
}

bool dpll_solve(formulas::formula& f, model& m, variable_or_null min_vars, search_policy policy) {
  empty_context c;
  return sat::solve(f, c, m, min_vars, policy);
}

solve_result dpll_solve_bounded(formulas::formula& f, model& m, variable_or_null min_vars,
                                const solve_options& options) {
  empty_context c;
  return sat::solve_bounded(f, c, m, min_vars, options);
}

}  // namespace nubrix::helpers
