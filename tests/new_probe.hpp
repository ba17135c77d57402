// The test programs' own operator new and delete, which count the standard library's heap traffic
// (strings, vectors, streams) and fail a chosen request, as the library's heap probe does for its own.
#ifndef NUBRIX_TESTS_NEW_PROBE_HPP
#define NUBRIX_TESTS_NEW_PROBE_HPP

#include <cstdint>

namespace nubrix::testing::new_probe {

struct counts {
  std::int64_t allocations = 0;  // successful operator new calls
  std::int64_t releases = 0;     // operator delete calls with a non-null block
  std::int64_t bytes = 0;        // bytes asked for by the successful calls
  std::int64_t live() const noexcept { return allocations - releases; }
};

// The counts since the last reset.
counts read() noexcept;

// Zeroes the counts and cancels a pending failure.
void reset() noexcept;

// Makes the k-th operator new from now on (k >= 1) raise std::bad_alloc; 0 cancels.
void fail_request(std::int64_t k) noexcept;

// True once the failure asked for by fail_request has been raised.
bool failure_raised() noexcept;

}  // namespace nubrix::testing::new_probe

#endif  // NUBRIX_TESTS_NEW_PROBE_HPP
