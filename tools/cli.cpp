// nubrix: solves a DIMACS problem (plain or gzip, "p cnf" or "p cnf+") and answers as SAT tools do:
// "s SATISFIABLE" with "v" lines and exit status 10, "s UNSATISFIABLE" and 20, 1 for an error. A
// model is checked against a copy of the formula taken before the solve before it is printed. A
// time limit, a conflict limit, SIGINT or SIGTERM stop the solve with "c stopped: <reason>", then the
// statistics, then "s UNKNOWN" and status 0. The statistics end with the solve's time, the process's
// CPU time and its peak memory, as MiniSat's do. An option's value follows it as the next word or,
// for a long option, after '=' (--conflicts 100, --conflicts=100).
//
// --write-cnf FILE writes the formula as read as plain "p cnf", at-most-one ranges as their pairwise
// clauses and long at-most-one lines as the ladder clauses they were read as, before the solve takes
// the formula over: the formula that a proof of --proof names, and that drat-trim checks it against.
//
// The solve covers the variables that occur (and the reader's auxiliary ones), not every declared
// one: a declared variable above them occurs in no clause, so in the preferred model it is true, and
// it is printed so without a byte of memory of its own. A formula that names few of the variables
// below its highest one is solved over those it names, renumbered in order (compact()).
#include "cli.hpp"
#include "formula_image.hpp"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <ios>
#include <iostream>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nubrix/control.hpp>
#include <nubrix/dimacs.hpp>
#include <nubrix/helpers.hpp>
#include <nubrix/proof.hpp>

namespace nubrix::cli {
namespace {

constexpr const char* usage = R"(usage: nubrix [options] [FILE]

Solves the DIMACS problem in FILE (standard input when FILE is absent or '-'). FILE may be
gzip-compressed and may use the 'p cnf+' extension with 'l1 l2 ... lk <= 1' at-most-one lines.

output: 's SATISFIABLE' with 'v' lines (exit status 10), 's UNSATISFIABLE' (20), 's UNKNOWN' (0)
when a limit is reached or SIGINT or SIGTERM stops the solve (a second signal ends the program at
once; 'c stopped:' says why), or an error on standard error naming the file and line (1). Comment
lines 'c' say what was read and what the solve did, then its time, the CPU time and peak memory.

options (a value is the next word or follows '=': --conflicts 100 or --conflicts=100):
  -t, --time-limit S  stop after S seconds from the start (a decimal number: 10, 2.5, 1e3)
  --conflicts N       stop after N conflicts
  --min-vars N        decide variables 1 .. N only (0: all); 's UNKNOWN' if the rest leaves a
                      clause open
  --any-model         any model, the first found by a search by activity (fastest)
  --in-order          the preferred model by in-order decisions alone (the default finds it faster)
  --proof FILE        write a DRAT proof of 's UNSATISFIABLE' to FILE (check it against the
                      formula that --write-cnf writes)
  --binary-proof      write the proof of --proof in binary DRAT
  --write-cnf FILE    write the formula as read to FILE as plain 'p cnf' (at-most-one lines as
                      the clauses they were read as), then solve it
  -v, --verbose       a progress line about every second while solving
  -q, --quiet         print the 's' line only
  -n, --no-model      print no 'v' lines
  -h, --help          show this text
  --version           show the version
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

