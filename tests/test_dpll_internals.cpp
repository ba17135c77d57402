// The solver's internal steps, seen through its own types: watch lists, the search state, unit
// propagation, conflict analysis and the search loop.
#include <tuple>

#include <nubrix/dpll.hpp>

#include "support.hpp"

namespace nubrix::testing {

namespace {
struct no_context {};
bool accept_all(no_context&, const model&, formulas::formula&) { return true; }
}  // namespace

using plain = dpll<no_context, accept_all>;

// A search set up as solve sets it up, with every step reachable: the internal formula over the
// entries (each of two or more entries watched), and a started search state over the model.
struct dpll_access {
  using watcher = plain::watcher;
  using internal_formula = plain::internal_formula;
  using state = plain::search_state;
  using watch_triple = std::tuple<std::int32_t, std::int32_t, entry>;

  model m;
  no_context ctx;
  internal_formula* f = nullptr;
  state* s = nullptr;
  bool finished = false;

  explicit dpll_access(const entries& es, model start_model, std::int32_t min_vars = 0) : m(std::move(start_model)) {
    formulas::formula caller = formula_of(es);
    const bool empty = m.first() > m.last();
    f = internal_formula::create(empty ? literal{1} : -variable{m.last()}, empty ? literal{0} : +variable{m.last()},
                                 caller);
    for (std::int32_t i = 1; i <= caller.length(); ++i)
      if (caller.get(i).length() > 1) f->append_watcher(caller.get(i));
    s = new state(*f, ctx, m, variable{min_vars == 0 ? m.last() : min_vars});
    s->start();
  }
  ~dpll_access() {
    if (!finished) s->cleanup(false);
    delete s;
    internal_formula::release(f);
  }
  dpll_access(const dpll_access&) = delete;
  dpll_access& operator=(const dpll_access&) = delete;

  // Runs the rest of the search (which cleans up after itself).
  bool search() {
    finished = true;
    return s->run();
  }

  std::vector<watch_triple> list(std::int32_t l) {
    std::vector<watch_triple> out;
    const auto& w = f->occurs_list(literal{l});
    for (std::int32_t j = 1; j <= w.length(); ++j)
      out.emplace_back(to_int(w.get(j).blit), to_int(w.get(j).other), numbers_of(w.get(j).literals));
    return out;
  }
  literal_array_access clause(std::int32_t i) { return f->clauses.get(i); }
  std::int32_t clause_count() { return f->clauses.length(); }

  std::int32_t unassigned_left() { return s->unassigned_left_; }
  std::int32_t first_unset() { return to_int(s->first_unset_); }
  void set_first_unset(std::int32_t v) { s->first_unset_ = variable{v}; }
  std::int32_t decision_level() { return s->decision_level_; }
  void set_decision_level(std::int32_t level) { s->decision_level_ = level; }
  std::int32_t level(std::int32_t v) { return s->level_of(variable{v}); }
  literal_array_access antecedent(std::int32_t v) { return s->antecedent_of(variable{v}); }
  entry queue() {
    entry out;
    for (std::int32_t i = 1; i <= s->to_propagate_.length(); ++i) out.push_back(to_int(s->to_propagate_.get(i)));
    return out;
  }
  void clear_queue() { s->clear_propagation(); }
  entry learnt() {
    entry out;
    for (std::int32_t i = 1; i <= s->learnt_clause_.length(); ++i) out.push_back(to_int(s->learnt_clause_.get(i)));
    return out;
  }
  const literal* learnt_block() { return s->learnt_clause_.e; }
  std::int64_t mask_span() { return s->learnt_mask_ - s->learnt_mask_block_; }
  variable_value value(std::int32_t v) { return m[variable{v}]; }
  variable_value val(std::int32_t l) { return s->val(literal{l}); }

