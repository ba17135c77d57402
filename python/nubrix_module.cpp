// The Python module nubrix: solve, itersolve and the incremental Solver over the library, with
// clauses given as iterables of DIMACS-style signed ints and a theory given as a Python callable.
//
// Every solve runs with the GIL released. The search polls a terminate callback every few thousand
// propagations; on the interpreter's main thread it takes the GIL back at most every 20 ms to run
// pending signal handlers, so Ctrl-C ends a long solve with KeyboardInterrupt. A theory's callable
// runs with the GIL held. Python exceptions raised in either travel through the library, which
// releases what the solve owns on the way, and reach the caller unchanged.
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <nubrix/builders.hpp>
#include <nubrix/control.hpp>
#include <nubrix/dpll.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/nubrix.hpp>
#include <nubrix/solver.hpp>

namespace py = pybind11;

namespace {

using nubrix::literal;
using nubrix::variable;
using nubrix::variable_value;

// The highest variable a model can hold: a model must end below 2147483647.
constexpr std::int64_t max_variable = 2147483646;

std::string type_name(PyObject* o) { return Py_TYPE(o)->tp_name; }

// The text of a name given as text or as a function that makes it, so that names that take work
// to write are only written for an error message.
template <typename Name>
std::string text(const Name& name) {
  if constexpr (std::is_invocable_v<Name>) {
    return name();
  } else {
    return std::string(name);
  }
}

// The value of o, any object with __index__ except bool; TypeError for other types, ValueError
// when it does not fit 64 bits. `name` names o in the messages.
template <typename Name>
std::int64_t to_integer(PyObject* o, const Name& name) {
  py::object index;
  if (!PyLong_CheckExact(o)) {
    if (PyBool_Check(o) || !PyIndex_Check(o)) throw py::type_error(text(name) + " must be an int, not " + type_name(o));
    index = py::reinterpret_steal<py::object>(PyNumber_Index(o));
    if (!index) throw py::error_already_set();
    o = index.ptr();
  }
  int overflow = 0;
  const long long x = PyLong_AsLongLongAndOverflow(o, &overflow);
  if (overflow != 0) throw py::value_error(text(name) + " is out of range");
  if (x == -1 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  return x;
}

// A count or limit: an int >= 0.
std::int64_t to_count(const py::handle& o, const char* name) {
  const std::int64_t x = to_integer(o.ptr(), name);
  if (x < 0) throw py::value_error(std::string(name) + " must be >= 0, not " + std::to_string(x));
  return x;
}

// A variable 1 .. top, or 1 .. max_variable when top is 0.
template <typename Name>
variable to_variable(PyObject* o, std::int64_t top, const Name& name) {
  const std::int64_t x = to_integer(o, name);
  const std::int64_t limit = top > 0 ? top : max_variable;
  if (x < 1 || x > limit)
    throw py::value_error(text(name) + " " + std::to_string(x) + " is not a variable 1 .. " + std::to_string(limit));
  return variable{static_cast<std::int32_t>(x)};
}

// A literal: a variable 1 .. top (1 .. max_variable when top is 0) or its negation; `where` says
// where it was found.
template <typename Name>
literal to_literal(PyObject* o, std::int64_t top, const Name& where) {
  const std::int64_t x = to_integer(o, [&] { return text(where) + ": literal"; });
  const std::int64_t limit = top > 0 ? top : max_variable;
  if (x == 0) throw py::value_error(text(where) + ": literal 0 names no variable");
  if (x < -limit || x > limit)
    throw py::value_error(text(where) + ": literal " + std::to_string(x) + " names no variable 1 .. " +
                          std::to_string(limit));
  return literal{static_cast<std::int32_t>(x)};
}

// Calls item(o, index) for each element of the iterable o, from index 0; TypeError when o is not
// iterable.
template <typename Name, typename Item>
void for_each(const py::handle& o, const Name& name, Item item) {
  const py::object it = py::reinterpret_steal<py::object>(PyObject_GetIter(o.ptr()));
  if (!it) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::error_already_set();
    PyErr_Clear();
    throw py::type_error(text(name) + " must be iterable, not " + type_name(o.ptr()));
  }
  std::int64_t index = 0;
  while (PyObject* raw = PyIter_Next(it.ptr())) {
    const py::object element = py::reinterpret_steal<py::object>(raw);
    item(element, index++);
  }
  if (PyErr_Occurred() != nullptr) throw py::error_already_set();
}

// Reads the iterable of clauses o (named `what` in messages), each an iterable of literals over
// 1 .. top (any variable when top is 0), and passes each to add as a span, valid during the call.
// Returns the highest variable named.
template <typename Add>
std::int32_t read_clauses(const py::handle& o, const std::string& what, std::int64_t top, Add add) {
  std::vector<literal> lits;
  std::int32_t highest = 0;
  for_each(o, what, [&](const py::handle& clause, std::int64_t i) {
    const auto where = [&] { return what + "[" + std::to_string(i) + "]"; };
    lits.clear();
    for_each(clause, where, [&](const py::handle& l, std::int64_t) {
      lits.push_back(to_literal(l.ptr(), top, where));
      highest = std::max(highest, nubrix::to_int(nubrix::get_var(lits.back())));
    });
    add(std::span<const literal>(lits));
  });
  return highest;
}

// Reads the iterable of (from, to) ranges o, within 1 .. top (any variable when top is 0), and
// passes each non-empty one to add. Returns the highest variable of those.
template <typename Add>
std::int32_t read_ranges(const py::handle& o, std::int64_t top, Add add) {
  std::int32_t highest = 0;
  for_each(o, "at_most_one", [&](const py::handle& range, std::int64_t i) {
    const std::string where = "at_most_one[" + std::to_string(i) + "]";
    std::vector<py::object> bounds;
    for_each(range, where,
             [&](const py::handle& b, std::int64_t) { bounds.push_back(py::reinterpret_borrow<py::object>(b)); });
    if (bounds.size() != 2) throw py::value_error(where + " must be a pair (from, to)");
    const variable from = to_variable(bounds[0].ptr(), 0, where + ", from");
    const variable to = to_variable(bounds[1].ptr(), 0, where + ", to");
    if (to < from) return;  // an empty range constrains nothing
    if (top > 0 && nubrix::to_int(to) > top)
      throw py::value_error(where + " reaches variable " + std::to_string(nubrix::to_int(to)) + " beyond vars " +
                            std::to_string(top));
    add(from, to);
    highest = std::max(highest, nubrix::to_int(to));
  });
  return highest;
}

// The signed ints v or -v of variables 1 .. n, value(v) giving each.
template <typename Value>
py::list model_list(std::int32_t n, Value value) {
  py::list r(static_cast<std::size_t>(n));
  for (std::int32_t v = 1; v <= n; ++v) {
    const std::int32_t l = value(variable{v}) == variable_value::true_ ? v : -v;
    PyList_SET_ITEM(r.ptr(), v - 1, py::int_(l).release().ptr());
  }
  return r;
}

// The terminate callback of every solve: stops for Solver.interrupt(), and runs the interpreter's
// pending signal handlers so that Ctrl-C raises KeyboardInterrupt. Handlers run on the main thread
// only, and taking the GIL back costs when another thread holds it, so signals are looked at from
// the main thread and at most every 20 ms.
struct interruption {
  const std::atomic<bool>* requested = nullptr;        // set by Solver.interrupt(); null for solve and itersolve
  bool main_thread = false;                            // whether the solve runs on the interpreter's main thread
  std::chrono::steady_clock::time_point next_check{};  // when to look at pending signals again

