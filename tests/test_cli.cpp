// The nubrix program, run as a user runs it: answers and exit statuses on generated problems with
// known answers, the output form (every model read back from its 'v' lines and checked here), the
// options, the input sources, and failures.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <nubrix/dimacs.hpp>

#include "cli.hpp"
#include "formula_image.hpp"
#include "generators.hpp"
#include "new_probe.hpp"
#include "support.hpp"

namespace nubrix::testing {
namespace {

namespace fs = std::filesystem;
using enum variable_value;

struct outcome {
  int status = -1;
  std::string out;  // standard output
  std::string err;  // standard error
  friend bool operator==(const outcome&, const outcome&) = default;
  friend void PrintTo(const outcome& o, std::ostream* os) {
    *os << "status " << o.status << ", stdout \"" << o.out << "\", stderr \"" << o.err << "\"";
  }
};

// The output with its timings, rates and memory blanked out, which vary from run to run.
std::string untimed(const std::string& out) {
  return std::regex_replace(out, std::regex("[0-9.]+ (s\\b|per second|MB\\b)"), "T $1");
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class cli_test : public heap_test {
 protected:
  void SetUp() override {
    heap_test::SetUp();
    dir_ = fs::temp_directory_path() / ("nubrix-cli-test-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    heap_test::TearDown();
  }

  // A file in the test's own directory holding `content`.
  std::string file(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
    return (dir_ / name).string();
  }

  // Runs the program with `args`, standard input from `input`.
  outcome run(const std::string& args, const std::string& input = "") {
    const std::string in = file("stdin", input);
    const std::string command = std::string(NUBRIX_PROGRAM) + " " + args + " < " + in + " > " +
                                (dir_ / "stdout").string() + " 2> " + (dir_ / "stderr").string();
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir_ / "stdout"), slurp(dir_ / "stderr")};
  }

  fs::path dir_;
};

std::string text_of(const generators::instance& g) {
  std::ostringstream out;
  dimacs::write(out, g.f, g.variables);
  return out.str();
}

// Pigeonhole as "p cnf+" (unsatisfiable): each pigeon's holes, consecutive variables, an at-most-one
// range; each hole's pigeons, `pigeons` > 5 variables apart, an at-most-one line read as a ladder.
std::string ranges_and_ladders_pigeonhole(int pigeons) {
  const int holes = pigeons - 1;
  const auto in = [holes](int p, int h) { return std::to_string(p * holes + h + 1) + " "; };
  std::string text = "p cnf+ " + std::to_string(pigeons * holes) + " " + std::to_string(2 * pigeons + holes) + "\n";
  for (const char* end : {"0\n", "<= 1\n"}) {
    for (int p = 0; p < pigeons; ++p) {
      for (int h = 0; h < holes; ++h) text += in(p, h);
      text += end;
    }
  }
  for (int h = 0; h < holes; ++h) {
    for (int p = 0; p < pigeons; ++p) text += in(p, h);
    text += "<= 1\n";
  }
  return text;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Checks the output form of an answer: 'c' lines, then the 's' line, then (for a model) 'v' lines of
// at most 80 characters whose literals end with a single 0 on the last one. Returns the model read
// from them over 1 .. n, every entry unset when there are none.
model answer_model(const std::string& out, const std::string& s_line, int n) {
  model m(1, n);
  const std::vector<std::string> lines = lines_of(out);
  std::size_t i = 0;
  while (i < lines.size() && lines[i].rfind("c ", 0) == 0) ++i;
  EXPECT_LT(i, lines.size());
  if (i >= lines.size()) return m;
  EXPECT_EQ(lines[i], s_line);
  bool closed = false;
  for (++i; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("v ", 0), 0U) << lines[i];
    EXPECT_LE(lines[i].size(), 80U) << lines[i];
    EXPECT_FALSE(closed) << "a 'v' line after the closing 0";
    std::istringstream words(lines[i].substr(2));
    for (std::int32_t x; words >> x;) {
      EXPECT_FALSE(closed) << "a literal after the closing 0";
      if (x == 0) {
        closed = true;
        continue;
      }
      EXPECT_TRUE(std::abs(x) <= n && m[variable{std::abs(x)}] == variable_value::unset) << x;
      if (std::abs(x) > n) continue;
      m[variable{std::abs(x)}] = x > 0 ? variable_value::true_ : variable_value::false_;
    }
  }
  EXPECT_EQ(closed, s_line == "s SATISFIABLE");
  return m;
}

TEST_F(cli_test, answers_and_models_of_problems_with_known_answers) {
  std::vector<generators::instance> problems;
  for (std::int32_t n = 1; n <= 7; ++n) problems.push_back(generators::queens(n));
  for (std::int32_t n = 3; n <= 8; ++n) problems.push_back(generators::langford(n));
  for (std::int32_t n = 2; n <= 5; ++n) problems.push_back(generators::pigeonhole(n));
  for (std::int32_t k = 2; k <= 4; ++k) {
    for (std::int32_t c = k - 1; c <= k; ++c) {
      problems.push_back(
          generators::colouring(generators::mycielski(k), c, "mycielski", c >= k ? "SATISFIABLE" : "UNSATISFIABLE"));
    }
  }
  for (generators::instance& g : problems) {
    SCOPED_TRACE(g.name + ", expected " + g.expected);
    const outcome o = run("", text_of(g));
    const bool sat = g.expected == "SATISFIABLE";
    EXPECT_EQ(o.status, sat ? 10 : 20);
    EXPECT_EQ(o.err, "");
    const model m = answer_model(o.out, sat ? "s SATISFIABLE" : "s UNSATISFIABLE", g.variables);
    if (sat) {
      EXPECT_EQ(formulas::satisfies(g.f, m), formulas::sat_result::sat) << "every variable, a model";
    }
    formulas::free_all(g.f);
  }
}

TEST_F(cli_test, options_and_input_sources) {
  generators::instance g = generators::langford(4);
  const std::string text = text_of(g);
  formulas::free_all(g.f);
  const std::string path = file("l4.cnf", text);

  const outcome plain = run(path);
  EXPECT_EQ(plain.status, 10);
  EXPECT_EQ(
      untimed(plain.out).rfind("c nubrix " NUBRIX_VERSION "\nc read " + path +
                                   ": 18 variables, 80 clauses declared, 80 entries (4 at-most-one ranges) in T s\n"
                                   "c decisions ",
                               0),
      0U)
      << plain.out;
  EXPECT_TRUE(std::regex_search(plain.out, std::regex("\nc conflicts +[0-9]+\n(c .*\n)*s SATISFIABLE\nv ")))
      << plain.out;
  std::string from_stdin = untimed(plain.out);
  from_stdin.replace(from_stdin.find(path), path.size(), "<stdin>");
  for (const char* args : {"", "-"}) {
    EXPECT_EQ(untimed(run(args, text).out), from_stdin) << "standard input with '" << args << "'";
  }
  const gzFile zipped = gzopen((path + ".gz").c_str(), "wb");
  ASSERT_NE(zipped, nullptr);
  EXPECT_EQ(gzwrite(zipped, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
  EXPECT_EQ(gzclose(zipped), Z_OK);
  const outcome unzipped = run("-q " + path + ".gz");
  EXPECT_EQ(unzipped, (outcome{10, "s SATISFIABLE\n", ""}));

  EXPECT_EQ(run("-q " + path).out, "s SATISFIABLE\n");
  EXPECT_EQ(run("-q", "p cnf 1 2\n1 0\n-1 0\n").out, "s UNSATISFIABLE\n");
  const outcome no_model = run("--no-model " + path);
  EXPECT_NE(no_model.out.find("\ns SATISFIABLE\n"), std::string::npos);
  EXPECT_EQ(no_model.out.find("\nv "), std::string::npos);
  EXPECT_EQ(run("-n -q " + path).out, "s SATISFIABLE\n");

  const outcome help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: nubrix [options] [FILE]\n", 0), 0U);
  for (const char* option : {"-t, --time-limit S", "--conflicts N", "--any-model", "--in-order", "--binary-proof",
                             "-v, --verbose", "-q, --quiet", "-n, --no-model", "-h, --help", "--version"})
    EXPECT_TRUE(std::regex_search(help.out, std::regex("\n  " + std::string(option) + " +[a-z][^\n]*\n(  -|$)")))
        << option << " has a line of its own";
  EXPECT_EQ(run("--version"), (outcome{0, "nubrix " NUBRIX_VERSION "\n", ""}));

  // Edge formulas: no variable at all, an empty clause, fewer clauses than declared (a warning).
  EXPECT_EQ(run("-n", "p cnf 0 0\n").status, 10);
  EXPECT_NE(run("", "p cnf 0 0\n").out.find("s SATISFIABLE\nv 0\n"), std::string::npos);
  EXPECT_EQ(run("", "p cnf 2 2\n1 2 0\n0\n").status, 20);
  const outcome fewer = run("-q", "p cnf 2 3\n1 0\n");
  EXPECT_EQ(fewer, (outcome{10, "s SATISFIABLE\n",
                            "nubrix: warning: <stdin>:1: the header declares 3 clauses but the file has 1\n"}));
}

TEST_F(cli_test, min_vars_leaves_the_rest_to_propagation) {
  // Deciding 1 sets 2 and 3 through the clauses: a complete model.
  const outcome chained = run("--min-vars 1", "p cnf 3 2\n-1 2 0\n-2 3 0\n");
  EXPECT_EQ(chained.status, 10);
  EXPECT_NE(chained.out.find("\ns SATISFIABLE\nv 1 2 3 0\n"), std::string::npos) << chained.out;
  // Variables left open that no clause needs are simply not listed.
  const outcome partial = run("--min-vars 1", "p cnf 5 2\n-1 2 0\n1 2 0\n");
  EXPECT_EQ(partial.status, 10);
  const model m = answer_model(partial.out, "s SATISFIABLE", 5);
  EXPECT_EQ(m[variable{5}], variable_value::unset) << partial.out;
  formulas::formula f = formula_of({{-1, 2}, {1, 2}});
  EXPECT_EQ(formulas::satisfies(f, m), formulas::sat_result::sat);
  formulas::free_all(f);
  // Clause (2 3) is left unsettled: no claim of satisfiability.
  const outcome open = run("--min-vars 1", "p cnf 3 1\n2 3 0\n");
  EXPECT_EQ(open.status, 0);
  EXPECT_NE(open.out.find("\ns UNKNOWN\n"), std::string::npos) << open.out;
  // A bound at or beyond the variable count decides everything.
  EXPECT_EQ(run("-q --min-vars 3", "p cnf 3 1\n2 3 0\n").out, "s SATISFIABLE\n");
  EXPECT_EQ(run("-q --min-vars 99", "p cnf 3 1\n2 3 0\n").out, "s SATISFIABLE\n");
  EXPECT_EQ(run("-q --min-vars 1", "p cnf 1 2\n1 0\n-1 0\n").out, "s UNSATISFIABLE\n");
}

TEST_F(cli_test, failures_give_status_1_and_a_message_but_no_answer) {
  const outcome bad = run("", "c\np cnf 3 1\n1 4 0\n");
  EXPECT_EQ(bad, (outcome{1, "", "nubrix: <stdin>:3: literal 4 beyond the 3 variables declared in the header\n"}));
  const std::string path = file("open.cnf", "p cnf 3 1\n1 2\n");
  EXPECT_EQ(run(path), (outcome{1, "", "nubrix: " + path + ":2: clause not closed by 0 at the end of the file\n"}));
  EXPECT_EQ(run("/nonexistent/x.cnf"),
            (outcome{1, "", "nubrix: /nonexistent/x.cnf: cannot open: No such file or directory\n"}));
  EXPECT_EQ(run(dir_.string()), (outcome{1, "", "nubrix: " + dir_.string() + ": is a directory\n"}));
  const outcome unwritable = run("--write-cnf /nonexistent/x.cnf", "p cnf 1 1\n1 0\n");
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.err, "nubrix: /nonexistent/x.cnf: cannot open: No such file or directory\n");
  EXPECT_EQ(unwritable.out.find("\ns "), std::string::npos) << "no solve: " << unwritable.out;
  EXPECT_EQ(run("", "p cnf 2147483647 1\n-2147483647 0\n").err,
            "nubrix: <stdin>: variable 2147483647 occurs; the solver takes at most 2147483646\n");
  EXPECT_EQ(run("-q", "p cnf 2147483647 0\n"), (outcome{10, "s SATISFIABLE\n", ""})) << "declared, never used";

  for (const char* args :
       {"--frobnicate", "a.cnf b.cnf", "--min-vars", "--min-vars x", "--min-vars -1", "--min-vars 99999999999999999999",
        "--conflicts", "--conflicts 1.5", "--time-limit", "--time-limit -1", "--time-limit 2x", "--time-limit nan"}) {
    SCOPED_TRACE(args);
    const outcome o = run(args, "p cnf 1 1\n1 0\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("(try 'nubrix --help')"), std::string::npos) << o.err;
  }

  if (fs::exists("/dev/full")) {
    const std::string command = std::string(NUBRIX_PROGRAM) + " " + file("ok.cnf", "p cnf 1 1\n1 0\n") +
                                " > /dev/full 2> " + (dir_ / "stderr").string();
    const int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1) << "a lost answer is not a success";
    EXPECT_EQ(slurp(dir_ / "stderr"), "nubrix: cannot write the output\n");
  }
}

// --- the program in-process ----------------------------------------------------------------------

// A heap request to fail during an in-process run, and the blocks the run left behind.
struct heap_failure {
  void (*fail)(std::int64_t) = nullptr;  // probe::fail_request or new_probe::fail_request
  std::int64_t k = 0;                    // the request to fail, counted from the program's start
  std::int64_t leaked = 0;               // set by the run: blocks of either heap it left allocated
};

// Runs the program's logic in this process on `input` as standard input.
outcome run_here(const std::vector<std::string>& args, const std::string& input, heap_failure* failure = nullptr) {
  std::vector<std::string> words = {"nubrix"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  std::istringstream in(input);
  char* out_text = nullptr;
  char* err_text = nullptr;
  std::size_t out_size = 0, err_size = 0;
  std::FILE* out = open_memstream(&out_text, &out_size);
  std::FILE* err = open_memstream(&err_text, &err_size);
  const std::int64_t live_before = probe::read().live() + new_probe::read().live();
  if (failure != nullptr) failure->fail(failure->k);
  const int status = cli::run(static_cast<int>(argv.size()), argv.data(), in, out, err);
  if (failure != nullptr) {
    failure->fail(0);
    failure->leaked = probe::read().live() + new_probe::read().live() - live_before;
  }
  std::fclose(out);
  std::fclose(err);
  outcome o{status, std::string(out_text, out_size), std::string(err_text, err_size)};
  std::free(out_text);
  std::free(err_text);
  return o;
}

// The answer without its comment lines, which tell sizes and times.
std::string answer_of(const std::string& out) {
  std::string kept;
  for (const std::string& line : lines_of(out))
    if (line.rfind("c ", 0) != 0) kept += line + "\n";
  return kept;
}

// The literals of the 'v' lines of `out` whose variables are at most `bound`.
std::set<std::int64_t> model_up_to(const std::string& out, std::int64_t bound) {
  std::set<std::int64_t> literals;
  for (const std::string& line : lines_of(out)) {
    if (line.rfind("v ", 0) != 0) continue;
    std::istringstream in(line.substr(2));
    for (std::int64_t l = 0; in >> l;)
      if (l != 0 && std::abs(l) <= bound) literals.insert(l);
  }
  return literals;
}

// Each option that takes a value takes it as the next word or after '=', and the short and long
// forms of an option are the same option: each pair answers alike and writes the same file. Values
// out of their grammar, flags given a value and --binary-proof without a proof are usage errors.
TEST_F(cli_test, option_spellings) {
  const std::string text = ranges_and_ladders_pigeonhole(6);
  const std::string written = (dir_ / "written").string();
  const auto run_and_read = [&](const std::vector<std::string>& args) {
    fs::remove(written);
    const outcome o = run_here(args, text);
    return std::pair{outcome{o.status, untimed(o.out), o.err}, slurp(written)};
  };
  const std::pair<std::vector<std::string>, std::vector<std::string>> same[] = {
      {{"--conflicts", "20"}, {"--conflicts=20"}},
      {{"--time-limit", "100"}, {"--time-limit=100"}},
      {{"--time-limit", "100"}, {"-t", "100"}},
      {{"-t", "100"}, {}},
      {{"-t", "2."}, {"-t", "1e3"}},
      {{"-t", "0.5e3"}, {"-t", ".5E3"}},
      {{"--min-vars", "3"}, {"--min-vars=3"}},
      {{"--proof", written}, {"--proof=" + written}},
      {{"--binary-proof", "--proof", written}, {"--proof=" + written, "--binary-proof"}},
      {{"--write-cnf", written}, {"--write-cnf=" + written}},
      {{"-v"}, {"--verbose"}},
      {{"-q"}, {"--quiet"}},
  };
  for (const auto& [a, b] : same) {
    SCOPED_TRACE(::testing::PrintToString(a) + " and " + ::testing::PrintToString(b));
    const auto first = run_and_read(a);
    EXPECT_TRUE(first.first.status != 1 && first.first.err.empty()) << first.first.err;
    const bool writes =
        std::any_of(a.begin(), a.end(), [&](const std::string& w) { return w.find(written) != std::string::npos; });
    EXPECT_EQ(first.second.empty(), !writes) << "a file written exactly when asked for";
    EXPECT_EQ(first, run_and_read(b));
  }

  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"--any-model=1"}, "option '--any-model' takes no value"},
      {{"--verbose=yes"}, "option '--verbose' takes no value"},
      {{"--binary-proof=1", "--proof", written}, "option '--binary-proof' takes no value"},
      {{"--binary-proof"}, "--binary-proof needs --proof FILE"},
      {{"-t"}, "-t needs a value"},
      {{"--time-limit=0x10"}, "--time-limit needs a decimal number of seconds >= 0, not '0x10'"},
      {{"-t", "inf"}, "--time-limit needs a decimal number of seconds >= 0, not 'inf'"},
      {{"--time-limit", "nan"}, "--time-limit needs a decimal number of seconds >= 0, not 'nan'"},
      {{"--time-limit", "1e400"}, "--time-limit needs a decimal number of seconds >= 0, not '1e400'"},
      {{"--time-limit=-1"}, "--time-limit needs a decimal number of seconds >= 0, not '-1'"},
      {{"--conflicts="}, "--conflicts needs a number >= 0, not ''"},
      {{"--min-vars=x"}, "--min-vars needs a number >= 0, not 'x'"},
      {{"--proof="}, "--proof needs a file name"},
      {{"--write-cnf"}, "--write-cnf needs a value"},
  };
  for (const auto& [args, message] : refused) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(run_here(args, text), (outcome{1, "", "nubrix: " + message + " (try 'nubrix --help')\n"}));
  }
}

