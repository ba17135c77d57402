// Decisions by activity, and the preferred model found with their help; part of <nubrix/dpll.hpp>.
//
// The in-order search finds the greatest model, but deciding "true first" where that leads nowhere
// can cost it an exponential number of conflicts. The preferred search keeps the in-order decisions
// and adds a witness: a model of every clause known, which agrees with the whole trail.
//  - The next in-order variable v is decided true as always. When the witness has v true, nothing
//    can go wrong: propagation from an assignment the witness agrees with only sets literals the
//    witness makes true, so no clause is violated.
//  - When the witness has v false, the decision is a question. A conflict answers it at once: the
//    learnt clause is implied by the formula, the witness satisfies it, and after the jump the trail
//    agrees with the witness again (the asserted literal is the clause's only one the witness can
//    make true). Without a conflict, an excursion answers it: a search by activity, phases and
//    restarts that keeps the in-order decisions as assumptions, replayed in order after a jump
//    below them. It either finds a model that keeps them all, the new witness, or shows that the
//    last one, v, cannot be kept: an assumption found false is implied false by the ones before it,
//    and since the old witness keeps all but v, it is v's; the trail then agrees with the old
//    witness again.
// Every decision that stays on the trail is therefore the lowest unset variable set true, as in the
// in-order search, and the model completed is the greatest one: when a variable is set, every
// decision is a lower variable set true, so any model that agrees with the trail below it gives it
// the same value. Learnt clauses are shared by both kinds of decision, and the witness never has to
// be found again while it holds, so a formula whose greatest model is easy to reach costs little
// more than the in-order search, and a hard one costs about what a search by activity costs.
#ifndef NUBRIX_DPLL_ACTIVITY_HPP
#define NUBRIX_DPLL_ACTIVITY_HPP

#include <algorithm>

#include <nubrix/dpll.hpp>
#include <nubrix/dpll/search_state.hpp>

