// The C interface over nubrix::solver: a handle that holds the solver, the clause being built and
// the settings of later solves. Every entry point turns the exceptions of the C++ solver into status
// codes, so that none crosses into C.
#include <nubrix/nubrix.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

#include <nubrix/control.hpp>
#include <nubrix/solver.hpp>

#ifndef NUBRIX_VERSION_STRING
#error "NUBRIX_VERSION_STRING must be defined by the build"
#endif

struct nubrix_solver {
  nubrix::solver solver;
  std::vector<nubrix::literal> clause;  // the clause being built, up to its 0
  int clause_error = NUBRIX_OK;         // an error that spoiled the clause being built
  nubrix::search_policy policy = nubrix::search_policy::preferred;
  std::int64_t conflict_limit = nubrix::solve_options::no_limit;
  std::int64_t propagation_limit = nubrix::solve_options::no_limit;
  double time_limit = -1;  // seconds; negative for none
  int (*terminate)(void* data) = nullptr;
  void* terminate_data = nullptr;
  void (*learn)(void* data, const std::int32_t* lits, std::int32_t size) = nullptr;
  void* learn_data = nullptr;
  std::int32_t learn_max_length = 0;
  std::vector<std::int32_t> learnt;  // the clause handed to learn, 0-terminated
  int (*check)(void* data, nubrix_theory* t) = nullptr;
  void* check_data = nullptr;
  bool answered = false;             // the last call of nubrix_solve answered; its model and failed set stand
};

// A check's view of the model offered and its explanation, for the time of one call.
struct nubrix_theory {
  const nubrix::model& m;
  nubrix::theory::explanation_sink& sink;
  std::vector<nubrix::literal> clause;  // the explanation clause being built, up to its 0
  int error = NUBRIX_OK;                // an error that spoiled the clause being built
};

namespace {

constexpr std::int32_t largest_variable = std::numeric_limits<std::int32_t>::max() - 1;

bool in_range(std::int32_t lit) noexcept { return lit != 0 && lit >= -largest_variable && lit <= largest_variable; }

// Runs `body`, which returns a status, and turns what it raises into a status.
template <typename function>
int guarded(function body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return NUBRIX_ERROR_NO_MEMORY;
  } catch (const std::invalid_argument&) {
    return NUBRIX_ERROR_INVALID;
  } catch (...) {
    return NUBRIX_ERROR_FAILED;
  }
}

bool call_terminate(void* data) {
  const nubrix_solver* const s = static_cast<const nubrix_solver*>(data);
  return s->terminate(s->terminate_data) != 0;
}

// Hands a learnt clause to the caller as int32_t literals followed by 0, in a buffer reserved before
// the solve; a clause never holds more distinct literals than there are variables.
void call_learn(void* data, const nubrix::literal* lits, std::int32_t size) {
  nubrix_solver* const s = static_cast<nubrix_solver*>(data);
  s->learnt.clear();
  for (std::int32_t i = 0; i < size; ++i) s->learnt.push_back(nubrix::to_int(lits[i]));
  s->learnt.push_back(0);
  s->learn(s->learn_data, s->learnt.data(), size);
}

}  // namespace