  void assign(std::int32_t v, bool value, literal_array_access antecedent = {}) {
    s->assign(variable{v}, value, antecedent);
  }
  // A decision on v at the next level, with v's negation left queued.
  void decide_on(std::int32_t v) {
    ++s->decision_level_;
    s->assign(variable{v}, true, {});
  }
  void decide() { s->decide(); }
  void unassign_all(std::int32_t level) { s->unassign_all(level); }
  bool unit_propagate() { return s->unit_propagate(); }
  bool backjump() { return s->backjump(); }
  void setup_backjump(literal_array_access c) { s->setup_backjump(c); }
  bool check_assign(std::int32_t v, bool value, literal_array_access antecedent) {
    return s->check_assign(variable{v}, value, antecedent);
  }
};

namespace {

using enum variable_value;
using triples = std::vector<dpll_access::watch_triple>;

model unset_model(std::int32_t n) { return model(1, n); }

using internal_formula_test = heap_test;

TEST_F(internal_formula_test, entries_by_kind) {
  dpll_access a({{1, 2, 3}, {4, -7}, {0, 3, 5}, {0, 6, 4}, {5}}, unset_model(7));
  EXPECT_EQ(a.list(1), (triples{{2, 0, {1, 2, 3}}}));
  EXPECT_EQ(a.list(2), (triples{{1, 0, {1, 2, 3}}}));
  EXPECT_EQ(a.list(3), triples{});
  EXPECT_EQ(a.list(4), (triples{{-7, 4, {4, -7}}}));
  EXPECT_EQ(a.list(-7), (triples{{4, -7, {4, -7}}}));
  for (const std::int32_t l : {-3, -4, -5}) EXPECT_EQ(a.list(l), (triples{{0, 0, {0, 3, 5}}})) << l;
  EXPECT_EQ(a.list(5), triples{});
  EXPECT_EQ(a.list(-6), triples{}) << "a range from 6 down to 4 is empty";
  EXPECT_EQ(a.list(0), triples{});
}

TEST_F(internal_formula_test, append_clause_and_destroy) {
  dpll_access a({}, unset_model(5));
  a.f->append_clause(new_clause({5}));
  EXPECT_EQ(a.clause_count(), 1);
  for (std::int32_t l = -5; l <= 5; ++l) EXPECT_TRUE(a.list(l).empty());
  a.f->append_clause(new_clause({1, -2}));
  EXPECT_EQ(a.list(1).size(), 1U);
  EXPECT_EQ(a.list(-2).size(), 1U);

  // A failed append to the clause list releases the clause: nothing leaks.
  dpll_access b({}, unset_model(2));
  probe::fail_request(2);  // the clause allocates first, the list growth second
  EXPECT_THROW(b.f->append_clause(new_clause({1, 2})), std::bad_alloc);
  EXPECT_EQ(b.clause_count(), 0);
}

using search_state_test = heap_test;

TEST_F(search_state_test, start_of_a_search) {
  dpll_access a({}, unset_model(5));
  EXPECT_EQ(a.unassigned_left(), 5);
  EXPECT_EQ(a.first_unset(), 1);
  EXPECT_EQ(a.decision_level(), 0);
  for (std::int32_t v = 1; v <= 5; ++v) {
    EXPECT_EQ(a.level(v), 0);
    EXPECT_TRUE(a.antecedent(v).is_null());
  }
  EXPECT_EQ(a.mask_span(), 5) << "the mask spans -5 .. 5";
  EXPECT_TRUE(a.queue().empty());

  // Entries already set are level-0 facts, queued for propagation.
  model preset = unset_model(4);
  preset[variable{2}] = true_;
  preset[variable{4}] = false_;
  dpll_access b({}, preset);
  EXPECT_EQ(b.unassigned_left(), 2);
  EXPECT_EQ(b.queue(), (entry{-2, 4}));
}

TEST_F(search_state_test, decide_assign_and_val) {
  model m = model_of({true_, true_, unset, unset});
  dpll_access a({}, m);
  a.clear_queue();
  a.decide();
  EXPECT_EQ(a.value(3), true_);
  EXPECT_EQ(a.first_unset(), 4);
  EXPECT_EQ(a.decision_level(), 1);
  EXPECT_EQ(a.level(3), 1);
  EXPECT_EQ(a.queue(), (entry{-3}));

  const literal_array_access k = new_clause({-4, 1});
  a.f->append_clause(k);
  a.assign(4, false, k);
  EXPECT_EQ(a.queue(), (entry{-3, 4}));
  EXPECT_EQ(a.antecedent(4), k);
  EXPECT_EQ(a.val(-4), true_);
  EXPECT_EQ(a.val(4), false_);
  EXPECT_EQ(a.val(-3), false_);

  dpll_access b({}, unset_model(3));
  EXPECT_EQ(b.val(-3), unset);
  EXPECT_EQ(b.val(3), unset);
}

TEST(decisions, first_unassigned) {
  const model m = model_of({true_, false_, true_});
  variable first_unset{2};
  EXPECT_EQ(decisions::first_unassigned(m, first_unset), variable{0});
  EXPECT_EQ(first_unset, variable{2});
  first_unset = variable{4};
  EXPECT_EQ(decisions::first_unassigned(m, first_unset), variable{0});
  EXPECT_EQ(first_unset, variable{4});
  const model n = model_of({true_, unset, unset});
  first_unset = variable{1};
  EXPECT_EQ(decisions::first_unassigned(n, first_unset), variable{2});
  EXPECT_EQ(first_unset, variable{3});
}

TEST_F(search_state_test, unassign_all_undoes_the_levels_above) {
  dpll_access a({}, unset_model(5));
  a.assign(1, true);
  a.set_decision_level(1);
  a.assign(3, false);
  a.set_decision_level(2);
  const literal_array_access k = new_clause({2, 5});
  a.f->append_clause(k);
  a.assign(2, true, k);
  a.assign(5, true, k);
  a.set_first_unset(4);
  const std::int32_t left = a.unassigned_left();

  a.unassign_all(2);  // nothing is above 2
  EXPECT_EQ(a.first_unset(), 4);
  a.unassign_all(1);
  EXPECT_EQ(a.unassigned_left(), left + 2);
  EXPECT_EQ(a.first_unset(), 2);
  EXPECT_EQ(a.value(2), unset);
  EXPECT_EQ(a.value(5), unset);
  EXPECT_EQ(a.value(3), false_);
  EXPECT_EQ(a.value(1), true_);
  EXPECT_EQ(a.level(2), 0);
  EXPECT_EQ(a.antecedent(2), k) << "the antecedent entry is left as it was";
}

using propagation_test = heap_test;

TEST_F(propagation_test, empty_queue_is_a_fixpoint) {
  dpll_access a({{1, 2, 3}}, unset_model(3));
  EXPECT_TRUE(a.unit_propagate());
}

TEST_F(propagation_test, at_most_one_sets_the_rest_of_its_range_false) {
  dpll_access a({{0, 1, 3}}, unset_model(3));
  a.decide_on(1);
  ASSERT_TRUE(a.unit_propagate());
  EXPECT_EQ(a.value(2), false_);
  EXPECT_EQ(a.value(3), false_);
  EXPECT_EQ(a.antecedent(2), a.clause(1));
  EXPECT_EQ(a.antecedent(3), a.clause(1));
  EXPECT_EQ(a.level(3), 1);
}

TEST_F(propagation_test, at_most_one_conflict_is_the_pair_of_true_variables) {
  dpll_access a({{0, 1, 3}}, unset_model(3));
  a.assign(3, true);
  a.clear_queue();
  a.decide_on(1);
  EXPECT_FALSE(a.unit_propagate());
  EXPECT_EQ(a.value(2), false_) << "variables set before the conflict stay set";
  EXPECT_EQ(a.learnt(), (entry{-3, -1}));
  EXPECT_TRUE(a.queue().empty());
}

TEST_F(propagation_test, binary_clause) {
  dpll_access a({{4, -7}}, unset_model(7));
  a.set_decision_level(1);
  a.assign(4, false);
  ASSERT_TRUE(a.unit_propagate());
  EXPECT_EQ(a.value(7), false_);
  EXPECT_EQ(a.antecedent(7), a.clause(1));

  dpll_access c({{4, -7}}, unset_model(7));
  c.assign(7, true);
  c.clear_queue();
  c.set_decision_level(1);
  c.assign(4, false);
  EXPECT_FALSE(c.unit_propagate());
  EXPECT_EQ(c.learnt(), (entry{4, -7}));
}

TEST_F(propagation_test, long_clause_moves_its_watch) {
  dpll_access a({{1, 2, 3, 4}}, unset_model(4));
  a.assign(3, false);
  a.clear_queue();
  a.set_decision_level(1);
  a.assign(2, false);
  ASSERT_TRUE(a.unit_propagate());
  EXPECT_EQ(numbers_of(a.clause(1)), (entry{1, 4, 3, 2}));
  EXPECT_EQ(a.list(2), triples{});
  EXPECT_EQ(a.list(4), (triples{{1, 0, {1, 4, 3, 2}}}));
  EXPECT_EQ(a.value(1), unset);
  EXPECT_EQ(a.value(4), unset);
}

TEST_F(propagation_test, long_clause_becomes_unit_or_violated) {
  dpll_access a({{1, 2, 3}}, unset_model(3));
  a.assign(3, false);
  a.clear_queue();
  a.set_decision_level(1);
  a.assign(1, false);
  ASSERT_TRUE(a.unit_propagate());
  EXPECT_EQ(numbers_of(a.clause(1)), (entry{2, 1, 3}));
  EXPECT_EQ(a.value(2), true_);
  EXPECT_EQ(a.antecedent(2), a.clause(1));
  EXPECT_EQ(a.list(1), (triples{{2, 0, {2, 1, 3}}}));

  dpll_access b({{1, 2, 3}}, unset_model(3));
  b.assign(2, false);
  b.assign(3, false);
  b.clear_queue();
  b.set_decision_level(1);
  b.assign(1, false);
  EXPECT_FALSE(b.unit_propagate());
  EXPECT_EQ(b.learnt(), (entry{2, 1, 3}));
  EXPECT_TRUE(b.queue().empty());
}

TEST_F(propagation_test, true_blocking_literal_skips_the_clause) {
  dpll_access a({{1, 2, 3}}, unset_model(3));
  // Give the entry in the list of 1 the blocking literal 3 and make 3 true: falsifying 1 and 2 then
  // leaves the clause untouched, though both its watched literals are false.
  a.f->occurs_list(literal{1}).get_access(1)->blit = literal{3};
  a.assign(3, true);
  a.assign(2, false);
  a.clear_queue();
  a.set_decision_level(1);
  a.assign(1, false);
  EXPECT_TRUE(a.unit_propagate());
  EXPECT_EQ(numbers_of(a.clause(1)), (entry{1, 2, 3}));
  EXPECT_EQ(a.list(1), (triples{{3, 0, {1, 2, 3}}}));
}

using analysis_test = heap_test;

TEST_F(analysis_test, conflict_at_level_zero_ends_the_search) {
  dpll_access a({{1}, {-1, 2}, {-1, -2}}, unset_model(2));
  a.assign(1, true, a.clause(1));
  EXPECT_FALSE(a.unit_propagate());
  const std::int32_t clauses = a.clause_count();
  EXPECT_FALSE(a.backjump());
  EXPECT_EQ(a.clause_count(), clauses);
}

TEST_F(analysis_test, one_literal_of_the_level_is_learnt_unchanged) {
  dpll_access a({{-1, -2, -2, -3}}, unset_model(3));
  a.decide_on(1);
  a.clear_queue();
  a.decide_on(3);
  a.clear_queue();
  a.decide_on(2);
  EXPECT_FALSE(a.unit_propagate());
  EXPECT_EQ(a.learnt(), (entry{-1, -2, -3})) << "repeated literals are kept once";
  const std::int32_t clauses = a.clause_count();
  ASSERT_TRUE(a.backjump());
  const literal_array_access learnt = a.clause(clauses + 1);
  EXPECT_EQ(numbers_of(learnt), (entry{-2, -1, -3}));
  EXPECT_EQ(a.decision_level(), 2);
  EXPECT_EQ(a.value(2), false_);
  EXPECT_EQ(a.level(2), 2);
  EXPECT_EQ(a.antecedent(2), learnt);
}

TEST_F(analysis_test, resolution_down_to_a_unit_clause) {
  dpll_access a({{2, -1}, {3, -2}, {4, -2}, {-3, -4}}, unset_model(4));
  a.decide_on(1);
  EXPECT_FALSE(a.unit_propagate());
  EXPECT_EQ(a.learnt(), (entry{-3, -4}));
  const std::int32_t clauses = a.clause_count();
  ASSERT_TRUE(a.backjump());
  const literal_array_access learnt = a.clause(clauses + 1);
  EXPECT_EQ(numbers_of(learnt), (entry{-2}));
  EXPECT_EQ(a.decision_level(), 0);
  EXPECT_EQ(a.value(2), false_);
  EXPECT_EQ(a.level(2), 0);
  EXPECT_EQ(a.antecedent(2), learnt);
  EXPECT_EQ(a.value(1), unset);
  for (std::int32_t l = -4; l <= 4; ++l)
    for (const auto& [blit, other, lits] : a.list(l)) EXPECT_NE(lits, (entry{-2})) << "a unit clause is not watched";
}

TEST_F(analysis_test, first_uip_and_the_jump_level) {
  dpll_access a({{3, -2}, {4, -3, -1}, {5, -3}, {-4, -5, -1}}, unset_model(5));
  a.decide_on(1);
  ASSERT_TRUE(a.unit_propagate());
  a.decide_on(2);
  EXPECT_FALSE(a.unit_propagate());
  const std::int32_t clauses = a.clause_count();
  ASSERT_TRUE(a.backjump());
  const literal_array_access learnt = a.clause(clauses + 1);
  EXPECT_EQ(numbers_of(learnt), (entry{-3, -1}));
  EXPECT_EQ(a.decision_level(), 1);
  for (const std::int32_t v : {2, 4, 5}) EXPECT_EQ(a.value(v), unset) << v;
  EXPECT_EQ(a.first_unset(), 2);
  EXPECT_EQ(a.value(3), false_);
  EXPECT_EQ(a.level(3), 1);
  EXPECT_EQ(a.antecedent(3), learnt);
  EXPECT_EQ(a.queue(), (entry{3}));
  // A binary learnt clause is watched on both literals, the asserting one first.
  EXPECT_EQ(a.list(-3).back(), (dpll_access::watch_triple{-1, -3, {-3, -1}}));
  EXPECT_EQ(a.list(-1).back(), (dpll_access::watch_triple{-3, -1, {-3, -1}}));

  // The next analysis starts in a block of its own: the learnt clause keeps its literals.
  a.clear_queue();
  a.setup_backjump(a.clause(4));
  EXPECT_NE(a.learnt_block(), learnt.data());
  EXPECT_EQ(numbers_of(learnt), (entry{-3, -1}));
  EXPECT_EQ(a.learnt(), (entry{-4, -5, -1}));
}

TEST_F(analysis_test, at_most_one_pair_conflict_resolves_to_a_unit) {
  dpll_access a({{0, 2, 4}, {2, -1}, {3, -1}}, unset_model(4));
  a.decide_on(1);
  EXPECT_FALSE(a.unit_propagate());
  const std::int32_t clauses = a.clause_count();
  ASSERT_TRUE(a.backjump());
  EXPECT_EQ(numbers_of(a.clause(clauses + 1)), (entry{-1}));
  EXPECT_EQ(a.value(1), false_);
  EXPECT_EQ(a.level(1), 0);
}

TEST_F(analysis_test, resolving_on_an_at_most_one_antecedent) {
  dpll_access a({{0, 1, 3}, {2, 3}}, unset_model(3));
  a.decide_on(1);
  EXPECT_FALSE(a.unit_propagate());
  EXPECT_EQ(a.learnt(), (entry{2, 3}));
  const std::int32_t clauses = a.clause_count();
  ASSERT_TRUE(a.backjump());
  EXPECT_EQ(numbers_of(a.clause(clauses + 1)), (entry{-1}));
}

using search_test = heap_test;

TEST_F(search_test, search_loop_cases) {
  {
    dpll_access a({}, unset_model(3));
    EXPECT_TRUE(a.search());
    EXPECT_EQ(image(a.m), " 1 &  2 &  3");
  }
  {
    dpll_access a({{-2}, {2}}, unset_model(2));
    EXPECT_FALSE(a.search());
    EXPECT_EQ(a.value(1), unset) << "no decision was made";
  }
  {
    dpll_access a({{1}, {-1, 2}}, unset_model(2));
    EXPECT_TRUE(a.search());
    EXPECT_EQ(a.value(2), true_);
  }
  {
    dpll_access a({}, unset_model(4), 2);
    EXPECT_TRUE(a.search());
    EXPECT_EQ(image(a.m), " 1 &  2");
    EXPECT_EQ(a.value(3), unset);
    EXPECT_EQ(a.value(4), unset);
  }
  {
    dpll_access a({{1}}, unset_model(3), 1);
    EXPECT_TRUE(a.search());
    EXPECT_EQ(a.value(2), true_) << "first_unset was still 1, so one more decision is made";
    EXPECT_EQ(a.value(3), unset);
  }
  {
    dpll_access a({{1, 2}, {-1, 2}, {1, -2}, {-1, -2}}, unset_model(2));
    EXPECT_FALSE(a.search());
  }
  {
    dpll_access a({}, model());
    EXPECT_TRUE(a.search());
  }
}

TEST_F(search_test, check_assign) {
  dpll_access a({{2}}, unset_model(2));
  a.assign(2, true);
  a.clear_queue();
  EXPECT_TRUE(a.check_assign(2, true, a.clause(1)));
  EXPECT_TRUE(a.queue().empty());
  EXPECT_FALSE(a.check_assign(2, false, a.clause(1)));
}

}  // namespace
}  // namespace nubrix::testing