// Random "p cnf+" texts with long at-most-one lines, read as ladders, against the same texts with
// those lines written as their pairwise clauses, as the reader once expanded them: the same answer
// and the same model over the declared variables. Under --min-vars the search stops with variables
// open, and what propagation and learning settle by then differs between the two forms: one may
// answer UNKNOWN where the other already knows, or settle a variable above the bound the other
// leaves open; whenever both know, they agree up to the bound.
TEST_F(cli_test, ladders_answer_as_the_pairwise_clauses_did) {
  generators::random rng(4242);
  int models = 0;
  for (int round = 0; round < 400; ++round) {
    const auto used = static_cast<std::int32_t>(6 + rng.below(9));
    const std::int32_t declared = used + static_cast<std::int32_t>(rng.below(4));
    std::string ladder_text, pairwise_text;
    std::int64_t ladder_lines = 0, pairwise_lines = 0;
    for (std::uint64_t lines = 1 + rng.below(8); lines > 0; --lines) {
      const bool constraint = rng.below(2) == 0;
      entry lits;
      for (std::uint64_t k = constraint ? 6 + rng.below(5) : 1 + rng.below(3); k > 0; --k) {
        const auto v = static_cast<std::int32_t>(1 + rng.below(static_cast<std::uint64_t>(used)));
        lits.push_back(rng.below(4) == 0 ? -v : v);
      }
      std::string line;
      for (const std::int32_t l : lits) line += std::to_string(l) + " ";
      ladder_text += line + (constraint ? "<= 1\n" : "0\n");
      ++ladder_lines;
      if (!constraint) {
        pairwise_text += line + "0\n";
        ++pairwise_lines;
        continue;
      }
      for (std::size_t a = 0; a < lits.size(); ++a) {
        for (std::size_t b = a + 1; b < lits.size(); ++b) {
          pairwise_text += std::to_string(-lits[a]) + " " + std::to_string(-lits[b]) + " 0\n";
          ++pairwise_lines;
        }
      }
    }
    const std::string head = std::to_string(declared) + " ";
    const std::string as_ladders = "p cnf+ " + head + std::to_string(ladder_lines) + "\n" + ladder_text;
    const std::string as_pairs = "p cnf " + head + std::to_string(pairwise_lines) + "\n" + pairwise_text;
    for (const std::int64_t min_vars : {std::int64_t{0}, 1 + static_cast<std::int64_t>(rng.below(declared))}) {
      SCOPED_TRACE(::testing::Message() << "round " << round << ", --min-vars " << min_vars << "\n" << as_ladders);
      const std::vector<std::string> args = {"--min-vars", std::to_string(min_vars)};
      const outcome ladders = run_here(args, as_ladders);
      const outcome pairs = run_here(args, as_pairs);
      ASSERT_EQ(ladders.err, "");
      if (min_vars != 0 && (ladders.status == 0 || pairs.status == 0)) continue;
      ASSERT_EQ(ladders.status, pairs.status);
      if (min_vars != 0) {
        ASSERT_EQ(model_up_to(ladders.out, min_vars), model_up_to(pairs.out, min_vars));
      } else {
        ASSERT_EQ(answer_of(ladders.out), answer_of(pairs.out));
      }
      models += ladders.status == 10 ? 1 : 0;
    }
  }
  EXPECT_GT(models, 100);
}

