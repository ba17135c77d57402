// The caller's assumptions: decided before everything else, each at a level of its own, and the
// refutations that show some of them cannot hold together, which end the search with the failed
// ones; the same refutation serves the preferred search's excursions, whose in-order decisions are
// assumptions too.
#include "search_state.hpp"

namespace nubrix::engine {

// The assumptions are decided before any in-order decision, and every jump below one of them undoes
// all decisions above it too, so the decisions on the trail are always some assumptions followed by
// in-order ones. With assumptions, the model is thus the greatest one of the formula and the
// assumptions: they are true in every model considered, and the argument above holds for the rest.
auto search_state::place_assumptions() -> step {
  while (assumed_ < user_count_) {
    const literal p = user_assumptions_[assumed_];
    switch (val(p)) {
      case variable_value::true_:
        assumed_level_ = std::max(assumed_level_, level_of(get_var(p)));
        ++assumed_;
        break;
      case variable_value::false_:
        // Implied false by the formula and the assumptions decided before it, which are all the
        // decisions now on the trail.
        learnt_.clear();
        if (decision_level_ == 0) {
          learnt_.append(-p);
        } else {
          refute(conflict{conflict::kind::assumption, nullptr, p});
        }
        return assumptions_refuted() ? step::assumptions_refuted : step::no_model;
      case variable_value::unset:
        decide_literal(p);
        if (const step s = propagate_and_learn(); s != step::done) return s;
        break;
    }
  }
  return step::done;
}

bool search_state::assumptions_refuted() {
  if (learnt_.is_empty()) return false;  // the formula alone has no model
  for (std::int32_t i = 0; i < learnt_.size; ++i)
    if (assumed_flags_ == nullptr || assumed_flags_[to_int(get_var(learnt_.e[i]))] == 0) return false;
  assumptions_failed_ = true;
  if (failed_ != nullptr)
    for (std::int32_t i = 0; i < learnt_.size; ++i) failed_->append(-learnt_.e[i]);
  return true;
}

// Derives into learnt_ the clause that negates the assumptions on which the conflict `c` at their
// level depends.
void search_state::refute(const conflict& c) {
  learnt_.clear();
  const auto mark_literal = [&](literal q) {
    const variable v = get_var(q);
    if (level_of(v) <= root_level_ || marks_[to_int(v)] != 0) return true;
    marks_[to_int(v)] = 1;
    to_clear_.append(q);
    return true;
  };
  switch (c.what) {
    case conflict::kind::clause:
    case conflict::kind::pair:
      for_each_conflict_literal(c, mark_literal);
      break;
    case conflict::kind::assumption:
      learnt_.append(-c.first);
      mark_literal(c.first);
      break;
    default:
      assert(false);
  }
  for (std::int32_t i = trail_size_ - 1; i >= level_starts_[root_level_]; --i) {
    const variable v = get_var(trail_[i]);
    if (marks_[to_int(v)] == 0) continue;
    if (!forced(v)) {
      learnt_.append(-trail_[i]);
    } else {
      for_each_reason_literal(v, mark_literal);
    }
  }
  clear_marks();
}

// Makes the clause in learnt_ part of the search at the level that holds for good (asserting it when
// it has one literal). When no model keeps those levels, because the clause is empty or its literal
// meets a conflict, the formula has none (no_model), or a speculation failed.
auto search_state::learn_refutation() -> step {
  assert(decision_level_ == root_level_);
  const std::int32_t n = learnt_.size;
  if (n > 0) {
    const literal_array_access c = internals::allocate_clause(n);
    std::memcpy(c.data(), learnt_.e, static_cast<std::size_t>(n) * sizeof(literal));
    if (proof_ != nullptr) proof_->clause(c.data(), n, false);
    if (n > 1) {
      f_->append_learnt(c, n, static_cast<std::int32_t>(conflicts_ & 0x7fffffff));
      report_learnt(c);
      return step::done;
    }
    f_->append_clause(c);
    report_learnt(c);
    if (val(c.data()[0]) == variable_value::unset) assign(c.data()[0], c.bounds());
    if (val(c.data()[0]) == variable_value::true_ && !propagate()) return step::done;
  }
  return speculating_ ? step::speculation_failed : step::no_model;
}

}  // namespace nubrix::engine
