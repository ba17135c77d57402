// The clause and formula builders: hand-over without copying, the duplicate check, subsumption and its
// order of entries, at-most-one entries, feasibility, deep copies, every out-of-memory path, and random
// sequences checked against brute force.
#include <algorithm>
#include <functional>
#include <limits>
#include <set>

#include <nubrix/builders.hpp>

#include "support.hpp"

namespace nubrix::testing {
namespace {

using builders::clause_builder;
using builders::formula_builder;
constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();

entry literals_of(const clause_builder& cb) {
  entry out;
  for (std::int32_t i = cb.v.first_index(); cb.v.has_element(i); i = cb.v.next(i)) out.push_back(to_int(cb.v.get(i)));
  return out;
}

// A formula builder that took over new clauses with the given literals, added plainly.
formula_builder builder_of(const entries& es) {
  formula_builder fb;
  for (const entry& e : es) fb.add(clause_of(e));
  return fb;
}

using builders_test = heap_test;

// ---------------------------------------------------------------------------------------------------
// Clause builder

TEST_F(builders_test, clause_build_of_a_new_builder_is_a_fresh_empty_clause) {
  clause_builder cb;
  EXPECT_EQ(cb, builders::empty_clause_builder);
  const literal_array_access c = cb.build();
  EXPECT_EQ(probe::read().allocations, 1);
  EXPECT_EQ(probe::last_request_size(), 8U);
  EXPECT_EQ(c.first(), 1);
  EXPECT_EQ(c.last(), 0);
  EXPECT_EQ(cb, builders::empty_clause_builder);
  free(c);
}

TEST_F(builders_test, add_keeps_every_literal_and_add_simplify_only_new_ones) {
  struct step {
    bool simplify;
    std::int32_t l;
  };
  const struct {
    std::vector<step> steps;
    entry built;
  } cases[] = {
      {{{false, 1}, {false, 1}}, {1, 1}},
      {{{true, 1}, {true, 1}}, {1}},
      {{{true, 1}, {true, -1}}, {1, -1}},
      {{{false, 2}, {false, 2}, {true, 2}}, {2, 2}},
      {{{true, 0}}, {0}},
      {{{false, 3}, {true, -1}, {true, 3}, {true, -1}, {true, 4}, {false, 4}}, {3, -1, 4, 4}},
  };
  for (const auto& [steps, built] : cases) {
    clause_builder cb;
    for (const step s : steps) s.simplify ? cb.add_simplify(literal{s.l}) : cb.add(literal{s.l});
    const literal_array_access c = cb.build();
    EXPECT_EQ(numbers_of(c), built);
    EXPECT_EQ(c.first(), 1);
    EXPECT_EQ(c.last(), static_cast<std::int32_t>(built.size()));
    free(c);
  }
}

TEST_F(builders_test, clause_build_hands_the_block_over_spare_room_included) {
  clause_builder cb;
  for (const std::int32_t x : {1, -2, 3, 4}) cb.add(literal{x});
  EXPECT_EQ(cb.v.capacity, 7);
  const literal* const block = cb.v.e;
  const auto before = probe::read();
  const literal_array_access c = cb.build();
  EXPECT_EQ(c.data(), block) << "no literal copied";
  EXPECT_EQ(probe::read().allocations, before.allocations);
  EXPECT_EQ(probe::read().reallocations, before.reallocations);
  EXPECT_EQ(numbers_of(c), (entry{1, -2, 3, 4}));
  EXPECT_EQ(cb, builders::empty_clause_builder);

  const literal_array_access again = cb.build();
  EXPECT_NE(again.data(), block);
  EXPECT_TRUE(again.is_empty());
  free(again);
  free(c);

  cb.reserve(10);
  EXPECT_EQ(probe::last_request_size(), 8U + 10 * 4);
  const literal* const room = cb.v.e;
  const literal_array_access reserved = cb.build();
  EXPECT_EQ(reserved.data(), room);
  EXPECT_EQ(reserved.first(), 1);
  EXPECT_EQ(reserved.last(), 0);
  free(reserved);
}

TEST_F(builders_test, clause_copy_is_independent_of_its_source) {
  clause_builder none;
  EXPECT_EQ(none.copy(), builders::empty_clause_builder);
  EXPECT_EQ(probe::read().allocations, 0);

  clause_builder src;
  src.add(literal{1});
  src.add(literal{-2});
  const clause_builder alias = src;
  EXPECT_EQ(alias, src) << "assignment shares the block";
  clause_builder cp = src.copy();
  EXPECT_NE(cp, src);
  EXPECT_EQ(cp.v.capacity, 2);
  EXPECT_EQ(literals_of(cp), (entry{1, -2}));

  cp.add(literal{5});
  const literal_array_access c = cp.build();
  EXPECT_EQ(numbers_of(c), (entry{1, -2, 5}));
  EXPECT_EQ(src, alias) << "the source keeps its block, length and capacity";
  EXPECT_EQ(literals_of(src), (entry{1, -2}));
  free(c);
  src.destroy();
}

// Every operation in three states (no block, a full block, a block with room), each allocation failed
// in turn: the builder is left exactly as it was, and only the operations that need memory ask for it.
TEST_F(builders_test, clause_builder_out_of_memory_leaves_it_unchanged) {
  const std::function<clause_builder()> states[] = {
      [] { return clause_builder{}; },
      [] {
        clause_builder cb;
        for (const std::int32_t x : {4, -5, 6}) cb.add(literal{x});
        return cb;
      },
      [] {
        clause_builder cb;
        cb.reserve(3);
        cb.add(literal{4});
        cb.add(literal{-5});
        return cb;
      },
  };
  const std::function<void(clause_builder&)> operations[] = {
      [](clause_builder& cb) { cb.reserve(cb.v.size + 4); },
      [](clause_builder& cb) { cb.add(literal{9}); },
      [](clause_builder& cb) { cb.add_simplify(literal{9}); },
      [](clause_builder& cb) {
        clause_builder cp = cb.copy();
        EXPECT_EQ(literals_of(cp), literals_of(cb));
        cp.destroy();
      },
      [](clause_builder& cb) { free(cb.build()); },
  };
  // Requests made by operation (row) in state (column).
  const int requests[5][3] = {{1, 1, 1}, {1, 1, 0}, {1, 1, 0}, {0, 1, 1}, {1, 0, 0}};
  for (int op = 0; op < 5; ++op) {
    for (int state = 0; state < 3; ++state) {
      SCOPED_TRACE(::testing::Message() << "operation " << op << " state " << state);
      EXPECT_EQ(for_each_failing_request([&](int k) {
                  clause_builder cb = states[state]();
                  const clause_builder before = cb;
                  const entry held = literals_of(cb);
                  probe::fail_request(k);
                  try {
                    operations[op](cb);
                  } catch (const std::bad_alloc&) {
                    EXPECT_EQ(cb, before);
                    EXPECT_EQ(literals_of(cb), held);
                    cb.destroy();
                    throw;
                  }
                  cb.destroy();
                }),
                requests[op][state]);
    }
  }
}

// Random add, add_simplify, reserve, copy and build against a plain list of the literals.
TEST_F(builders_test, random_clause_building_matches_a_reference_list) {
  const std::uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 2000; ++round) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round);
    clause_builder cb;
    entry expected;
    for (int step = 0; step < 12; ++step) {
      const std::int32_t l = static_cast<std::int32_t>(rng() % 7) - 3;
      switch (rng() % 6) {
        case 0:
          cb.reserve(cb.v.size + static_cast<std::int32_t>(rng() % 3));
          break;
        case 1: {
          clause_builder cp = cb.copy();
          cb.destroy();
          cb = cp;
          break;
        }
        case 2: {
          const literal_array_access c = cb.build();
          ASSERT_EQ(numbers_of(c), expected);
          ASSERT_EQ(c.first(), 1);
          free(c);
          expected.clear();
          break;
        }
        case 3:
          cb.add(literal{l});
          expected.push_back(l);
          break;
        default:
          cb.add_simplify(literal{l});
          if (std::find(expected.begin(), expected.end(), l) == expected.end()) expected.push_back(l);
      }
      ASSERT_EQ(literals_of(cb), expected);
      ASSERT_LE(cb.v.size, cb.v.capacity);
    }
    cb.destroy();
  }
}