// The model is checked against a copy of the formula packed a number in one to three bytes here:
// formulas over variables spread across those sizes answer as the same formulas renumbered 1 .. 10,
// whose greatest model an order-preserving renumbering keeps.
TEST_F(cli_test, spread_variable_numbers_answer_as_their_renumbering) {
  generators::random rng(77);
  const std::int32_t spread[] = {1, 2, 3, 70, 71, 200, 9000, 9001, 20000, 20001};
  for (int round = 0; round < 60; ++round) {
    std::string sparse, dense;
    const std::uint64_t lines = 1 + rng.below(12);
    for (std::uint64_t n = lines; n > 0; --n) {
      for (std::uint64_t k = 1 + rng.below(3); k > 0; --k) {
        const auto i = static_cast<std::int32_t>(rng.below(10));
        const std::int32_t sign = rng.below(2) == 0 ? -1 : 1;
        sparse += std::to_string(sign * spread[i]) + " ";
        dense += std::to_string(sign * (i + 1)) + " ";
      }
      sparse += "0\n";
      dense += "0\n";
    }
    SCOPED_TRACE(::testing::Message() << "round " << round << "\n" << dense);
    const outcome spread_out = run_here({}, "p cnf 20001 " + std::to_string(lines) + "\n" + sparse);
    const outcome dense_out = run_here({}, "p cnf 10 " + std::to_string(lines) + "\n" + dense);
    ASSERT_EQ(spread_out.err, "");
    ASSERT_EQ(spread_out.status, dense_out.status);
    const std::set<std::int64_t> spread_model = model_up_to(spread_out.out, 20001);
    const std::set<std::int64_t> dense_model = model_up_to(dense_out.out, 10);
    for (std::int32_t i = 0; i < 10; ++i)
      ASSERT_EQ(spread_model.count(spread[i]), dense_model.count(i + 1)) << spread[i];
  }
}

