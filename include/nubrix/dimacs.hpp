// Reading and writing DIMACS CNF text, with the cardinality extension "p cnf+" whose constraint lines
// "l1 l2 ... lk <= 1" state that at most one of the literals is true. A component of its own, the
// library nubrix_dimacs: the core library does no I/O.
#ifndef NUBRIX_DIMACS_HPP
#define NUBRIX_DIMACS_HPP

#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include <nubrix/formulas.hpp>

namespace nubrix::dimacs {

// An input that was refused. what() is "FILE:LINE: message", or "FILE: message" when no line is
// concerned (line 0: the file could not be opened).
class parse_error : public std::runtime_error {
 public:
  parse_error(const std::string& file, std::int64_t line, const std::string& message);

  const std::string& file() const noexcept { return file_; }
  std::int64_t line() const noexcept { return line_; }
  // What is wrong, without the file and line.
  const std::string& message() const noexcept { return message_; }

 private:
  std::string file_;     // the name the input was read under
  std::int64_t line_;    // 1-based line of the fault, 0 for none
  std::string message_;  // the description alone
};

// What a read produced. The caller owns `f` and releases it with formulas::free_all.
struct problem {
  // Clauses in file order. An at-most-one line over consecutive positive variables from .. to (three
  // or more) is the range entry [0, from, to]; one over at most five literals is its pairwise
  // clauses (-a, -b); a longer one is a ladder of 3k - 4 two-literal clauses over k - 1 auxiliary
  // variables of its own, which have a model exactly when at most one of the line's literals is true.
  formulas::formula f = formulas::clause_vectors::empty_vector;
  std::int32_t variables = 0;            // declared in the header; every literal of the file lies within +-variables
  std::int32_t used_variables = 0;       // the highest variable that the file's literals name, 0 when none
  std::int32_t auxiliary_variables = 0;  // the ladders', numbered used_variables + 2 .. formula_variables()
  std::int32_t declared_clauses = 0;     // declared in the header; a constraint line counts as one
  bool cardinality = false;              // the header read "p cnf+"
  std::vector<std::string> warnings;     // "FILE:LINE: message" for oddities that were accepted

  // Every literal of f lies within +-formula_variables(): a model over 1 .. formula_variables() can
  // solve f. The declared variables above used_variables occur nowhere and may take any value. When
  // there are auxiliary variables, used_variables + 1 stays out of f: a search deciding variables
  // only up to a bound among the file's ones, and finding all of them up to used_variables set,
  // decides that free variable next, never an auxiliary one, as it would a declared one.
  std::int32_t formula_variables() const noexcept {
    return auxiliary_variables == 0 ? used_variables : used_variables + 1 + auxiliary_variables;
  }
};

// Reads a DIMACS problem from `in`, gzip-compressed or not (told by the magic bytes); `name` stands
// for the input in messages. Throws parse_error on bad or unreadable input, std::bad_alloc on
// exhaustion; nothing is left allocated then.
problem read(std::istream& in, const std::string& name = "<stdin>");

// As read(), from the file at `path`; parse_error also when it cannot be opened (std::bad_alloc
// when that is for want of memory).
problem read_file(const std::string& path);

// Gives each auxiliary variable of p that m leaves unset (a search that decided only some variables
// may) the value of "one of its ladder's literals up to it is not false", false when none is.
// Then every ladder clause holds exactly when at most one of its line's literals is not false, as
// the line's pairwise clauses would. `f` is the formula as read, or an unchanged copy; m's bounds
// must cover 1 .. p.formula_variables().
void settle_auxiliary(const formulas::formula& f, const problem& p, model& m) noexcept;

struct write_options {
  // Write every at-most-one range as pairwise clauses under a plain "p cnf" header, for readers that
  // do not know the extension.
  bool expand_at_most_one = false;
};

// Writes f over variables 1 .. variables as DIMACS text: "p cnf", or "p cnf+" with a "<= 1" line per
// range entry of three or more variables. A range of two becomes the clause (-a, -b) and shorter
// ones nothing. Every literal of f must lie within +-variables: for a problem whose at-most-one lines
// became ladders, pass p.formula_variables() (or more), and the ladders are written as their plain
// clauses over the auxiliary variables, not as the lines they came from. Throws
// std::ios_base::failure when `out` fails.
void write(std::ostream& out, const formulas::formula& f, std::int32_t variables, const write_options& options = {});

}  // namespace nubrix::dimacs

#endif  // NUBRIX_DIMACS_HPP
