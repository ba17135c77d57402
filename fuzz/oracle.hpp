// Brute force over at most 12 variables, for the API fuzzer's checks: entries as numbers, their truth
// under a complete assignment, the satisfying assignments in the order the solver prefers them, and
// the three-valued verdict of formulas::satisfies on a partial model.
#ifndef NUBRIX_FUZZ_ORACLE_HPP
#define NUBRIX_FUZZ_ORACLE_HPP

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include <nubrix/formulas.hpp>
#include <nubrix/nubrix.hpp>

namespace nubrix::fuzz {

// An entry as numbers: a clause's literals, or [0, from, to] for at most one of from .. to.
using entry = std::vector<std::int32_t>;
using entries = std::vector<entry>;

// A complete assignment of variables 1 .. n (n <= 12): bit v - 1 is set when v is true.
using assignment = std::uint32_t;

inline constexpr int max_variables = 12;

// Values fixed in advance: the variables in `set` take their bit of `values`.
struct fixed_values {
  assignment set = 0;
  assignment values = 0;
  bool agree(assignment a) const noexcept { return ((a ^ values) & set) == 0; }
};

inline bool is_range(const entry& e) noexcept { return !e.empty() && e[0] == 0; }

inline bool is_true(assignment a, std::int32_t v) noexcept { return ((a >> (v - 1)) & 1U) != 0; }

inline bool holds(const entry& e, assignment a) noexcept {
  if (is_range(e)) {
    int trues = 0;
    for (std::int32_t v = e[1]; v <= e[2]; ++v) trues += is_true(a, v) ? 1 : 0;
    return trues <= 1;
  }
  for (const std::int32_t l : e)
    if (is_true(a, std::abs(l)) == (l > 0)) return true;
  return false;
}

// The entries as bit masks, for the brute-force loops: a clause holds when a variable of `positive`
// is true or one of `negative` false; a range when at most one variable of `positive` is true.
struct condition {
  assignment positive = 0;
  assignment negative = 0;
  bool range = false;
};

inline std::vector<condition> compile(const entries& es) {
  std::vector<condition> out;
  for (const entry& e : es) {
    condition c;
    c.range = is_range(e);
    if (c.range) {
      for (std::int32_t v = e[1]; v <= e[2]; ++v) c.positive |= assignment{1} << (v - 1);
    } else {
      for (const std::int32_t l : e) (l > 0 ? c.positive : c.negative) |= assignment{1} << (std::abs(l) - 1);
    }
    out.push_back(c);
  }
  return out;
}

inline bool holds(const std::vector<condition>& cs, assignment a) noexcept {
  for (const condition& c : cs) {
    if (c.range ? (a & c.positive & ((a & c.positive) - 1)) != 0 : ((a & c.positive) | (~a & c.negative)) == 0)
      return false;
  }
  return true;
}

inline bool holds(const entries& es, assignment a) { return holds(compile(es), a); }

// The assignment of rank r in the solver's order over n variables: variable 1 is the most significant
// bit of r, so that counting r down from 2^n - 1 visits the assignments greatest first (variable 1
// first, true above false).
inline assignment of_rank(std::uint32_t r, int n) noexcept {
  assignment a = 0;
  for (std::int32_t v = 1; v <= n; ++v)
    if (((r >> (n - v)) & 1U) != 0) a |= assignment{1} << (v - 1);
  return a;
}

// Every assignment of 1 .. n that satisfies es and agrees with `fixed`, greatest first.
inline std::vector<assignment> models(const entries& es, int n, fixed_values fixed) {
  const std::vector<condition> cs = compile(es);
  std::vector<assignment> out;
  for (std::uint32_t r = std::uint32_t{1} << n; r-- > 0;) {
    const assignment a = of_rank(r, n);
    if (fixed.agree(a) && holds(cs, a)) out.push_back(a);
  }
  return out;
}

// The greatest of them, or none.
inline std::optional<assignment> greatest(const entries& es, int n, fixed_values fixed) {
  const std::vector<condition> cs = compile(es);
  for (std::uint32_t r = std::uint32_t{1} << n; r-- > 0;) {
    const assignment a = of_rank(r, n);
    if (fixed.agree(a) && holds(cs, a)) return a;
  }
  return std::nullopt;
}

// What formulas::satisfies must answer for a partial model: sat when every entry is satisfied,
// otherwise the verdict on the first entry that is not (unsat when nothing unset can save it).
inline formulas::sat_result status(const entries& es, const model& m) {
  using formulas::sat_result;
  for (const entry& e : es) {
    sat_result r = sat_result::unsat;
    if (is_range(e)) {
      int trues = 0;
      int unset = 0;
      for (std::int32_t v = e[1]; v <= e[2]; ++v) {
        trues += m[variable{v}] == variable_value::true_ ? 1 : 0;
        unset += m[variable{v}] == variable_value::unset ? 1 : 0;
      }
      r = trues >= 2 ? sat_result::unsat : trues + unset <= 1 ? sat_result::sat : sat_result::unknown;
    } else {
      for (const std::int32_t l : e) {
        const variable_value x = m[variable{std::abs(l)}];
        if (x == variable_value::unset) r = sat_result::unknown;
        if (x == (l > 0 ? variable_value::true_ : variable_value::false_)) {
          r = sat_result::sat;
          break;
        }
      }
    }
    if (r != sat_result::sat) return r;
  }
  return sat_result::sat;
}

}  // namespace nubrix::fuzz

#endif  // NUBRIX_FUZZ_ORACLE_HPP
