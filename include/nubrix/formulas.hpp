// Formulas (vectors of clauses and at-most-one constraints), model checking and release.
#ifndef NUBRIX_FORMULAS_HPP
#define NUBRIX_FORMULAS_HPP

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include <nubrix/nubrix.hpp>
#include <nubrix/vectors.hpp>

namespace nubrix::formulas {

// Vectors of clause references, stored by value (16 bytes each).
using clause_vectors = vectors::instance<literal_array_access>;
static_assert(clause_vectors::el_size == 16 && clause_vectors::bd_size == 8 && clause_vectors::offset == 8);

// The conjunction of its entries: clauses and at-most-one constraints [0, from, to]. A formula owns
// its entries and is released with free_all; clause_vectors::empty_vector is the empty formula.
using formula = clause_vectors::vector;

// The verdict of satisfies; numbered in step with variable_value (sat ~ true_, unsat ~ false_,
// unknown ~ unset).
enum class sat_result : std::uint8_t { sat = 0, unsat = 1, unknown = 2 };

// "SAT", "UNSAT", "UNKNOWN", indexed by the number of a sat_result.
inline constexpr std::array<std::string_view, 3> sat_result_names{"SAT", "UNSAT", "UNKNOWN"};

// The entries' images joined by " & ": "(1 | ¬2) & (3)"; the empty text for no entries.
std::string image(const formula& f);

// Checks m (complete or partial) against f: sat when every entry is satisfied; otherwise the first
// unsatisfied entry in index order decides: unknown when an unset variable could still satisfy it,
// unsat when none can. An at-most-one entry over from .. to with T true and U unset variables is
// falsified when T >= 2 and satisfied when T + U <= 1. Every variable of f must lie in m's bounds.
sat_result satisfies(const formula& f, const model& m) noexcept;

// Releases every non-null entry of f, then its block. f keeps its field values: assign a new value
// (clause_vectors::empty_vector) before using it again.
void free_all(formula& f) noexcept;

}  // namespace nubrix::formulas

#endif  // NUBRIX_FORMULAS_HPP
