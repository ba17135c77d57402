// The incremental solver over the plain satisfiability instance of the search.
#include <nubrix/solver.hpp>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include <nubrix/dpll.hpp>

namespace nubrix {

namespace {

struct empty_context {};
using sat = dpll<empty_context, theory::accept_every_model>;

}  // namespace

solver::~solver() { release(); }

solver::solver(solver&& other) noexcept
    : clauses_(std::exchange(other.clauses_, formulas::clause_vectors::empty_vector)),
      learnts_(std::exchange(other.learnts_, formulas::clause_vectors::empty_vector)),
      assumptions_(std::exchange(other.assumptions_, internals::literal_vectors::empty_vector)),
      failed_(std::move(other.failed_)),
      failed_sorted_(std::move(other.failed_sorted_)),
      model_(std::move(other.model_)),
      phases_(std::move(other.phases_)),
      variables_(std::exchange(other.variables_, 0)),
      statistics_(std::exchange(other.statistics_, {})) {}

solver& solver::operator=(solver&& other) noexcept {
  if (this != &other) {
    release();
    clauses_ = std::exchange(other.clauses_, formulas::clause_vectors::empty_vector);
    learnts_ = std::exchange(other.learnts_, formulas::clause_vectors::empty_vector);
    assumptions_ = std::exchange(other.assumptions_, internals::literal_vectors::empty_vector);
    failed_ = std::move(other.failed_);
    failed_sorted_ = std::move(other.failed_sorted_);
    model_ = std::move(other.model_);
    phases_ = std::move(other.phases_);
    variables_ = std::exchange(other.variables_, 0);
    statistics_ = std::exchange(other.statistics_, {});
  }
  return *this;
}

void solver::release() noexcept {
  formulas::free_all(clauses_);
  formulas::free_all(learnts_);
  assumptions_.destroy();
  clauses_ = learnts_ = formulas::clause_vectors::empty_vector;
  assumptions_ = internals::literal_vectors::empty_vector;
}

void solver::validate(literal l, const char* operation) {
  const std::int32_t x = to_int(l);
  if (x == 0 || x == std::numeric_limits<std::int32_t>::min() || x == std::numeric_limits<std::int32_t>::max() ||
      x == -std::numeric_limits<std::int32_t>::max())
    throw std::invalid_argument(std::string("nubrix::solver::") + operation + ": literal " + std::to_string(x) +
                                " names no variable (variables are 1 .. 2147483646)");
}

void solver::forget_answer() noexcept {
  failed_.clear();
  failed_sorted_.clear();
  model_ = nubrix::model();
}

void solver::add_clause(std::span<const literal> lits) {
  std::int32_t highest = variables_;
  for (const literal l : lits) {
    validate(l, "add_clause");
    highest = std::max(highest, to_int(get_var(l)));
  }
  if (lits.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 4))
    throw std::invalid_argument("nubrix::solver::add_clause: the clause is too long");
  const literal_array_access c = internals::allocate_clause(static_cast<std::int32_t>(lits.size()));
  std::copy(lits.begin(), lits.end(), c.data());
  try {
    clauses_.append(c);
  } catch (...) {
    free(c);
    throw;
  }
  variables_ = highest;
}

void solver::add_at_most_one(variable from, variable to) {
  if (to_int(from) < 1 || to_int(to) < 1 || to_int(from) == std::numeric_limits<std::int32_t>::max() ||
      to_int(to) == std::numeric_limits<std::int32_t>::max())
    throw std::invalid_argument("nubrix::solver::add_at_most_one: the range " + std::to_string(to_int(from)) + " .. " +
                                std::to_string(to_int(to)) + " is not within the variables 1 .. 2147483646");
  if (to < from) return;  // constrains nothing
  const literal_array_access c = internals::allocate_clause(3);
  c.data()[0] = literal{0};
  c.data()[1] = +from;
  c.data()[2] = +to;
  try {
    clauses_.append(c);
  } catch (...) {
    free(c);
    throw;
  }
  variables_ = std::max(variables_, to_int(to));
}

void solver::assume(literal l) {
  validate(l, "assume");
  assumptions_.append(l);
  variables_ = std::max(variables_, to_int(get_var(l)));
}

solve_result solver::solve(const solve_options& options) {
  if (options.proof != nullptr)
    throw std::invalid_argument("nubrix::solver::solve: the incremental solver writes no proof");
  forget_answer();
  nubrix::model m(1, variables_);
  phases_.resize(static_cast<std::size_t>(variables_) + 1, 0);
  solve_options bounded = options;
  solve_statistics statistics;
  bounded.statistics = &statistics;
  internals::literal_vectors::vector failed = internals::literal_vectors::empty_vector;
  empty_context context;
  solve_result r = solve_result::unsat;
  try {
    r = sat::solve_incremental(clauses_, learnts_, context, m, assumptions_, failed, bounded, phases_.data());
    if (r == solve_result::unsat && failed.size > 0) {
      // In the order of the assumptions, each once.
      failed_sorted_.assign(failed.e, failed.e + failed.size);
      std::sort(failed_sorted_.begin(), failed_sorted_.end());
      failed_sorted_.erase(std::unique(failed_sorted_.begin(), failed_sorted_.end()), failed_sorted_.end());
      std::vector<bool> listed(failed_sorted_.size(), false);
      for (std::int32_t i = 0; i < assumptions_.size; ++i) {
        const auto at = std::lower_bound(failed_sorted_.begin(), failed_sorted_.end(), assumptions_.e[i]);
        if (at == failed_sorted_.end() || *at != assumptions_.e[i]) continue;
        const auto k = static_cast<std::size_t>(at - failed_sorted_.begin());
        if (!listed[k]) failed_.push_back(*at);
        listed[k] = true;
      }
    }
  } catch (...) {
    failed.destroy();
    forget_answer();
    throw;
  }
  failed.destroy();
  if (r == solve_result::sat) model_ = std::move(m);
  assumptions_.clear();
  statistics_ = statistics;
  if (options.statistics != nullptr) *options.statistics = statistics;
  return r;
}

variable_value solver::value(variable v) const noexcept {
  if (to_int(v) < model_.first() || to_int(v) > model_.last()) return variable_value::unset;
  return model_[v];
}

bool solver::failed(literal l) const noexcept {
  return std::binary_search(failed_sorted_.begin(), failed_sorted_.end(), l);
}

std::span<const literal> solver::failed_assumptions() const noexcept { return failed_; }

}  // namespace nubrix