extern "C" {

const char* nubrix_version(void) { return NUBRIX_VERSION_STRING; }

nubrix_solver* nubrix_create(void) { return new (std::nothrow) nubrix_solver(); }

void nubrix_release(nubrix_solver* s) { delete s; }

int nubrix_add(nubrix_solver* s, std::int32_t lit_or_zero) {
  if (s == nullptr) return NUBRIX_ERROR_INVALID;
  if (lit_or_zero != 0) {
    if (s->clause_error != NUBRIX_OK) return s->clause_error;
    if (!in_range(lit_or_zero)) return s->clause_error = NUBRIX_ERROR_INVALID;
    return s->clause_error = guarded([&] {
             s->clause.push_back(nubrix::literal{lit_or_zero});
             return NUBRIX_OK;
           });
  }
  int status = s->clause_error;
  if (status == NUBRIX_OK)
    status = guarded([&] {
      s->solver.add_clause(std::span<const nubrix::literal>(s->clause));
      return NUBRIX_OK;
    });
  s->clause.clear();
  s->clause_error = NUBRIX_OK;
  return status;
}

int nubrix_add_at_most_one(nubrix_solver* s, std::int32_t from, std::int32_t to) {
  if (s == nullptr) return NUBRIX_ERROR_INVALID;
  return guarded([&] {
    s->solver.add_at_most_one(nubrix::variable{from}, nubrix::variable{to});
    return NUBRIX_OK;
  });
}

int nubrix_assume(nubrix_solver* s, std::int32_t lit) {
  if (s == nullptr || !in_range(lit)) return NUBRIX_ERROR_INVALID;
  return guarded([&] {
    s->solver.assume(nubrix::literal{lit});
    return NUBRIX_OK;
  });
}

int nubrix_clear_assumptions(nubrix_solver* s) {
  if (s == nullptr) return NUBRIX_ERROR_INVALID;
  s->solver.clear_assumptions();
  return NUBRIX_OK;
}

int nubrix_solve(nubrix_solver* s) {
  if (s == nullptr) return NUBRIX_ERROR_INVALID;
  s->answered = false;  // a refused or failed solve forgets the previous answer too
  if (!s->clause.empty() || s->clause_error != NUBRIX_OK) return NUBRIX_ERROR_INVALID;
  return guarded([&] {
    nubrix::solve_options options;
    options.policy = s->policy;
    options.conflict_limit = s->conflict_limit;
    options.propagation_limit = s->propagation_limit;
    if (s->time_limit >= 0 && s->time_limit < 1e9) {  // beyond about 30 years: no limit
      options.deadline =
          std::chrono::steady_clock::now() +
          std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(s->time_limit));
    }
    if (s->terminate != nullptr) {
      options.terminate = call_terminate;
      options.terminate_data = s;
    }
    if (s->learn != nullptr) {
      s->learnt.reserve(static_cast<std::size_t>(std::min(s->learn_max_length, s->solver.variables())) + 1);
      options.learnt_clause = call_learn;
      options.learnt_data = s;
      options.learnt_max_size = s->learn_max_length;
    }
    const auto check = [s](const nubrix::model& m, nubrix::theory::explanation_sink& sink) {
      nubrix_theory t{m, sink, {}, NUBRIX_OK};
      const bool accepted = s->check(s->check_data, &t) != 0;
      if (t.error == NUBRIX_ERROR_NO_MEMORY) throw std::bad_alloc();
      if (t.error != NUBRIX_OK || !t.clause.empty())
        throw std::invalid_argument("nubrix_theory_add: an explanation clause was spoiled or not ended by 0");
      return accepted;
    };
    const nubrix::solve_result r =
        s->check != nullptr ? s->solver.solve(options, check) : s->solver.solve(options);
    s->answered = true;
    switch (r) {
      case nubrix::solve_result::sat:
        return NUBRIX_SAT;
      case nubrix::solve_result::unsat:
        return NUBRIX_UNSAT;
      case nubrix::solve_result::unknown:
        break;
    }
    return NUBRIX_UNKNOWN;
  });
}

int nubrix_set_theory(nubrix_solver* s, void* data, int (*check)(void* data, nubrix_theory* t)) {
  if (s == nullptr) return NUBRIX_ERROR_INVALID;
  s->check = check;
  s->check_data = data;
  return NUBRIX_OK;
}

std::int32_t nubrix_theory_value(const nubrix_theory* t, std::int32_t lit) {
  if (t == nullptr || !in_range(lit)) return 0;
  const nubrix::variable v{lit < 0 ? -lit : lit};
  if (nubrix::to_int(v) < t->m.first() || nubrix::to_int(v) > t->m.last()) return 0;
  switch (t->m[v]) {
    case nubrix::variable_value::true_:
      return lit;
    case nubrix::variable_value::false_:
      return -lit;
    case nubrix::variable_value::unset:
      break;
  }
  return 0;
}

int nubrix_theory_add(nubrix_theory* t, std::int32_t lit_or_zero) {
  if (t == nullptr) return NUBRIX_ERROR_INVALID;
  if (lit_or_zero == 0) {
    const int status = t->error;
    if (status == NUBRIX_OK) {
      try {
        t->sink.add_clause(std::span<const nubrix::literal>(t->clause));
      } catch (...) {
        t->error = NUBRIX_ERROR_NO_MEMORY;  // the sink raises nothing else
        t->clause.clear();
        return NUBRIX_ERROR_NO_MEMORY;
      }
    }
    t->clause.clear();
    return status;
  }
  if (t->error != NUBRIX_OK) return t->error;
  const std::int32_t v = lit_or_zero < 0 ? -lit_or_zero : lit_or_zero;
  if (!in_range(lit_or_zero) || v < t->m.first() || v > t->m.last()) {
    t->error = NUBRIX_ERROR_INVALID;
    return t->error;
  }
  try {
    t->clause.push_back(nubrix::literal{lit_or_zero});
  } catch (...) {
    t->error = NUBRIX_ERROR_NO_MEMORY;
    return t->error;
  }
  return NUBRIX_OK;
}

