// The library's one container: a growable array in a single heap block that starts with an 8-byte
// bounds header, so that a literal vector can hand its block over as a clause without copying.
#ifndef NUBRIX_VECTORS_HPP
#define NUBRIX_VECTORS_HPP

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include <nubrix/heap.hpp>
#include <nubrix/nubrix.hpp>

namespace nubrix::vectors {

// A growable array of trivially copyable elements, numbered 1 .. size. A plain record: assignment
// shares the block, nothing is released by a destructor, and the owner calls destroy() once.
// Operations other than reserve, a growing append, copy and destroy are constant-time and unchecked
// (misuse is caught by assertions in test builds).
template <typename T>
class vector {
  static_assert(std::is_trivially_copyable_v<T>, "blocks grow by reallocation, which moves elements bitwise");

 public:
  using element_type = T;
  using element_access = T*;

  // Size of one element, of the bounds header, and distance from block start to element 1.
  static constexpr std::uint64_t el_size = sizeof(T);
  static constexpr std::uint64_t bd_size = sizeof(array_bounds);
  static constexpr std::int64_t offset = static_cast<std::int64_t>(bd_size);
  static_assert(alignof(T) <= alignof(std::max_align_t) && bd_size % alignof(T) == 0);

  static constexpr std::int32_t max_capacity = std::numeric_limits<std::int32_t>::max();

  T* e = nullptr;             // element 1, byte 8 of the block; null while the vector owns no block
  std::int32_t size = 0;      // elements in use, 0 .. capacity
  std::int32_t capacity = 0;  // elements the block has room for

  bool is_empty() const noexcept { return size == 0; }

  // Stores `element` as element size + 1, growing a full block to 2 * capacity + 1 elements (or to
  // the 2147483647 limit). On exhaustion raises std::bad_alloc and leaves the vector unchanged.
  void append(T element) {
    if (size == capacity) grow();
    e[size] = element;
    ++size;
  }

  // Resizes the block to exactly `new_capacity` elements (new_capacity >= size), allocating it when
  // there is none; size is kept. On exhaustion raises std::bad_alloc and leaves the vector unchanged.
  void reserve(std::int32_t new_capacity) {
    assert(new_capacity >= 0 && new_capacity >= size);
    const std::size_t bytes = bd_size + static_cast<std::uint64_t>(new_capacity) * el_size;
    void* block = e == nullptr ? internals::allocate(bytes) : internals::reallocate(block_start(), bytes);
    e = reinterpret_cast<T*>(static_cast<std::byte*>(block) + offset);
    capacity = new_capacity;
  }

  T get(std::int32_t index) const noexcept { return *get_access(index); }
  element_access get_access(std::int32_t index) const noexcept {
    assert(index >= 1 && index <= size);
    return e + (index - 1);
  }
  void set(std::int32_t index, T element) noexcept { *get_access(index) = element; }

  // Releases the block, if any. The fields keep their values: assign a new value before further use.
  void destroy() noexcept {
    if (e != nullptr) internals::release(block_start());
  }

  // Empties the vector, keeping the block and capacity.
  void clear() noexcept { size = 0; }

  T first_element() const noexcept { return get(1); }
  T last_element() const noexcept { return get(size); }
  std::int32_t length() const noexcept { return size; }

  // size := n, nothing else (n <= capacity).
  void set_length(std::int32_t n) noexcept {
    assert(n >= 0 && n <= capacity);
    size = n;
  }

  // Unordered removal: the last element takes position i.
  void swap_and_remove(std::int32_t i) noexcept {
    assert(i >= 1 && i <= size);
    e[i - 1] = e[size - 1];
    --size;
  }

  T pop() noexcept {
    assert(size > 0);
    --size;
    return e[size];
  }

  // Iteration: from first_index while has_element, stepping with next; or from last_index back to 0.
  static constexpr std::int32_t first_index() noexcept { return 1; }
  std::int32_t last_index() const noexcept { return size; }
  static constexpr std::int32_t next(std::int32_t n) noexcept { return n + 1; }
  static constexpr std::int32_t previous(std::int32_t n) noexcept { return n - 1; }
  bool has_element(std::int32_t n) const noexcept { return n > 0 && n <= size; }

  // Takes over the block, length and capacity of `source`; `source` receives this vector's former
  // block and capacity with length 0. Nothing is allocated, released or copied.
  void move(vector& source) noexcept {
    T* const target_e = e;
    const std::int32_t target_c = capacity;
    e = source.e;
    size = source.size;
    capacity = source.capacity;
    source.e = target_e;
    source.capacity = target_c;
    source.size = 0;
  }

  // A new vector, owned by the caller, holding bitwise copies of the elements in a block of exactly
  // their number (no block when empty). On exhaustion raises std::bad_alloc and allocates nothing.
  vector copy() const {
    vector n;
    if (size > 0) {
      n.reserve(size);
      std::memcpy(n.e, e, static_cast<std::size_t>(size) * sizeof(T));
      n.size = size;
    }
    return n;
  }

  friend constexpr bool operator==(const vector&, const vector&) noexcept = default;

 private:
  void* block_start() const noexcept { return reinterpret_cast<std::byte*>(e) - offset; }

  void grow() {
    if (capacity == max_capacity) throw std::bad_alloc();
    const std::int64_t doubled = 2 * std::int64_t{capacity} + 1;
    reserve(doubled > max_capacity ? max_capacity : static_cast<std::int32_t>(doubled));
  }
};

// A vector instance spelled like a package: instance<T>::vector, ::empty_vector, ::el_size, ...
template <typename T>
struct instance {
  using element_type = T;
  using vector = vectors::vector<T>;
  static constexpr vector empty_vector{};
  static constexpr std::uint64_t el_size = vector::el_size;
  static constexpr std::uint64_t bd_size = vector::bd_size;
  static constexpr std::int64_t offset = vector::offset;
};

}  // namespace nubrix::vectors

#endif  // NUBRIX_VECTORS_HPP
