// The problem generators against what is known of their answers (brute force and a pruned model
// count on small sizes, a direct enumeration of colourings), their use of range entries, their
// determinism, and the nubrix-gen program.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include <nubrix/dimacs.hpp>

#include "generators.hpp"
#include "support.hpp"

namespace nubrix::testing {
namespace {

// The models of es over 1 .. n, counted by depth-first search in variable order that cuts a branch
// as soon as an entry is falsified (a clause with every literal false, a range with two true
// variables). Counting stops at `limit`. For sizes beyond count_models.
std::int64_t count_by_search(const entries& es, int n, std::int64_t limit = INT64_MAX) {
  std::vector<std::vector<const entry*>> at(static_cast<std::size_t>(n) + 1);  // entries checked at v
  for (const entry& e : es) {
    if (e.empty()) return 0;
    if (is_at_most_one(e)) {
      for (std::int32_t v = e[1]; v <= e[2]; ++v) at[static_cast<std::size_t>(v)].push_back(&e);
    } else {
      const std::int32_t last =
          std::abs(*std::max_element(e.begin(), e.end(), [](auto a, auto b) { return std::abs(a) < std::abs(b); }));
      at[static_cast<std::size_t>(last)].push_back(&e);  // all its variables are set once `last` is
    }
  }
  std::vector<int> value(static_cast<std::size_t>(n) + 1, -1);
  const auto falsified = [&](const entry& e) {
    if (is_at_most_one(e)) {
      int true_count = 0;
      for (std::int32_t v = e[1]; v <= e[2]; ++v) true_count += value[static_cast<std::size_t>(v)] == 1 ? 1 : 0;
      return true_count >= 2;
    }
    return std::none_of(e.begin(), e.end(), [&](std::int32_t l) {
      return value[static_cast<std::size_t>(std::abs(l))] == (l > 0 ? 1 : 0);
    });
  };
  std::int64_t count = 0;
  std::function<void(int)> search = [&](int v) {
    if (count >= limit) return;
    if (v > n) {
      ++count;
      return;
    }
    for (const int x : {0, 1}) {
      value[static_cast<std::size_t>(v)] = x;
      const auto& checks = at[static_cast<std::size_t>(v)];
      if (std::none_of(checks.begin(), checks.end(), [&](const entry* e) { return falsified(*e); })) search(v + 1);
    }
    value[static_cast<std::size_t>(v)] = -1;
  };
  search(1);
  return count;
}

// The entries of an instance, which is released.
entries take(generators::instance g) {
  const entries es = numbers_of(g.f);
  formulas::free_all(g.f);
  return es;
}

using generators_test = heap_test;

TEST_F(generators_test, queens_counts) {
  const std::int64_t solutions[] = {0, 1, 0, 0, 2, 10, 4};  // by board size, 1 .. 6
  for (std::int32_t n = 1; n <= 6; ++n) {
    SCOPED_TRACE(n);
    generators::instance g = generators::queens(n);
    EXPECT_EQ(g.expected, solutions[n] > 0 ? "SATISFIABLE" : "UNSATISFIABLE");
    const std::int32_t variables = g.variables;
    const entries es = take(std::move(g));
    EXPECT_EQ(variables, n * n);
    EXPECT_EQ(n <= 4 ? count_models(es, variables) : count_by_search(es, variables), solutions[n]);
  }
}

TEST_F(generators_test, pigeonhole_has_no_model) {
  for (std::int32_t holes = 1; holes <= 5; ++holes) {
    SCOPED_TRACE(holes);
    generators::instance g = generators::pigeonhole(holes);
    EXPECT_EQ(g.expected, "UNSATISFIABLE");
    const std::int32_t variables = g.variables;
    const entries es = take(std::move(g));
    EXPECT_EQ(variables, holes * (holes + 1));
    EXPECT_EQ(holes <= 3 ? count_models(es, variables) : count_by_search(es, variables), 0);
    // Without the last pigeon's clause (entry holes + 1; the pigeons' clauses come first) the rest fit.
    entries fewer = es;
    fewer.erase(fewer.begin() + holes);
    EXPECT_GT(count_by_search(fewer, variables, 1), 0);
  }
}

TEST_F(generators_test, langford_pairs_exist_exactly_for_n_0_or_3_mod_4) {
  const std::int64_t solutions[] = {0, 0, 0, 2, 2, 0, 0, 52};  // L(2, n) for n = 1 .. 7
  for (std::int32_t n = 1; n <= 7; ++n) {
    SCOPED_TRACE(n);
    generators::instance g = generators::langford(n);
    EXPECT_EQ(g.expected, solutions[n] > 0 ? "SATISFIABLE" : "UNSATISFIABLE");
    const std::int32_t variables = g.variables;
    const entries es = take(std::move(g));
    EXPECT_EQ(n <= 4 ? count_models(es, variables) : count_by_search(es, variables), solutions[n]);
  }
}

TEST_F(generators_test, mycielski_graph_m_k_needs_exactly_k_colours) {
  const std::int32_t vertices[] = {0, 1, 2, 5, 11, 23};
  const std::size_t edges[] = {0, 0, 1, 5, 20, 71};
  for (std::int32_t k = 1; k <= 5; ++k) {
    const generators::graph g = generators::mycielski(k);
    EXPECT_EQ(g.vertices, vertices[k]);
    EXPECT_EQ(g.edges.size(), edges[k]);
    EXPECT_EQ(std::set(g.edges.begin(), g.edges.end()).size(), g.edges.size()) << "no edge twice";
  }
  for (std::int32_t k = 1; k <= 4; ++k) {
    SCOPED_TRACE(k);
    const generators::graph g = generators::mycielski(k);
    generators::instance enough = generators::colouring(g, k, "m", "");
    const std::int32_t n = enough.variables;
    EXPECT_EQ(count_by_search(take(std::move(enough)), n, 1), 1);
    if (k == 1) continue;
    generators::instance fewer = generators::colouring(g, k - 1, "m", "");
    const std::int32_t m = fewer.variables;
    EXPECT_EQ(count_by_search(take(std::move(fewer)), m, 1), 0);
  }
  // M_3 is the 5-cycle, which has (c - 1)^5 - (c - 1) proper colourings with c colours.
  generators::instance c5 = generators::colouring(generators::mycielski(3), 3, "m", "");
  EXPECT_EQ(count_models(take(std::move(c5)), 15), 30);
}

// The number of proper colourings of g with c colours, by enumerating every colouring.
std::int64_t colourings(const generators::graph& g, int c) {
  std::vector<int> colour(static_cast<std::size_t>(g.vertices), 0);
  std::int64_t count = 0;
  for (;;) {
    count +=
        std::all_of(g.edges.begin(), g.edges.end(),
                    [&](const auto& e) {
                      return colour[static_cast<std::size_t>(e.first)] != colour[static_cast<std::size_t>(e.second)];
                    })
            ? 1
            : 0;
    std::size_t i = 0;
    while (i < colour.size() && ++colour[i] == c) colour[i++] = 0;
    if (i == colour.size()) return count;
  }
}

TEST_F(generators_test, colouring_models_are_the_proper_colourings) {
  for (std::uint64_t seed = 1; seed <= 12; ++seed) {
    const auto edges = static_cast<std::int64_t>(seed % 11);
    const generators::graph g = generators::random_graph(5, edges, seed);
    ASSERT_EQ(static_cast<std::int64_t>(g.edges.size()), edges);
    for (const auto& [u, w] : g.edges) EXPECT_TRUE(u < w && w < 5);
    EXPECT_EQ(std::set(g.edges.begin(), g.edges.end()).size(), g.edges.size());
    for (std::int32_t c = 1; c <= 3; ++c) {
      SCOPED_TRACE(::testing::Message() << "seed " << seed << ", " << c << " colours");
      EXPECT_EQ(count_models(take(generators::colouring(g, c, "g", "")), 5 * c), colourings(g, c));
    }
  }
}

TEST_F(generators_test, random_ksat_shape_and_determinism) {
  const entries es = take(generators::random_ksat(3, 20, 4.26, 42));
  ASSERT_EQ(es.size(), 85U);
  for (const entry& c : es) {
    ASSERT_EQ(c.size(), 3U);
    std::set<std::int32_t> vars;
    for (const std::int32_t l : c) {
      EXPECT_TRUE(l != 0 && std::abs(l) <= 20);
      vars.insert(std::abs(l));
    }
    EXPECT_EQ(vars.size(), 3U) << "distinct variables";
  }
  EXPECT_EQ(take(generators::random_ksat(3, 20, 4.26, 42)), es);
  EXPECT_NE(take(generators::random_ksat(3, 20, 4.26, 43)), es);
  EXPECT_EQ(generators::random_graph(40, 300, 8).edges, generators::random_graph(40, 300, 8).edges);
  EXPECT_EQ(take(generators::random_ksat(20, 20, 0.5, 1)).size(), 10U);
  EXPECT_TRUE(take(generators::random_ksat(2, 5, 0.0, 1)).empty());
  EXPECT_EQ(generators::random_graph(6, 15, 2).edges.size(), 15U) << "the complete graph";
}

TEST_F(generators_test, at_most_one_groups_use_ranges_where_consecutive) {
  const auto ranges = [](const entries& es) {
    std::vector<std::pair<std::int32_t, std::int32_t>> out;
    for (const entry& e : es)
      if (is_at_most_one(e)) out.emplace_back(e[1], e[2]);
    return out;
  };
  EXPECT_EQ(ranges(take(generators::queens(3))),
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 3}, {4, 6}, {7, 9}}));
  EXPECT_EQ(ranges(take(generators::pigeonhole(2))),
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 3}, {4, 6}}));
  EXPECT_EQ(ranges(take(generators::langford(3))),
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 4}, {5, 7}}));
  EXPECT_EQ(ranges(take(generators::colouring(generators::mycielski(2), 3, "", ""))),
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 3}, {4, 6}}));
  EXPECT_TRUE(ranges(take(generators::colouring(generators::mycielski(2), 2, "", ""))).empty())
      << "two colours need one clause, not a range";
}

