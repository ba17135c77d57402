// What incremental use costs: the same sequences of additions and solves under assumptions, given
// to nubrix's solver (preferred and any-model) and side by side to the libraries of MiniSat and
// CaDiCaL through their own incremental APIs. Every answer is compared across the solvers, and each
// nubrix model is checked against the clauses and assumptions once the timing is over. Prints one
// markdown table: the processor time of each workload per solver and nubrix's time as a ratio to
// each peer's.
//
// Workloads, each over random 3-SAT with a fixed seed:
//  - assume: one formula, then many solves, each under a few random assumptions;
//  - held: formulas of 1,000 to 100,000 clauses, easy at 2.0 clauses a variable (where the greatest
//    model is cheap too), 1,000 solves each under 4 assumptions: the cost of a solve against the
//    size of what the solver holds;
//  - grow: clauses added in small batches, a solve after each, until there is no model.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <time.h>

#include <minisat/core/Solver.h>
#include <cadical.hpp>

#include <nubrix/solver.hpp>

namespace {

using clause = std::vector<int>;

// One step of a workload: clauses to add, then a solve under the assumptions.
struct step {
  std::vector<clause> added;
  std::vector<int> assumed;
};

std::vector<step> assume_workload(int n, double ratio, int solves, int assumptions, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const auto lit = [&] { return static_cast<int>(1 + rng() % n) * (rng() % 2 ? 1 : -1); };
  std::vector<step> steps(static_cast<std::size_t>(solves));
  for (int i = 0; i < static_cast<int>(ratio * n); ++i) steps[0].added.push_back({lit(), lit(), lit()});
  for (step& s : steps)
    for (int k = 0; k < assumptions; ++k) s.assumed.push_back(lit());
  return steps;
}

std::vector<step> grow_workload(int n, double from, double to, int batch, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const auto lit = [&] { return static_cast<int>(1 + rng() % n) * (rng() % 2 ? 1 : -1); };
  std::vector<step> steps(1);
  for (int i = 0; i < static_cast<int>(from * n); ++i) steps[0].added.push_back({lit(), lit(), lit()});
  for (int total = static_cast<int>(from * n); total < static_cast<int>(to * n); total += batch) {
    steps.emplace_back();
    for (int i = 0; i < batch; ++i) steps.back().added.push_back({lit(), lit(), lit()});
  }
  return steps;
}

// Runs the workload through one solver; returns the seconds taken and the answers (10 / 20).
using runner = std::function<std::vector<int>(const std::vector<step>&)>;

// The models of nubrix's sat answers, one per solve (empty after unsat), checked after the timing.
std::vector<std::vector<bool>> models;

std::vector<int> run_nubrix(const std::vector<step>& steps, nubrix::search_policy policy) {
  nubrix::solver s;
  std::vector<int> answers;
  nubrix::solve_options options;
  options.policy = policy;
  models.clear();
  for (const step& st : steps) {
    for (const clause& c : st.added) {
      std::vector<nubrix::literal> lits;
      for (const int x : c) lits.push_back(nubrix::literal{x});
      s.add_clause(lits);
    }
    for (const int a : st.assumed) s.assume(nubrix::literal{a});
    const nubrix::solve_result r = s.solve(options);
    answers.push_back(r == nubrix::solve_result::sat ? 10 : 20);
    models.emplace_back();
    if (r != nubrix::solve_result::sat) continue;
    const int n = s.variables();
    models.back().resize(static_cast<std::size_t>(n) + 1);
    for (int v = 1; v <= n; ++v) models.back()[v] = s.value(nubrix::variable{v}) == nubrix::variable_value::true_;
  }
  return answers;
}

// Aborts unless every model in `models` satisfies the clauses added up to its solve and its
// assumptions.
void check_models(const std::vector<step>& steps) {
  std::vector<clause> all;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    all.insert(all.end(), steps[i].added.begin(), steps[i].added.end());
    const std::vector<bool>& m = models[i];
    if (m.empty()) continue;
    const auto is_true = [&](int x) {
      const auto v = static_cast<std::size_t>(x > 0 ? x : -x);
      return v < m.size() && m[v] == (x > 0);
    };
    for (const int a : steps[i].assumed)
      if (!is_true(a)) std::abort();
    for (const clause& c : all) {
      bool holds = false;
      for (const int x : c) holds = holds || is_true(x);
      if (!holds) std::abort();
    }
  }
}