// The model check lays the packed copy out a piece at a time: for any budget, the pieces give back
// every entry in order (variables of every packed size included), each piece within the budget but
// for its last entry, and the walk stops where the check says stop.
TEST_F(cli_test, the_packed_copy_comes_back_whole_in_pieces) {
  std::mt19937_64 rng(2026);
  for (int round = 0; round < 40; ++round) {
    entries es = random_entries(rng, 30, static_cast<int>(rng() % 200));
    for (entry& e : es)
      for (std::size_t k = is_at_most_one(e) ? 1 : 0; k < e.size(); ++k) e[k] *= std::int32_t{1} << (rng() % 26);
    formulas::formula f = formula_of(es);
    const cli::formula_image image(f);
    formulas::free_all(f);
    for (const std::size_t budget : {std::size_t{1}, std::size_t{40}, std::size_t{1000}, std::size_t{1} << 40}) {
      entries back;
      const bool whole = image.for_each_piece(budget, [&](const formulas::formula& piece) {
        std::size_t bytes = 0;
        for (std::int32_t i = 1; i <= piece.length(); ++i) {
          EXPECT_LT(bytes, budget) << "an entry after the budget was spent";
          bytes += clause_block_size(static_cast<std::size_t>(piece.get(i).length()));
          back.push_back(numbers_of(piece.get(i)));
        }
        return true;
      });
      ASSERT_TRUE(whole);
      ASSERT_EQ(back, es) << "budget " << budget;
      if (es.size() >= 3) {
        int calls = 0;
        EXPECT_FALSE(image.for_each_piece(1, [&](const formulas::formula&) { return ++calls < 2; }));
        EXPECT_EQ(calls, 2);
      }
    }
  }
}

