// Builders: a clause collected literal by literal and handed over without copying, and a formula
// collected entry by entry with subsumption and compact at-most-one constraints.
#ifndef NUBRIX_BUILDERS_HPP
#define NUBRIX_BUILDERS_HPP

#include <cstdint>

#include <nubrix/formulas.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/nubrix.hpp>

namespace nubrix::builders {

// Collects the literals of one clause. A plain record like the vectors: assignment shares the block,
// nothing is released by a destructor, and the owner ends with build() or destroy(). Every operation
// that raises std::bad_alloc leaves the builder as it was.
class clause_builder {
 public:
  internals::literal_vectors::vector v;  // the literals collected so far, in the order they were added

  // Resizes the block to room for exactly `size` literals (size >= the number held).
  void reserve(std::int32_t size) { v.reserve(size); }

  // Appends l unchecked: repeats, complementary pairs and 0 are all stored.
  void add(literal l) { v.append(l); }

  // Appends l unless the builder already holds that very literal; -l is not looked for.
  void add_simplify(literal l);

  // A new builder, owned by the caller, with the same literals in a block of exactly their number
  // (no block when there are none). This builder is unchanged.
  [[nodiscard]] clause_builder copy() const { return clause_builder{v.copy()}; }

  // Releases the block. The fields are kept: assign empty_clause_builder before using it again.
  void destroy() noexcept { v.destroy(); }

  // The literals as a clause with bounds 1 .. n, owned by the caller. The block itself becomes the
  // clause, spare room included; only a builder without a block allocates (an 8-byte empty clause).
  // The builder is empty afterwards and can collect the next clause.
  [[nodiscard]] literal_array_access build() {
    const literal_array_access r = internals::get_literal_vector_array(v);
    v = internals::literal_vectors::empty_vector;
    return r;
  }

  // Same block, length and capacity; the literals are not compared.
  friend constexpr bool operator==(const clause_builder&, const clause_builder&) noexcept = default;
};

// A builder without a block; a declared builder starts the same.
inline constexpr clause_builder empty_clause_builder{};

// Collects the entries of a formula: clauses and at-most-one constraints [0, from, to]. It owns its
// block and every entry until build() hands them over or destroy() releases them. A plain record:
// assignment shares the entries, and nothing is released by a destructor.
class formula_builder {
 public:
  formulas::clause_vectors::vector v;  // the entries collected so far, each non-null and owned here

  // Appends c and takes it over. If the append runs out of memory, c is released and std::bad_alloc
  // propagates with the builder unchanged, so add(new_clause(...)) never leaks.
  void add(literal_array_access c) {
    try {
      v.append(c);
    } catch (...) {
      free(c);
      throw;
    }
  }

  // Adds c with subsumption and takes it over in every case. Held clauses that contain every literal
  // of c are released and removed (the last entry fills each hole); if a held clause's literals all
  // occur in c, c is released instead and nothing is added; otherwise c is appended last. Held at-most-one
  // entries are never compared, and an at-most-one entry given as c is appended without comparison.
  // On exhaustion c is released and std::bad_alloc propagates; the append can only need memory when
  // nothing was removed, so the held entries are then unchanged.
  void add_simplify(literal_array_access c);

  // States that at most one of the variables from .. to is true: nothing when from = to, the clause
  // (-from, -to) when to = from + 1, the entry [0, from, to] otherwise (to < from included, an empty
  // range). No subsumption. On exhaustion nothing is added and nothing leaks.
  void add_at_most_one(variable from, variable to);

  // False exactly when the builder holds the unit clause (-l); longer clauses, at-most-one entries
  // and the unit (l) never count, and nothing is propagated.
  bool is_feasible(literal l) const noexcept;

  // A deep copy, owned by the caller: every entry duplicated with its bounds, without spare room.
  // On exhaustion everything allocated so far is released and this builder is unchanged.
  [[nodiscard]] formula_builder copy() const;

  // Releases every entry, then the block. The fields are kept: assign empty_formula_builder before
  // using it again.
  void destroy() noexcept { formulas::free_all(v); }

  // Hands the block and the entries over as a formula, owned by the caller (release it with
  // free_all). Constant time, copies and allocates nothing; the builder is empty afterwards.
  [[nodiscard]] formulas::formula build() noexcept {
    const formulas::formula r = v;
    v = formulas::clause_vectors::empty_vector;
    return r;
  }

  // Same block, length and capacity; the entries are not compared.
  friend constexpr bool operator==(const formula_builder&, const formula_builder&) noexcept = default;
};

// A builder without a block; a declared builder starts the same.
inline constexpr formula_builder empty_formula_builder{};

}  // namespace nubrix::builders

#endif  // NUBRIX_BUILDERS_HPP