  static bool poll(void* data) {
    interruption& self = *static_cast<interruption*>(data);
    if (self.requested != nullptr && self.requested->load(std::memory_order_relaxed)) return true;
    if (!self.main_thread) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now < self.next_check) return false;
    self.next_check = now + std::chrono::milliseconds{20};
    const py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    return false;
  }
};

unsigned long main_thread_ident = 0;  // the ident of the interpreter's main thread, set at import

// An interruption for a solve about to start on this thread; the GIL must be held.
interruption interruption_here(const std::atomic<bool>* requested) {
  return interruption{requested, PyThread_get_thread_ident() == main_thread_ident, {}};
}

// Runs s.solve(options) with the GIL released, under the interruption above, with `solving` true
// meanwhile and false again however the solve ends; the GIL must be held.
nubrix::solve_result solve_released(nubrix::solver& s, nubrix::solve_options& options, bool& solving,
                                    const std::atomic<bool>* requested,
                                    const nubrix::theory::check_function* check = nullptr) {
  interruption stop = interruption_here(requested);
  options.terminate = interruption::poll;
  options.terminate_data = &stop;
  solving = true;
  struct reset {
    bool& flag;
    ~reset() { flag = false; }
  } const guard{solving};
  const py::gil_scoped_release release;
  return check != nullptr ? s.solve(options, *check) : s.solve(options);
}

