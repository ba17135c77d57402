// The trail and the per-variable tables: allocating them, assigning, undoing levels, the in-order
// decision and the release of everything at the end.
#include "search_state.hpp"

namespace nubrix::engine {

void search_state::start() {
  value_base_ = m_.first();
  last_ = m_.last();
  values_ = m_.data();
  first_unset_ = variable{m_.first()};
  if (last_ >= 1 && m_.first() <= last_) {
    watches_ = &f_->occurs_list(literal{0});
    implications_ = &f_->implications(literal{0});
  }

  const auto slots = static_cast<std::size_t>(last_ < 0 ? 0 : last_) + 1;  // variables 0 .. last
  capacity_ = static_cast<std::int32_t>(slots) - 1;
  vars_ = static_cast<var_record*>(internals::allocate(slots * sizeof(var_record)));
  for (std::size_t v = 0; v < slots; ++v) vars_[v] = var_record{0, literal{0}, nullptr};
  trail_ = static_cast<literal*>(internals::allocate(slots * sizeof(literal)));
  level_starts_ = static_cast<std::int32_t*>(internals::allocate(slots * sizeof(std::int32_t)));
  marks_ = static_cast<std::uint8_t*>(internals::allocate(slots));
  std::memset(marks_, 0, slots);
  level_stamps_ = static_cast<std::uint32_t*>(internals::allocate(slots * sizeof(std::uint32_t)));
  std::memset(level_stamps_, 0, slots * sizeof(std::uint32_t));
  lit_values_block_ = static_cast<variable_value*>(internals::allocate(2 * slots - 1));
  lit_values_ = lit_values_block_ + (slots - 1);
  std::fill_n(lit_values_block_, 2 * slots - 1, variable_value::unset);

  if (options_.policy == search_policy::any_model) enable_activity();

  for (std::int32_t v = m_.first(); v <= last_; ++v) {
    const variable var{v};
    const variable_value x = value(var);
    if (x == variable_value::unset) {
      set_value(var, x);
      ++unassigned_left_;
    } else {
      value(var) = variable_value::unset;
      ++unassigned_left_;
      assign(x == variable_value::true_ ? +var : -var, nullptr);
    }
  }
  presets_ = trail_size_;
}

auto search_state::cleanup(solve_result result) noexcept -> solve_result {
  stats_.level = decision_level_;
  stats_.learnts_held = f_->learnts.size;
  if (persistent_) return result;  // end_solve() goes on from here
  if (result == solve_result::unknown && values_ != nullptr) {
    // Nothing else than the search wrote m: unset everything, then put the given entries back.
    std::fill_n(values_, last_ - value_base_ + 1, variable_value::unset);
    for (std::int32_t i = 0; i < presets_; ++i)
      value(get_var(trail_[i])) = is_positive(trail_[i]) ? variable_value::true_ : variable_value::false_;
  }
  if (shared_phases_ != nullptr && lit_values_ != nullptr) {
    for (std::int32_t v = m_.first(); v <= last_; ++v) {
      const variable_value x = val(literal{v});
      if (x != variable_value::unset) {
        shared_phases_[v] = x == variable_value::true_ ? 1 : 0;
      } else if (phase_ != nullptr) {
        shared_phases_[v] = phase_[v];
      }
    }
  }
  release_tables();
  if (!keep_formula_) f_->destroy();
  return result;
}

void search_state::release_tables() noexcept {
  const auto release = [](auto*& block) noexcept {
    internals::release(block);
    block = nullptr;
  };
  release(vars_);
  release(trail_);
  release(level_starts_);
  release(marks_);
  release(level_stamps_);
  release(lit_values_block_);
  lit_values_ = nullptr;
  release(activity_);
  release(heap_);
  release(heap_position_);
  release(phase_);
  release(witness_);
  release(assumed_flags_);
  for (auto* list : {&learnt_, &to_clear_, &stack_, &assumptions_}) {
    list->destroy();
    *list = internals::literal_vectors::empty_vector;
  }
}

void search_state::unassign_all(std::int32_t level) noexcept {
  if (level >= decision_level_) return;
  const std::int32_t start = level_starts_[level];
  variable lowest{0};
  for (std::int32_t i = trail_size_ - 1; i >= start; --i) {
    const variable var = get_var(trail_[i]);
    unassign(var);
    if (to_int(lowest) == 0 || var < lowest) lowest = var;
  }
  trail_size_ = start;
  if (propagated_ > start) propagated_ = start;
  decision_level_ = level;
  if (level < assumed_level_) assumed_ = assumed_level_ = 0;
  if (to_int(lowest) != 0 && lowest < first_unset_) first_unset_ = lowest;
}

void search_state::decide() noexcept {
  const variable var = decisions::first_unassigned(m_, first_unset_);
  assert(to_int(var) != 0);
  open_level();
  ++stats_.decisions;
  assign(+var, nullptr);
}

bool search_state::check_assign(literal l, array_bounds* antecedent) {
  const variable_value actual = val(l);
  if (actual == variable_value::unset) {
    assign(l, antecedent);
    return !propagate();
  }
  return actual == variable_value::true_;
}

}  // namespace nubrix::engine
