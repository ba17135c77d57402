// The problem generators. Each builds its formula entry by entry and releases it when anything throws.
#include "generators.hpp"

#include <nubrix/builders.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <unordered_set>

namespace nubrix::generators {

namespace {

constexpr std::int64_t max_variable = std::numeric_limits<std::int32_t>::max();

void require(bool condition, const char* what) {
  if (!condition) throw std::invalid_argument(what);
}

// Collects the entries of one instance; the formula is released unless take() handed it over.
class emitter {
 public:
  emitter() = default;
  emitter(const emitter&) = delete;
  emitter& operator=(const emitter&) = delete;
  ~emitter() { b_.destroy(); }

  void clause(const std::vector<literal>& literals) { b_.add(new_clause(literals)); }

  // At most one of `vars` is true: the range entry when they are three or more consecutive
  // variables in increasing order, pairwise clauses otherwise.
  void at_most_one(const std::vector<std::int32_t>& vars) {
    const std::size_t k = vars.size();
    bool range = k >= 3;
    for (std::size_t i = 1; range && i < k; ++i) range = vars[i] == vars[i - 1] + 1;
    if (range) {
      b_.add_at_most_one(variable{vars.front()}, variable{vars.back()});
      return;
    }
    for (std::size_t i = 0; i < k; ++i) {
      for (std::size_t j = i + 1; j < k; ++j) b_.add(new_clause({-vars[i], -vars[j]}));
    }
  }

  void exactly_one(const std::vector<std::int32_t>& vars) {
    std::vector<literal> at_least;
    for (const std::int32_t v : vars) at_least.push_back(literal{v});
    clause(at_least);
    at_most_one(vars);
  }

  instance take(std::int32_t variables, std::string name, std::string expected) {
    return instance{b_.build(), variables, std::move(name), std::move(expected)};
  }

