// The fewest colours for a random graph, found with one incremental solver: the clauses are added
// once, and each solve assumes that the colours from k on are unused, for k = colours, colours - 1,
// ... until there is no colouring. Node v in colour c is variable v * colours + c + 1, each node's
// colours consecutive, so "at most one colour" is a range; colour c may be used only when its switch
// variable is true.
// Usage: colouring [nodes] [edges]   (default 30 nodes, 80 edges)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include <nubrix/solver.hpp>

using namespace nubrix;

int main(int argc, char** argv) {
  const int nodes = argc > 1 ? std::atoi(argv[1]) : 30;
  const int edges = argc > 2 ? std::atoi(argv[2]) : 80;
  if (nodes < 2 || nodes > 10000 || edges < 0 || edges > 1000000) {
    std::fprintf(stderr, "usage: colouring [nodes] [edges], 2 <= nodes <= 10000, 0 <= edges <= 1000000\n");
    return 1;
  }
  const int colours = 8;
  const auto colour = [&](int v, int c) { return variable{v * colours + c + 1}; };
  const auto used = [&](int c) { return variable{nodes * colours + c + 1}; };

  solver s;
  for (int v = 0; v < nodes; ++v) {
    std::vector<literal> some;
    for (int c = 0; c < colours; ++c) {
      some.push_back(+colour(v, c));
      s.add_clause({-colour(v, c), +used(c)});
    }
    s.add_clause(some);
    s.add_at_most_one(colour(v, 0), colour(v, colours - 1));
  }
  std::mt19937 rng(1);
  for (int e = 0; e < edges; ++e) {
    const int a = static_cast<int>(rng() % nodes);
    const int b = static_cast<int>(rng() % nodes);
    if (a == b) continue;
    for (int c = 0; c < colours; ++c) s.add_clause({-colour(a, c), -colour(b, c)});
  }

  int best = 0;
  std::vector<int> shown;  // the colouring printed last
  for (int k = colours; k >= 1; --k) {
    for (int c = k; c < colours; ++c) s.assume(-used(c));
    if (s.solve() != solve_result::sat) {
      std::printf("no colouring in %d colours: the bans on colours", k);
      for (const literal l : s.failed_assumptions()) std::printf(" %d", to_int(get_var(l)) - nodes * colours - 1);
      std::printf(" are refuted\n");
      break;
    }
    best = k;
    // The preferred model gives each node the lowest colour it can: it often needs fewer colours
    // than allowed, and then stays the same as the allowance shrinks.
    std::vector<int> found;
    for (int v = 0; v < nodes; ++v)
      for (int c = 0; c < colours; ++c)
        if (s.holds(+colour(v, c))) found.push_back(c);
    if (found == shown) {
      std::printf("%d colours allowed: the same colouring\n", k);
      continue;
    }
    std::printf("%d colours allowed, %d used:", k, *std::max_element(found.begin(), found.end()) + 1);
    for (const int c : found) std::printf(" %d", c);
    std::printf("\n");
    shown = found;
  }
  if (best == 0) {
    std::printf("no colouring in %d colours\n", colours);
    return 1;
  }
  std::printf("fewest colours: %d (%d learnt clauses held)\n", best, s.learnt_clauses());
  return 0;
}
