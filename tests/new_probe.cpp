// Replacements of the global operator new and delete for the test programs that link this file:
// every form goes through malloc and free, so that the counts and the failures see all of them.
#include "new_probe.hpp"

#include <cstdlib>
#include <new>

namespace nubrix::testing::new_probe {
namespace {
counts tally;
std::int64_t requests_to_fail = 0;
bool failure_was_raised = false;

void* allocate(std::size_t size) {
  if (requests_to_fail != 0 && --requests_to_fail == 0) {
    failure_was_raised = true;
    throw std::bad_alloc();
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  ++tally.allocations;
  tally.bytes += static_cast<std::int64_t>(size);
  return block;
}

void release(void* block) noexcept {
  if (block == nullptr) return;
  ++tally.releases;
  std::free(block);
}
}  // namespace

counts read() noexcept { return tally; }
void reset() noexcept {
  tally = counts{};
  requests_to_fail = 0;
  failure_was_raised = false;
}
void fail_request(std::int64_t k) noexcept {
  requests_to_fail = k;
  if (k > 0) failure_was_raised = false;
}
bool failure_raised() noexcept { return failure_was_raised; }

}  // namespace nubrix::testing::new_probe

using nubrix::testing::new_probe::allocate;
using nubrix::testing::new_probe::release;

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }
