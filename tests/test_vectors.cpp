// The growable vector: growth rules observed through the heap probe, every operation, the hand-over
// of a literal vector's block, and every out-of-memory path.
#include <limits>

#include "support.hpp"

namespace nubrix::testing {
namespace {

using internals::literal_vectors;
using int_vector = vectors::vector<std::int32_t>;
constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();

int_vector filled(std::initializer_list<std::int32_t> xs) {
  int_vector v;
  for (const std::int32_t x : xs) v.append(x);
  return v;
}

std::vector<std::int32_t> elements(const int_vector& v) {
  std::vector<std::int32_t> out;
  for (std::int32_t i = v.first_index(); v.has_element(i); i = v.next(i)) out.push_back(v.get(i));
  return out;
}

using vectors_test = heap_test;

TEST_F(vectors_test, empty_vector_has_no_block) {
  const literal_vectors::vector declared;
  EXPECT_EQ(declared, literal_vectors::empty_vector);
  EXPECT_EQ(declared.e, nullptr);
  EXPECT_EQ(declared.length(), 0);
  EXPECT_TRUE(declared.is_empty());
  EXPECT_EQ(declared.first_index(), 1);
  EXPECT_EQ(declared.last_index(), 0);
  EXPECT_FALSE(declared.has_element(1));
  EXPECT_FALSE(declared.has_element(0));
  static_assert(formulas::clause_vectors::el_size == 16 && literal_vectors::el_size == 4);
}

TEST_F(vectors_test, growth_from_empty_runs_through_1_3_7) {
  int_vector v;
  std::vector<std::int32_t> capacities;
  for (std::int32_t x = 1; x <= 7; ++x) {
    v.append(x * 10);
    capacities.push_back(v.capacity);
  }
  EXPECT_EQ(capacities, (std::vector<std::int32_t>{1, 3, 3, 7, 7, 7, 7}));
  EXPECT_EQ(probe::read().allocations, 1);
  EXPECT_EQ(probe::read().reallocations, 2);
  EXPECT_EQ(probe::last_request_size(), 8U + 7 * 4);
  EXPECT_EQ(elements(v), (std::vector<std::int32_t>{10, 20, 30, 40, 50, 60, 70}));
  v.append(80);
  EXPECT_EQ(v.capacity, 15);
  v.destroy();
}

TEST_F(vectors_test, reserve_sets_the_capacity_exactly_and_growth_continues_from_it) {
  int_vector v;
  v.reserve(5);
  EXPECT_EQ(probe::last_request_size(), 8U + 5 * 4);
  for (std::int32_t x = 0; x < 6; ++x) v.append(x);
  EXPECT_EQ(v.capacity, 11);

  // A smaller reserve shrinks the block and keeps what fits; an equal one still reallocates.
  int_vector w = filled({1, 2});
  w.reserve(7);
  w.reserve(2);
  EXPECT_EQ(w.capacity, 2);
  EXPECT_EQ(elements(w), (std::vector<std::int32_t>{1, 2}));
  const auto before = probe::read().reallocations;
  w.reserve(2);
  EXPECT_EQ(probe::read().reallocations, before + 1);

  // A reserve of 0 on a vector without a block allocates the header alone.
  int_vector z;
  z.reserve(0);
  EXPECT_NE(z.e, nullptr);
  EXPECT_EQ(probe::last_request_size(), 8U);
  v.destroy();
  w.destroy();
  z.destroy();
}

TEST_F(vectors_test, clear_and_set_length_keep_the_block) {
  int_vector v = filled({1, 2, 3, 4, 5});
  const auto* block = v.e;
  v.clear();
  EXPECT_EQ(v.capacity, 7);
  EXPECT_EQ(v.e, block);
  const auto traffic = probe::read();
  for (std::int32_t x = 0; x < 7; ++x) v.append(x);
  EXPECT_EQ(probe::read().allocations, traffic.allocations);
  EXPECT_EQ(probe::read().reallocations, traffic.reallocations);
  v.set_length(2);
  EXPECT_EQ(elements(v), (std::vector<std::int32_t>{0, 1}));
  v.set_length(7);  // nothing is cleared: the old elements come back
  EXPECT_EQ(v.last_element(), 6);
  v.destroy();
}

TEST_F(vectors_test, element_operations) {
  int_vector v = filled({10, 20, 30, 40});
  EXPECT_EQ(v.first_element(), 10);
  EXPECT_EQ(v.last_element(), 40);
  v.set(2, 25);
  *v.get_access(3) = 35;
  EXPECT_EQ(elements(v), (std::vector<std::int32_t>{10, 25, 35, 40}));

  int_vector a = filled({10, 20, 30, 40});
  a.swap_and_remove(2);
  EXPECT_EQ(elements(a), (std::vector<std::int32_t>{10, 40, 30}));
  int_vector b = filled({10, 20, 30, 40});
  b.swap_and_remove(4);
  EXPECT_EQ(elements(b), (std::vector<std::int32_t>{10, 20, 30}));

  int_vector c = filled({10, 20, 30});
  EXPECT_EQ(c.pop(), 30);
  EXPECT_EQ(elements(c), (std::vector<std::int32_t>{10, 20}));
  EXPECT_EQ(c.capacity, 3);

  // Backward iteration stops after element 1, since has_element(0) is false.
  std::vector<std::int32_t> backwards;
  for (std::int32_t i = c.last_index(); c.has_element(i); i = c.previous(i)) backwards.push_back(c.get(i));
  EXPECT_EQ(backwards, (std::vector<std::int32_t>{20, 10}));
  for (int_vector* x : {&v, &a, &b, &c}) x->destroy();
}

TEST_F(vectors_test, move_exchanges_blocks) {
  int_vector target = filled({1, 2});
  int_vector source = filled({7, 8, 9});
  const auto* target_block = target.e;
  const auto* source_block = source.e;
  target.move(source);
  EXPECT_EQ(elements(target), (std::vector<std::int32_t>{7, 8, 9}));
  EXPECT_EQ(target.e, source_block);
  EXPECT_EQ(source.e, target_block);
  EXPECT_EQ(source.length(), 0);
  EXPECT_EQ(source.capacity, 3);
  EXPECT_EQ(probe::read().releases, 0);

  int_vector empty;
  empty.move(target);  // the target had no block: the source is left without one
  EXPECT_EQ(target, int_vector{});
  for (int_vector* x : {&empty, &source}) x->destroy();
}

TEST_F(vectors_test, copy_has_its_own_block_of_exactly_the_length) {
  int_vector v = filled({1, 2, 3, 4, 5});
  int_vector c = v.copy();
  EXPECT_EQ(c.length(), 5);
  EXPECT_EQ(c.capacity, 5);
  EXPECT_NE(c.e, v.e);
  EXPECT_FALSE(c == v);
  c.set(1, 99);
  EXPECT_EQ(v.get(1), 1);
  EXPECT_EQ(int_vector{}.copy(), int_vector{});
  v.destroy();
  c.destroy();
}

TEST_F(vectors_test, equality_compares_the_record_not_the_elements) {
  int_vector v = filled({1, 2});
  const int_vector shared = v;  // plain assignment shares the block
  EXPECT_EQ(shared, v);
  int_vector other = filled({1, 2});
  EXPECT_NE(other, v);
  v.destroy();
  other.destroy();
}

TEST_F(vectors_test, literal_vector_block_becomes_a_clause) {
  literal_vectors::vector v;
  for (const std::int32_t x : {1, -2, 3}) v.append(literal{x});
  v.append(literal{9});
  v.pop();  // capacity 7, length 3
  const auto traffic = probe::read();
  const literal_array_access c = internals::get_literal_vector_array(v);
  EXPECT_EQ(probe::read().allocations, traffic.allocations) << "the hand-over must not allocate";
  EXPECT_EQ(c.data(), v.e);
  EXPECT_EQ(c.first(), 1);
  EXPECT_EQ(c.last(), 3);
  EXPECT_EQ(numbers_of(c), (entry{1, -2, 3}));
  EXPECT_EQ(v.length(), 3) << "the vector's fields are not changed";
  v = literal_vectors::empty_vector;
  free(c);  // releases the whole block, spare room included

  literal_vectors::vector none;
  const literal_array_access fresh = internals::get_literal_vector_array(none);
  EXPECT_EQ(fresh.length(), 0);
  EXPECT_EQ(fresh.first(), 1);
  EXPECT_EQ(fresh.last(), 0);
  EXPECT_EQ(probe::last_request_size(), 8U);
  free(fresh);

  literal_vectors::vector cleared;
  cleared.append(literal{5});
  cleared.clear();
  const literal_array_access in_place = internals::get_literal_vector_array(cleared);
  EXPECT_EQ(in_place.data(), cleared.e);
  EXPECT_TRUE(in_place.is_empty());
  free(in_place);
}

// Every allocating operation, failed at each of its requests, raises std::bad_alloc, leaves the
// vector exactly as it was, and leaks nothing.
TEST_F(vectors_test, out_of_memory_leaves_the_vector_unchanged) {
  const auto unchanged = [](const int_vector& before, const int_vector& after, const std::vector<std::int32_t>& xs) {
    EXPECT_EQ(before, after);
    EXPECT_EQ(elements(after), xs);
  };
  for (const std::int32_t n : {0, 1, 3, 4}) {
    SCOPED_TRACE(n);
    std::vector<std::int32_t> xs;
    for (std::int32_t x = 0; x < n; ++x) xs.push_back(x);
    const auto make = [&] {
      int_vector v;
      for (const std::int32_t x : xs) v.append(x);
      return v;
    };
    const auto fail_each_request_of = [&](auto operation) {
      for_each_failing_request([&](int k) {
        int_vector v = make();
        const int_vector before = v;
        probe::fail_request(k);
        try {
          operation(v);
        } catch (const std::bad_alloc&) {
          unchanged(before, v, xs);
          v.destroy();
          throw;
        }
        v.destroy();
      });
    };
    fail_each_request_of([](int_vector& v) { v.append(42); });
    fail_each_request_of([&](int_vector& v) { v.reserve(n + 5); });
    fail_each_request_of([&](int_vector& v) {
      int_vector c = v.copy();
      EXPECT_EQ(elements(c), xs);
      c.destroy();
    });
  }
  EXPECT_EQ(for_each_failing_request([&](int k) {
              literal_vectors::vector none;
              probe::fail_request(k);
              free(internals::get_literal_vector_array(none));
              EXPECT_EQ(none, literal_vectors::empty_vector);
            }),
            1);
}

// Growth near the 32-bit limit: observed through the size requested, never actually allocated.
TEST_F(vectors_test, growth_stops_at_the_capacity_limit) {
  int_vector v = filled({1});
  const int_vector real = v;

  v.size = v.capacity = 1 << 30;  // pretend: the next growth would pass 2147483647
  probe::fail_request(1);
  EXPECT_THROW(v.append(0), std::bad_alloc);
  EXPECT_EQ(probe::last_request_size(), 8U + std::uint64_t{int_max} * 4) << "grows to the limit, not past it";
  EXPECT_EQ(v.capacity, 1 << 30);

  v.size = v.capacity = int_max;  // full at the limit: refused before any request
  const auto requests = probe::read();
  EXPECT_THROW(v.append(0), std::bad_alloc);
  EXPECT_EQ(v.size, int_max);
  EXPECT_EQ(v.capacity, int_max);
  EXPECT_EQ(probe::read().reallocations, requests.reallocations);

  // 16-byte elements: the block size is computed in 64 bits.
  vectors::vector<literal_array_access> wide;
  wide.append(literal_array_access{});
  probe::fail_request(1);
  EXPECT_THROW(wide.reserve(int_max - 1), std::bad_alloc);
  EXPECT_EQ(probe::last_request_size(), 8U + (std::uint64_t{int_max} - 1) * 16);
  EXPECT_EQ(wide.capacity, 1);
  wide.destroy();
  v = real;
  v.destroy();
}

}  // namespace
}  // namespace nubrix::testing
