// Conflict analysis, clause learning and backjumping.
#include "search_state.hpp"

namespace nubrix::engine {

// Walks the trail back from its end. Every literal of the conflict, and of each reason resolved on,
// is marked once: those of the current level are counted as open, those of lower levels go into the
// clause, except those of the levels that hold for good (0 .. root_level_). Each step takes the
// latest marked literal of the trail; when it is the last open one it is the first unique
// implication point, whose negation asserts the clause. Otherwise the clause is resolved with its
// reason. Marks are cleared from the list of what was marked, so a conflict costs what it touches,
// never a pass over every variable.
auto search_state::analyze(const conflict& c) -> analysis {
  assert(decision_level_ > 0 && propagated_ <= trail_size_);
  learnt_.clear();
  learnt_.append(literal{0});             // the place of the asserting literal
  std::int32_t open = 0;                  // marked literals of the current level not yet walked past
  const std::int32_t root = root_level_;  // read once: the stores to marks_ could alias it
  const auto add = [&](literal q) {
    const variable v = get_var(q);
    const std::int32_t level = level_of(v);
    assert(val(q) == variable_value::false_);
    if (marks_[to_int(v)] != 0 || level <= root) return true;
    marks_[to_int(v)] = 1;
    if (activity_ != nullptr) bump(v);
    if (level == decision_level_) {
      ++open;
    } else {
      learnt_.append(q);
    }
    return true;
  };

  switch (c.what) {
    case conflict::kind::clause:
    case conflict::kind::pair:
      for_each_conflict_literal(c, add);
      break;
    case conflict::kind::decisions:
      for (std::int32_t level = 0; level < decision_level_; ++level) add(-trail_[level_starts_[level]]);
      break;
    case conflict::kind::none:
    case conflict::kind::assumption:
      assert(false);
      break;
  }
  assert(open > 0);

  std::int32_t index = trail_size_;
  literal uip{0};
  for (;;) {
    do {
      --index;
      assert(index >= level_starts_[decision_level_ - 1]);
    } while (marks_[to_int(get_var(trail_[index]))] == 0);
    uip = trail_[index];
    const variable v = get_var(uip);
    marks_[to_int(v)] = 0;
    if (--open == 0) break;
    for_each_reason_literal(v, add);
  }
  learnt_.e[0] = -uip;

  // Minimise: a literal whose reason's literals are all in the clause, or implied by it in turn,
  // adds nothing. Only levels present in the clause can hold such literals.
  stats_.learnt_literals_before += learnt_.size;
  std::uint32_t levels = 0;
  for (std::int32_t i = 1; i < learnt_.size; ++i) {
    levels |= 1U << (level_of(get_var(learnt_.e[i])) & 31);
    to_clear_.append(learnt_.e[i]);
  }
  std::int32_t kept = 1;
  for (std::int32_t i = 1; i < learnt_.size; ++i) {
    const literal l = learnt_.e[i];
    if (!forced(get_var(l)) || !redundant(l, levels)) learnt_.e[kept++] = l;
  }
  learnt_.size = kept;
  clear_marks();

  // The literal of the highest other level goes second: it is the last to become unset, so the
  // clause is watched where it becomes unit again.
  analysis a{root_level_, 1};
  const std::uint32_t stamp = static_cast<std::uint32_t>(conflicts_);
  level_stamps_[decision_level_] = stamp;
  for (std::int32_t i = 1; i < learnt_.size; ++i) {
    const std::int32_t level = level_of(get_var(learnt_.e[i]));
    if (level > a.jump_level) {
      a.jump_level = level;
      std::swap(learnt_.e[1], learnt_.e[i]);
    }
    if (level_stamps_[level] != stamp) {
      level_stamps_[level] = stamp;
      ++a.lbd;
    }
  }
  return a;
}

bool search_state::redundant(literal l, std::uint32_t levels) {
  const std::int32_t top = to_clear_.size;
  const std::int32_t root = root_level_;
  stack_.clear();
  stack_.append(l);
  while (!stack_.is_empty()) {
    const variable v = get_var(stack_.pop());
    bool implied = true;
    for_each_reason_literal(v, [&](literal q) {
      const variable w = get_var(q);
      const std::int32_t level = level_of(w);
      if (marks_[to_int(w)] != 0 || level <= root) return true;
      if (!forced(w) || (levels & (1U << (level & 31))) == 0) {
        implied = false;
        return false;
      }
      marks_[to_int(w)] = 1;
      stack_.append(q);
      to_clear_.append(q);
      return true;
    });
    if (!implied) {
      for (std::int32_t i = top; i < to_clear_.size; ++i) marks_[to_int(get_var(to_clear_.e[i]))] = 0;
      to_clear_.size = top;
      return false;
    }
  }
  return true;
}

void search_state::clear_marks() noexcept {
  for (std::int32_t i = 0; i < to_clear_.size; ++i) marks_[to_int(get_var(to_clear_.e[i]))] = 0;
  to_clear_.clear();
}

// Hands the clause over in a block of its exact size, jumps and asserts. A clause of one literal is
// never watched: its literal holds for good, at root_level_.
void search_state::learn(const analysis& a, bool keep) {
  const std::int32_t n = learnt_.size;
  const literal_array_access c = internals::allocate_clause(n);
  std::memcpy(c.data(), learnt_.e, static_cast<std::size_t>(n) * sizeof(literal));
  ++stats_.learnt_clauses;
  stats_.learnt_literals += n;
  if (proof_ != nullptr) proof_->clause(c.data(), n, false);
  last_lbd_ = a.lbd;
  unassign_all(a.jump_level);
  if (n == 1 || keep) {
    f_->append_clause(c);
  } else {
    f_->append_learnt(c, a.lbd, static_cast<std::int32_t>(conflicts_ & 0x7fffffff));
  }
  assign(c.data()[0], c.bounds());
  report_learnt(c);
}

auto search_state::resolve_conflict(const conflict& c, bool keep) -> step {
  if (decision_level_ <= root_level_) {
    // The levels that hold for good are kept by a model; those of a speculation may not be.
    assert(decision_level_ == 0 || speculating_);
    return decision_level_ > 0 ? step::speculation_failed : step::no_model;
  }
  ++conflicts_;
  learn(analyze(c), keep);
  activity_increment_ *= 1 / params_.activity_decay;
  return step::done;
}

}  // namespace nubrix::engine
