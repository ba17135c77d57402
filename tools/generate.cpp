// nubrix-gen: writes a generated problem as DIMACS text, its expected answer (when known) in a
// "c expected:" comment line.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nubrix/dimacs.hpp>

#include "generators.hpp"

namespace {

using namespace nubrix;

constexpr const char* usage = R"(usage: nubrix-gen [--seed N] [--pairwise] [-o FILE] FAMILY ARGS...

families:
  random K N RATIO       random K-SAT over N variables, round(RATIO * N) clauses
  queens N               N queens on an N x N board
  pigeonhole N           N + 1 pigeons in N holes (unsatisfiable)
  colouring N EDGES K    a random graph with N vertices and EDGES edges, K colours
  mycielski M K          the Mycielski graph M_M (chromatic number M), K colours
  langford N             Langford pairs L(2, N)

options:
  --seed N     seed of the random families (default 1); equal seeds give equal output
  --pairwise   write at-most-one groups as pairwise clauses under a plain 'p cnf' header
  -o FILE      write to FILE instead of the standard output
  --help       show this text
)";

struct usage_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

template <typename T>
T number(std::string_view text, const char* what) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    throw usage_error(std::string(what) + " must be a number, not '" + std::string(text) + "'");
  }
  return value;
}

generators::instance generate(const std::vector<std::string_view>& args, std::uint64_t seed) {
  const std::string_view family = args.at(0);
  const auto arity = [&](std::size_t n) {
    if (args.size() != n + 1) {
      throw usage_error(std::string(family) + " takes " + std::to_string(n) + " argument" + (n == 1 ? "" : "s"));
    }
  };
  if (family == "random") {
    arity(3);
    // from_chars for double is not in every standard library yet; strtod reads the C locale here.
    const std::string ratio_text(args[3]);
    char* end = nullptr;
    const double ratio = std::strtod(ratio_text.c_str(), &end);
    if (ratio_text.empty() || *end != '\0') throw usage_error("RATIO must be a number, not '" + ratio_text + "'");
    return generators::random_ksat(number<std::int32_t>(args[1], "K"), number<std::int32_t>(args[2], "N"), ratio, seed);
  }
  if (family == "queens") {
    arity(1);
    return generators::queens(number<std::int32_t>(args[1], "N"));
  }
  if (family == "pigeonhole") {
    arity(1);
    return generators::pigeonhole(number<std::int32_t>(args[1], "N"));
  }
  if (family == "colouring") {
    arity(3);
    const auto n = number<std::int32_t>(args[1], "N");
    const auto edges = number<std::int64_t>(args[2], "EDGES");
    const auto k = number<std::int32_t>(args[3], "K");
    return generators::colouring(generators::random_graph(n, edges, seed), k,
                                 "colouring of a random graph, " + std::to_string(n) + " vertices, " +
                                     std::to_string(edges) + " edges, seed " + std::to_string(seed) + ", " +
                                     std::to_string(k) + " colours",
                                 "");
  }
  if (family == "mycielski") {
    arity(2);
    const auto m = number<std::int32_t>(args[1], "M");
    const auto k = number<std::int32_t>(args[2], "K");
    return generators::colouring(
        generators::mycielski(m), k,
        "colouring of the Mycielski graph M_" + std::to_string(m) + ", " + std::to_string(k) + " colours",
        k >= m ? "SATISFIABLE" : "UNSATISFIABLE");
  }
  if (family == "langford") {
    arity(1);
    return generators::langford(number<std::int32_t>(args[1], "N"));
  }
  throw usage_error("unknown family '" + std::string(family) + "'");
}

int run(int argc, char** argv) {
  std::uint64_t seed = 1;
  dimacs::write_options options;
  std::string output;
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto value = [&]() -> std::string_view {
      if (i + 1 >= argc) throw usage_error(std::string(arg) + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      return 0;
    } else if (arg == "--seed") {
      seed = number<std::uint64_t>(value(), "the seed");
    } else if (arg == "--pairwise") {
      options.expand_at_most_one = true;
    } else if (arg == "-o") {
      output = value();
    } else if (arg.size() > 1 && arg[0] == '-' && (arg[1] < '0' || arg[1] > '9')) {
      throw usage_error("unknown option '" + std::string(arg) + "'");
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) throw usage_error("no family given");

  generators::instance problem = generate(args, seed);
  try {
    std::ofstream file;
    if (!output.empty()) {
      file.open(output, std::ios::binary);
      if (!file) throw std::runtime_error("cannot open " + output + ": " + std::strerror(errno));
    }
    std::ostream& out = output.empty() ? std::cout : file;
    out << "c nubrix-gen: " << problem.name << '\n';
    if (!problem.expected.empty()) out << "c expected: " << problem.expected << '\n';
    dimacs::write(out, problem.f, problem.variables, options);
    out.flush();
    if (!out) throw std::runtime_error("cannot write the output");
  } catch (...) {
    formulas::free_all(problem.f);
    throw;
  }
  formulas::free_all(problem.f);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const usage_error& e) {
    std::fprintf(stderr, "nubrix-gen: %s\n\n%s", e.what(), usage);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "nubrix-gen: %s\n", e.what());
  }
  return 1;
}