// Declared variables that occur nowhere cost no memory: they are printed true as they are written.
TEST_F(cli_test, memory_follows_the_variables_used_not_those_declared) {
  new_probe::reset();
  const outcome huge = run_here({"-n"}, "p cnf 100000000 1\n-2 3 0\n");
  EXPECT_EQ(huge.status, 10);
  EXPECT_LT(probe::read().bytes + new_probe::read().bytes, std::int64_t{1} << 20)
      << "the reader's buffer and little else";
  // A formula that names a few variables of huge numbers is solved over those alone.
  probe::reset();
  new_probe::reset();
  const outcome far = run_here({"-n"}, "p cnf 2147483646 2\n2147483646 0\n-5 -2147483646 0\n");
  EXPECT_EQ(far.status, 10);
  EXPECT_LT(probe::read().bytes + new_probe::read().bytes, std::int64_t{1} << 20) << "two variables' worth";
  const outcome shown = run_here({}, "p cnf 300000 2\n299999 0\n-5 -299999 0\n");
  const std::set<std::int64_t> m = model_up_to(shown.out, 300000);
  EXPECT_TRUE(m.count(299999) == 1 && m.count(-5) == 1 && m.count(4) == 1 && m.count(300000) == 1);

  // Printed as if the solve had covered every declared variable, --min-vars included: it decides
  // 1 .. N, and the lowest unset variable after N when every one up to N is set.
  for (const auto& [min_vars, last_set] : {std::pair{0, 300}, std::pair{150, 150}, std::pair{2, 3}, std::pair{1, 1}}) {
    SCOPED_TRACE(min_vars);
    const outcome o = run_here({"--min-vars", std::to_string(min_vars)}, "p cnf 300 1\n-2 0\n");
    const model m = answer_model(o.out, "s SATISFIABLE", 300);
    for (std::int32_t v = 1; v <= 300; ++v) {
      ASSERT_EQ(m[variable{v}], v == 2 ? false_ : v <= last_set ? true_ : unset) << v;
    }
  }
}

