// nubrix: solves a DIMACS problem (plain or gzip, "p cnf" or "p cnf+") and answers as SAT tools do:
// "s SATISFIABLE" with "v" lines and exit status 10, "s UNSATISFIABLE" and 20, 1 for an error. A
// model is checked against a copy of the formula taken before the solve before it is printed.
#include <cerrno>
#include <charconv>
#include <chrono>
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
  bool found = false;
  try {
    found = helpers::dpll_solve(p.f, m, variable{static_cast<std::int32_t>(bound)}, s.policy);
  } catch (...) {
    formulas::free_all(p.f);  // the solver resets it once taken over; untouched if it could not start
    formulas::free_all(original);
    throw;
  }
  if (!s.quiet) std::printf("c solved in %.3f s\n", seconds_since(solve_start));

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
