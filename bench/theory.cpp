// What a theory that rejects models costs: choices under compatibility constraints, the kind of
// problem a configuration or dependency-resolution tool hands its solver. N items, each with 2 to 8
// candidates as a range of consecutive variables (exactly one chosen: an at-most-one range and an
// at-least-one clause), a random tree of parent-child edges between the items, and for each edge a
// random compatibility relation between the parent's and the child's candidates (density 0.3 to
// 0.6). Every instance has a model: a hidden choice compatible along every edge. The theory scans the edges of a model and rejects it with (-p | -c) for the first
// incompatible edge (first-edge) or for every one (all-edge).
//
// nubrix runs the theory inside its search under each policy, inside nubrix::solver's search (the
// theory given at run time) and through nubrix::solver in a lazy loop (solve, check, add the
// clauses, solve again); MiniSat and CaDiCaL run the same lazy loop, and
// each is also given every incompatible pair up front (eager). The preferred and in-order searches
// must agree on the model and on every check call; every accepted model is verified against the
// choices and the whole relation, and every answer against the eager encoding's. Prints markdown
// tables of processor time: per size and explanation kind, then the default against in-order per
// band of check calls.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <time.h>

#include <minisat/core/Solver.h>
#include <cadical.hpp>

#include <nubrix/dpll.hpp>
#include <nubrix/solver.hpp>