std::vector<int> run_cadical(const std::vector<step>& steps) {
  CaDiCaL::Solver s;
  std::vector<int> answers;
  for (const step& st : steps) {
    for (const clause& c : st.added) {
      for (const int x : c) s.add(x);
      s.add(0);
    }
    for (const int a : st.assumed) s.assume(a);
    answers.push_back(s.solve());
  }
  return answers;
}

std::vector<int> run_minisat(const std::vector<step>& steps) {
  Minisat::Solver s;
  std::vector<int> answers;
  const auto lit = [&](int x) {
    const int v = (x > 0 ? x : -x) - 1;
    while (s.nVars() <= v) s.newVar();
    return Minisat::mkLit(v, x < 0);
  };
  bool consistent = true;
  for (const step& st : steps) {
    for (const clause& c : st.added) {
      Minisat::vec<Minisat::Lit> lits;
      for (const int x : c) lits.push(lit(x));
      consistent = s.addClause(lits) && consistent;
    }
    Minisat::vec<Minisat::Lit> assumed;
    for (const int a : st.assumed) assumed.push(lit(a));
    answers.push_back(consistent && s.solve(assumed) ? 10 : 20);
  }
  return answers;
}

double processor_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double seconds(const runner& run, const std::vector<step>& steps, std::vector<int>& answers) {
  const double start = processor_seconds();
  answers = run(steps);
  return processor_seconds() - start;
}

}  // namespace

int main() {
  struct workload {
    std::string name;
    std::vector<step> steps;
  };
  const std::vector<workload> workloads = {
      {"assume: 200 variables at 3.5, 300 solves under 8 assumptions", assume_workload(200, 3.5, 300, 8, 1)},
      {"assume: 1000 variables at 3.0, 200 solves under 20 assumptions", assume_workload(1000, 3.0, 200, 20, 2)},
      {"held: 1,000 clauses over 500 variables, 1000 solves under 4 assumptions",
       assume_workload(500, 2.0, 1000, 4, 5)},
      {"held: 10,000 clauses over 5000 variables, 1000 solves under 4 assumptions",
       assume_workload(5000, 2.0, 1000, 4, 6)},
      {"held: 100,000 clauses over 50000 variables, 1000 solves under 4 assumptions",
       assume_workload(50000, 2.0, 1000, 4, 7)},
      {"grow: 150 variables from 3.0 to 5.0, 10 clauses a solve", grow_workload(150, 3.0, 5.0, 10, 3)},
      {"grow: 300 variables from 2.0 to 4.4, 30 clauses a solve", grow_workload(300, 2.0, 4.4, 30, 4)},
  };
  const std::vector<std::pair<std::string, runner>> solvers = {
      {"nubrix", [](const std::vector<step>& s) { return run_nubrix(s, nubrix::search_policy::preferred); }},
      {"nubrix any-model", [](const std::vector<step>& s) { return run_nubrix(s, nubrix::search_policy::any_model); }},
      {"MiniSat", run_minisat},
      {"CaDiCaL", run_cadical},
  };
  std::printf("| workload | solves |");
  for (const auto& s : solvers) std::printf(" %s |", s.first.c_str());
  std::printf(" nubrix ÷ MiniSat | nubrix ÷ CaDiCaL | any-model ÷ CaDiCaL |\n|---|---:|");
  for (std::size_t i = 0; i < solvers.size() + 3; ++i) std::printf("---:|");
  std::printf("\n");
  for (const workload& w : workloads) {
    std::vector<double> times;
    std::vector<int> reference;
    for (const auto& s : solvers) {
      std::vector<int> answers;
      times.push_back(seconds(s.second, w.steps, answers));
      if (s.first.rfind("nubrix", 0) == 0) check_models(w.steps);
      std::fprintf(stderr, "%s, %s: %.3f s\n", w.name.c_str(), s.first.c_str(), times.back());
      if (reference.empty()) reference = answers;
      if (answers != reference) {
        std::fprintf(stderr, "%s: %s disagrees\n", w.name.c_str(), s.first.c_str());
        return 1;
      }
    }
    std::printf("| %s | %zu |", w.name.c_str(), w.steps.size());
    for (const double t : times) std::printf(" %.3f s |", t);
    std::printf(" %.2f | %.2f | %.2f |\n", times[0] / times[2], times[0] / times[3], times[1] / times[3]);
    std::fflush(stdout);
  }
  return 0;
}