namespace nubrix {

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::search_state::assign_all() {
  switch (policy_) {
    case search_policy::in_order:
      while (unassigned_left_ > 0 && first_unset_ <= min_vars_) {
        decide();
        if (!propagate_and_learn()) return false;
      }
      return true;
    case search_policy::any_model:
      return excursion(false) != excursion_end::no_model;
    case search_policy::preferred:
      break;
  }
  while (unassigned_left_ > 0 && first_unset_ <= min_vars_) {
    if (!have_witness_) {
      if (excursion(true) == excursion_end::no_model) return false;
      continue;
    }
    const variable v = decisions::first_unassigned(m_, first_unset_);
    assert(to_int(v) != 0);
    const bool known = witness_[to_int(v)] != 0;
    decide_literal(+v);
    if (!propagate_and_learn()) return false;
    assert(!known || value(v) == variable_value::true_);
    // Still true against the witness: find a new witness, or learn that v is false. Either way the
    // trail and the witness agree again.
    if (!known && value(v) == variable_value::true_ && excursion(true) == excursion_end::no_model) return false;
  }
  return true;
}

// The in-order decisions on the trail (all of them when keep_trail, else none) are replayed, each at
// the level of its rank, before any decision by activity; one found true already is dropped (it is
// implied by the ones before it), one found false ends the excursion as refuted. A complete
// assignment becomes the witness; then the levels above the in-order decisions are undone, unless
// keep_trail is false, when the model stays. Restarts follow the Luby sequence, 100 conflicts a unit.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
auto dpll<user_context, check>::search_state::excursion(bool keep_trail) -> excursion_end {
  assumptions_.clear();
  if (keep_trail)
    for (std::int32_t level = 0; level < decision_level_; ++level) assumptions_.append(trail_[level_starts_[level]]);
  std::int64_t restarts = 0;
  std::int64_t restart_at = conflicts_ + 100 * luby(restarts);
  for (;;) {
    if (const conflict c = propagate()) {
      if (!resolve_conflict(c, false)) return excursion_end::no_model;
      continue;
    }
    if (conflicts_ >= restart_at) {
      unassign_all(std::min(decision_level_, assumptions_.size));
      restart_at = conflicts_ + 100 * luby(++restarts);
    }
    if (conflicts_ >= next_reduction_) {
      reduce_learnts();
      reduction_step_ += 300;
      next_reduction_ = conflicts_ + reduction_step_;
    }
    if (decision_level_ < assumptions_.size) {
      const literal p = assumptions_.e[decision_level_];
      switch (val(p)) {
        case variable_value::true_:
          std::copy(assumptions_.e + decision_level_ + 1, assumptions_.e + assumptions_.size,
                    assumptions_.e + decision_level_);
          --assumptions_.size;
          break;
        case variable_value::false_:
          return excursion_end::refuted;
        case variable_value::unset:
          decide_literal(p);
          break;
      }
      continue;
    }
    const variable v = pick_by_activity();
    if (to_int(v) == 0) {
      for (std::int32_t i = 1; i <= last_; ++i) witness_[i] = val(literal{i}) == variable_value::true_ ? 1 : 0;
      have_witness_ = true;
      if (keep_trail) unassign_all(assumptions_.size);
      return excursion_end::witness;
    }
    decide_literal(phase_[to_int(v)] != 0 ? +v : -v);
  }
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
variable dpll<user_context, check>::search_state::pick_by_activity() noexcept {
  while (heap_size_ > 0) {
    const variable v = heap_[0];
    if (value(v) == variable_value::unset) return v;
    heap_position_[to_int(v)] = -1;
    if (--heap_size_ > 0) {
      heap_[0] = heap_[heap_size_];
      heap_position_[to_int(heap_[0])] = 0;
      heap_down(0);
    }
  }
  return variable{0};
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::bump(variable v) noexcept {
  double& a = activity_[to_int(v)];
  a += activity_increment_;
  if (a > 1e100) {
    for (std::int32_t i = 0; i <= last_; ++i) activity_[i] *= 1e-100;
    activity_increment_ *= 1e-100;
  }
  if (heap_position_[to_int(v)] >= 0) heap_up(heap_position_[to_int(v)]);
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::heap_insert(variable v) noexcept {
  heap_position_[to_int(v)] = heap_size_;
  heap_[heap_size_++] = v;
  heap_up(heap_size_ - 1);
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::heap_up(std::int32_t i) noexcept {
  const variable v = heap_[i];
  while (i > 0) {
    const std::int32_t parent = (i - 1) / 2;
    if (activity_[to_int(heap_[parent])] >= activity_[to_int(v)]) break;
    heap_[i] = heap_[parent];
    heap_position_[to_int(heap_[i])] = i;
    i = parent;
  }
  heap_[i] = v;
  heap_position_[to_int(v)] = i;
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::heap_down(std::int32_t i) noexcept {
  const variable v = heap_[i];
  for (;;) {
    std::int32_t child = 2 * i + 1;
    if (child >= heap_size_) break;
    if (child + 1 < heap_size_ && activity_[to_int(heap_[child + 1])] > activity_[to_int(heap_[child])]) ++child;
    if (activity_[to_int(heap_[child])] <= activity_[to_int(v)]) break;
    heap_[i] = heap_[child];
    heap_position_[to_int(heap_[i])] = i;
    i = child;
  }
  heap_[i] = v;
  heap_position_[to_int(v)] = i;
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
std::int64_t dpll<user_context, check>::search_state::luby(std::int64_t i) noexcept {
  // Find the finite subsequence that holds index i, and the index within it.
  std::int64_t size = 1;
  std::int64_t exponent = 0;
  while (size < i + 1) {
    ++exponent;
    size = 2 * size + 1;
  }
  while (size - 1 != i) {
    size = (size - 1) / 2;
    --exponent;
    i %= size;
  }
  return std::int64_t{1} << exponent;
}

}  // namespace nubrix

#endif  // NUBRIX_DPLL_ACTIVITY_HPP