TEST_F(generators_test, bad_arguments_and_exhaustion_leave_nothing_behind) {
  EXPECT_THROW(generators::random_ksat(4, 3, 1.0, 1), std::invalid_argument);
  EXPECT_THROW(generators::random_ksat(0, 3, 1.0, 1), std::invalid_argument);
  EXPECT_THROW(generators::random_ksat(3, 10, -1.0, 1), std::invalid_argument);
  EXPECT_THROW(generators::queens(0), std::invalid_argument);
  EXPECT_THROW(generators::queens(46341), std::invalid_argument);
  EXPECT_THROW(generators::pigeonhole(0), std::invalid_argument);
  EXPECT_THROW(generators::random_graph(4, 7, 1), std::invalid_argument);
  EXPECT_THROW(generators::mycielski(0), std::invalid_argument);
  EXPECT_THROW(generators::colouring(generators::mycielski(3), 0, "", ""), std::invalid_argument);
  EXPECT_THROW(generators::colouring(generators::graph{2, {{0, 2}}}, 2, "", ""), std::invalid_argument)
      << "an edge to a missing vertex, after the vertex clauses were made";
  EXPECT_THROW(generators::langford(0), std::invalid_argument);

  EXPECT_GT(for_each_failing_request([](std::int64_t k) {
              probe::fail_request(k);
              formulas::formula f = generators::queens(4).f;
              formulas::free_all(f);
            }),
            60);
  EXPECT_GT(for_each_failing_request([](std::int64_t k) {
              probe::fail_request(k);
              formulas::formula f = generators::langford(4).f;
              formulas::free_all(f);
            }),
            20);
}