  // Bounds, progress and proof of the solve.
  double time_limit = -1;                                 // seconds from the start; negative: none
  std::int64_t conflict_limit = solve_options::no_limit;  // conflicts before the solve stops
  bool verbose = false;                                   // progress lines while solving
  std::string proof;                                      // where the proof goes; empty: no proof
  bool binary_proof = false;                              // the proof in binary DRAT
  std::string write_cnf;                                  // where the plain formula goes; empty: nowhere
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double seconds_of(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The value of option `name`: the text after its '=' when it was given as --name=value, else the
// word after it at argv[i + 1], which moves i past it.
std::string option_value(int argc, char** argv, int& i, std::string_view name,
                         const std::optional<std::string>& attached) {
  if (attached) return *attached;
  if (i + 1 >= argc) throw usage_error(std::string(name) + " needs a value");
  return argv[++i];
}

std::string file_name(const std::string& text, std::string_view name) {
  if (text.empty()) throw usage_error(std::string(name) + " needs a file name");
  return text;
}

// A number of seconds >= 0 in decimal: digits with an optional fraction and exponent (10, 2.5, 2.,
// .5, 1e3), finite as a double. No sign, hexadecimal, "inf" or "nan", which strtod would take.
double seconds_of_text(const std::string& text) {
  double seconds = 0;
  const char* const end = text.data() + text.size();
  const bool decimal = !text.empty() && (text.front() == '.' || (text.front() >= '0' && text.front() <= '9'));
  const auto [stop, ec] = decimal ? std::from_chars(text.data(), end, seconds, std::chars_format::general)
                                  : std::from_chars_result{text.data(), std::errc::invalid_argument};
  if (ec != std::errc{} || stop != end || !std::isfinite(seconds)) {
    throw usage_error("--time-limit needs a decimal number of seconds >= 0, not '" + text + "'");
  }
  return seconds;
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

// Catches both signals for the time of the solve, and gives them back their default action after
// it, so that a run in-process leaves no handler behind (a process forked later would inherit it).
struct caught_signals {
  caught_signals() noexcept {
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = note_signal;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  }
  ~caught_signals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
  }
  caught_signals(const caught_signals&) = delete;
  caught_signals& operator=(const caught_signals&) = delete;
};

// The progress lines of -v: a header naming the columns, then one line per report of the library.
struct progress_lines {
  std::FILE* out;
  std::int64_t propagations = 0;               // at the previous report
  std::chrono::steady_clock::duration time{};  // of the previous report
};

void print_progress_header(std::FILE* out) {
  std::fprintf(out, "c %8s %11s %11s %10s %9s %6s %7s\n", "seconds", "conflicts", "decisions", "props/s", "learnts",
               "level", "highest");
  std::fflush(out);
}

void print_progress(void* data, const solve_statistics& now) {
  auto& last = *static_cast<progress_lines*>(data);
  const double interval = seconds_of(now.time - last.time);
  const double rate = interval > 0 ? static_cast<double>(now.propagations - last.propagations) / interval : 0.0;
  std::fprintf(last.out, "c %8.1f %11lld %11lld %10.0f %9lld %6d %7d\n", seconds_of(now.time),
               static_cast<long long>(now.conflicts), static_cast<long long>(now.decisions), rate,
               static_cast<long long>(now.learnts_held), now.level, now.highest_level);
  std::fflush(last.out);
  last.propagations = now.propagations;
  last.time = now.time;
}

// The closing statistics, as 'c' lines.
void print_statistics(std::FILE* out, const solve_statistics& s) {
  const auto n = [](std::int64_t x) { return static_cast<long long>(x); };
  const double seconds = seconds_of(s.time);
  std::fprintf(out, "c decisions         %lld\n", n(s.decisions));
  std::fprintf(out, "c propagations      %lld (%.0f per second)\n", n(s.propagations),
               seconds > 0 ? static_cast<double>(s.propagations) / seconds : 0.0);
  std::fprintf(out, "c conflicts         %lld\n", n(s.conflicts));
  std::fprintf(out, "c learnt clauses    %lld, %lld literals (%lld before minimisation)\n", n(s.learnt_clauses),
               n(s.learnt_literals), n(s.learnt_literals_before));
  std::fprintf(out, "c released clauses  %lld in %lld reductions\n", n(s.released_clauses), n(s.reductions));
  std::fprintf(out, "c excursions        %lld: %lld witnesses, %lld refutations, %lld restarts\n", n(s.excursions),
               n(s.witnesses), n(s.refutations), n(s.restarts));
  std::fprintf(out, "c highest level     %d\n", s.highest_level);
  // Then the times and the memory: the solve's (wall-clock), and the whole process's.
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto of = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  std::fprintf(out, "c solve time        %.3f s\n", seconds);
  std::fprintf(out, "c cpu time          %.3f s\n", of(usage.ru_utime) + of(usage.ru_stime));
  std::fprintf(out, "c peak memory       %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024);  // from kB
}

// The proof file, written through the solver's proof sink and closed however the run ends.
struct proof_file {
  std::FILE* file = nullptr;
  ~proof_file() {
    if (file != nullptr) std::fclose(file);
  }
  static void write(void* self, const char* bytes, std::size_t size) {
    if (std::fwrite(bytes, 1, size, static_cast<proof_file*>(self)->file) != size)
      throw std::runtime_error("cannot write the proof");
  }
};

settings parse_arguments(int argc, char** argv, std::FILE* out, bool& done) {
  settings s;
  bool file_given = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    // A long option may carry its value after '=': --conflicts=100.
    std::optional<std::string> attached;
    if (arg.size() > 2 && arg.substr(0, 2) == "--") {
      if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
        attached = std::string(arg.substr(eq + 1));
        arg = arg.substr(0, eq);
      }
    }
    const auto value = [&] { return option_value(argc, argv, i, arg, attached); };
    const auto is_flag = [&](std::string_view long_name, std::string_view short_name = {}) {
      if (arg != long_name && (short_name.empty() || arg != short_name)) return false;
      if (attached) throw usage_error("option '" + std::string(arg) + "' takes no value");
      return true;
    };
    if (is_flag("--help", "-h")) {
      std::fputs(usage, out);
      done = true;
      return s;
    }
    if (is_flag("--version")) {
      std::fprintf(out, "nubrix %s\n", NUBRIX_VERSION);
      done = true;
      return s;
    }
    if (is_flag("--quiet", "-q")) {
      s.quiet = true;
    } else if (is_flag("--verbose", "-v")) {
      s.verbose = true;
    } else if (arg == "--conflicts") {
      s.conflict_limit = whole_number(value(), arg);
    } else if (arg == "--time-limit" || arg == "-t") {
      s.time_limit = seconds_of_text(value());
    } else if (arg == "--proof") {
      s.proof = file_name(value(), arg);
    } else if (is_flag("--binary-proof")) {
      s.binary_proof = true;
    } else if (arg == "--write-cnf") {
      s.write_cnf = file_name(value(), arg);
    } else if (is_flag("--any-model")) {
      s.policy = search_policy::any_model;
    } else if (is_flag("--in-order")) {
      s.policy = search_policy::in_order;
    } else if (is_flag("--no-model", "-n")) {
      s.show_model = false;
    } else if (arg == "--min-vars") {
      s.min_vars = whole_number(value(), arg);
    } else if (arg.size() > 1 && arg.front() == '-') {
      throw usage_error("unknown option '" + std::string(argv[i]) + "'");
    } else if (file_given) {
      throw usage_error("more than one file given");
    } else {
      s.file = arg;
      file_given = true;
    }
  }
  if (s.binary_proof && s.proof.empty()) throw usage_error("--binary-proof needs --proof FILE");
  return s;
}

// Writes f to `path` as plain "p cnf" over `variables`, ranges as their pairwise clauses.
void write_plain_cnf(const std::string& path, const formulas::formula& f, std::int32_t variables) {
  errno = 0;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error(path + ": cannot open: " + std::strerror(errno != 0 ? errno : EIO));
  bool written = false;
  try {
    dimacs::write(file, f, variables, {.expand_at_most_one = true});
    file.close();
    written = !file.fail();
  } catch (const std::ios_base::failure&) {
  }
  if (!written) throw std::runtime_error(path + ": cannot write");
}

// Writes the 'v' lines: literals, at most line_width characters a line, closed by 0. One line is
// held at a time, whatever the number of literals.
class model_writer {
 public:
  explicit model_writer(std::FILE* out) noexcept : out_(out) {}

