// What one solve costs a caller that solves many small formulas in-process, handing the formula over
// included, for nubrix and side by side for the libraries of three established solvers: MiniSat,
// CaDiCaL and PicoSAT, each used through its own API with its default settings.
//
// Every answer is checked. Before timing, each instance is solved once by every solver outside the
// timed loop: the solvers must agree on satisfiability, nubrix's model must satisfy a copy of its
// formula and each peer's model the instance itself. In the timed loop every answer is compared with
// the agreed one. At the end a markdown table gives the per-solve time of each solver and nubrix's
// time as a ratio to each peer's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <minisat/core/Solver.h>
#include <cadical.hpp>
extern "C" {
#include <picosat/picosat.h>
}

#include <nubrix/builders.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/helpers.hpp>

namespace {

using nubrix::literal;
using nubrix::to_int;
using nubrix::variable;

// An instance as its generator states it, before any solver sees it.
struct problem {
  std::int32_t vars = 0;                                           // the variables are 1 .. vars
  std::vector<literal> clauses;                                    // the clauses in turn, each closed by literal 0
  std::vector<std::pair<std::int32_t, std::int32_t>> at_most_one;  // ranges from .. to, at most one true in each
};

// The same instance with every at-most-one range written as pairwise clauses (-a or -b), which is
// how a caller states it to a solver without native at-most-one constraints.
problem pairwise(const problem& p) {
  problem q{p.vars, p.clauses, {}};
  for (const auto& [from, to] : p.at_most_one)
    for (std::int32_t a = from; a <= to; ++a)
      for (std::int32_t b = a + 1; b <= to; ++b)
        q.clauses.insert(q.clauses.end(), {literal{-a}, literal{-b}, literal{0}});
  return q;
}

void add_clause(problem& p, std::initializer_list<std::int32_t> lits) {
  for (const std::int32_t l : lits) p.clauses.push_back(literal{l});
  p.clauses.push_back(literal{0});
}

// n queens, none attacking another; square (r, c) is variable r * n + c + 1, so each row is a range
// of consecutive variables: a queen somewhere in the row and at most one, then every pair of squares
// that share a column or a diagonal.
problem queens(std::int32_t n) {
  const auto q = [n](std::int32_t r, std::int32_t c) { return r * n + c + 1; };
  problem p{n * n, {}, {}};
  for (std::int32_t r = 0; r < n; ++r) {
    for (std::int32_t c = 0; c < n; ++c) p.clauses.push_back(literal{q(r, c)});
    p.clauses.push_back(literal{0});
    p.at_most_one.emplace_back(q(r, 0), q(r, n - 1));
  }
  for (std::int32_t r1 = 0; r1 < n; ++r1)
    for (std::int32_t r2 = r1 + 1; r2 < n; ++r2)
      for (std::int32_t c = 0; c < n; ++c) {
        const std::int32_t d = r2 - r1;
        add_clause(p, {-q(r1, c), -q(r2, c)});
        if (c + d < n) add_clause(p, {-q(r1, c), -q(r2, c + d)});
        if (c - d >= 0) add_clause(p, {-q(r1, c), -q(r2, c - d)});
      }
  return p;
}

// Uniform random 3-SAT: three distinct variables a clause, random signs.
problem random_3sat(std::int32_t n, std::int32_t clauses, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  problem p{n, {}, {}};
  for (std::int32_t i = 0; i < clauses; ++i) {
    std::int32_t c[3];
    for (int k = 0; k < 3;) {
      const auto v = static_cast<std::int32_t>(1 + rng() % static_cast<std::uint64_t>(n));
      if (std::find(c, c + k, v) != c + k) continue;
      c[k++] = v;
    }
    for (const std::int32_t v : c) p.clauses.push_back(literal{rng() % 2 ? v : -v});
    p.clauses.push_back(literal{0});
  }
  return p;
}

// Calls f with each clause of p as a span of its literals, the closing 0 left out.
template <typename F>
void for_each_clause(const problem& p, F&& f) {
  const literal* c = p.clauses.data();
  const literal* const end = c + p.clauses.size();
  while (c != end) {
    const literal* e = c;
    while (to_int(*e) != 0) ++e;
    f(std::span<const literal>(c, e));
    c = e + 1;
  }
}

// True when `value` (indexed by variable, entry 0 unused) satisfies every clause and every range of p.
bool satisfied_by(const problem& p, const std::vector<bool>& value) {
  bool ok = true;
  for_each_clause(p, [&](std::span<const literal> c) {
    ok = ok && std::any_of(c.begin(), c.end(), [&](literal l) {
           return value[static_cast<std::size_t>(std::abs(to_int(l)))] == (to_int(l) > 0);
         });
  });
  for (const auto& [from, to] : p.at_most_one)
    ok = ok && std::count(value.begin() + from, value.begin() + to + 1, true) <= 1;
  return ok;
}

// The solvers, each building the instance in its own form and solving it. When `value` is given it
// receives the model of a satisfiable instance.

// nubrix: the formula builder, with native at-most-one ranges.
nubrix::formulas::formula nubrix_formula(const problem& p) {
  nubrix::builders::formula_builder fb = nubrix::builders::empty_formula_builder;
  for_each_clause(p, [&](std::span<const literal> c) { fb.add(nubrix::new_clause(c)); });
  for (const auto& [from, to] : p.at_most_one) fb.add_at_most_one(variable{from}, variable{to});
  return fb.build();
}

bool solve_nubrix(const problem& p, nubrix::model& m) {
  nubrix::formulas::formula f = nubrix_formula(p);
  return nubrix::helpers::dpll_solve(f, m, variable{0});
}

bool solve_nubrix(const problem& p, std::vector<bool>* value) {
  nubrix::model m(1, p.vars);
  const bool sat = solve_nubrix(p, m);
  if (sat && value != nullptr)
    for (std::int32_t v = 1; v <= p.vars; ++v)
      (*value)[static_cast<std::size_t>(v)] = m[variable{v}] == nubrix::variable_value::true_;
  return sat;
}

bool solve_minisat(const problem& p, std::vector<bool>* value) {
  Minisat::Solver s;
  for (std::int32_t v = 1; v <= p.vars; ++v) s.newVar();
  Minisat::vec<Minisat::Lit> clause;
  for_each_clause(p, [&](std::span<const literal> c) {
    clause.clear();
    for (const literal l : c) clause.push(Minisat::mkLit(std::abs(to_int(l)) - 1, to_int(l) < 0));
    s.addClause(clause);
  });
  const bool sat = s.solve();
  using Minisat::lbool;  // l_True is a macro that names lbool unqualified
  if (sat && value != nullptr)
    for (std::int32_t v = 1; v <= p.vars; ++v) (*value)[static_cast<std::size_t>(v)] = s.modelValue(v - 1) == l_True;
  return sat;
}

bool solve_cadical(const problem& p, std::vector<bool>* value) {
  CaDiCaL::Solver s;
  for (const literal l : p.clauses) s.add(to_int(l));
  const int result = s.solve();
  if (result != 10 && result != 20) std::abort();  // no limits are set, so the search always ends
  if (result == 10 && value != nullptr)
    for (std::int32_t v = 1; v <= p.vars; ++v) (*value)[static_cast<std::size_t>(v)] = s.val(v) > 0;
  return result == 10;
}

bool solve_picosat(const problem& p, std::vector<bool>* value) {
  PicoSAT* s = picosat_init();
  for (const literal l : p.clauses) picosat_add(s, to_int(l));
  const int result = picosat_sat(s, -1);
  if (result != PICOSAT_SATISFIABLE && result != PICOSAT_UNSATISFIABLE) std::abort();
  if (result == PICOSAT_SATISFIABLE && value != nullptr)
    for (std::int32_t v = 1; v <= p.vars; ++v) (*value)[static_cast<std::size_t>(v)] = picosat_deref(s, v) == 1;
  picosat_reset(s);
  return result == PICOSAT_SATISFIABLE;
}

struct solver {
  const char* name;
  bool (*solve)(const problem&, std::vector<bool>*);
  bool native_at_most_one;  // takes the ranges as they are; otherwise it is given the pairwise clauses
};

const solver solvers[] = {{"nubrix", solve_nubrix, true},
                          {"minisat", solve_minisat, false},
                          {"cadical", solve_cadical, false},
                          {"picosat", solve_picosat, false}};
constexpr std::size_t solver_count = std::size(solvers);

// A fixed set of instances, each solved once per benchmark iteration.
struct family {
  std::string name;               // benchmark name prefix
  std::string title;              // the table's row heading
  std::vector<problem> native;    // as generated, at-most-one ranges included
  std::vector<problem> expanded;  // the same with the ranges as pairwise clauses
  std::vector<bool> satisfiable;  // the agreed answer for each instance
};

family make_family(std::string name, std::string title, std::vector<problem> instances) {
  family f{std::move(name), std::move(title), std::move(instances), {}, {}};
  for (const problem& p : f.native) f.expanded.push_back(pairwise(p));
  return f;
}

// Solves every instance once with every solver and checks the answers; the agreed answers are kept
// for the timed loops. Returns false, having said why, when anything is wrong.
bool check_answers(family& fam) {
  for (std::size_t i = 0; i < fam.native.size(); ++i) {
    const problem& p = fam.native[i];
    bool answers[solver_count];
    for (std::size_t k = 0; k < solver_count; ++k) {
      std::vector<bool> value(static_cast<std::size_t>(p.vars) + 1);
      answers[k] = solvers[k].solve(solvers[k].native_at_most_one ? p : fam.expanded[i], &value);
      if (answers[k] && !satisfied_by(p, value)) {
        std::fprintf(stderr, "%s, instance %zu: %s returned an assignment that is not a model\n", fam.name.c_str(),
                     i + 1, solvers[k].name);
        return false;
      }
      if (answers[k] != answers[0]) {
        std::fprintf(stderr, "%s, instance %zu: %s says %s, %s says %s\n", fam.name.c_str(), i + 1, solvers[0].name,
                     answers[0] ? "satisfiable" : "unsatisfiable", solvers[k].name,
                     answers[k] ? "satisfiable" : "unsatisfiable");
        return false;
      }
    }
    // nubrix's own model check, against a copy made before the solver took its formula over.
    nubrix::formulas::formula copy = nubrix_formula(p);
    nubrix::model m(1, p.vars);
    const bool sat = solve_nubrix(p, m);
    const bool holds = nubrix::formulas::satisfies(copy, m) == nubrix::formulas::sat_result::sat;
    nubrix::formulas::free_all(copy);
    if (sat != answers[0] || (sat && !holds)) {
      std::fprintf(stderr, "%s, instance %zu: nubrix's model does not satisfy its formula\n", fam.name.c_str(), i + 1);
      return false;
    }
    fam.satisfiable.push_back(answers[0]);
  }
  return true;
}

// One iteration solves every instance of the family once, building it in the solver first.
void solve_family(benchmark::State& state, const family& fam, const solver& s) {
  const std::vector<problem>& instances = s.native_at_most_one ? fam.native : fam.expanded;
  for (auto _ : state) {
    for (std::size_t i = 0; i < instances.size(); ++i) {
      if (s.solve(instances[i], nullptr) != fam.satisfiable[i]) {
        state.SkipWithError("a changed answer");
        break;
      }
    }
  }
  const auto n = static_cast<double>(instances.size());
  state.counters["instances"] = n;
  state.counters["per_solve"] =
      benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Prints the console report as usual (only the aggregates when the runs are repeated) and, at the
// end, the table: for each family and solver the median over the repetitions of the mean CPU time of
// one solve, and nubrix's time divided by each peer's.
class table_reporter : public benchmark::ConsoleReporter {
 public:
  explicit table_reporter(const std::vector<family>& families)
      : benchmark::ConsoleReporter(OO_Tabular), families_(families) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    std::vector<Run> shown;
    for (const Run& r : reports) {
      if (r.run_type == Run::RT_Aggregate || r.repetitions <= 1) shown.push_back(r);
      if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
        const double instances = r.counters.at("instances").value;
        per_solve_[r.run_name.function_name].push_back(r.cpu_accumulated_time / static_cast<double>(r.iterations) /
                                                       instances);
      }
    }
    if (!shown.empty()) benchmark::ConsoleReporter::ReportRuns(shown);
  }