 private:
  builders::formula_builder b_ = builders::empty_formula_builder;  // takes every clause over at once
};

const char* const sat = "SATISFIABLE";
const char* const unsat = "UNSATISFIABLE";

}  // namespace

std::uint64_t random::next() noexcept {
  std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t random::below(std::uint64_t n) noexcept {
  // Draws below the largest multiple of n are uniform modulo n; the rest are drawn again.
  const std::uint64_t threshold = (0 - n) % n;  // 2^64 mod n
  for (;;) {
    const std::uint64_t x = next();
    if (x >= threshold) return x % n;
  }
}

instance random_ksat(std::int32_t k, std::int32_t variables, double ratio, std::uint64_t seed) {
  require(k >= 1 && k <= variables, "random k-SAT needs 1 <= k <= variables");
  require(std::isfinite(ratio) && ratio >= 0, "random k-SAT needs a ratio >= 0");
  const double clauses = std::round(ratio * variables);
  require(clauses <= static_cast<double>(std::numeric_limits<std::int32_t>::max()), "too many clauses");
  random rng(seed);
  emitter out;
  std::vector<literal> c;
  for (std::int64_t i = 0; i < static_cast<std::int64_t>(clauses); ++i) {
    c.clear();
    while (c.size() < static_cast<std::size_t>(k)) {
      const auto v = static_cast<std::int32_t>(rng.below(static_cast<std::uint64_t>(variables)) + 1);
      if (std::any_of(c.begin(), c.end(), [v](literal l) { return get_var(l) == variable{v}; })) continue;
      c.push_back(rng.below(2) == 0 ? +variable{v} : -variable{v});
    }
    out.clause(c);
  }
  return out.take(variables,
                  "random " + std::to_string(k) + "-SAT, " + std::to_string(variables) + " variables, " +
                      std::to_string(static_cast<std::int64_t>(clauses)) + " clauses, seed " + std::to_string(seed),
                  "");
}

instance queens(std::int32_t n) {
  require(n >= 1 && std::int64_t{n} * n <= max_variable, "queens needs 1 <= n <= 46340");
  const auto at = [n](std::int32_t r, std::int32_t c) { return r * n + c + 1; };
  emitter out;
  std::vector<std::int32_t> group;
  for (std::int32_t r = 0; r < n; ++r) {  // one queen per row
    group.clear();
    for (std::int32_t c = 0; c < n; ++c) group.push_back(at(r, c));
    out.exactly_one(group);
  }
  for (std::int32_t c = 0; c < n; ++c) {  // at most one per column
    group.clear();
    for (std::int32_t r = 0; r < n; ++r) group.push_back(at(r, c));
    out.at_most_one(group);
  }
  for (std::int32_t d = -(n - 1); d <= n - 1; ++d) {  // at most one per diagonal, both directions
    group.clear();
    for (std::int32_t r = 0; r < n; ++r)
      if (r - d >= 0 && r - d < n) group.push_back(at(r, r - d));
    out.at_most_one(group);
    group.clear();
    for (std::int32_t r = 0; r < n; ++r)
      if (r + d >= 0 && r + d < n) group.push_back(at(r, n - 1 - (r + d)));
    out.at_most_one(group);
  }
  return out.take(n * n, "queens " + std::to_string(n), n == 2 || n == 3 ? unsat : sat);
}

instance pigeonhole(std::int32_t holes) {
  require(holes >= 1 && std::int64_t{holes} * (holes + 1) <= max_variable, "pigeonhole needs 1 <= holes <= 46340");
  const std::int32_t pigeons = holes + 1;
  const auto in = [pigeons](std::int32_t p, std::int32_t h) { return h * pigeons + p + 1; };
  emitter out;
  std::vector<literal> somewhere;
  for (std::int32_t p = 0; p < pigeons; ++p) {
    somewhere.clear();
    for (std::int32_t h = 0; h < holes; ++h) somewhere.push_back(literal{in(p, h)});
    out.clause(somewhere);
  }
  std::vector<std::int32_t> group;
  for (std::int32_t h = 0; h < holes; ++h) {
    group.clear();
    for (std::int32_t p = 0; p < pigeons; ++p) group.push_back(in(p, h));
    out.at_most_one(group);
  }
  return out.take(holes * pigeons,
                  "pigeonhole " + std::to_string(pigeons) + " pigeons, " + std::to_string(holes) + " holes", unsat);
}

graph random_graph(std::int32_t vertices, std::int64_t edges, std::uint64_t seed) {
  require(vertices >= 0, "a graph needs vertices >= 0");
  const std::int64_t pairs = std::int64_t{vertices} * (vertices - 1) / 2;
  require(edges >= 0 && edges <= pairs, "more edges than pairs of vertices");
  random rng(seed);
  graph g{vertices, {}};
  g.edges.reserve(static_cast<std::size_t>(edges));
  std::unordered_set<std::uint64_t> taken;
  while (static_cast<std::int64_t>(g.edges.size()) < edges) {
    auto u = static_cast<std::int32_t>(rng.below(static_cast<std::uint64_t>(vertices)));
    auto w = static_cast<std::int32_t>(rng.below(static_cast<std::uint64_t>(vertices)));
    if (u == w) continue;
    if (w < u) std::swap(u, w);
    if (!taken.insert(static_cast<std::uint64_t>(u) << 32 | static_cast<std::uint32_t>(w)).second) continue;
    g.edges.emplace_back(u, w);
  }
  return g;
}

graph mycielski(std::int32_t k) {
  require(k >= 1 && k <= 24, "Mycielski graphs are built for 1 <= k <= 24");
  if (k == 1) return graph{1, {}};
  graph g{2, {{0, 1}}};
  for (std::int32_t step = 2; step < k; ++step) {
    // Vertices v (0 .. n - 1) stay; their shadows u_v are n + v, and the apex is 2n. Shadow u_v is
    // joined to every neighbour of v, and the apex to every shadow.
    const std::int32_t n = g.vertices;
    const std::size_t old_edges = g.edges.size();
    for (std::size_t i = 0; i < old_edges; ++i) {
      const auto [a, b] = g.edges[i];
      g.edges.emplace_back(a, n + b);
      g.edges.emplace_back(b, n + a);
    }
    for (std::int32_t v = 0; v < n; ++v) g.edges.emplace_back(n + v, 2 * n);
    g.vertices = 2 * n + 1;
  }
  return g;
}

instance colouring(const graph& g, std::int32_t colours, std::string name, std::string expected) {
  require(colours >= 1 && std::int64_t{g.vertices} * colours <= max_variable, "colouring needs colours >= 1");
  const auto has = [colours](std::int32_t v, std::int32_t c) { return v * colours + c + 1; };
  emitter out;
  std::vector<std::int32_t> group;
  for (std::int32_t v = 0; v < g.vertices; ++v) {
    group.clear();
    for (std::int32_t c = 0; c < colours; ++c) group.push_back(has(v, c));
    out.exactly_one(group);
  }
  for (const auto& [u, w] : g.edges) {
    require(u >= 0 && w >= 0 && u < g.vertices && w < g.vertices && u != w, "an edge joins two distinct vertices");
    for (std::int32_t c = 0; c < colours; ++c) out.clause({-variable{has(u, c)}, -variable{has(w, c)}});
  }
  return out.take(g.vertices * colours, std::move(name), std::move(expected));
}

instance langford(std::int32_t n) {
  require(n >= 1 && n <= 20000, "Langford pairs need 1 <= n <= 20000");
  const std::int32_t places = 2 * n;
  // Number k's first copy may stand at places 1 .. places - k - 1; its variables are consecutive.
  std::vector<std::int32_t> base(static_cast<std::size_t>(n) + 1);
  std::int32_t variables = 0;
  for (std::int32_t k = 1; k <= n; ++k) {
    base[static_cast<std::size_t>(k)] = variables;
    variables += places - k - 1;
  }
  const auto first_at = [&base](std::int32_t k, std::int32_t i) { return base[static_cast<std::size_t>(k)] + i; };
  emitter out;
  std::vector<std::int32_t> group;
  for (std::int32_t k = 1; k <= n; ++k) {  // each number once
    group.clear();
    for (std::int32_t i = 1; i <= places - k - 1; ++i) group.push_back(first_at(k, i));
    out.exactly_one(group);
  }
  for (std::int32_t p = 1; p <= places; ++p) {  // each place holds one copy
    group.clear();
    for (std::int32_t k = 1; k <= n; ++k) {
      if (p <= places - k - 1) group.push_back(first_at(k, p));     // first copy at p
      if (p - k - 1 >= 1) group.push_back(first_at(k, p - k - 1));  // second copy at p
    }
    std::sort(group.begin(), group.end());
    out.exactly_one(group);
  }
  return out.take(variables, "langford " + std::to_string(n), n % 4 == 0 || n % 4 == 3 ? sat : unsat);
}

}  // namespace nubrix::generators