  void put(std::int64_t literal_number) noexcept {
    char token[24];
    const auto [end, ec] = std::to_chars(token, token + sizeof token, literal_number);
    const auto length = static_cast<std::size_t>(end - token);
    if (used_ > 0 && used_ + 1 + length > line_width) end_line();
    if (used_ == 0) line_[used_++] = 'v';
    line_[used_++] = ' ';
    std::memcpy(line_ + used_, token, length);
    used_ += length;
  }
  // Puts the closing 0 and ends the last line.
  void close() noexcept {
    put(0);
    end_line();
  }

 private:
  void end_line() noexcept {
    line_[used_++] = '\n';
    std::fwrite(line_, 1, used_, out_);
    used_ = 0;
  }

  std::FILE* out_;
  char line_[line_width + 1];  // the line being filled, room for its newline
  std::size_t used_ = 0;       // characters of line_ in use
};

// A formula that names few of the variables up to its highest one is solved over those it names
// alone, renumbered 1 .. k in the same order, so that the solver's tables (a few dozen bytes a
// variable) follow what occurs rather than the highest number: "p cnf 2147483646 1" with the clause
// "2147483646 0" is one variable. The order is kept, so the greatest model, and the search, are those
// of the formula as written; each variable it does not name is free. Returns the variables named, in
// order (the variable renumbered k is entry k - 1), or nothing when the formula is left as it is:
// when it names at least one variable in two up to its highest (plus a thousand), or holds ranges,
// which name every variable between their ends.
std::vector<std::int32_t> compact(formulas::formula& f, std::int64_t highest) {
  std::int64_t literals = 0;
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
    if (is_at_most_one(f.get(i))) return {};
    literals += f.get(i).length();
  }
  if (highest <= 2 * literals + 1024) return {};
  std::vector<std::int32_t> named;
  named.reserve(static_cast<std::size_t>(literals));
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i))
    for (const literal l : f.get(i)) named.push_back(to_int(get_var(l)));
  std::sort(named.begin(), named.end());
  named.erase(std::unique(named.begin(), named.end()), named.end());
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
    for (literal& l : f.get(i)) {
      const auto at = std::lower_bound(named.begin(), named.end(), to_int(get_var(l)));
      const auto v = static_cast<std::int32_t>(at - named.begin()) + 1;
      l = to_int(l) > 0 ? literal{v} : literal{-v};
    }
  }
  return named;
}

