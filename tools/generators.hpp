// Problem generators for tests and benchmarks: random k-SAT, n-queens, pigeonhole, graph colouring
// (random and Mycielski graphs) and Langford pairs. Every at-most-one group over consecutive
// variables is the range entry [0, from, to] when it has three or more variables; the numbering is
// chosen to make as many groups consecutive as the problem allows. Random choices come from a
// seeded generator that gives the same output on every platform.
#ifndef NUBRIX_TOOLS_GENERATORS_HPP
#define NUBRIX_TOOLS_GENERATORS_HPP

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nubrix/formulas.hpp>

namespace nubrix::generators {

// A generated problem. The caller owns `f` and releases it with formulas::free_all.
struct instance {
  formulas::formula f = formulas::clause_vectors::empty_vector;
  std::int32_t variables = 0;  // every literal of f lies within +-variables
  std::string name;            // the family and its parameters, "queens 8"
  std::string expected;        // "SATISFIABLE" or "UNSATISFIABLE" when known in advance, else empty
};

// splitmix64: a small generator whose sequence depends on the seed alone.
class random {
 public:
  explicit random(std::uint64_t seed) noexcept : state_(seed) {}
  std::uint64_t next() noexcept;
  // Uniform in 0 .. n - 1 (n > 0), without modulo bias.
  std::uint64_t below(std::uint64_t n) noexcept;

 private:
  std::uint64_t state_;
};

// An undirected simple graph over vertices 0 .. vertices - 1.
struct graph {
  std::int32_t vertices = 0;
  std::vector<std::pair<std::int32_t, std::int32_t>> edges;  // each pair (u, w) with u < w, once
};

// The arguments of the generators are checked: out-of-range ones raise std::invalid_argument.
// Each generator releases what it built when it throws (std::bad_alloc included).

// round(ratio * variables) clauses of k distinct variables with random signs (1 <= k <= variables).
instance random_ksat(std::int32_t k, std::int32_t variables, double ratio, std::uint64_t seed);

// n queens on an n x n board, none attacking another; queen (r, c) is variable r * n + c + 1, so
// each row is a range. Satisfiable for n = 1 and n >= 4.
instance queens(std::int32_t n);

// holes + 1 pigeons in `holes` holes, at most one per hole; pigeon p in hole h is variable
// h * (holes + 1) + p + 1, so each hole is a range. Unsatisfiable.
instance pigeonhole(std::int32_t holes);

// A graph with `edges` distinct edges chosen uniformly among all pairs of vertices.
graph random_graph(std::int32_t vertices, std::int64_t edges, std::uint64_t seed);

// The Mycielski graph M_k (k >= 1): M_1 is one vertex, M_2 one edge, and M_{k+1} is the Mycielskian
// of M_k, which has chromatic number exactly k.
graph mycielski(std::int32_t k);

// A proper colouring of g with `colours` colours; vertex v has colour c as variable
// v * colours + c + 1, so each vertex's colours are a range.
instance colouring(const graph& g, std::int32_t colours, std::string name, std::string expected);

// Langford pairs L(2, n): two copies of 1 .. n in 2n places, the copies of k with k places between
// them. Variable per number k and place i of its first copy, consecutive for each k. Satisfiable
// exactly when n mod 4 is 0 or 3.
instance langford(std::int32_t n);

}  // namespace nubrix::generators

#endif  // NUBRIX_TOOLS_GENERATORS_HPP