// ---------------------------------------------------------------------------------------------------
// Formula builder

TEST_F(builders_test, add_at_most_one_writes_the_compact_form_for_three_or_more) {
  const struct {
    std::int32_t from, to;
    entries held;
  } cases[] = {
      {4, 4, {}},
      {4, 5, {{-4, -5}}},
      {4, 9, {{0, 4, 9}}},
      {9, 4, {{0, 9, 4}}},
      {5, 4, {{0, 5, 4}}},
      {1, int_max, {{0, 1, int_max}}},
      {int_max - 1, int_max, {{-(int_max - 1), -int_max}}},
  };
  for (const auto& [from, to, held] : cases) {
    SCOPED_TRACE(::testing::Message() << from << " .. " << to);
    const auto before = probe::read().allocations;
    formula_builder fb;
    fb.add_at_most_one(variable{from}, variable{to});
    EXPECT_EQ(numbers_of(fb.v), held);
    if (held.empty()) {
      EXPECT_EQ(probe::read().allocations, before) << "nothing stored, nothing allocated";
    }
    for (std::int32_t i = 1; i <= fb.v.length(); ++i) EXPECT_EQ(fb.v.get(i).first(), 1);
    fb.destroy();
  }
}

// Held entries, the clause given to add_simplify, the exact entries afterwards, and how many blocks
// the call released (removed entries, or the dropped new clause).
TEST_F(builders_test, add_simplify_subsumes_in_a_fixed_order) {
  const struct {
    entries held;
    entry c;
    entries after;
    std::int64_t released;
  } cases[] = {
      {{}, {3}, {{3}}, 0},
      {{{1, 2, 3}}, {1, 2}, {{1, 2}}, 1},
      {{{1, 2}}, {1, 2, 3}, {{1, 2}}, 1},
      {{{1, 2}}, {2, 1}, {{2, 1}}, 1},                             // an equal clause replaces the held one
      {{{1, 2}, {3, 4}, {1, 2, 5}}, {1, 2}, {{3, 4}, {1, 2}}, 2},  // the moved entry is examined next
      {{{1, 2, 3}, {5}, {6}}, {1, 2}, {{6}, {5}, {1, 2}}, 1},      // the last entry fills the hole
      {{{0, 4, 9}, {1, 2, 3}}, {1, 2}, {{0, 4, 9}, {1, 2}}, 1},    // at-most-one entries stay put
      {{{0, 4, 9}}, {4}, {{0, 4, 9}, {4}}, 0},
      {{{1, 2}}, {1, -1}, {{1, 2}, {1, -1}}, 0},
      {{{}}, {7}, {{}}, 1},  // a held empty clause swallows all
      {{{}}, {}, {{}}, 1},
      {{{1}, {0, 4, 9}, {2, 3}}, {}, {{0, 4, 9}, {}}, 2},  // an empty clause removes all clauses
      {{{1, 1, 2}}, {2, 1}, {{2, 1}}, 1},                  // repeats are ignored
      {{{1, 2}}, {1, 1}, {{1, 1}}, 1},
      // An at-most-one entry given to add_simplify is no clause: (4) and (4 | 9) do not imply it.
      {{{4}}, {0, 4, 9}, {{4}, {0, 4, 9}}, 0},
      {{{4, 9}, {0, 4, 9}}, {0, 4, 9}, {{4, 9}, {0, 4, 9}, {0, 4, 9}}, 0},
  };
  for (const auto& [held, c, after, released] : cases) {
    SCOPED_TRACE(::testing::PrintToString(held) + " + " + ::testing::PrintToString(c));
    formula_builder fb = builder_of(held);
    const literal_array_access added = clause_of(c);
    const auto before = probe::read().releases;
    fb.add_simplify(added);
    EXPECT_EQ(numbers_of(fb.v), after);
    EXPECT_EQ(probe::read().releases - before, released);
    fb.destroy();
  }
}

