// When a search by activity restarts. Under in-order decisions, whose questions are mostly
// refutations, an excursion restarts when the clauses learnt lately span clearly more levels than
// those learnt over a longer run (at least restart_gap conflicts apart), a sign that the search has
// strayed from the core of the refutation; the search for any model restarts on the Luby sequence,
// which suits satisfiable formulas better.
#include "search_state.hpp"

namespace nubrix::engine {

void search_state::start_restarts(bool by_lbd) noexcept {
  restart_by_lbd_ = by_lbd;
  restart_count_ = 0;
  restart_at_ = conflicts_ + params_.luby_unit * luby(0);
}

void search_state::track_lbd() noexcept {
  lbd_recent_ += (last_lbd_ - lbd_recent_) / params_.recent_lbd_window;
  lbd_longer_ += (last_lbd_ - lbd_longer_) / params_.longer_lbd_window;
}

bool search_state::restart_due() noexcept {
  if (conflicts_ < restart_at_) return false;
  if (restart_by_lbd_ && !(lbd_recent_ * params_.restart_lbd_factor > lbd_longer_)) return false;
  ++stats_.restarts;
  restart_at_ =
      restart_by_lbd_ ? conflicts_ + params_.restart_gap : conflicts_ + params_.luby_unit * luby(++restart_count_);
  return true;
}

std::int64_t search_state::luby(std::int64_t i) noexcept {
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

}  // namespace nubrix::engine
