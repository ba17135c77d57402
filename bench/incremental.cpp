// What incremental use costs: the same sequences of additions and solves under assumptions, given
// to nubrix's solver (preferred and any-model) and side by side to the libraries of MiniSat and
// CaDiCaL through their own incremental APIs. Every answer is compared across the solvers, and each
// nubrix model is checked against the clauses and assumptions. Prints one markdown table: the time
// of each workload per solver and nubrix's time as a ratio to each peer's.
//
// Workloads, each over random 3-SAT with a fixed seed:
//  - assume: one formula, then many solves, each under a few random assumptions;
//  - grow: clauses added in small batches, a solve after each, until there is no model.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

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

std::vector<int> run_nubrix(const std::vector<step>& steps, nubrix::search_policy policy) {
  nubrix::solver s;
  std::vector<clause> all;
  std::vector<int> answers;
  nubrix::solve_options options;
  options.policy = policy;
  for (const step& st : steps) {
    for (const clause& c : st.added) {
      std::vector<nubrix::literal> lits;
      for (const int x : c) lits.push_back(nubrix::literal{x});
      s.add_clause(lits);
      all.push_back(c);
    }
    for (const int a : st.assumed) s.assume(nubrix::literal{a});
    const nubrix::solve_result r = s.solve(options);
    answers.push_back(r == nubrix::solve_result::sat ? 10 : 20);
    if (r != nubrix::solve_result::sat) continue;
    const auto is_true = [&](int x) {
      const nubrix::variable_value v = s.value(nubrix::variable{x > 0 ? x : -x});
      return v == (x > 0 ? nubrix::variable_value::true_ : nubrix::variable_value::false_);
    };
    for (const int a : st.assumed)
      if (!is_true(a)) std::abort();
    for (const clause& c : all) {
      bool holds = false;
      for (const int x : c) holds = holds || is_true(x);
      if (!holds) std::abort();
    }
  }
  return answers;
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

double seconds(const runner& run, const std::vector<step>& steps, std::vector<int>& answers) {
  const auto start = std::chrono::steady_clock::now();
  answers = run(steps);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
