// The literal vector instance, the hand-over of its block as a clause, and the heap routines.
#ifndef NUBRIX_INTERNALS_HPP
#define NUBRIX_INTERNALS_HPP

#include <nubrix/heap.hpp>
#include <nubrix/nubrix.hpp>
#include <nubrix/vectors.hpp>

namespace nubrix::internals {

// Vectors of literals: the clause builder's literals and the solver's literal lists.
using literal_vectors = vectors::instance<literal>;
static_assert(literal_vectors::el_size == 4 && literal_vectors::bd_size == 8 && literal_vectors::offset == 8);

// Turns the block of `self` into a clause with bounds 1 .. length, copying no literal; a vector
// without a block yields a new empty clause (bounds 1 .. 0). The clause owns the block from then on:
// the caller must make `self` forget it (assign empty_vector) without destroying it. Raises
// std::bad_alloc only in the no-block case, leaving `self` unchanged.
literal_array_access get_literal_vector_array(const literal_vectors::vector& self);

// A new clause block with bounds 1 .. length and the literals not yet written. Raises std::bad_alloc
// on exhaustion.
literal_array_access allocate_clause(std::int32_t length);

}  // namespace nubrix::internals

#endif  // NUBRIX_INTERNALS_HPP
