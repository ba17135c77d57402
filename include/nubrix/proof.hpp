// Clausal proofs: where the solver writes a DRAT proof of its answer, and how it encodes it.
#ifndef NUBRIX_PROOF_HPP
#define NUBRIX_PROOF_HPP

#include <cstddef>
#include <cstdint>

#include <nubrix/nubrix.hpp>

namespace nubrix {

// Where a proof goes. The solver calls write(context, bytes, size) with consecutive pieces of the
// proof, in order; what write does with them (a file, a buffer, a pipe) is the caller's, and an
// exception it raises ends the solve like any other. The library never opens a file itself.
struct proof_sink {
  void (*write)(void* context, const char* bytes, std::size_t size) = nullptr;  // receives the proof
  void* context = nullptr;                                                      // passed to write untouched
  bool binary = false;  // binary DRAT ('a'/'d' bytes, variable-length literals); else text lines
};

// Builds the lines of a DRAT proof in a fixed buffer and hands them to a sink when it fills and at
// the end. Every clause learnt is added, every clause released is deleted, and the empty clause
// closes a proof that the formula has no model. At-most-one ranges count as their pairwise clauses:
// the proof holds for the formula written that way.
class proof_writer {
 public:
  explicit proof_writer(const proof_sink& sink) noexcept : sink_(sink) {}

  // Writes the addition (or, with `deletion`, the deletion) of the clause l[0 .. n - 1].
  void clause(const literal* l, std::int32_t n, bool deletion);
  // Hands what is buffered to the sink.
  void flush();

 private:
  void put(char c) {
    if (used_ == sizeof buffer_) flush();
    buffer_[used_++] = c;
  }

  proof_sink sink_;
  char buffer_[8192];     // bytes not yet handed to the sink
  std::size_t used_ = 0;  // bytes of buffer_ in use
};

}  // namespace nubrix

#endif  // NUBRIX_PROOF_HPP
