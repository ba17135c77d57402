// Plain satisfiability: the solver instantiated with the empty theory, which accepts every model.
#ifndef NUBRIX_HELPERS_HPP
#define NUBRIX_HELPERS_HPP

#include <nubrix/decisions.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/nubrix.hpp>

namespace nubrix::helpers {

// Searches for a model of f, deciding the variables up to min_vars (0: all of m), lowest first and
// true first. Takes f over: its clauses are released and f is reset to the empty formula (if
// building the watch lists runs out of memory, f is left untouched with the caller). m is the
// caller's model over 1 .. n; entries already set are kept as facts. Returns true with the model in
// m, false when there is none. Raises std::bad_alloc, after releasing everything it took over.
// Raises std::invalid_argument, naming the entry and the literal at fault, with f left untouched
// with the caller, when an entry of f is null, holds 0 or -2147483648 or a variable outside m, or is
// an at-most-one entry whose range is missing or reaches outside m, and when m starts below 1 or
// ends at 2147483647; see dpll<...>::solve.
bool dpll_solve(formulas::formula& f, model& m, variable_or_null min_vars);
// The same, looking for the model as `policy` says; search_policy::preferred is the above.
bool dpll_solve(formulas::formula& f, model& m, variable_or_null min_vars, search_policy policy);

}  // namespace nubrix::helpers

#endif  // NUBRIX_HELPERS_HPP