// What the solver's check receives: the Python theory, if any, and the number of variables.
struct theory_context {
  PyObject* theory = nullptr;  // the callable, borrowed; null: every model accepted
  std::int32_t variables = 0;  // the model's variables, 1 .. variables
};

// Calls the theory with the model over 1 .. variables as a list of signed ints. True or None
// accepts; False or an iterable of clauses (each an iterable of literals over the model's
// variables) rejects, each clause handed to `add`. Takes the GIL for the call.
bool ask_theory(PyObject* theory, std::int32_t variables, const nubrix::model& m,
                const std::function<void(std::span<const literal>)>& add) {
  const py::gil_scoped_acquire gil;
  const py::list model = model_list(variables, [&](variable v) { return m[v]; });
  const py::object verdict = py::reinterpret_borrow<py::object>(theory)(model);
  if (verdict.is_none() || verdict.ptr() == Py_True) return true;
  if (verdict.ptr() == Py_False) return false;
  if (!PyIter_Check(verdict.ptr()) && !PySequence_Check(verdict.ptr()))
    throw py::type_error("theory must return True, None, False or a list of clauses, not " + type_name(verdict.ptr()));
  read_clauses(verdict, "theory's clauses", variables, add);
  return false;
}

bool python_check(theory_context& ctx, const nubrix::model& m, nubrix::formulas::formula& explanation) {
  if (ctx.theory == nullptr) return true;
  return ask_theory(ctx.theory, ctx.variables, m, [&](std::span<const literal> lits) {
    const nubrix::literal_array_access c = nubrix::new_clause(lits);
    try {
      explanation.append(c);
    } catch (...) {
      nubrix::free(c);
      throw;
    }
  });
}

// The incremental solver's check over a Python theory: the entries go through the sink.
struct solver_theory {
  PyObject* theory;  // the callable, borrowed
  bool operator()(const nubrix::model& m, nubrix::theory::explanation_sink& out) const {
    return ask_theory(theory, m.last(), m, [&](std::span<const literal> lits) { out.add_clause(lits); });
  }
};

// Raises TypeError unless theory is None or callable.
void check_callable(const py::object& theory) {
  if (!theory.is_none() && !PyCallable_Check(theory.ptr()))
    throw py::type_error("theory must be callable, not " + type_name(theory.ptr()));
}

using python_dpll = nubrix::dpll<theory_context, python_check>;

// A formula builder released on the way out, whatever it still holds.
struct builder_guard {
  nubrix::builders::formula_builder fb = nubrix::builders::empty_formula_builder;
  builder_guard() = default;
  builder_guard(const builder_guard&) = delete;
  builder_guard& operator=(const builder_guard&) = delete;
  ~builder_guard() { fb.destroy(); }
};

// A formula released on the way out; the solver takes it over and leaves it empty.
struct formula_guard {
  nubrix::formulas::formula f;
  explicit formula_guard(nubrix::formulas::formula taken) noexcept : f(taken) {}
  formula_guard(const formula_guard&) = delete;
  formula_guard& operator=(const formula_guard&) = delete;
  ~formula_guard() { nubrix::formulas::free_all(f); }
};

// The propagation limit of the library for prop_limit (0: none).
std::int64_t propagation_limit(const py::handle& prop_limit) {
  const std::int64_t limit = to_count(prop_limit, "prop_limit");
  return limit == 0 ? nubrix::solve_options::no_limit : limit;
}

