// The search loop.
#include "search_state.hpp"

namespace nubrix::engine {

solve_result search_state::search() {
  start();
  return run();
}

// The empty clause closes the proof of an unsatisfiable formula; a refutation of the caller's
// assumptions proves nothing of the formula alone.
solve_result search_state::finish(solve_result result) {
  if (proof_ != nullptr) {
    if (result == solve_result::unsat && !assumptions_failed_) proof_->clause(nullptr, 0, false);
    proof_->flush();
  }
  return cleanup(result);
}

// Polled first, so that a deadline already past or a terminate callback that says stop at once ends
// the search before any work. Then level 0: the model's preset entries, then every clause of one
// literal, in formula order; a clause without literals has no model. Then decide, propagate and
// learn until every variable up to min_vars is set, and ask the theory.
solve_result search_state::run() {
  const auto no_model = [this] { return finish(stopped_ ? solve_result::unknown : solve_result::unsat); };
  next_progress_ = began_ + options_.progress_interval;
  if (poll()) return no_model();
  if (propagate()) return no_model();
  for (std::int32_t i = persistent_ ? f_->clauses.size + 1 : f_->clauses.first_index(); f_->clauses.has_element(i); i = f_->clauses.next(i)) {
    const literal_array_access c = f_->clauses.get(i);
    if (c.is_empty()) return no_model();
    if (c.length() != 1) continue;
    if (!check_assign(c.data()[0], c.bounds())) return no_model();
  }
  for (;;) {
    if (!assign_all()) return no_model();
    switch (theory_step()) {
      case verdict::accepted:
        return finish(solve_result::sat);
      case verdict::no_model:
        return no_model();
      case verdict::go_on:
        if (out_of_budget()) return no_model();
        break;
    }
  }
}

}  // namespace nubrix::engine
