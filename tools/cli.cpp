// nubrix: solves a DIMACS problem (plain or gzip, "p cnf" or "p cnf+") and answers as SAT tools do:
// "s SATISFIABLE" with "v" lines and exit status 10, "s UNSATISFIABLE" and 20, 1 for an error. A
// model is checked against a copy of the formula taken before the solve before it is printed.
//
// The solve covers the variables that occur (and the reader's auxiliary ones), not every declared
// one: a declared variable above them occurs in no clause, so in the preferred model it is true, and
// it is printed so without a byte of memory of its own.
#include "cli.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace nubrix::cli {
namespace {

constexpr const char* usage = R"(usage: nubrix [options] [FILE]

Solves the DIMACS problem in FILE (standard input when FILE is absent or '-'). FILE may be
gzip-compressed and may use the 'p cnf+' extension with 'l1 l2 ... lk <= 1' at-most-one lines.

output: 's SATISFIABLE' with 'v' lines (exit status 10), 's UNSATISFIABLE' (20), or an error on
standard error naming the file and line (1). Comment lines 'c' say what was read and how long it took.

options:
  --min-vars N    decide variables 1 .. N only (0, the default, or N >= the variable count: all);
                  when the variables above N are left open and do not settle every clause the
                  answer is 's UNKNOWN' (exit status 0)
  --any-model     any model, the first found by a search by activity (fastest; not the
                  preferred model)
  --in-order      the preferred model, found by deciding the lowest unset variable true at every
                  step (the default finds the same model, faster)
  -q              print the 's' line only
  -n, --no-model  print no 'v' lines
  --help          show this text
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
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

settings parse_arguments(int argc, char** argv, std::FILE* out, bool& done) {
  settings s;
  bool file_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage, out);
      done = true;
      return s;
    }
    if (arg == "--version") {
      std::fprintf(out, "nubrix %s\n", NUBRIX_VERSION);
      done = true;
      return s;
    }
    if (arg == "-q") {
      s.quiet = true;
    } else if (arg == "--any-model") {
      s.policy = search_policy::any_model;
    } else if (arg == "--in-order") {
      s.policy = search_policy::in_order;
    } else if (arg == "-n" || arg == "--no-model") {
      s.show_model = false;
    } else if (arg == "--min-vars") {
      if (i + 1 >= argc) throw usage_error("--min-vars needs a number");
      const std::string text = argv[++i];
      char* end = nullptr;
      errno = 0;
      const long long n = std::strtoll(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || errno == ERANGE || n < 0) {
        throw usage_error("--min-vars needs a number >= 0, not '" + text + "'");
      }
      s.min_vars = n;
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

// The clauses of the problem and the copy to check the model against, released however the run
// ends: the solver takes p.f over (and resets it) once it starts.
struct owned_formulas {
  formulas::formula& read;
  formulas::formula copy = formulas::clause_vectors::empty_vector;
  ~owned_formulas() {
    formulas::free_all(read);
    formulas::free_all(copy);
  }
};

int solve(const settings& s, std::istream& in, std::FILE* out, std::FILE* err) {
  const auto start = std::chrono::steady_clock::now();
  const bool from_stdin = s.file.empty() || s.file == "-";
  const std::string name = from_stdin ? "<stdin>" : s.file;
  dimacs::problem p = from_stdin ? dimacs::read(in, name) : dimacs::read_file(name);
  owned_formulas owned{p.f};
  for (const std::string& warning : p.warnings) std::fprintf(err, "nubrix: warning: %s\n", warning.c_str());

  // The solve's variables: those of the formula and, while a declared one is above them, the next
  // one, which decides as the declared variables above would when --min-vars stops short of them.
  const std::int32_t used = p.used_variables;
  const std::int64_t from_model = std::min<std::int64_t>(p.variables, std::int64_t{used} + 1);  // the rest is auxiliary
  const std::int64_t solved = std::max<std::int64_t>(p.formula_variables(), from_model);
  if (solved >= std::numeric_limits<std::int32_t>::max()) {
    throw std::runtime_error(name + ": variable 2147483647 occurs; the solver takes at most 2147483646");
  }
  owned.copy = builders::formula_builder{p.f}.copy().build();

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

  // --min-vars N decides 1 .. N. From N > used on, that is every variable of the solve, and the
  // declared ones above up to N, which are true.
  const bool all = s.min_vars == 0 || s.min_vars >= p.variables || s.min_vars > used;
  const std::int64_t bound = all ? 0 : s.min_vars;
  const std::int64_t last_printed = s.min_vars == 0 ? p.variables : std::min<std::int64_t>(s.min_vars, p.variables);
  model m(1, static_cast<std::int32_t>(solved));
  const auto solve_start = std::chrono::steady_clock::now();
  const bool found = helpers::dpll_solve(p.f, m, variable{static_cast<std::int32_t>(bound)}, s.policy);
  if (!s.quiet) std::fprintf(out, "c solved in %.3f s\n", seconds_since(solve_start));

  if (!found) {
    std::fputs("s UNSATISFIABLE\n", out);
    return 20;
  }
  if (!all) dimacs::settle_auxiliary(owned.copy, p, m);
  const formulas::sat_result verdict = formulas::satisfies(owned.copy, m);
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
    for (std::int64_t i = 1; i <= from_model; ++i) {
      const variable_value x = m[variable{static_cast<std::int32_t>(i)}];
      if (x != variable_value::unset) v.put(x == variable_value::true_ ? i : -i);
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