std::int64_t vars_count(const py::handle& vars) {
  const std::int64_t n = to_count(vars, "vars");
  if (n > max_variable)
    throw py::value_error("vars " + std::to_string(n) + " is beyond " + std::to_string(max_variable));
  return n;
}

py::object solve(const py::object& clauses, const py::object& vars, const py::object& at_most_one,
                 const py::object& prop_limit, const py::object& theory) {
  const std::int64_t given = vars_count(vars);
  nubrix::solve_options options;
  options.propagation_limit = propagation_limit(prop_limit);
  check_callable(theory);

  builder_guard input;
  std::int32_t top = read_clauses(clauses, "clauses", given,
                                  [&](std::span<const literal> lits) { input.fb.add(nubrix::new_clause(lits)); });
  top = std::max(
      top, read_ranges(at_most_one, given, [&](variable from, variable to) { input.fb.add_at_most_one(from, to); }));
  const std::int32_t n = given > 0 ? static_cast<std::int32_t>(given) : top;

  nubrix::model m(1, n);
  theory_context ctx{theory.is_none() ? nullptr : theory.ptr(), n};
  interruption stop = interruption_here(nullptr);
  options.terminate = interruption::poll;
  options.terminate_data = &stop;
  formula_guard f{input.fb.build()};
  nubrix::solve_result r;
  {
    const py::gil_scoped_release release;
    r = python_dpll::solve_bounded(f.f, ctx, m, variable{0}, options);
  }
  if (r == nubrix::solve_result::unsat) return py::str("UNSAT");
  if (r == nubrix::solve_result::unknown) return py::str("UNKNOWN");
  return model_list(n, [&](variable v) { return m[v]; });
}

py::dict statistics_dict(const nubrix::solve_statistics& s) {
  py::dict d;
  d["decisions"] = s.decisions;
  d["propagations"] = s.propagations;
  d["conflicts"] = s.conflicts;
  d["learnt_clauses"] = s.learnt_clauses;
  d["learnt_literals_before"] = s.learnt_literals_before;
  d["learnt_literals"] = s.learnt_literals;
  d["reductions"] = s.reductions;
  d["released_clauses"] = s.released_clauses;
  d["excursions"] = s.excursions;
  d["witnesses"] = s.witnesses;
  d["refutations"] = s.refutations;
  d["restarts"] = s.restarts;
  d["theory_calls"] = s.theory_calls;
  d["theory_rejections"] = s.theory_rejections;
  d["highest_level"] = s.highest_level;
  d["time"] = std::chrono::duration<double>(s.time).count();
  return d;
}

// The incremental solver. Python calls on one Solver never overlap a solve of it (the GIL is held
// while `solving` is read and written), except interrupt(), which only sets an atomic flag. Closing
// it (the end of its with block) releases everything the solver holds; every call but interrupt()
// then raises ValueError.
class python_solver {
 public:
  // A solver with the clauses of bootstrap_with (None: none) added.
  explicit python_solver(const py::object& bootstrap_with) {
    if (!bootstrap_with.is_none()) add_clauses(bootstrap_with, "bootstrap_with");
  }

  void add_clause(const py::object& lits) {
    enter();
    std::vector<literal> clause;
    for_each(lits, "clause",
             [&](const py::handle& l, std::int64_t) { clause.push_back(to_literal(l.ptr(), 0, "clause")); });
    s_.add_clause(std::span<const literal>(clause));
  }

  // Adds each clause of the iterable `clauses`; none of them when one is not a clause.
  void add_clauses(const py::object& clauses, const std::string& what) {
    enter();
    std::vector<std::vector<literal>> read;
    read_clauses(clauses, what, 0, [&](std::span<const literal> lits) { read.emplace_back(lits.begin(), lits.end()); });
    for (const std::vector<literal>& clause : read) s_.add_clause(std::span<const literal>(clause));
  }

  void add_at_most_one(const py::object& from, const py::object& to) {
    enter();
    const variable f = to_variable(from.ptr(), 0, "from");
    const variable t = to_variable(to.ptr(), 0, "to");
    s_.add_at_most_one(f, t);
  }

