// Bounds on a solve: polling the limits, the deadline and the callbacks, and the statistics.
#include "search_state.hpp"

namespace nubrix::engine {

bool search_state::poll() {
  const std::int64_t propagations = stats_.propagations;
  if (conflicts_ >= options_.conflict_limit || propagations >= options_.propagation_limit) {
    stopped_ = true;
    return true;
  }
  const bool timed = options_.deadline != clock::time_point::max() || options_.progress != nullptr;
  const bool polled = timed || options_.terminate != nullptr;
  // Without a clock or a callback to consult, only the propagation limit needs the next poll.
  next_poll_ = polled && options_.propagation_limit - propagations > params_.poll_interval
                   ? propagations + params_.poll_interval
                   : options_.propagation_limit;
  if (timed) {
    const clock::time_point now = clock::now();
    if (now >= options_.deadline) {
      stopped_ = true;
      return true;
    }
    if (options_.progress != nullptr && now >= next_progress_) {
      next_progress_ = now + options_.progress_interval;
      options_.progress(options_.progress_data, statistics(now));
    }
  }
  if (options_.terminate != nullptr && options_.terminate(options_.terminate_data)) stopped_ = true;
  return stopped_;
}

solve_statistics search_state::statistics(clock::time_point now) const noexcept {
  solve_statistics s = stats_;
  s.conflicts = conflicts_;
  if (vars_ != nullptr) {  // still searching: the record is a progress report
    s.level = decision_level_;
    s.learnts_held = f_->learnts.size;
  }
  s.time = now - began_;
  return s;
}

}  // namespace nubrix::engine