// Fails each heap request of a whole run in turn, the library's and the standard library's: every
// run that meets a failure says "out of memory" with status 1, and none leaves a block behind.
TEST_F(cli_test, every_failed_allocation_of_a_run_is_reported_and_leaks_nothing) {
  const std::string text = "p cnf+ 14 5\n1 -2 0\n1 3 5 7 9 11 <= 1\n2 3 4 <= 1\n-1 5 6 0\n8 9 <= 1\n";
  struct heap {
    const char* name;
    void (*fail)(std::int64_t);
    bool (*raised)();
    std::int64_t requests;  // at least this many in one run
  };
  const heap heaps[] = {{"library", probe::fail_request, probe::failure_raised, 20},
                        {"operator new", new_probe::fail_request, new_probe::failure_raised, 8}};
  for (const heap& h : heaps) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"--min-vars", "2"}}) {
      const outcome whole = run_here(args, text);
      ASSERT_EQ(whole.status, 10);
      std::int64_t k = 1;
      for (;; ++k) {
        SCOPED_TRACE(::testing::Message() << h.name << " request " << k << (args.empty() ? "" : " with --min-vars"));
        heap_failure failure{h.fail, k};
        const outcome o = run_here(args, text, &failure);
        const bool raised = h.raised();
        ASSERT_EQ(failure.leaked, 0);
        if (!raised) {
          ASSERT_EQ(o.status, whole.status);
          ASSERT_EQ(untimed(o.out), untimed(whole.out));
          break;
        }
        ASSERT_EQ(o.status, 1);
        ASSERT_EQ(o.err, "nubrix: out of memory\n");
      }
      EXPECT_GT(k, h.requests) << h.name;
    }
  }
}