  py::object solve(const py::object& assumptions, const py::object& conflict_limit, const py::object& prop_limit,
                   const py::object& time_limit, bool any_model, const py::object& theory) {
    enter();
    check_callable(theory);
    nubrix::solve_options options;
    const std::int64_t conflicts = to_count(conflict_limit, "conflict_limit");
    options.conflict_limit = conflicts == 0 ? nubrix::solve_options::no_limit : conflicts;
    options.propagation_limit = propagation_limit(prop_limit);
    if (!time_limit.is_none()) {
      if (PyBool_Check(time_limit.ptr()) || (!PyFloat_Check(time_limit.ptr()) && !PyLong_Check(time_limit.ptr())))
        throw py::type_error("time_limit must be a number of seconds or None, not " + type_name(time_limit.ptr()));
      const double seconds = time_limit.cast<double>();
      if (!(seconds >= 0)) throw py::value_error("time_limit must be >= 0");
      // Beyond a year is no limit, which also keeps the duration from overflowing.
      if (seconds < 365.0 * 24 * 3600)
        options.deadline =
            std::chrono::steady_clock::now() +
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    }
    options.policy = any_model ? nubrix::search_policy::any_model : nubrix::search_policy::preferred;
    std::vector<literal> assumed;
    for_each(assumptions, "assumptions", [&](const py::handle& l, std::int64_t j) {
      assumed.push_back(to_literal(l.ptr(), 0, [&] { return "assumptions[" + std::to_string(j) + "]"; }));
    });
    for (const literal l : assumed) s_.assume(l);

    nubrix::solve_result r;
    sat_ = false;
    unsat_ = false;
    try {
      solver_theory check{theory.ptr()};
      const nubrix::theory::check_function function(check);
      r = solve_released(s_, options, solving_, &interrupt_, theory.is_none() ? nullptr : &function);
    } catch (...) {
      interrupt_ = false;
      drop_assumptions();
      throw;
    }
    interrupt_ = false;
    sat_ = r == nubrix::solve_result::sat;
    unsat_ = r == nubrix::solve_result::unsat;
    model_variables_ = s_.variables();
    if (r == nubrix::solve_result::sat) return py::bool_(true);
    if (r == nubrix::solve_result::unsat) return py::bool_(false);
    return py::none();
  }

  // Stops the solve running on another thread, or the next one to start; its answer is None.
  void interrupt() noexcept { interrupt_ = true; }

  py::object model() const {
    enter();
    if (!sat_) return py::none();
    return model_list(model_variables_, [&](variable v) { return s_.value(v); });
  }

  py::object value(const py::object& v) const {
    enter();
    const variable x = to_variable(v.ptr(), 0, "variable");
    const variable_value value = s_.value(x);
    if (value == variable_value::unset) return py::none();
    return py::bool_(value == variable_value::true_);
  }

  bool failed(const py::object& l) const {
    enter();
    return s_.failed(to_literal(l.ptr(), 0, "failed"));
  }

  py::list failed_assumptions() const {
    enter();
    py::list r;
    for (const literal l : s_.failed_assumptions()) r.append(nubrix::to_int(l));
    return r;
  }

  // The failed assumptions of the last solve when it answered False, else None.
  py::object core() const {
    enter();
    if (!unsat_) return py::none();
    return failed_assumptions();
  }

  py::dict statistics() const {
    enter();
    return statistics_dict(s_.statistics());
  }

  std::int32_t variables() const {
    enter();
    return s_.variables();
  }

  // Releases everything the solver holds and refuses every later call.
  void close() {
    enter();
    s_ = nubrix::solver();
    closed_ = true;
    sat_ = false;
    unsat_ = false;
  }

  // Refuses a call on a closed solver or while a solve of this solver runs with the GIL released.
  void enter() const {
    if (closed_) throw py::value_error("the Solver is closed: its with block has ended");
    if (solving_) throw std::runtime_error("the Solver is solving on another thread");
  }

 private:
  // After a solve ended by an exception, which leaves the solver's assumptions in place, drops them
  // so that they do not hold for the next one.
  void drop_assumptions() noexcept { s_.clear_assumptions(); }

