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
  // Every step but `done` ends the search; a failed speculation never reaches here, as the
  // preferred search abandons it where it made it.
  const auto end = [this](step s) {
    assert(s != step::done && s != step::speculation_failed);
    return finish(s == step::stopped ? solve_result::unknown : solve_result::unsat);
  };
  next_progress_ = began_ + options_.progress_interval;
  if (poll()) return end(step::stopped);
  if (propagate()) return end(step::no_model);
  for (std::int32_t i = persistent_ ? f_->clauses.size + 1 : f_->clauses.first_index(); f_->clauses.has_element(i);
       i = f_->clauses.next(i)) {
    const literal_array_access c = f_->clauses.get(i);
    if (c.is_empty()) return end(step::no_model);
    if (c.length() != 1) continue;
    if (!check_assign(c.data()[0], c.bounds())) return end(step::no_model);
  }
  for (std::int32_t i = 0; i < root_fact_count_; ++i)
    if (!check_assign(root_facts_[i], nullptr)) return end(step::no_model);
  for (;;) {
    if (const step s = assign_all(); s != step::done) return end(s);
    bool accepted = false;
    if (const step s = theory_step(accepted); s != step::done) return end(s);
    if (accepted) return finish(solve_result::sat);
    if (out_of_budget()) return end(step::stopped);
  }
}

}  // namespace nubrix::engine