// The mask of the signals whose handler process pid has installed (SigCgt in /proc), 0 when unknown.
std::uint64_t caught_signals(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigCgt:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
  return 0;
}
bool catches(pid_t pid, int signal) { return (caught_signals(pid) >> (signal - 1) & 1U) != 0; }

// Waits, for a generous minute at most, until `done` holds.
bool eventually(auto done) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes{1};
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds{5});
  }
  return true;
}

// Starts the program on `args` with standard output to `out` (standard error discarded).
pid_t start_program(const std::vector<std::string>& args, int out) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out, 1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    std::vector<char*> argv = {const_cast<char*>(NUBRIX_PROGRAM)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(NUBRIX_PROGRAM, argv.data());
    ::_exit(127);
  }
  return pid;
}

// The wait status of pid once it has ended, within a minute (then it is killed and -1 returned).
int finish(pid_t pid) {
  int status = 0;
  if (!eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
  }
  return status;
}

// Stopping a search that would run for minutes: by a conflict limit, a time limit, SIGINT or SIGTERM
// ('c stopped:' with the reason, the statistics, then 's UNKNOWN' with status 0), or at once by a
// second signal; and its progress lines.
TEST_F(cli_test, limits_signals_and_progress) {
  generators::instance g = generators::pigeonhole(11);
  const std::string hard = file("hole11.cnf", text_of(g));
  formulas::free_all(g.f);
  const std::regex stopped_then_statistics("\nc stopped: ([a-z ]+)\nc decisions +[0-9]+\n(c .*\n)*s UNKNOWN\n$");
  std::smatch why;

  const outcome conflicts = run("--conflicts 500 " + hard);
  EXPECT_EQ(conflicts.status, 0);
  EXPECT_TRUE(std::regex_search(conflicts.out, why, stopped_then_statistics)) << conflicts.out;
  EXPECT_EQ(why[1], "conflict limit reached");
  EXPECT_NE(conflicts.out.find("\nc conflicts         500\n"), std::string::npos) << conflicts.out;
  // The statistics block: each line once (numbers aside), the time of the solve once, and the times
  // and the memory after the reason for the stop, at the end.
  std::map<std::string, int> labels;
  for (const std::string& line : lines_of(conflicts.out))
    if (line.rfind("c ", 0) == 0) ++labels[std::regex_replace(line, std::regex(" *[0-9].*"), "")];
  for (const auto& [label, count] : labels) EXPECT_EQ(count, 1) << label;
  EXPECT_EQ(conflicts.out.find("c solved in"), std::string::npos) << conflicts.out;
  EXPECT_TRUE(std::regex_search(conflicts.out, std::regex("\nc stopped: .*\n(c [a-z ]+[0-9].*\n)*"
                                                          "c solve time +[0-9.]+ s\nc cpu time +[0-9.]+ s\n"
                                                          "c peak memory +[0-9]+\\.[0-9] MB\ns UNKNOWN\n$")))
      << conflicts.out;
  EXPECT_EQ(run("-q --conflicts 0 " + hard), (outcome{0, "s UNKNOWN\n", ""}));

  const outcome timed = run("-v --time-limit 1.5 " + hard);
  EXPECT_EQ(timed.status, 0);
  EXPECT_TRUE(std::regex_search(timed.out, why, stopped_then_statistics)) << timed.out;
  EXPECT_EQ(why[1], "time limit reached");
  EXPECT_NE(timed.out.find("\nc  seconds   conflicts   decisions    props/s   learnts  level highest\n"),
            std::string::npos)
      << timed.out;
  EXPECT_TRUE(std::regex_search(timed.out, std::regex("\nc +1\\.[0-9]( +[0-9]+){6}\n"))) << "a progress line";
  const outcome at_once = run("--time-limit 0 " + hard);
  EXPECT_NE(at_once.out.find("\nc decisions         0\n"), std::string::npos) << at_once.out;
  EXPECT_NE(at_once.out.find("\ns UNKNOWN\n"), std::string::npos);

  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    const int out = ::open((dir_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = start_program({"-v", hard}, out);
    ::close(out);
    ASSERT_TRUE(eventually([&] { return catches(pid, signal); })) << "the program is solving";
    ::kill(pid, signal);
    const int status = finish(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string text = slurp(dir_ / "stdout");
    EXPECT_TRUE(std::regex_search(text, why, stopped_then_statistics)) << text;
    EXPECT_EQ(why[1], "interrupted by a signal");
  }

  // A second signal, once the first was taken: standard output is a full pipe, so that the program
  // is still there, blocked on its last lines, when the second arrives.
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  ::fcntl(pipe_ends[1], F_SETFL, O_NONBLOCK);
  const std::string filler(4096, 'x');
  while (::write(pipe_ends[1], filler.data(), filler.size()) > 0) {
  }
  ::fcntl(pipe_ends[1], F_SETFL, 0);
  const pid_t pid = start_program({hard}, pipe_ends[1]);
  ASSERT_TRUE(eventually([&] { return catches(pid, SIGINT); }));
  ::kill(pid, SIGINT);
  ASSERT_TRUE(eventually([&] { return !catches(pid, SIGINT) && !catches(pid, SIGTERM); }))
      << "the first signal was taken, and the solve has seen it";
  ::kill(pid, SIGTERM);
  const int status = finish(pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  ::close(pipe_ends[0]);
  ::close(pipe_ends[1]);
}

// --proof writes a proof of "no model" that drat-trim verifies, as text and in binary; on a "p cnf+"
// file whose long at-most-one lines became ladders, against the plain formula that --write-cnf wrote.
TEST_F(cli_test, proofs_of_unsatisfiability) {
#ifndef NUBRIX_DRAT_TRIM
  GTEST_SKIP() << "drat-trim's source is not beside the project: the proofs were not checked";
#else
  generators::instance g = generators::pigeonhole(6);
  const std::string native = file("ph6.cnf", text_of(g));
  std::ostringstream pairwise;
  dimacs::write(pairwise, g.f, g.variables, {.expand_at_most_one = true});
  formulas::free_all(g.f);
  const std::string plain = file("ph6-pairwise.cnf", pairwise.str());
  for (const std::string binary : {"", "--binary-proof "}) {
    const std::string proof = (dir_ / "ph6.drat").string();
    EXPECT_EQ(run("-q " + binary + "--proof " + proof + " " + native).status, 20);
    const std::string check =
        std::string(NUBRIX_DRAT_TRIM) + " " + plain + " " + proof + " > " + (dir_ / "check.txt").string() + " 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0) << binary;
    EXPECT_NE(slurp(dir_ / "check.txt").find("s VERIFIED"), std::string::npos) << binary;
  }

  const std::string ladders = file("ph6-ladders.cnf", ranges_and_ladders_pigeonhole(7));
  const std::string proof = (dir_ / "ladders.drat").string();
  const std::string written = (dir_ / "ladders-plain.cnf").string();
  const outcome solved = run("--proof " + proof + " --write-cnf " + written + " " + ladders);
  EXPECT_EQ(solved.status, 20);
  EXPECT_NE(solved.out.find(" auxiliary variables)"), std::string::npos) << solved.out;
  EXPECT_EQ(slurp(written).rfind("p cnf ", 0), 0U);
  const std::string check =
      std::string(NUBRIX_DRAT_TRIM) + " " + written + " " + proof + " > " + (dir_ / "check.txt").string() + " 2>&1";
  EXPECT_EQ(std::system(check.c_str()), 0);
  EXPECT_NE(slurp(dir_ / "check.txt").find("s VERIFIED"), std::string::npos) << slurp(dir_ / "check.txt");
#endif
}

// A sample of the real benchmark files, when present: the answer of expected.txt for each.
TEST_F(cli_test, benchmark_sample_matches_the_known_answers) {
  const fs::path root = NUBRIX_BENCHMARK_DATA;
  if (!fs::exists(root / "expected.txt")) GTEST_SKIP() << root << " is not here";
  const std::vector<std::string> sample = {"uf20/uf20-01.cnf",
                                           "uf50/uf50-01.cnf",
                                           "uuf50/uuf50-01.cnf",
                                           "uf75/uf75-01.cnf",
                                           "uuf75/uuf75-011.cnf",
                                           "aim/aim-50-1_6-no-1.cnf",
                                           "aim/aim-50-1_6-yes1-1.cnf",
                                           "dubois/dubois20.cnf",
                                           "pret/pret60_25.cnf",
                                           "hole/hole6.cnf",
                                           "flat/flat30/flat30-1.cnf",
                                           "jnh/jnh1.cnf",
                                           "jnh/jnh2.cnf",
                                           "ais/ais6.cnf",
                                           "ii/ii8a1.cnf"};
  std::map<std::string, std::string> expected;
  std::istringstream table(slurp(root / "expected.txt"));
  for (std::string line; std::getline(table, line);) {
    std::istringstream words(line);
    std::string path, status;
    if (words >> path >> status) expected[path] = status;
  }
  for (const std::string& name : sample) {
    SCOPED_TRACE(name);
    if (!expected.contains(name)) {
      ADD_FAILURE() << "not in expected.txt";
      continue;
    }
    EXPECT_EQ(run("-n " + (root / name).string()).status, expected[name] == "SAT" ? 10 : 20);
  }
}

}  // namespace
}  // namespace nubrix::testing