  nubrix::solver s_;
  std::atomic<bool> interrupt_{false};  // interrupt() was called: the solve running or the next one stops
  bool solving_ = false;                // a solve runs with the GIL released
  bool sat_ = false;                    // the last solve answered True
  bool unsat_ = false;                  // the last solve answered False
  bool closed_ = false;                 // close() released the solver
  std::int32_t model_variables_ = 0;    // the solver's variables at the last solve
};

// The models of a formula in preference order, for itersolve: the greatest model of the clauses
// and of the blocking clauses of the models already given, one incremental solve each.
class model_iterator {
 public:
  model_iterator(const py::object& clauses, const py::object& vars, const py::object& at_most_one,
                 const py::object& prop_limit, const py::object& theory)
      : theory_(theory) {
    check_callable(theory);
    const std::int64_t given = vars_count(vars);
    propagation_limit_ = propagation_limit(prop_limit);
    std::int32_t top =
        read_clauses(clauses, "clauses", given, [&](std::span<const literal> lits) { s_.add_clause(lits); });
    top = std::max(top,
                   read_ranges(at_most_one, given, [&](variable from, variable to) { s_.add_at_most_one(from, to); }));
    variables_ = given > 0 ? static_cast<std::int32_t>(given) : top;
    // The solver's models cover the variables it was told of: the tautology names the last one.
    if (variables_ > s_.variables()) s_.add_clause({+variable{variables_}, -variable{variables_}});
  }

  py::object next() {
    if (done_) throw py::stop_iteration();
    if (solving_) throw std::runtime_error("the iterator is solving on another thread");
    nubrix::solve_options options;
    options.propagation_limit = propagation_limit_;
    solver_theory check{theory_.ptr()};
    const nubrix::theory::check_function function(check);
    const nubrix::solve_result r = solve_released(s_, options, solving_, nullptr, theory_.is_none() ? nullptr : &function);
    if (r != nubrix::solve_result::sat) {
      done_ = true;
      if (r == nubrix::solve_result::unsat) throw py::stop_iteration();
      return py::str("UNKNOWN");
    }
    py::list model = model_list(variables_, [&](variable v) { return s_.value(v); });
    std::vector<literal> blocking(static_cast<std::size_t>(variables_));
    for (std::int32_t v = 1; v <= variables_; ++v)
      blocking[static_cast<std::size_t>(v - 1)] =
          s_.value(variable{v}) == variable_value::true_ ? -variable{v} : +variable{v};
    s_.add_clause(std::span<const literal>(blocking));
    return model;
  }

 private:
  nubrix::solver s_;
  py::object theory_;                                                 // None, or the callable asked of each model
  std::int64_t propagation_limit_ = nubrix::solve_options::no_limit;  // of each solve
  std::int32_t variables_ = 0;                                        // the models' variables, 1 .. variables_
  bool done_ = false;                                                 // no model is left, or a solve reached the limit
  bool solving_ = false;                                              // a solve runs with the GIL released
};

}  // namespace