  void Finalize() override {
    benchmark::ConsoleReporter::Finalize();
    std::ostream& out = GetOutputStream();
    out << "\nMean CPU time of one solve, building the formula included (median of the repetitions);\n"
           "a ratio is nubrix's time over the peer's: below 1 nubrix is faster.\n\n"
           "| family |";
    for (const solver& s : solvers) out << ' ' << s.name << " |";
    for (std::size_t k = 1; k < solver_count; ++k) out << " nubrix / " << solvers[k].name << " |";
    out << "\n|---|";
    for (std::size_t k = 0; k < 2 * solver_count - 1; ++k) out << "---:|";
    out << '\n';
    for (const family& fam : families_) {
      double t[solver_count];
      bool measured = false;
      for (std::size_t k = 0; k < solver_count; ++k) {
        t[k] = median(fam.name + "/" + solvers[k].name);
        measured = measured || t[k] >= 0;
      }
      if (!measured) continue;  // left out by a filter
      out << "| " << fam.title << " |";
      for (const double x : t) out << ' ' << duration(x) << " |";
      for (std::size_t k = 1; k < solver_count; ++k) out << ' ' << ratio(t[0], t[k]) << " |";
      out << '\n';
    }
  }

 private:
  // The median per-solve time in seconds of the named benchmark, or a negative value when it has no
  // valid run.
  double median(const std::string& name) const {
    const auto it = per_solve_.find(name);
    if (it == per_solve_.end() || it->second.empty()) return -1;
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    const std::size_t h = v.size() / 2;
    return v.size() % 2 == 1 ? v[h] : (v[h - 1] + v[h]) / 2;
  }