TEST_F(builders_test, add_simplify_keeps_the_blocks_it_does_not_release) {
  formula_builder fb = builder_of({{1, 2, 3}, {5}, {6}});
  const literal_array_access five = fb.v.get(2);
  const literal_array_access six = fb.v.get(3);
  const literal_array_access c = clause_of({1, 2});
  fb.add_simplify(c);
  ASSERT_EQ(fb.v.length(), 3);
  EXPECT_EQ(fb.v.get(1), six);
  EXPECT_EQ(fb.v.get(2), five);
  EXPECT_EQ(fb.v.get(3), c);
  fb.destroy();
}

TEST_F(builders_test, is_feasible_looks_only_for_the_opposite_unit) {
  const struct {
    entries held;
    std::int32_t l;
    bool feasible;
  } cases[] = {
      {{{-3}}, 3, false},     {{{-3, 4}}, 3, true}, {{{3}}, 3, true},
      {{{0, 2, 4}}, 3, true}, {{}, 3, true},        {{{1}, {2, 5}, {-3}}, 3, false},
      {{{3}}, -3, false},     {{{-3}}, -3, true},   {{{-3, -3}}, 3, true},
  };
  for (const auto& [held, l, feasible] : cases) {
    formula_builder fb = builder_of(held);
    EXPECT_EQ(fb.is_feasible(literal{l}), feasible) << ::testing::PrintToString(held) << " and " << l;
    fb.destroy();
  }
  // A caller's unit clause with bounds 2 .. 2 counts as well.
  const literal_array_access unit = clause_of({-3});
  unit.bounds()->first = unit.bounds()->last = 2;
  formula_builder fb;
  fb.add(unit);
  EXPECT_FALSE(fb.is_feasible(literal{3}));
  fb.destroy();
}