#ifdef NUBRIX_GEN_PROGRAM
// Runs nubrix-gen with the given arguments; its exit status and standard output.
std::pair<int, std::string> run_generator(const std::string& args) {
  const std::string command = std::string(NUBRIX_GEN_PROGRAM) + " " + args + " 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string out;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

entries read_entries(const std::string& text) {
  std::istringstream in(text);
  dimacs::problem p = dimacs::read(in, "nubrix-gen output");
  EXPECT_TRUE(p.warnings.empty());
  const entries es = numbers_of(p.f);
  formulas::free_all(p.f);
  return es;
}

TEST_F(generators_test, the_program_writes_what_the_generators_make) {
  const auto [status, queens] = run_generator("queens 4");
  ASSERT_EQ(status, 0);
  EXPECT_EQ(queens.rfind("c nubrix-gen: queens 4\nc expected: SATISFIABLE\np cnf+ 16 ", 0), 0U) << queens;
  EXPECT_EQ(read_entries(queens), take(generators::queens(4)));

  const auto [pairwise_status, pairwise] = run_generator("--pairwise langford 3");
  ASSERT_EQ(pairwise_status, 0);
  EXPECT_NE(pairwise.find("\np cnf 9 "), std::string::npos);
  const entries es = read_entries(pairwise);
  EXPECT_TRUE(std::none_of(es.begin(), es.end(), is_at_most_one));
  EXPECT_EQ(count_models(es, 9), 2);

  EXPECT_NE(run_generator("mycielski 4 3").second.find("c expected: UNSATISFIABLE\n"), std::string::npos);
  EXPECT_EQ(run_generator("random 3 20 4.26").second.find("c expected"), std::string::npos) << "no answer known";
  const std::string seeded = run_generator("random 3 20 4.26 --seed 5").second;
  EXPECT_EQ(run_generator("--seed 5 random 3 20 4.26").second, seeded);
  EXPECT_NE(run_generator("random 3 20 4.26 --seed 6").second, seeded);
  EXPECT_EQ(read_entries(seeded), take(generators::random_ksat(3, 20, 4.26, 5)));

  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("nubrix-gen-test-" + std::to_string(::getpid()) + ".cnf");
  EXPECT_EQ(run_generator("-o " + file.string() + " pigeonhole 3"), (std::pair<int, std::string>{0, ""}));
  dimacs::problem p = dimacs::read_file(file.string());
  EXPECT_EQ(numbers_of(p.f), take(generators::pigeonhole(3)));
  formulas::free_all(p.f);
  std::filesystem::remove(file);

  for (const char* bad : {"", "bogus 3", "queens", "queens x", "queens 4 5", "random 5 3 1", "random 3 10 x", "--seed",
                          "--frobnicate queens 4", "-o /nonexistent/dir/x.cnf queens 4"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(run_generator(bad), (std::pair<int, std::string>{1, ""}));
  }
}
#endif

}  // namespace
}  // namespace nubrix::testing
