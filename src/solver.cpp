// The incremental solver over the engine that lives across its solves.
#include <nubrix/solver.hpp>

#include <algorithm>
#include <limits>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nubrix/internals.hpp>

#include "engine/incremental.hpp"

namespace nubrix {

solver::~solver() { release(); }

solver::solver(solver&& other) noexcept
    : engine_(std::exchange(other.engine_, nullptr)),
      assumptions_(std::exchange(other.assumptions_, internals::literal_vectors::empty_vector)),
      failed_(std::move(other.failed_)),
      failed_sorted_(std::move(other.failed_sorted_)),
      model_(std::move(other.model_)),
      outside_(std::move(other.outside_)),
      has_model_(std::exchange(other.has_model_, false)),
      variables_(std::exchange(other.variables_, 0)),
      assumed_variables_(std::exchange(other.assumed_variables_, 0)),
      clauses_(std::exchange(other.clauses_, 0)),
      statistics_(std::exchange(other.statistics_, {})) {}

solver& solver::operator=(solver&& other) noexcept {
  if (this != &other) {
    release();
    engine_ = std::exchange(other.engine_, nullptr);
    assumptions_ = std::exchange(other.assumptions_, internals::literal_vectors::empty_vector);
    failed_ = std::move(other.failed_);
    failed_sorted_ = std::move(other.failed_sorted_);
    model_ = std::move(other.model_);
    outside_ = std::move(other.outside_);
    has_model_ = std::exchange(other.has_model_, false);
    variables_ = std::exchange(other.variables_, 0);
    assumed_variables_ = std::exchange(other.assumed_variables_, 0);
    clauses_ = std::exchange(other.clauses_, 0);
    statistics_ = std::exchange(other.statistics_, {});
  }
  return *this;
}

void solver::release() noexcept {
  if (engine_ != nullptr) {
    engine_->~incremental_engine();
    internals::release(engine_);
    engine_ = nullptr;
  }
  assumptions_.destroy();
  assumptions_ = internals::literal_vectors::empty_vector;
}

engine::incremental_engine& solver::engine() {
  if (engine_ == nullptr)
    engine_ = ::new (internals::allocate(sizeof(engine::incremental_engine))) engine::incremental_engine;
  return *engine_;
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
  outside_.clear();
  has_model_ = false;
}

std::int32_t solver::learnt_clauses() const noexcept { return engine_ == nullptr ? 0 : engine_->learnt_clauses(); }

template <typename element>
void solver::add_clause_of(std::span<const element> lits) {
  std::int32_t highest = variables_;
  for (const element x : lits) {
    const literal l{x};
    validate(l, "add_clause");
    highest = std::max(highest, to_int(get_var(l)));
  }
  if (lits.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 4))
    throw std::invalid_argument("nubrix::solver::add_clause: the clause is too long");
  engine().add_clause(lits);
  variables_ = highest;
  ++clauses_;
}

void solver::add_clause(std::span<const literal> lits) { add_clause_of(lits); }
void solver::add_clause(std::span<const std::int32_t> lits) { add_clause_of(lits); }

void solver::add_at_most_one(variable from, variable to) {
  if (to_int(from) < 1 || to_int(to) < 1 || to_int(from) == std::numeric_limits<std::int32_t>::max() ||
      to_int(to) == std::numeric_limits<std::int32_t>::max())
    throw std::invalid_argument("nubrix::solver::add_at_most_one: the range " + std::to_string(to_int(from)) + " .. " +
                                std::to_string(to_int(to)) + " is not within the variables 1 .. 2147483646");
  if (to < from) return;  // constrains nothing
  engine().add_at_most_one(from, to);
  variables_ = std::max(variables_, to_int(to));
  ++clauses_;
}

void solver::assume(literal l) {
  validate(l, "assume");
  assumptions_.append(l);
  assumed_variables_ = std::max(assumed_variables_, to_int(get_var(l)));
}