  static std::string duration(double seconds) {
    if (seconds < 0) return "n/a";
    char text[32];
    if (seconds < 1e-3)
      std::snprintf(text, sizeof text, "%.1f µs", seconds * 1e6);
    else if (seconds < 1)
      std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
    else
      std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
  }

  static std::string ratio(double a, double b) {
    if (a < 0 || b <= 0) return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, a / b < 10 ? "%.2f" : "%.0f", a / b);
    return text;
  }

  const std::vector<family>& families_;
  std::map<std::string, std::vector<double>> per_solve_;  // per-solve seconds of each repetition, by name
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // 4.26 clauses per variable, where about half of the random instances are satisfiable.
  const auto random_set = [](std::int32_t n, std::uint64_t count) {
    std::vector<problem> set;
    for (std::uint64_t seed = 1; seed <= count; ++seed)
      set.push_back(random_3sat(n, static_cast<std::int32_t>(n * 4.26 + 0.5), seed));
    return set;
  };
  std::vector<family> families;
  families.push_back(make_family("queens_8", "8 queens", {queens(8)}));
  families.push_back(make_family("queens_12", "12 queens", {queens(12)}));
  families.push_back(make_family("random_3sat_10", "random 3-SAT, 10 vars (mean of 32)", random_set(10, 32)));
  families.push_back(make_family("random_3sat_20", "random 3-SAT, 20 vars (mean of 32)", random_set(20, 32)));
  families.push_back(make_family("random_3sat_50", "random 3-SAT, 50 vars (mean of 32)", random_set(50, 32)));
  families.push_back(make_family("random_3sat_100", "random 3-SAT, 100 vars (mean of 32)", random_set(100, 32)));

  for (family& fam : families) {
    if (!check_answers(fam)) return 1;
    std::size_t sat = 0;
    for (const bool s : fam.satisfiable) sat += s ? 1 : 0;
    std::printf("%s: %zu instances, %zu satisfiable; every answer agrees and every model checks\n", fam.name.c_str(),
                fam.native.size(), sat);
  }
  std::fflush(stdout);

  for (const family& fam : families)
    for (const solver& s : solvers)
      benchmark::RegisterBenchmark((fam.name + "/" + s.name).c_str(), solve_family, std::cref(fam), std::cref(s))
          ->Unit(benchmark::kMicrosecond);

  table_reporter reporter(families);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
