// The one heap that every block of the library comes from, part of nubrix::internals. One heap for
// everything, because a literal vector's block becomes a clause block that free() releases.
#ifndef NUBRIX_HEAP_HPP
#define NUBRIX_HEAP_HPP

#include <cstddef>
#include <cstdint>

namespace nubrix::internals {

// A new block of `size` bytes (size > 0), owned by the caller. Raises std::bad_alloc on exhaustion.
[[nodiscard]] void* allocate(std::size_t size);

// Resizes `block` to `size` bytes (size > 0), keeping its contents up to the smaller size; the block
// may move. On exhaustion raises std::bad_alloc and leaves `block` valid and unchanged.
[[nodiscard]] void* reallocate(void* block, std::size_t size);

// Hands `block` back to the heap; null is ignored.
void release(void* block) noexcept;

#ifdef NUBRIX_TESTING
// Test builds only: counts heap traffic and fails a chosen request, so that every out-of-memory path
// can be driven on purpose.
namespace heap_probe {

struct counts {
  std::int64_t allocations = 0;    // successful allocate calls
  std::int64_t reallocations = 0;  // successful reallocate calls
  std::int64_t releases = 0;       // release calls with a non-null block
  std::int64_t bytes = 0;          // bytes asked for by the successful allocate and reallocate calls
  // Blocks allocated and not yet released.
  std::int64_t live() const noexcept { return allocations - releases; }
};

// The counts since the last reset.
counts read() noexcept;

// Zeroes the counts and cancels a pending failure.
void reset() noexcept;

// Makes the k-th allocate or reallocate request from now on (k >= 1) raise std::bad_alloc; 0 cancels
// a pending failure. Only one request fails; the ones after it succeed.
void fail_request(std::int64_t k) noexcept;

// True once the failure asked for by fail_request has been raised.
bool failure_raised() noexcept;

// The size in bytes of the last allocate or reallocate request, failed ones included.
std::size_t last_request_size() noexcept;

}  // namespace heap_probe
#endif

}  // namespace nubrix::internals

#endif  // NUBRIX_HEAP_HPP
