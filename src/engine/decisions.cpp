// Decisions by activity: every variable up to min_vars in a binary heap by its share in recent
// conflicts (bumped by conflict analysis, decayed by growing the bump), with saved phases.
#include "search_state.hpp"

namespace nubrix::engine {

void search_state::enable_activity() {
  const auto slots = static_cast<std::size_t>(capacity_) + 1;  // room for every variable the tables have
  activity_ = static_cast<double*>(internals::allocate(slots * sizeof(double)));
  std::fill_n(activity_, slots, 0.0);
  heap_ = static_cast<variable*>(internals::allocate(slots * sizeof(variable)));
  heap_position_ = static_cast<std::int32_t*>(internals::allocate(slots * sizeof(std::int32_t)));
  std::fill_n(heap_position_, slots, -1);
  phase_ = static_cast<std::uint8_t*>(internals::allocate(slots));
  std::memset(phase_, 0, slots);  // false first, as most encodings favour
  if (shared_phases_ != nullptr) std::memcpy(phase_, shared_phases_, static_cast<std::size_t>(last_) + 1);
  witness_ = static_cast<std::uint8_t*>(internals::allocate(slots));
  std::memset(witness_, 0, slots);
  for (std::int32_t v = m_.first(); v <= std::min(last_, to_int(min_vars_)); ++v) heap_insert(variable{v});
}

variable search_state::pick_by_activity() noexcept {
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

void search_state::heap_insert(variable v) noexcept {
  heap_position_[to_int(v)] = heap_size_;
  heap_[heap_size_++] = v;
  heap_up(heap_size_ - 1);
}

void search_state::heap_down(std::int32_t i) noexcept {
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

}  // namespace nubrix::engine