std::int32_t nubrix_value(const nubrix_solver* s, std::int32_t lit) {
  if (s == nullptr || !s->answered || !in_range(lit)) return 0;
  switch (s->solver.value(nubrix::variable{lit < 0 ? -lit : lit})) {
    case nubrix::variable_value::true_:
      return lit > 0 ? lit : -lit;
    case nubrix::variable_value::false_:
      return lit > 0 ? -lit : lit;
    case nubrix::variable_value::unset:
      break;
  }
  return 0;
}

int nubrix_failed(const nubrix_solver* s, std::int32_t lit) {
  return s != nullptr && s->answered && in_range(lit) && s->solver.failed(nubrix::literal{lit}) ? 1 : 0;
}

std::int32_t nubrix_variables(const nubrix_solver* s) { return s == nullptr ? 0 : s->solver.variables(); }

int nubrix_set_conflict_limit(nubrix_solver* s, std::int64_t conflicts) {
  if (s == nullptr) return NUBRIX_ERROR_INVALID;
  s->conflict_limit = conflicts < 0 ? nubrix::solve_options::no_limit : conflicts;
  return NUBRIX_OK;
}

int nubrix_set_propagation_limit(nubrix_solver* s, std::int64_t propagations) {
  if (s == nullptr) return NUBRIX_ERROR_INVALID;
  s->propagation_limit = propagations < 0 ? nubrix::solve_options::no_limit : propagations;
  return NUBRIX_OK;
}

int nubrix_set_time_limit(nubrix_solver* s, double seconds) {
  if (s == nullptr || std::isnan(seconds)) return NUBRIX_ERROR_INVALID;
  s->time_limit = seconds;
  return NUBRIX_OK;
}

int nubrix_set_policy(nubrix_solver* s, int policy) {
  if (s == nullptr) return NUBRIX_ERROR_INVALID;
  switch (policy) {
    case NUBRIX_POLICY_PREFERRED:
      s->policy = nubrix::search_policy::preferred;
      return NUBRIX_OK;
    case NUBRIX_POLICY_IN_ORDER:
      s->policy = nubrix::search_policy::in_order;
      return NUBRIX_OK;
    case NUBRIX_POLICY_ANY_MODEL:
      s->policy = nubrix::search_policy::any_model;
      return NUBRIX_OK;
    default:
      return NUBRIX_ERROR_INVALID;
  }
}

int nubrix_set_terminate(nubrix_solver* s, void* data, int (*terminate)(void* data)) {
  if (s == nullptr) return NUBRIX_ERROR_INVALID;
  s->terminate = terminate;
  s->terminate_data = data;
  return NUBRIX_OK;
}

int nubrix_set_learn(nubrix_solver* s, void* data, std::int32_t max_length,
                     void (*learn)(void* data, const std::int32_t* lits, std::int32_t size)) {
  if (s == nullptr || max_length < 0) return NUBRIX_ERROR_INVALID;
  s->learn = learn;
  s->learn_data = data;
  s->learn_max_length = max_length;
  return NUBRIX_OK;
}

int nubrix_get_statistics(const nubrix_solver* s, nubrix_statistics* out) {
  if (s == nullptr || out == nullptr) return NUBRIX_ERROR_INVALID;
  const nubrix::solve_statistics& from = s->solver.statistics();
  out->decisions = from.decisions;
  out->propagations = from.propagations;
  out->conflicts = from.conflicts;
  out->learnt_clauses = from.learnt_clauses;
  out->learnt_literals_before = from.learnt_literals_before;
  out->learnt_literals = from.learnt_literals;
  out->reductions = from.reductions;
  out->released_clauses = from.released_clauses;
  out->excursions = from.excursions;
  out->witnesses = from.witnesses;
  out->refutations = from.refutations;
  out->restarts = from.restarts;
  out->highest_level = from.highest_level;
  out->seconds = std::chrono::duration<double>(from.time).count();
  return NUBRIX_OK;
}

}  // extern "C"