PYBIND11_MODULE(nubrix, m) {
  m.doc() = R"(Boolean satisfiability with the greatest model first.

Clauses are iterables of DIMACS-style literals: v for variable v, -v for its negation, variables
numbered from 1. A model is a list of literals, one per variable 1 .. n in order. The preferred
model is the greatest one: variable 1 most significant, true above false.)";
  main_thread_ident = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();

  m.def("solve", &solve, py::arg("clauses"), py::arg("vars") = 0, py::arg("at_most_one") = py::tuple(),
        py::arg("prop_limit") = 0, py::kw_only(), py::arg("theory") = py::none(),
        R"(Returns the greatest model of the clauses, "UNSAT" when there is none, or "UNKNOWN" when
prop_limit (> 0) propagations were made first.

vars: the number of variables (0: the highest one named); at_most_one: (from, to) ranges of
variables of which at most one is true; theory: a callable given each model the search completes,
greatest first, as a list of literals. It accepts the model by returning True or None, and rejects
it by returning False or a list of clauses over the model's variables that every acceptable model
satisfies (an empty list: the model alone is excluded). The clauses join the search for good, and
the model returned is the greatest one of the clauses that the theory accepted. An exception it
raises propagates to the caller of solve. Raises TypeError for arguments of the wrong type,
ValueError for a literal 0 or a variable out of range.)");

  py::class_<model_iterator>(m, "ModelIterator")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &model_iterator::next);

  m.def(
      "itersolve",
      [](const py::object& clauses, const py::object& vars, const py::object& at_most_one,
         const py::object& prop_limit, const py::object& theory) {
        return std::make_unique<model_iterator>(clauses, vars, at_most_one, prop_limit, theory);
      },
      py::arg("clauses"), py::arg("vars") = 0, py::arg("at_most_one") = py::tuple(), py::arg("prop_limit") = 0,
      py::kw_only(), py::arg("theory") = py::none(),
      R"(Iterates over every model of the clauses, in preference order: each the greatest of those not
yet given. Arguments as for solve; prop_limit bounds each solve, and when it is reached the iterator
gives "UNKNOWN" and ends. With a theory, only the models it accepts are given; its clauses join
the clauses for the rest of the iteration.)");

  py::class_<python_solver>(m, "Solver", R"(An incremental solver: clauses and at-most-one ranges added at any
time, solves under assumptions, what was learnt kept from one solve to the next.

Solver(bootstrap_with=clauses) starts with the clauses added. As a context manager,
`with nubrix.Solver() as s:` gives the solver itself and closes it when the block ends: its memory
is released and every later call on it, but interrupt(), raises ValueError.)")
      .def(py::init<const py::object&>(), py::arg("bootstrap_with") = py::none(),
           "A solver with the clauses of the iterable bootstrap_with (None: no clause) added.")
      .def(
          "__enter__",
          [](const py::object& self) {
            self.cast<const python_solver&>().enter();
            return self;
          },
          "Returns the solver; ValueError when it is closed.")
      .def(
          "__exit__", [](python_solver& s, const py::args&) { s.close(); },
          "Closes the solver: releases its memory; later calls raise ValueError. Exceptions pass on.")
      .def("add_clause", &python_solver::add_clause, py::arg("clause"), "Adds a clause, an iterable of literals.")
      .def(
          "append_formula", [](python_solver& s, const py::object& clauses) { s.add_clauses(clauses, "clauses"); },
          py::arg("clauses"),
          "Adds each clause of the iterable clauses; none of them when one of them is not a clause.")
      .def("add_at_most_one", &python_solver::add_at_most_one, py::arg("from_"), py::arg("to"),
           "Adds: at most one of the variables from_ .. to is true (nothing when to < from_).")
      .def("solve", &python_solver::solve, py::arg("assumptions") = py::tuple(), py::kw_only(),
           py::arg("conflict_limit") = 0, py::arg("prop_limit") = 0, py::arg("time_limit") = py::none(),
           py::arg("any_model") = false, py::arg("theory") = py::none(),
           R"(Solves the clauses with the assumptions (literals that hold for this solve only). Returns True
(model() gives the model: the greatest one, or with any_model=True the first found), False (no
model; failed() tells which assumptions were used), or None when conflict_limit or prop_limit
(0: none) or time_limit (seconds, None: none) was reached or interrupt() was called. theory: a
callable given each model the search completes, as for nubrix.solve, over the Solver's variables;
the clauses it returns join the Solver's clauses for good.)")
      .def("interrupt", &python_solver::interrupt,
           "Stops the solve running on another thread, or else the next one; it returns None.")
      .def("model", &python_solver::model,
           "The model of the last solve as a list of literals, or None when it did not return True.")
      .def("get_model", &python_solver::model, "The same as model().")
      .def("value", &python_solver::value, py::arg("variable"),
           "The value of a variable in the model of the last solve: True, False, or None when there is none.")
      .def("failed", &python_solver::failed, py::arg("literal"),
           "Whether the assumption was used to refute the assumptions of the last solve that returned False.")
      .def_property_readonly("failed_assumptions", &python_solver::failed_assumptions,
                             "The assumptions used to refute the last solve that returned False, in the order given.")
      .def("get_core", &python_solver::core,
           "The failed assumptions of the last solve, in the order given, when it returned False; else None.")
      .def_property_readonly("statistics", &python_solver::statistics, "What the last solve did, as a dict.")
      .def_property_readonly("variables", &python_solver::variables, "The highest variable named so far.");
}
