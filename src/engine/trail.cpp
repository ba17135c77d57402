// The trail and the per-variable tables: allocating them, assigning, undoing levels, the in-order
// decision and the release of everything at the end.
#include "search_state.hpp"

namespace nubrix::engine {

namespace {

// Offsets of tables laid one after the other in a block, each aligned for its elements.
class block_layout {
 public:
  template <typename element>
  std::size_t take(std::size_t count) noexcept {
    bytes_ = (bytes_ + alignof(element) - 1) / alignof(element) * alignof(element);
    const std::size_t at = bytes_;
    bytes_ += count * sizeof(element);
    return at;
  }
  std::size_t bytes() const noexcept { return bytes_; }

 private:
  std::size_t bytes_ = 0;
};

template <typename element>
element* at(void* block, std::size_t offset) noexcept {
  return reinterpret_cast<element*>(static_cast<std::byte*>(block) + offset);
}

}  // namespace

void search_state::place_tables(std::size_t slots) {
  const std::size_t old = tables_ == nullptr ? 0 : static_cast<std::size_t>(capacity_) + 1;
  assert(slots >= old);
  block_layout layout;
  const std::size_t vars = layout.take<var_record>(slots);
  const std::size_t trail = layout.take<literal>(slots);
  const std::size_t starts = layout.take<std::int32_t>(slots);
  const std::size_t stamps = layout.take<std::uint32_t>(slots);
  const std::size_t marks = layout.take<std::uint8_t>(slots);
  const std::size_t flags = layout.take<std::uint8_t>(slots);
  const std::size_t values = layout.take<variable_value>(2 * slots - 1);
  void* const block = internals::allocate(layout.bytes());
  auto* const new_vars = at<var_record>(block, vars);
  auto* const new_marks = at<std::uint8_t>(block, marks);
  auto* const new_flags = at<std::uint8_t>(block, flags);
  auto* const new_stamps = at<std::uint32_t>(block, stamps);
  auto* const new_values = at<variable_value>(block, values);
  std::fill_n(new_values, 2 * slots - 1, variable_value::unset);
  if (old > 0) {
    std::copy_n(vars_, old, new_vars);
    std::copy_n(trail_, old, at<literal>(block, trail));
    std::copy_n(level_starts_, old, at<std::int32_t>(block, starts));
    std::copy_n(level_stamps_, old, new_stamps);
    std::copy_n(marks_, old, new_marks);
    std::copy_n(assumed_flags_, old, new_flags);
    std::copy_n(lit_values_block_, 2 * old - 1, new_values + (slots - old));
  }
  for (std::size_t v = old; v < slots; ++v) {
    new_vars[v] = var_record{0, literal{0}, nullptr};
    new_stamps[v] = 0;
    new_marks[v] = 0;
    new_flags[v] = 0;
  }
  internals::release(tables_);
  tables_ = block;
  vars_ = new_vars;
  trail_ = at<literal>(block, trail);
  level_starts_ = at<std::int32_t>(block, starts);
  level_stamps_ = new_stamps;
  marks_ = new_marks;
  assumed_flags_ = new_flags;
  lit_values_block_ = new_values;
  lit_values_ = new_values + (slots - 1);
}

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
  place_tables(slots);
  capacity_ = static_cast<std::int32_t>(slots) - 1;

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
  release(tables_);
  release(activity_tables_);
  vars_ = nullptr;
  trail_ = nullptr;
  level_starts_ = nullptr;
  level_stamps_ = nullptr;
  marks_ = assumed_flags_ = phase_ = witness_ = nullptr;
  lit_values_block_ = lit_values_ = nullptr;
  activity_ = nullptr;
  heap_ = nullptr;
  heap_position_ = nullptr;
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