// The clauses of the problem, released however the run ends: the solver takes them over (and resets
// the formula) once it starts.
struct owned_formula {
  formulas::formula& read;
  ~owned_formula() { formulas::free_all(read); }
};

int solve(const settings& s, std::istream& in, std::FILE* out, std::FILE* err) {
  const auto start = std::chrono::steady_clock::now();
  const bool from_stdin = s.file.empty() || s.file == "-";
  const std::string name = from_stdin ? "<stdin>" : s.file;
  struct stat status {};
  if (!from_stdin && ::stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
    throw std::runtime_error(name + ": is a directory");
  dimacs::problem p = from_stdin ? dimacs::read(in, name) : dimacs::read_file(name);
  owned_formula owned{p.f};
  for (const std::string& warning : p.warnings) std::fprintf(err, "nubrix: warning: %s\n", warning.c_str());

  // The solve's variables: those of the formula and, while a declared one is above them, the next
  // one, which decides as the declared variables above would when --min-vars stops short of them.
  const std::int32_t used = p.used_variables;
  const std::int64_t from_model = std::min<std::int64_t>(p.variables, std::int64_t{used} + 1);  // the rest is auxiliary
  std::int64_t solved = std::max<std::int64_t>(p.formula_variables(), from_model);
  if (solved >= std::numeric_limits<std::int32_t>::max()) {
    throw std::runtime_error(name + ": variable 2147483647 occurs; the solver takes at most 2147483646");
  }

  std::int32_t ranges = 0;
  for (std::int32_t i = 1; i <= p.f.length(); ++i) ranges += is_at_most_one(p.f.get(i)) ? 1 : 0;
  if (!s.quiet) {
    std::fprintf(out, "c nubrix %s\n", NUBRIX_VERSION);
    std::string auxiliary;
    if (p.auxiliary_variables > 0) auxiliary = ", " + std::to_string(p.auxiliary_variables) + " auxiliary variables";
    std::fprintf(out, "c read %s: %d variables, %d clauses declared, %d entries (%d at-most-one ranges%s) in %.3f s\n",
                 name.c_str(), p.variables, p.declared_clauses, p.f.length(), ranges, auxiliary.c_str(),
                 seconds_since(start));
  }
  // The formula as read, before compact() renumbers it and the solve takes it over: the ladders'
  // auxiliary variables included, which a proof names.
  if (!s.write_cnf.empty()) write_plain_cnf(s.write_cnf, p.f, std::max(p.variables, p.formula_variables()));

  // --min-vars N decides 1 .. N. From N > used on, that is every variable of the solve, and the
  // declared ones above up to N, which are true.
  const bool all = s.min_vars == 0 || s.min_vars >= p.variables || s.min_vars > used;
  // A sparse formula is solved over the variables it names (not under --min-vars, with auxiliary
  // variables or with a proof, whose lines name the solver's variables).
  const std::vector<std::int32_t> named =
      all && p.auxiliary_variables == 0 && s.proof.empty() ? compact(p.f, solved) : std::vector<std::int32_t>{};
  if (!named.empty()) solved = static_cast<std::int64_t>(named.size());
  const formula_image image(p.f);

  const std::int64_t bound = all ? 0 : s.min_vars;
  const std::int64_t last_printed = s.min_vars == 0 ? p.variables : std::min<std::int64_t>(s.min_vars, p.variables);
  model m(1, static_cast<std::int32_t>(solved));
  solve_statistics statistics;
  progress_lines progress{out};
  solve_options options;
  options.policy = s.policy;
  options.conflict_limit = s.conflict_limit;
  if (s.time_limit >= 0 && s.time_limit < 1e9)  // beyond 30 years: no limit
    options.deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(s.time_limit));
  options.terminate = stop_when_interrupted;
  options.statistics = &statistics;
  if (s.verbose && !s.quiet) {
    print_progress_header(out);
    options.progress = print_progress;
    options.progress_data = &progress;
  }
  proof_file proof;
  const proof_sink sink{proof_file::write, &proof, s.binary_proof};
  if (!s.proof.empty()) {
    proof.file = std::fopen(s.proof.c_str(), s.binary_proof ? "wb" : "w");
    if (proof.file == nullptr) throw std::runtime_error(s.proof + ": cannot open: " + std::strerror(errno));
    options.proof = &sink;
  }
  const solve_result result = [&] {
    const caught_signals during_the_solve;
    return helpers::dpll_solve_bounded(p.f, m, variable{static_cast<std::int32_t>(bound)}, options);
  }();
  if (proof.file != nullptr && std::fflush(proof.file) != 0) throw std::runtime_error("cannot write the proof");
  if (!s.quiet) {
    if (result == solve_result::unknown)
      std::fprintf(out, "c stopped: %s\n",
                   interrupted != 0                           ? "interrupted by a signal"
                   : statistics.conflicts >= s.conflict_limit ? "conflict limit reached"
                                                              : "time limit reached");
    print_statistics(out, statistics);
  }
  if (result == solve_result::unknown) {
    std::fputs("s UNKNOWN\n", out);
    return 0;
  }
  const bool found = result == solve_result::sat;

  if (!found) {
    std::fputs("s UNSATISFIABLE\n", out);
    return 20;
  }
  // The auxiliary variables are settled in one pass over the whole formula; the check needs no more
  // than a piece at a time, the first entry not satisfied deciding as in one pass.
  formulas::sat_result verdict = formulas::sat_result::sat;
  const auto check = [&](const formulas::formula& piece) {
    if (!all) dimacs::settle_auxiliary(piece, p, m);
    verdict = formulas::satisfies(piece, m);
    return verdict == formulas::sat_result::sat;
  };
  image.for_each_piece(all ? formula_image::piece_budget : std::numeric_limits<std::size_t>::max(), check);
  if (verdict == formulas::sat_result::unknown && !all) {
    if (!s.quiet)
      std::fprintf(out, "c variables above %lld were left open and do not settle every clause\n",
                   static_cast<long long>(bound));
    std::fputs("s UNKNOWN\n", out);
    return 0;
  }
  if (verdict != formulas::sat_result::sat) {
    std::fflush(out);
    std::fprintf(err, "nubrix: error: the model found for %s does not satisfy it (%s); no answer given\n", name.c_str(),
                 formulas::sat_result_names[static_cast<std::size_t>(verdict)].data());
    return 1;
  }
  std::fputs("s SATISFIABLE\n", out);
  if (s.show_model && !s.quiet) {
    model_writer v(out);
    if (named.empty()) {
      for (std::int64_t i = 1; i <= from_model; ++i) {
        const variable_value x = m[variable{static_cast<std::int32_t>(i)}];
        if (x != variable_value::unset) v.put(x == variable_value::true_ ? i : -i);
      }
    } else {
      // The variables the formula does not name take the value the search gives a free variable:
      // true in the greatest model, the saved phase's false for a search by activity.
      const bool free_value = s.policy != search_policy::any_model;
      std::size_t k = 0;  // named[k] is the next variable the formula names
      for (std::int64_t i = 1; i <= from_model; ++i) {
        bool is_true = free_value;
        if (k < named.size() && named[k] == i)
          is_true = m[variable{static_cast<std::int32_t>(++k)}] == variable_value::true_;
        v.put(is_true ? i : -i);
      }
    }
    if (all) {
      for (std::int64_t i = from_model + 1; i <= last_printed; ++i) v.put(i);
    }
    v.close();
  }
  return 10;
}

int run_checked(int argc, char** argv, std::istream& in, std::FILE* out, std::FILE* err) {
  bool done = false;
  const settings s = parse_arguments(argc, argv, out, done);
  const int status = done ? 0 : solve(s, in, out, err);
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fputs("nubrix: cannot write the output\n", err);
    return 1;
  }
  return status;
}

}  // namespace

int run(int argc, char** argv, std::istream& in, std::FILE* out, std::FILE* err) noexcept {
  try {
    return run_checked(argc, argv, in, out, err);
  } catch (const usage_error& e) {
    std::fprintf(err, "nubrix: %s (try 'nubrix --help')\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fputs("nubrix: out of memory\n", err);
  } catch (const std::exception& e) {
    std::fprintf(err, "nubrix: %s\n", e.what());
  }
  return 1;
}

}  // namespace nubrix::cli
