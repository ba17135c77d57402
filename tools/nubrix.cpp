// nubrix: solves a DIMACS problem (plain or gzip, "p cnf" or "p cnf+") and answers as SAT tools do:
// "s SATISFIABLE" with "v" lines and exit status 10, "s UNSATISFIABLE" and 20, 1 for an error. A
// model is checked against a copy of the formula taken before the solve before it is printed. A
// time limit, a conflict limit, SIGINT or SIGTERM stop the solve with "s UNKNOWN" and status 0.
#include <signal.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nubrix/builders.hpp>
#include <nubrix/dimacs.hpp>
#include <nubrix/helpers.hpp>

namespace {

using namespace nubrix;

constexpr const char* usage = R"(usage: nubrix [options] [FILE]

Solves the DIMACS problem in FILE (standard input when FILE is absent or '-'). FILE may be
gzip-compressed and may use the 'p cnf+' extension with 'l1 l2 ... lk <= 1' at-most-one lines.

output: 's SATISFIABLE' with 'v' lines (exit status 10), 's UNSATISFIABLE' (20), 's UNKNOWN' (0)
when a limit is reached or SIGINT or SIGTERM stops the solve (a second signal ends the program at
once), or an error on standard error naming the file and line (1). Comment lines 'c' say what was
read, how long it took and what the solve did.

options:
  --time-limit S  stop after S seconds from the start (a decimal number)
  --conflicts N   stop after N conflicts
  --min-vars N    decide variables 1 .. N only (0: all); 's UNKNOWN' if the rest leaves a clause open
  --any-model     any model, the first found by a search by activity (fastest)
  --in-order      the preferred model by in-order decisions alone (the default finds it faster)
  -v              a progress line about every second while solving
  -q              print the 's' line only
  -n, --no-model  print no 'v' lines
  -h, --help      show this text
  --version       show the version
)";

constexpr std::size_t line_width = 80;  // at most this many characters per 'v' line

struct usage_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct settings {
  std::int64_t min_vars = 0;                        // 0: decide every variable
  bool quiet = false;                               // the 's' line only
  bool show_model = true;                           // 'v' lines after 's SATISFIABLE'
  search_policy policy = search_policy::preferred;  // how the model is looked for
  std::string file;                                 // empty or "-": standard input

