// Decisions by activity: every variable up to min_vars in a binary heap by its share in recent
// conflicts (bumped by conflict analysis, decayed by growing the bump), with saved phases.
#include "search_state.hpp"

namespace nubrix::engine {

void search_state::place_activity(std::size_t slots) {
  const std::size_t old = activity_tables_ == nullptr ? 0 : static_cast<std::size_t>(capacity_) + 1;
  assert(slots >= old);
  // activity, then heap and positions, then phases and the witness: one block, each aligned.
  const std::size_t heap_at = slots * sizeof(double);
  const std::size_t positions_at = heap_at + slots * sizeof(variable);
  const std::size_t phases_at = positions_at + slots * sizeof(std::int32_t);
  const std::size_t witness_at = phases_at + slots;
  auto* const block = static_cast<std::byte*>(internals::allocate(witness_at + slots));
  auto* const activity = reinterpret_cast<double*>(block);
  auto* const heap = reinterpret_cast<variable*>(block + heap_at);
  auto* const positions = reinterpret_cast<std::int32_t*>(block + positions_at);
  auto* const phases = reinterpret_cast<std::uint8_t*>(block + phases_at);
  auto* const witness = reinterpret_cast<std::uint8_t*>(block + witness_at);
  if (old > 0) {
    std::copy_n(activity_, old, activity);
    std::copy_n(heap_, old, heap);
    std::copy_n(heap_position_, old, positions);
    std::copy_n(phase_, old, phases);
    std::copy_n(witness_, old, witness);
  }
  std::fill(activity + old, activity + slots, 0.0);
  std::fill(positions + old, positions + slots, -1);
  std::fill(phases + old, phases + slots, std::uint8_t{0});  // false first, as most encodings favour
  std::fill(witness + old, witness + slots, std::uint8_t{0});
  internals::release(activity_tables_);
  activity_tables_ = block;
  activity_ = activity;
  heap_ = heap;
  heap_position_ = positions;
  phase_ = phases;
  witness_ = witness;
}

void search_state::enable_activity() {
  place_activity(static_cast<std::size_t>(capacity_) + 1);  // room for every variable the tables have
  if (shared_phases_ != nullptr) std::memcpy(phase_, shared_phases_, static_cast<std::size_t>(last_) + 1);
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