solve_result solver::solve(const solve_options& options) { return solve_with(options, nullptr); }

solve_result solver::solve(const solve_options& options, theory::check_function check) {
  const auto call = [](void* context, const nubrix::model& m, formulas::formula& explanation) -> bool {
    theory::explanation_sink sink(explanation);
    return (*static_cast<const theory::check_function*>(context))(m, sink);
  };
  const engine::theory_ref theory{+call, &check, false};
  return solve_with(options, &theory);
}

solve_result solver::solve_with(const solve_options& options, const engine::theory_ref* theory) {
  if (options.proof != nullptr)
    throw std::invalid_argument("nubrix::solver::solve: the incremental solver writes no proof");
  forget_answer();
  // A theory sees the model of every variable and may name any in its entries: they all become
  // the engine's.
  if (theory != nullptr) variables_ = variables();
  // An assumption on a variable that no clause or range names constrains that variable alone: it
  // costs the search nothing, and only an assumption of its negation as well can refute it.
  // Usually there is none, and the assumptions go to the engine as they are.
  const std::span<const literal> all(assumptions_.e, static_cast<std::size_t>(assumptions_.size));
  const auto outside = [this](literal l) { return to_int(get_var(l)) > variables_; };
  std::vector<literal> inner;
  std::vector<literal> outer_sorted;
  if (std::any_of(all.begin(), all.end(), outside)) {
    for (const literal l : all) (outside(l) ? outer_sorted : inner).push_back(l);
    std::sort(outer_sorted.begin(), outer_sorted.end());
  }
  const auto opposed = std::find_if(all.begin(), all.end(), [&](literal l) {
    return outside(l) && std::binary_search(outer_sorted.begin(), outer_sorted.end(), -l);
  });

  solve_statistics statistics;
  solve_result r = solve_result::unsat;
  internals::literal_vectors::vector failed = internals::literal_vectors::empty_vector;
  try {
    if (opposed != all.end()) {
      failed.append(*opposed);
      failed.append(-*opposed);
    } else {
      solve_options bounded = options;
      bounded.statistics = &statistics;
      nubrix::model m;
      r = engine().solve(variables_, outer_sorted.empty() ? all : std::span<const literal>(inner), bounded, m, failed,
                         theory);
      if (r == solve_result::sat) {
        model_ = std::move(m);
        outside_ = std::move(outer_sorted);
        has_model_ = true;
      }
    }
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
  assumptions_.clear();
  statistics_ = statistics;
  if (options.statistics != nullptr) *options.statistics = statistics;
  return r;
}

variable_value solver::value(variable v) const noexcept {
  if (!has_model_ || to_int(v) < 1 || to_int(v) > variables()) return variable_value::unset;
  if (to_int(v) <= model_.last()) return model_[v];
  // A variable of assumptions alone: as assumed, and true otherwise, as the greatest model has it.
  return std::binary_search(outside_.begin(), outside_.end(), -v) ? variable_value::false_ : variable_value::true_;
}

bool solver::holds(literal l) const noexcept {
  if (to_int(l) == 0 || to_int(l) == std::numeric_limits<std::int32_t>::min()) return false;
  const variable_value x = value(get_var(l));
  return x != variable_value::unset && (x == variable_value::true_) == (to_int(l) > 0);
}

std::vector<std::int32_t> solver::model() const {
  std::vector<std::int32_t> out;
  if (!has_model_) return out;
  out.reserve(static_cast<std::size_t>(variables()));
  for (std::int32_t v = 1; v <= variables(); ++v) out.push_back(value(variable{v}) == variable_value::true_ ? v : -v);
  return out;
}

bool solver::failed(literal l) const noexcept {
  return std::binary_search(failed_sorted_.begin(), failed_sorted_.end(), l);
}

std::span<const literal> solver::failed_assumptions() const noexcept { return failed_; }

}  // namespace nubrix