  // Bounds and progress of the solve.
  double time_limit = -1;                                 // seconds from the start; negative: none
  std::int64_t conflict_limit = solve_options::no_limit;  // conflicts before the solve stops
  bool verbose = false;                                   // progress lines while solving
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double seconds_of(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The number after option `name` at argv[i + 1], which moves i past it.
std::string option_value(int argc, char** argv, int& i, std::string_view name) {
  if (i + 1 >= argc) throw usage_error(std::string(name) + " needs a number");
  return argv[++i];
}

std::int64_t whole_number(const std::string& text, std::string_view name) {
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || n < 0) {
    throw usage_error(std::string(name) + " needs a number >= 0, not '" + text + "'");
  }
  return n;
}

// SIGINT and SIGTERM: the first sets the flag, which the solve's terminate callback reads. The
// system resets the handler of that signal as it runs it, and the callback resets the other's, so
// that a second signal of either kind ends the program at once.
volatile std::sig_atomic_t interrupted = 0;

extern "C" void note_signal(int) { interrupted = 1; }

bool stop_when_interrupted(void*) {
  if (interrupted == 0) return false;
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return true;
}

void catch_signals() {
  struct sigaction action {};
  action.sa_handler = note_signal;
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// The progress lines of -v: a header naming the columns, then one line per report of the library.
struct progress_lines {
  std::int64_t propagations = 0;               // at the previous report
  std::chrono::steady_clock::duration time{};  // of the previous report
};

void print_progress_header() {
  std::printf("c %8s %11s %11s %10s %9s %6s %7s\n", "seconds", "conflicts", "decisions", "props/s", "learnts", "level",
              "highest");
  std::fflush(stdout);
}

void print_progress(void* data, const solve_statistics& now) {
  auto& last = *static_cast<progress_lines*>(data);
  const double interval = seconds_of(now.time - last.time);
  const double rate = interval > 0 ? static_cast<double>(now.propagations - last.propagations) / interval : 0.0;
  std::printf("c %8.1f %11lld %11lld %10.0f %9lld %6d %7d\n", seconds_of(now.time),
              static_cast<long long>(now.conflicts), static_cast<long long>(now.decisions), rate,
              static_cast<long long>(now.learnts_held), now.level, now.highest_level);
  std::fflush(stdout);
  last = {now.propagations, now.time};
}

// The closing statistics, as 'c' lines.
void print_statistics(const solve_statistics& s) {
  const auto n = [](std::int64_t x) { return static_cast<long long>(x); };
  const double seconds = seconds_of(s.time);
  std::printf("c decisions         %lld\n", n(s.decisions));
  std::printf("c propagations      %lld (%.0f per second)\n", n(s.propagations),
              seconds > 0 ? static_cast<double>(s.propagations) / seconds : 0.0);
  std::printf("c conflicts         %lld\n", n(s.conflicts));
  std::printf("c learnt clauses    %lld, %lld literals (%lld before minimisation)\n", n(s.learnt_clauses),
              n(s.learnt_literals), n(s.learnt_literals_before));
  std::printf("c released clauses  %lld in %lld reductions\n", n(s.released_clauses), n(s.reductions));
  std::printf("c excursions        %lld: %lld witnesses, %lld refutations, %lld restarts\n", n(s.excursions),
              n(s.witnesses), n(s.refutations), n(s.restarts));
  std::printf("c highest level     %d\n", s.highest_level);
  std::printf("c solve time        %.3f s\n", seconds);
}

settings parse_arguments(int argc, char** argv, bool& done) {
  settings s;
  bool file_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      done = true;
      return s;
    }
    if (arg == "--version") {
      std::printf("nubrix %s\n", NUBRIX_VERSION);
      done = true;
      return s;
    }
    if (arg == "-q") {
      s.quiet = true;
    } else if (arg == "-v") {
      s.verbose = true;
    } else if (arg == "--conflicts") {
      s.conflict_limit = whole_number(option_value(argc, argv, i, arg), arg);
    } else if (arg == "--time-limit") {
      const std::string text = option_value(argc, argv, i, arg);
      char* end = nullptr;
      const double seconds = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds < 0) {
        throw usage_error("--time-limit needs a number of seconds >= 0, not '" + text + "'");
      }
      s.time_limit = seconds;
    } else if (arg == "--any-model") {
      s.policy = search_policy::any_model;
    } else if (arg == "--in-order") {
      s.policy = search_policy::in_order;
    } else if (arg == "-n" || arg == "--no-model") {
      s.show_model = false;
    } else if (arg == "--min-vars") {
      s.min_vars = whole_number(option_value(argc, argv, i, arg), arg);
    } else if (arg.size() > 1 && arg.front() == '-') {
      throw usage_error("unknown option '" + std::string(arg) + "'");
    } else if (file_given) {
      throw usage_error("more than one file given");
    } else {
      s.file = arg;
      file_given = true;
    }
  }
  return s;
}

// The 'v' lines of m: the set variables as literals, at most line_width characters a line, closed
// by 0. Unset variables (left open by --min-vars) are not listed.
std::string model_lines(const model& m) {
  std::string out;
  std::size_t line_start = 0;
  const auto put = [&](std::int64_t literal_number) {
    char token[24];
    const auto [end, ec] = std::to_chars(token, token + sizeof token, literal_number);
    const auto length = static_cast<std::size_t>(end - token);
    if (out.size() == line_start || out.size() - line_start + 1 + length > line_width) {
      if (out.size() != line_start) out += '\n';
      line_start = out.size();
      out += 'v';
    }
    out += ' ';
    out.append(token, length);
  };
  for (std::int64_t i = m.first(); i <= m.last(); ++i) {
    const variable_value x = m[variable{static_cast<std::int32_t>(i)}];
    if (x != variable_value::unset) put(x == variable_value::true_ ? i : -i);
  }
  put(0);
  out += '\n';
  return out;
}