TEST_F(builders_test, formula_copy_is_deep_and_keeps_bounds) {
  clause_builder cb;
  for (const std::int32_t x : {7, 8}) cb.add(literal{x});  // room for 3 literals
  formula_builder fb = builder_of({{1, -2}, {0, 4, 9}, {}});
  fb.add(cb.build());
  const literal_array_access odd = clause_of({5, 6});
  odd.bounds()->first = 3;
  odd.bounds()->last = 4;
  fb.add(odd);
  const entries held = numbers_of(fb.v);

  formula_builder cp = fb.copy();
  EXPECT_EQ(numbers_of(cp.v), held);
  EXPECT_EQ(cp.v.capacity, 7) << "grown by append";
  for (std::int32_t i = 1; i <= fb.v.length(); ++i) {
    EXPECT_NE(cp.v.get(i).bounds(), fb.v.get(i).bounds());
    EXPECT_EQ(cp.v.get(i).first(), fb.v.get(i).first());
    EXPECT_EQ(cp.v.get(i).last(), fb.v.get(i).last());
  }
  cp.v.get(1)[1] = literal{42};
  cp.destroy();
  EXPECT_EQ(numbers_of(fb.v), held);

  // The first request of a copy is the first entry's block, sized by its length, not its room.
  fb.destroy();
  fb = builder_of({});
  cb = builders::empty_clause_builder;
  for (const std::int32_t x : {7, 8}) cb.add(literal{x});
  fb.add(cb.build());
  probe::fail_request(1);
  EXPECT_THROW((void)fb.copy(), std::bad_alloc);
  EXPECT_EQ(probe::last_request_size(), 8U + 2 * 4);
  fb.destroy();
}

TEST_F(builders_test, formula_build_hands_the_entries_over) {
  formula_builder fb = builder_of({{1}, {2, 3}, {0, 4, 6}});
  const formulas::formula before = fb.v;
  const auto counts = probe::read();
  formulas::formula f = fb.build();
  EXPECT_EQ(f, before) << "same block, length and capacity";
  EXPECT_EQ(probe::read().allocations, counts.allocations);
  EXPECT_EQ(fb, builders::empty_formula_builder);
  EXPECT_EQ(fb.build(), formulas::clause_vectors::empty_vector);
  EXPECT_EQ(numbers_of(f), (entries{{1}, {2, 3}, {0, 4, 6}}));
  formulas::free_all(f);
}

