// The heap routines (with the test build's probe) and the hand-over of a literal vector's block.
#include <nubrix/internals.hpp>

#include <cstdlib>
#include <new>

namespace nubrix::internals {

namespace {
enum class heap_event { allocation, reallocation, release };

#ifdef NUBRIX_TESTING
heap_probe::counts tally;           // traffic since the last reset
std::int64_t requests_to_fail = 0;  // countdown to the request that fails; 0 when none is pending
bool failure_was_raised = false;    // the pending failure has been raised
std::size_t last_size = 0;          // bytes of the last request

// Records one allocate or reallocate request and raises the failure asked for by fail_request.
void before_request(std::size_t size) {
  last_size = size;
  if (requests_to_fail == 0 || --requests_to_fail != 0) return;
  failure_was_raised = true;
  throw std::bad_alloc();
}
void count(heap_event event, std::size_t size = 0) noexcept {
  tally.bytes += static_cast<std::int64_t>(size);
  switch (event) {
    case heap_event::allocation:
      ++tally.allocations;
      break;
    case heap_event::reallocation:
      ++tally.reallocations;
      break;
    case heap_event::release:
      ++tally.releases;
      break;
  }
}
#else
void before_request(std::size_t) noexcept {}
void count(heap_event, std::size_t = 0) noexcept {}
#endif
}  // namespace

#ifdef NUBRIX_TESTING
namespace heap_probe {
counts read() noexcept { return tally; }
void reset() noexcept {
  tally = counts{};
  requests_to_fail = 0;
  failure_was_raised = false;
  last_size = 0;
}
void fail_request(std::int64_t k) noexcept {
  requests_to_fail = k;
  if (k > 0) failure_was_raised = false;
}
bool failure_raised() noexcept { return failure_was_raised; }
std::size_t last_request_size() noexcept { return last_size; }
}  // namespace heap_probe
#endif

void* allocate(std::size_t size) {
  before_request(size);
  void* block = std::malloc(size);
  if (block == nullptr) throw std::bad_alloc();
  count(heap_event::allocation, size);
  return block;
}

void* reallocate(void* block, std::size_t size) {
  before_request(size);
  void* moved = std::realloc(block, size);
  if (moved == nullptr) throw std::bad_alloc();
  count(heap_event::reallocation, size);
  return moved;
}

void release(void* block) noexcept {
  if (block == nullptr) return;
  count(heap_event::release);
  std::free(block);
}

literal_array_access allocate_clause(std::int32_t length) {
  assert(length >= 0);
  auto* bounds = static_cast<array_bounds*>(allocate(clause_block_size(static_cast<std::size_t>(length))));
  bounds->first = 1;
  bounds->last = length;
  return literal_array_access(bounds);
}

literal_array_access get_literal_vector_array(const literal_vectors::vector& self) {
  if (self.e == nullptr) return allocate_clause(0);
  auto* bounds = reinterpret_cast<array_bounds*>(reinterpret_cast<std::byte*>(self.e) - literal_vectors::offset);
  bounds->first = 1;
  bounds->last = self.size;
  return literal_array_access(bounds);
}

}  // namespace nubrix::internals