int solve(const settings& s) {
  const auto start = std::chrono::steady_clock::now();
  const bool from_stdin = s.file.empty() || s.file == "-";
  const std::string name = from_stdin ? "<stdin>" : s.file;
  dimacs::problem p = from_stdin ? dimacs::read(std::cin, name) : dimacs::read_file(name);
  for (const std::string& warning : p.warnings) std::fprintf(stderr, "nubrix: warning: %s\n", warning.c_str());

  formulas::formula original = formulas::clause_vectors::empty_vector;  // for checking the model
  try {
    if (p.variables == std::numeric_limits<std::int32_t>::max()) {
      throw std::runtime_error(name + ": 2147483647 variables declared; the solver takes at most 2147483646");
    }
    original = builders::formula_builder{p.f}.copy().build();
  } catch (...) {
    formulas::free_all(p.f);
    throw;
  }

  std::int32_t ranges = 0;
  for (std::int32_t i = 1; i <= p.f.length(); ++i) ranges += is_at_most_one(p.f.get(i)) ? 1 : 0;
  if (!s.quiet) {
    std::printf("c nubrix %s\n", NUBRIX_VERSION);
    std::printf("c read %s: %d variables, %d clauses declared, %d entries (%d at-most-one ranges) in %.3f s\n",
                name.c_str(), p.variables, p.declared_clauses, p.f.length(), ranges, seconds_since(start));
  }

  const std::int64_t bound = s.min_vars >= p.variables ? 0 : s.min_vars;
  model m(1, p.variables);
  const auto solve_start = std::chrono::steady_clock::now();
  solve_statistics statistics;
  progress_lines progress;
  solve_options options;
  options.policy = s.policy;
  options.conflict_limit = s.conflict_limit;
  if (s.time_limit >= 0 && s.time_limit < 1e9)  // beyond 30 years: no limit
    options.deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(s.time_limit));
  options.terminate = stop_when_interrupted;
  options.statistics = &statistics;
  if (s.verbose && !s.quiet) {
    print_progress_header();
    options.progress = print_progress;
    options.progress_data = &progress;
  }
  catch_signals();
  solve_result result = solve_result::unsat;
  try {
    result = helpers::dpll_solve_bounded(p.f, m, variable{static_cast<std::int32_t>(bound)}, options);
  } catch (...) {
    formulas::free_all(p.f);  // the solver resets it once taken over; untouched if it could not start
    formulas::free_all(original);
    throw;
  }
  if (!s.quiet) {
    std::printf("c solved in %.3f s\n", seconds_since(solve_start));
    print_statistics(statistics);
  }
  if (result == solve_result::unknown) {
    formulas::free_all(original);
    if (!s.quiet)
      std::printf("c stopped: %s\n", interrupted != 0                           ? "interrupted by a signal"
                                     : statistics.conflicts >= s.conflict_limit ? "conflict limit reached"
                                                                                : "time limit reached");
    std::puts("s UNKNOWN");
    return 0;
  }
  const bool found = result == solve_result::sat;

  if (!found) {
    formulas::free_all(original);
    std::puts("s UNSATISFIABLE");
    return 20;
  }
  const formulas::sat_result verdict = formulas::satisfies(original, m);
  formulas::free_all(original);
  if (verdict == formulas::sat_result::unknown && bound != 0) {
    if (!s.quiet)
      std::printf("c variables above %lld were left open and do not settle every clause\n",
                  static_cast<long long>(bound));
    std::puts("s UNKNOWN");
    return 0;
  }
  if (verdict != formulas::sat_result::sat) {
    std::fflush(stdout);
    std::fprintf(stderr, "nubrix: error: the model found for %s does not satisfy it (%s); no answer given\n",
                 name.c_str(), formulas::sat_result_names[static_cast<std::size_t>(verdict)].data());
    return 1;
  }
  std::puts("s SATISFIABLE");
  if (s.show_model && !s.quiet) std::fputs(model_lines(m).c_str(), stdout);
  return 10;
}

int run(int argc, char** argv) {
  bool done = false;
  std::ios::sync_with_stdio(false);  // std::cin is read in large blocks; output goes through stdio
  const settings s = parse_arguments(argc, argv, done);
  const int status = done ? 0 : solve(s);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("nubrix: cannot write the output\n", stderr);
    return 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const usage_error& e) {
    std::fprintf(stderr, "nubrix: %s (try 'nubrix --help')\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fputs("nubrix: out of memory\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "nubrix: %s\n", e.what());
  }
  return 1;
}
