// A search state that lives across solves, and the incremental engine that keeps one.
//
// Between two solves the state is at level 0, where every value is a fact: implied by the clauses
// and ranges held and the learnt clauses, which are implied by them in turn. So a clause attached
// at level 0 may drop what a fact decides: when a literal is true it holds for good, and a false
// literal can never help it. Only clauses being attached are simplified, never those held: a fact
// is derived from the clauses held when it was derived, so a rebuild, which asserts the unit
// clauses held and propagates, derives every fact again. Learnt clauses that are the reason of a
// fact are locked, and reduction never releases them.
#include "incremental.hpp"

#include <algorithm>
#include <limits>
#include <new>

#include "search_state.hpp"

namespace nubrix::engine {

namespace {

// The theory of the incremental solver: every model is accepted.
bool accept(void*, const model&, formulas::formula&) noexcept { return true; }
constexpr theory_ref plain_theory{accept, nullptr, true};

}  // namespace

// --- the state's part ---

bool search_state::start_persistent() {
  assert(persistent_);
  start();
  if (propagate()) return false;
  for (std::int32_t i = 0; i < f_->clauses.size; ++i) {
    const literal_array_access c = f_->clauses.e[i];
    if (c.is_empty()) return false;
    if (c.length() == 1 && !check_assign(c.data()[0], c.bounds())) return false;
  }
  return true;
}

void search_state::reserve_variables(std::int32_t last) {
  if (last <= capacity_) return;
  // Room grows by half at least, so that variables added a few at a time cost amortised constant
  // time; the variables themselves stay at the model's.
  const std::int64_t wanted = std::max<std::int64_t>(last, std::int64_t{capacity_} + capacity_ / 2 + 8);
  const auto capacity =
      static_cast<std::int32_t>(std::min<std::int64_t>(wanted, std::numeric_limits<std::int32_t>::max() - 1));
  const auto slots = static_cast<std::size_t>(capacity) + 1;
  // Each block moves with its contents, so that a failure leaves the tables as they were.
  place_tables(slots);
  if (activity_tables_ != nullptr) place_activity(slots);
  capacity_ = capacity;
}

void search_state::adopt_variables(internal_formula& f) noexcept {
  assert(decision_level_ == 0 && m_.last() <= capacity_);
  f_ = &f;
  const std::int32_t before = last_;
  last_ = m_.last();
  values_ = m_.data();
  min_vars_ = variable{last_};
  if (last_ >= 1) {
    watches_ = &f_->occurs_list(literal{0});
    implications_ = &f_->implications(literal{0});
  }
  for (std::int32_t v = before + 1; v <= last_; ++v) {
    ++unassigned_left_;
    if (activity_ != nullptr) heap_insert(variable{v});
  }
}

std::int32_t search_state::simplify_at_root(std::span<const literal> lits, literal* out) noexcept {
  assert(decision_level_ == 0);
  // marks_ holds 1 for a literal kept positive, 2 for one kept negative, and is cleared after.
  std::int32_t kept = 0;
  bool holds = false;
  for (const literal l : lits) {
    const variable_value x = val(l);
    if (x == variable_value::false_) continue;
    std::uint8_t& mark = marks_[to_int(get_var(l))];
    const std::uint8_t sign = is_positive(l) ? 1 : 2;
    if (x == variable_value::true_ || (mark != 0 && mark != sign)) {
      holds = true;
      break;
    }
    if (mark == sign) continue;
    mark = sign;
    out[kept++] = l;
  }
  for (std::int32_t i = 0; i < kept; ++i) marks_[to_int(get_var(out[i]))] = 0;
  return holds ? -1 : kept;
}

bool search_state::attach_at_root(literal_array_access c) {
  assert(decision_level_ == 0 && propagated_ == trail_size_);
  if (c.is_empty()) return false;
  const literal* const lits = c.data();
  if (is_at_most_one(c)) {
    const std::int32_t from = to_int(lits[1]);
    const std::int32_t to = to_int(lits[c.length() - 1]);
    variable held{0};
    for (std::int32_t v = from; v <= to; ++v) {
      if (value(variable{v}) != variable_value::true_) continue;
      if (to_int(held) != 0) return false;  // two facts true in one range
      held = variable{v};
    }
    f_->append_watcher(c);
    if (to_int(held) == 0) return true;
    for (std::int32_t v = from; v <= to; ++v)
      if (value(variable{v}) == variable_value::unset) assign(-variable{v}, c.bounds(), -held);
    return !propagate();
  }
  if (c.length() == 1) return check_assign(lits[0], c.bounds());
  f_->append_watcher(c);
  return true;
}

void search_state::begin_solve(const solve_options& options, clock::time_point began, const theory_ref& theory) {
  assert(persistent_ && decision_level_ == 0 && root_level_ == 0);
  options_ = options;
  theory_ = theory;
  entries_received_ = 0;
  began_ = began;
  stats_ = solve_statistics{};
  conflicts_ = 0;
  next_poll_ = 0;
  next_progress_ = clock::time_point{};
  stopped_ = false;
  first_unset_ = variable{1};
  min_vars_ = variable{last_};
  have_witness_ = witness_phases_ = speculating_ = false;
  speculation_margin_ = params_.speculation_margin;
  turn_end_ = params_.first_in_order_turn;
  in_order_turn_ = params_.in_order_turn;
  excursion_cap_ = params_.excursion_cap;
  resume_level_ = std::numeric_limits<std::int32_t>::max();
  next_reduction_ = reduction_step_ = params_.first_reduction;
  last_lbd_ = 0;
  lbd_recent_ = lbd_longer_ = 0;
  lbd_sums_[0] = lbd_sums_[1] = learnt_counts_[0] = learnt_counts_[1] = 0;
  assumptions_failed_ = false;
  user_assumptions_ = nullptr;
  user_count_ = assumed_ = assumed_level_ = 0;
  failed_ = nullptr;
  if (options_.policy == search_policy::any_model && activity_ == nullptr) enable_activity();
}

void search_state::end_solve(std::int32_t kept) {
  unassign_all(0);
  if (assumed_flags_ != nullptr)
    for (std::int32_t i = 0; i < user_count_; ++i) assumed_flags_[to_int(get_var(user_assumptions_[i]))] = 0;
  user_assumptions_ = nullptr;
  user_count_ = assumed_ = assumed_level_ = 0;
  failed_ = nullptr;
  // Across solves the learnt clauses would only pile up. They are cut back to `kept` once they
  // exceed half as many again, or half as many again as the last cut left (the clauses it may not
  // release stay), so that a cut costs each solve a share of its own conflicts, not a pass.
  if (f_->learnts.size > std::max<std::int64_t>(std::int64_t{kept} * 3 / 2, std::int64_t{learnts_left_} * 3 / 2)) {
    keep_most_useful(kept);
    learnts_left_ = f_->learnts.size;
  }
}

// --- the engine ---

incremental_engine::~incremental_engine() { release(); }

void incremental_engine::release() noexcept {
  formulas::free_all(pending_);
  pending_ = formulas::clause_vectors::empty_vector;
  release_state();
  if (f_ != nullptr) {
    f_->destroy();
    internal_formula::release(f_);
    f_ = nullptr;
  }
}

void incremental_engine::add_clause(std::span<const literal> lits) {
  const literal_array_access c = internals::allocate_clause(static_cast<std::int32_t>(lits.size()));
  std::copy(lits.begin(), lits.end(), c.data());
  hold(c);
}

void incremental_engine::add_clause(std::span<const std::int32_t> lits) {
  const literal_array_access c = internals::allocate_clause(static_cast<std::int32_t>(lits.size()));
  std::transform(lits.begin(), lits.end(), c.data(), [](std::int32_t x) { return literal{x}; });
  hold(c);
}

void incremental_engine::add_at_most_one(variable from, variable to) {
  const literal_array_access c = internals::allocate_clause(3);
  c.data()[0] = literal{0};
  c.data()[1] = +from;
  c.data()[2] = +to;
  hold(c);
}

void incremental_engine::hold(literal_array_access c) {
  try {
    pending_.append(c);
  } catch (...) {
    free(c);
    throw;
  }
}

std::int32_t incremental_engine::learnt_clauses() const noexcept {
  return f_ == nullptr ? 0 : f_->learnts.size + f_->clauses.size - attached_;
}

void incremental_engine::create() {
  f_ = internal_formula::create(literal{1}, literal{0}, formulas::clause_vectors::empty_vector);
  start_state();  // over no variable and no clause: nothing to assert
}

void incremental_engine::start_state() {
  void* const block = internals::allocate(sizeof(search_state));
  state_ = ::new (block) search_state(*f_, plain_theory, m_, variable{m_.last()});
  state_->make_persistent();
  if (!state_->start_persistent()) no_model_ = true;
}

void incremental_engine::release_state() noexcept {
  if (state_ == nullptr) return;
  state_->release_tables();
  state_->~search_state();
  internals::release(state_);
  state_ = nullptr;
}

void incremental_engine::grow(std::int32_t last) {
  if (last <= m_.last()) return;
  // The lists of the new literals, room in the tables, then the model itself; only the last step
  // changes what the search sees, and it cannot fail once the new model exists.
  if (last > to_int(f_->last)) {
    const std::int64_t wanted = std::max<std::int64_t>(last, std::int64_t{to_int(f_->last)} * 3 / 2 + 8);
    const auto room =
        static_cast<std::int32_t>(std::min<std::int64_t>(wanted, std::numeric_limits<std::int32_t>::max() - 1));
    f_ = internal_formula::grown(f_, -variable{room}, +variable{room});
    state_->adopt_variables(*f_);  // the same variables, the lists moved
  }
  state_->reserve_variables(last);
  model grown(1, last);
  std::copy_n(m_.data(), m_.length(), grown.data());
  m_ = std::move(grown);
  state_->adopt_variables(*f_);
}

void incremental_engine::attach_pending() {
  std::int32_t done = 0;
  try {
    for (; done < pending_.size; ++done) {
      literal_array_access c = pending_.e[done];
      if (no_model_) {
        free(c);
        continue;
      }
      if (!is_at_most_one(c)) {
        const std::int32_t n = state_->simplify_at_root(std::span<const literal>(c.data(), c.length()), c.data());
        if (n < 0) {
          free(c);
          continue;
        }
        c.bounds()->last = c.bounds()->first + n - 1;  // the dropped literals' room stays in the block
      }
      internal_formula::append_grown(f_->clauses, c, 8);
      ++attached_;
      if (!state_->attach_at_root(c)) no_model_ = true;
    }
  } catch (...) {
    // What is attached stays; the entry that failed stays pending unless it is held already.
    if (done < pending_.size && f_->clauses.size > 0 && f_->clauses.e[f_->clauses.size - 1] == pending_.e[done]) ++done;
    std::copy(pending_.e + done, pending_.e + pending_.size, pending_.e);
    pending_.size -= done;
    throw;
  }
  pending_.size = 0;
}

void incremental_engine::rebuild() {
  release_state();
  f_->reset_watch_lists();
  std::fill_n(m_.data(), m_.length(), variable_value::unset);
  for (std::int32_t i = 0; i < f_->clauses.size; ++i)
    if (f_->clauses.e[i].length() > 1) f_->append_watcher(f_->clauses.e[i]);
  for (std::int32_t i = 0; i < f_->learnts.size; ++i) f_->append_watcher(literal_array_access(f_->learnts.e[i].clause));
  start_state();
  stale_ = false;
}

solve_result incremental_engine::solve(std::int32_t variables, std::span<const literal> assumptions,
                                       const solve_options& options, model& m,
                                       internals::literal_vectors::vector& failed, const theory_ref* theory) {
  using clock = std::chrono::steady_clock;
  const bool timed = options.statistics != nullptr || options.progress != nullptr;
  const clock::time_point began = timed ? clock::now() : clock::time_point{};
  failed.clear();
  try {
    if (f_ == nullptr) create();
    if (stale_) rebuild();
    grow(variables);
    attach_pending();
  } catch (...) {
    stale_ = true;
    throw;
  }
  if (no_model_) {
    if (options.statistics != nullptr) *options.statistics = solve_statistics{};
    return solve_result::unsat;
  }
  solve_result r = solve_result::unsat;
  try {
    state_->begin_solve(options, began, theory != nullptr ? *theory : plain_theory);
    state_->set_assumptions(assumptions.data(), static_cast<std::int32_t>(assumptions.size()), &failed);
    r = state_->run();
    if (r == solve_result::sat) {
      m = model(1, variables);
      std::copy_n(m_.data(), variables, m.data());
    }
    if (r == solve_result::unsat && !state_->assumptions_failed()) no_model_ = true;
    attached_ += state_->entries_received();
    if (options.statistics != nullptr) *options.statistics = state_->statistics(timed ? clock::now() : began);
    state_->end_solve(std::max(default_parameters.handed_back_learnts, attached_ / 2));
  } catch (...) {
    attached_ += state_->entries_received();  // what the theory gave before the exception stays
    stale_ = true;
    failed.clear();
    throw;
  }
  return r;
}

}  // namespace nubrix::engine