// Out of memory in every allocating operation, each request failed in turn: the builder is as it was,
// the clause it was given is released, and nothing leaks. `requests` counts the calls that allocate,
// including the caller's own new_clause.
TEST_F(builders_test, formula_builder_out_of_memory_releases_what_it_took_over) {
  const entries full = {{1}, {2, 3}, {0, 4, 9}};  // capacity 3: the next append grows the block
  const struct {
    const char* name;
    std::function<void(formula_builder&)> operation;
    entries after;
    int requests;
  } cases[] = {
      {"add",
       [](formula_builder& fb) {
         fb.add(new_clause({5, 6}));
       },
       {{1}, {2, 3}, {0, 4, 9}, {5, 6}},
       2},
      {"add_simplify appends",
       [](formula_builder& fb) {
         fb.add_simplify(new_clause({5, 6}));
       },
       {{1}, {2, 3}, {0, 4, 9}, {5, 6}},
       2},
      {"add_simplify drops",
       [](formula_builder& fb) {
         fb.add_simplify(new_clause({2, 3, 7}));
       },
       full, 1},
      {"add_simplify replaces",
       [](formula_builder& fb) {
         fb.add_simplify(new_clause({3, 2}));
       },
       {{1}, {0, 4, 9}, {3, 2}},
       1},
      {"add_simplify of an at-most-one entry",
       [](formula_builder& fb) {
         fb.add_simplify(new_clause({0, 1, 3}));
       },
       {{1}, {2, 3}, {0, 4, 9}, {0, 1, 3}},
       2},
      {"add_at_most_one of a range",
       [](formula_builder& fb) { fb.add_at_most_one(variable{5}, variable{8}); },
       {{1}, {2, 3}, {0, 4, 9}, {0, 5, 8}},
       2},
      {"add_at_most_one of two",
       [](formula_builder& fb) { fb.add_at_most_one(variable{5}, variable{6}); },
       {{1}, {2, 3}, {0, 4, 9}, {-5, -6}},
       2},
      {"add_at_most_one of one", [](formula_builder& fb) { fb.add_at_most_one(variable{5}, variable{5}); }, full, 0},
      {"copy",
       [&](formula_builder& fb) {
         formula_builder cp = fb.copy();
         EXPECT_EQ(numbers_of(cp.v), full);
         cp.destroy();
       },
       full, 3 + 2},  // three entries, and the block grown to 1 and then 3
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(for_each_failing_request([&](int k) {
                formula_builder fb = builder_of(full);
                const formula_builder before = fb;
                probe::fail_request(k);
                try {
                  test.operation(fb);
                } catch (const std::bad_alloc&) {
                  EXPECT_EQ(fb, before);
                  EXPECT_EQ(numbers_of(fb.v), full);
                  fb.destroy();
                  throw;
                }
                EXPECT_EQ(numbers_of(fb.v), test.after);
                fb.destroy();
              }),
              test.requests);
  }
}

// ---------------------------------------------------------------------------------------------------
// Random sequences through add_simplify, checked by properties rather than by the algorithm.

bool contains(const entry& big, const entry& small) {
  return std::all_of(small.begin(), small.end(),
                     [&](std::int32_t x) { return std::find(big.begin(), big.end(), x) != big.end(); });
}

TEST_F(builders_test, random_add_simplify_keeps_the_models_and_leaves_no_subsumed_clause) {
  const std::uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 3000; ++round) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round);
    const int n = 1 + static_cast<int>(rng() % 5);
    const auto var = [&] { return 1 + static_cast<std::int32_t>(rng() % n); };
    formula_builder fb;
    entries added;
    for (int step = static_cast<int>(rng() % 10); step > 0; --step) {
      switch (rng() % 8) {
        case 0: {  // a compact at-most-one entry (two-variable ranges would be unsubsumed clauses)
          const std::int32_t from = var(), to = var();
          if (to - from == 1) break;
          fb.add_at_most_one(variable{from}, variable{to});
          if (from != to) added.push_back({0, from, to});
          break;
        }
        case 1: {  // the same form, given to add_simplify
          const entry amo = {0, var(), var()};
          fb.add_simplify(clause_of(amo));
          added.push_back(amo);
          break;
        }
        default: {  // a clause, possibly empty, with repeated and complementary literals
          entry e;
          for (std::size_t len = rng() % 4; len > 0; --len) e.push_back(rng() % 2 ? var() : -var());
          fb.add_simplify(clause_of(e));
          added.push_back(e);
        }
      }
    }
    const entries held = numbers_of(fb.v);

    for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << n); ++bits)
      ASSERT_EQ(holds(held, bits), holds(added, bits)) << "assignment " << bits << " of " << held.size();
    std::multiset<entry> amo_added, amo_held;
    for (const entry& e : added)
      if (is_at_most_one(e)) amo_added.insert(e);
    for (const entry& e : held) {
      ASSERT_NE(std::find(added.begin(), added.end(), e), added.end()) << "every held entry was added";
      if (is_at_most_one(e)) amo_held.insert(e);
    }
    ASSERT_EQ(amo_held, amo_added);
    for (std::size_t i = 0; i < held.size(); ++i)
      for (std::size_t j = 0; j < held.size(); ++j)
        if (i != j && !is_at_most_one(held[i]) && !is_at_most_one(held[j])) {
          ASSERT_FALSE(contains(held[j], held[i])) << "held entry " << i + 1 << " implies entry " << j + 1;
        }

    if (round % 2 == 0) {
      formula_builder cp = fb.copy();
      ASSERT_EQ(numbers_of(cp.v), held);
      fb.destroy();
      fb = cp;
    }
    formulas::formula f = fb.build();
    ASSERT_EQ(numbers_of(f), held);
    formulas::free_all(f);
  }
}

}  // namespace
}  // namespace nubrix::testing