namespace {

struct edge {
  int parent, child;
  std::vector<bool> compatible;  // [i * child candidates + j]: parent candidate i with child candidate j
};

struct instance {
  std::vector<int> first, count;  // item k: candidates first[k] .. first[k] + count[k] - 1
  std::vector<edge> edges;
  std::vector<std::vector<int>> known;  // incompatible pairs between other items, given as clauses
  int variables = 0;
};

// n items; with `known` incompatible pairs of candidates of random items (not on the hidden
// choice) given up front, which the search must work around.
instance make_instance(int n, int known, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  instance in;
  for (int k = 0; k < n; ++k) {
    in.first.push_back(in.variables + 1);
    in.count.push_back(2 + static_cast<int>(rng() % 7));
    in.variables += in.count.back();
  }
  // A hidden choice of each item, compatible along every edge, so that every instance has a model.
  std::vector<int> hidden;
  for (int k = 0; k < n; ++k) hidden.push_back(static_cast<int>(rng() % static_cast<std::uint64_t>(in.count[k])));
  for (int k = 1; k < n; ++k) {
    edge e{static_cast<int>(rng() % static_cast<std::uint64_t>(k)), k, {}};
    const double density = 0.3 + 0.3 * std::uniform_real_distribution<double>(0, 1)(rng);
    const int cells = in.count[e.parent] * in.count[e.child];
    for (int c = 0; c < cells; ++c) e.compatible.push_back(std::uniform_real_distribution<double>(0, 1)(rng) < density);
    e.compatible[static_cast<std::size_t>(hidden[e.parent] * in.count[k] + hidden[k])] = true;
    in.edges.push_back(std::move(e));
  }
  while (static_cast<int>(in.known.size()) < known) {
    const int a = static_cast<int>(rng() % static_cast<std::uint64_t>(n)), b = static_cast<int>(rng() % static_cast<std::uint64_t>(n));
    const int i = static_cast<int>(rng() % static_cast<std::uint64_t>(in.count[a]));
    const int j = static_cast<int>(rng() % static_cast<std::uint64_t>(in.count[b]));
    if (a == b || (i == hidden[a] && j == hidden[b])) continue;
    in.known.push_back({-(in.first[a] + i), -(in.first[b] + j)});
  }
  return in;
}

using clause = std::vector<int>;

// The clauses of the choices: at least one candidate of each item (at most one: the ranges, or for
// the peers the pairwise clauses).
std::vector<clause> choice_clauses(const instance& in, bool pairwise) {
  std::vector<clause> out;
  for (std::size_t k = 0; k < in.first.size(); ++k) {
    clause c;
    for (int i = 0; i < in.count[k]; ++i) c.push_back(in.first[k] + i);
    out.push_back(c);
    if (!pairwise) continue;
    for (int i = 0; i < in.count[k]; ++i)
      for (int j = i + 1; j < in.count[k]; ++j) out.push_back({-(in.first[k] + i), -(in.first[k] + j)});
  }
  out.insert(out.end(), in.known.begin(), in.known.end());
  return out;
}

std::vector<clause> every_incompatible_pair(const instance& in) {
  std::vector<clause> out;
  for (const edge& e : in.edges)
    for (int i = 0; i < in.count[e.parent]; ++i)
      for (int j = 0; j < in.count[e.child]; ++j)
        if (!e.compatible[static_cast<std::size_t>(i * in.count[e.child] + j)])
          out.push_back({-(in.first[e.parent] + i), -(in.first[e.child] + j)});
  return out;
}

// The theory: the incompatible edges of the model whose variables `is_true` reads, as clauses (the
// first one only unless all); empty when the model is acceptable. Each item must have one candidate.
template <typename truth>
std::vector<clause> rejections(const instance& in, const truth& is_true, bool all) {
  std::vector<int> chosen(in.first.size(), -1);
  for (std::size_t k = 0; k < in.first.size(); ++k)
    for (int i = 0; i < in.count[k] && chosen[k] < 0; ++i)
      if (is_true(in.first[k] + i)) chosen[k] = i;
  std::vector<clause> out;
  for (const edge& e : in.edges) {
    const int i = chosen[static_cast<std::size_t>(e.parent)], j = chosen[static_cast<std::size_t>(e.child)];
    if (i < 0 || j < 0) std::abort();
    if (e.compatible[static_cast<std::size_t>(i * in.count[e.child] + j)]) continue;
    out.push_back({-(in.first[e.parent] + i), -(in.first[e.child] + j)});
    if (!all) break;
  }
  return out;
}

// What a run answers: the model (empty when there is none) and the number of check calls.
struct outcome {
  std::vector<bool> model;
  std::int64_t checks = 0;
  std::vector<std::vector<bool>> offered;  // every model checked, kept by the nubrix searches only
};

struct nubrix_context {
  const instance* in;
  bool all;
  outcome* out;
};

bool nubrix_check(nubrix_context& ctx, const nubrix::model& m, nubrix::formulas::formula& explanation) {
  ++ctx.out->checks;
  const auto is_true = [&](int v) { return m[nubrix::variable{v}] == nubrix::variable_value::true_; };
  std::vector<bool> bits(static_cast<std::size_t>(ctx.in->variables) + 1);
  for (int v = 1; v <= ctx.in->variables; ++v) bits[static_cast<std::size_t>(v)] = is_true(v);
  ctx.out->offered.push_back(std::move(bits));
  const std::vector<clause> found = rejections(*ctx.in, is_true, ctx.all);
  for (const clause& c : found) {
    const nubrix::literal_array_access entry = nubrix::new_clause({c[0], c[1]});
    try {
      explanation.append(entry);
    } catch (...) {
      nubrix::free(entry);
      throw;
    }
  }
  return found.empty();
}

outcome run_dpll(const instance& in, bool all, nubrix::search_policy policy) {
  outcome out;
  nubrix::formulas::formula f = nubrix::formulas::clause_vectors::empty_vector;
  for (const clause& c : choice_clauses(in, false)) {
    std::vector<nubrix::literal> lits;
    for (const int x : c) lits.push_back(nubrix::literal{x});
    f.append(nubrix::new_clause(lits));
  }
  for (std::size_t k = 0; k < in.first.size(); ++k)
    f.append(nubrix::new_clause({0, in.first[k], in.first[k] + in.count[k] - 1}));
  nubrix::model m(1, in.variables);
  nubrix_context ctx{&in, all, &out};
  nubrix::solve_options options;
  options.policy = policy;
  const auto r = nubrix::dpll<nubrix_context, nubrix_check>::solve_bounded(f, ctx, m, nubrix::variable_or_null{0},
                                                                          options);
  nubrix::formulas::free_all(f);
  if (r == nubrix::solve_result::sat) {
    out.model.resize(static_cast<std::size_t>(in.variables) + 1);
    for (int v = 1; v <= in.variables; ++v)
      out.model[static_cast<std::size_t>(v)] = m[nubrix::variable{v}] == nubrix::variable_value::true_;
  }
  return out;
}

// The incremental solver with the theory given at run time, a capturing lambda.
outcome run_solver_theory(const instance& in, bool all) {
  outcome out;
  nubrix::solver s;
  for (const clause& c : choice_clauses(in, false)) {
    std::vector<nubrix::literal> lits;
    for (const int x : c) lits.push_back(nubrix::literal{x});
    s.add_clause(lits);
  }
  for (std::size_t k = 0; k < in.first.size(); ++k)
    s.add_at_most_one(nubrix::variable{in.first[k]}, nubrix::variable{in.first[k] + in.count[k] - 1});
  const auto check = [&](const nubrix::model& m, nubrix::theory::explanation_sink& explain) {
    ++out.checks;
    const auto is_true = [&](int v) { return m[nubrix::variable{v}] == nubrix::variable_value::true_; };
    const std::vector<clause> found = rejections(in, is_true, all);
    for (const clause& c : found) explain.add_clause({nubrix::literal{c[0]}, nubrix::literal{c[1]}});
    return found.empty();
  };
  if (s.solve({}, check) == nubrix::solve_result::sat) {
    out.model.resize(static_cast<std::size_t>(in.variables) + 1);
    for (int v = 1; v <= in.variables; ++v)
      out.model[static_cast<std::size_t>(v)] = s.value(nubrix::variable{v}) == nubrix::variable_value::true_;
  }
  return out;
}

outcome run_solver_loop(const instance& in, bool all) {
  outcome out;
  nubrix::solver s;
  for (const clause& c : choice_clauses(in, false)) {
    std::vector<nubrix::literal> lits;
    for (const int x : c) lits.push_back(nubrix::literal{x});
    s.add_clause(lits);
  }
  for (std::size_t k = 0; k < in.first.size(); ++k)
    s.add_at_most_one(nubrix::variable{in.first[k]}, nubrix::variable{in.first[k] + in.count[k] - 1});
  const auto is_true = [&](int v) { return s.value(nubrix::variable{v}) == nubrix::variable_value::true_; };
  while (s.solve() == nubrix::solve_result::sat) {
    ++out.checks;
    const std::vector<clause> found = rejections(in, is_true, all);
    if (found.empty()) {
      out.model.resize(static_cast<std::size_t>(in.variables) + 1);
      for (int v = 1; v <= in.variables; ++v) out.model[static_cast<std::size_t>(v)] = is_true(v);
      break;
    }
    for (const clause& c : found) s.add_clause({nubrix::literal{c[0]}, nubrix::literal{c[1]}});
  }
  return out;
}

template <typename solver, typename add, typename solve, typename truth>
outcome peer_loop(const instance& in, bool all, bool eager, solver& s, const add& add_clause, const solve& solve_once,
                  const truth& is_true) {
  outcome out;
  for (const clause& c : choice_clauses(in, true)) add_clause(s, c);
  if (eager)
    for (const clause& c : every_incompatible_pair(in)) add_clause(s, c);
  while (solve_once(s)) {
    ++out.checks;
    const auto value = [&](int v) { return is_true(s, v); };
    const std::vector<clause> found = rejections(in, value, all);
    if (found.empty()) {
      out.model.resize(static_cast<std::size_t>(in.variables) + 1);
      for (int v = 1; v <= in.variables; ++v) out.model[static_cast<std::size_t>(v)] = value(v);
      break;
    }
    for (const clause& c : found) add_clause(s, c);
  }
  return out;
}

outcome run_minisat(const instance& in, bool all, bool eager) {
  Minisat::Solver s;
  while (s.nVars() < in.variables) s.newVar();
  bool consistent = true;
  const auto add = [&](Minisat::Solver& m, const clause& c) {
    Minisat::vec<Minisat::Lit> lits;
    for (const int x : c) lits.push(Minisat::mkLit((x > 0 ? x : -x) - 1, x < 0));
    consistent = m.addClause(lits) && consistent;
  };
  const auto solve = [&](Minisat::Solver& m) { return consistent && m.solve(); };
  const auto is_true = [](Minisat::Solver& m, int v) { return m.modelValue(v - 1) == Minisat::lbool(std::uint8_t{0}); };
  return peer_loop(in, all, eager, s, add, solve, is_true);
}

outcome run_cadical(const instance& in, bool all, bool eager) {
  CaDiCaL::Solver s;
  s.set("quiet", 1);
  const auto add = [](CaDiCaL::Solver& c, const clause& cl) {
    for (const int x : cl) c.add(x);
    c.add(0);
  };
  const auto solve = [](CaDiCaL::Solver& c) { return c.solve() == 10; };
  const auto is_true = [](CaDiCaL::Solver& c, int v) { return c.val(v) > 0; };
  return peer_loop(in, all, eager, s, add, solve, is_true);
}

// Aborts unless the model chooses one candidate of every item and no incompatible pair.
void verify(const instance& in, const std::vector<bool>& m) {
  if (m.empty()) return;
  for (std::size_t k = 0; k < in.first.size(); ++k) {
    int chosen = 0;
    for (int i = 0; i < in.count[k]; ++i) chosen += m[static_cast<std::size_t>(in.first[k] + i)] ? 1 : 0;
    if (chosen != 1) std::abort();
  }
  for (const clause& c : every_incompatible_pair(in))
    if (m[static_cast<std::size_t>(-c[0])] && m[static_cast<std::size_t>(-c[1])]) std::abort();
  for (const clause& c : in.known)
    if (m[static_cast<std::size_t>(-c[0])] && m[static_cast<std::size_t>(-c[1])]) std::abort();
}

double processor_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  // The number of instances of each size; a first argument scales them (bench/theory 0.2: a quick
  // look). A second gives the incompatible pairs known up front per item (0 by default).
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  const std::vector<std::pair<int, int>> sizes = {{20, 200}, {100, 60}, {500, 20}};
  using run = std::function<outcome(const instance&, bool)>;
  const std::vector<std::pair<std::string, run>> solvers = {
      {"preferred", [](const instance& in, bool all) { return run_dpll(in, all, nubrix::search_policy::preferred); }},
      {"in_order", [](const instance& in, bool all) { return run_dpll(in, all, nubrix::search_policy::in_order); }},
      {"any_model", [](const instance& in, bool all) { return run_dpll(in, all, nubrix::search_policy::any_model); }},
      {"solver theory", run_solver_theory},
      {"solver loop", run_solver_loop},
      {"MiniSat loop", [](const instance& in, bool all) { return run_minisat(in, all, false); }},
      {"MiniSat eager", [](const instance& in, bool all) { return run_minisat(in, all, true); }},
      {"CaDiCaL loop", [](const instance& in, bool all) { return run_cadical(in, all, false); }},
      {"CaDiCaL eager", [](const instance& in, bool all) { return run_cadical(in, all, true); }},
  };
  // Per band of in-order check calls: the seconds of preferred and of in_order.
  std::map<std::int64_t, std::pair<double, double>> bands;
  std::map<std::int64_t, int> band_instances;
  std::printf("| items | explanations | instances | checks (in-order) |");
  for (const auto& s : solvers) std::printf(" %s (ms) |", s.first.c_str());
  std::printf(" preferred ÷ in_order | preferred ÷ MiniSat loop | solver theory ÷ MiniSat loop |\n|---:|---|---:|---:|");
  for (std::size_t i = 0; i < solvers.size() + 3; ++i) std::printf("---:|");
  std::printf("\n");
  const int known_per_item = argc > 2 ? std::atoi(argv[2]) : 0;
  for (const bool all : {false, true}) {
    for (const auto& [n, instances] : sizes) {
      const int count = std::max(1, static_cast<int>(instances * scale));
      std::vector<double> times(solvers.size());
      std::int64_t checks = 0;
      for (int k = 0; k < count; ++k) {
        const instance in = make_instance(n, known_per_item * n, 1000 * static_cast<std::uint64_t>(n) + static_cast<std::uint64_t>(k));
        // The first solve of an instance would pay for cold caches: an untimed one warms them.
        (void)run_dpll(in, all, nubrix::search_policy::in_order);
        std::vector<outcome> outcomes;
        std::vector<double> elapsed;
        for (std::size_t s = 0; s < solvers.size(); ++s) {
          const double start = processor_seconds();
          outcomes.push_back(solvers[s].second(in, all));
          elapsed.push_back(processor_seconds() - start);
          times[s] += elapsed.back();
          verify(in, outcomes.back().model);
          if (outcomes.back().model.empty() != outcomes[0].model.empty()) {
            std::fprintf(stderr, "%s disagrees on instance %d of %d items\n", solvers[s].first.c_str(), k, n);
            return 1;
          }
        }
        if (outcomes[0].model != outcomes[1].model || outcomes[0].offered != outcomes[1].offered) {
          std::fprintf(stderr, "preferred and in_order differ on instance %d of %d items\n", k, n);
          return 1;
        }
        checks += outcomes[1].checks;
        if (!all) {
          // Bands of in-order check calls: below 100, 100 to 499, 500 to 999, 1000 and more.
          const std::int64_t c = outcomes[1].checks;
          const std::int64_t band = c < 100 ? 0 : c < 500 ? 100 : c < 1000 ? 500 : 1000;
          bands[band].first += elapsed[0];
          bands[band].second += elapsed[1];
          ++band_instances[band];
        }
      }
      std::printf("| %d | %s | %d | %lld |", n, all ? "all-edge" : "first-edge", count,
                  static_cast<long long>(checks / count));
      for (const double t : times) std::printf(" %.1f |", 1000 * t);
      std::printf(" %.2f | %.2f | %.2f |\n", times[0] / times[1], times[0] / times[5], times[3] / times[5]);
      std::fflush(stdout);
    }
  }
  std::printf("\n| check calls (in-order, first-edge) | instances | preferred (ms) | in_order (ms) | preferred ÷ in_order |\n"
              "|---|---:|---:|---:|---:|\n");
  for (const auto& [band, t] : bands)
    std::printf("| %lld and more | %d | %.1f | %.1f | %.2f |\n", static_cast<long long>(band), band_instances[band],
                1000 * t.first, 1000 * t.second, t.first / t.second);
  return 0;
}
