// The preferred model: the in-order search with a witness.
//
// The in-order search finds the greatest model, but deciding "true first" where that leads nowhere
// can cost it an exponential number of conflicts. The preferred search runs it alone for its first
// 500 conflicts, which is all most small formulas need (a formula it does not settle by then is
// usually one where the witness does better); then it keeps the in-order decisions and adds a
// witness: a model of every clause known, which agrees with the whole trail.
//  - The next in-order variable v is decided true as always. When the witness has v true, nothing
//    can go wrong: propagation from an assignment the witness agrees with only sets literals the
//    witness makes true, so no clause is violated.
//  - When the witness has v false, the decision is a question. A conflict answers it at once: the
//    learnt clause is implied by the formula, the witness satisfies it, and after the jump the trail
//    agrees with the witness again (the asserted literal is the clause's only one the witness can
//    make true). Without a conflict, a dive tries first: on top of the trail, the unset variables
//    are decided by activity with the witness's values, and when propagation sets every variable
//    without a conflict, that is a new witness that keeps the trail, found without setting the
//    trail up again; the dive is then undone. Otherwise an excursion answers: a search by activity,
//    phases and restarts that keeps the in-order decisions as assumptions, replayed in order after
//    a jump below them. It either finds a model that keeps them all, the new witness, or shows that
//    the last one, v, cannot be kept: an assumption found false is implied false by the ones before
//    it, and since the old witness keeps all but v, it is v's; the trail then agrees with the old
//    witness again.
// The two kinds of search take turns until the first witness. An excursion without one that reaches
// its cap of conflicts (8000 at first) stops (its learnt clauses kept, the in-order decisions made
// again) and the in-order search goes on alone from the trail for a turn (4000 conflicts at first);
// then the excursions take over again where the last turn with them left the decisions, and both
// budgets double. The in-order search alone is the better one on some structured formulas
// (pigeonhole, planning), where refutations by activity of the in-order decisions take far longer.
// Where the clauses it learns span clearly more levels than the excursions' ones, it is not, and
// the excursions then run to their end as well.
// Once there is a witness, each question concerns one decision beneath decisions a model keeps, and
// its excursion runs to the end: a turn in order alone there only delayed hard questions (random
// 3-SAT) and set their excursions going again from the witness's values. Both kinds only ever add
// implied clauses and decide lowest unset variables true, so the argument below holds across turns.
// Every decision that stays on the trail is therefore the lowest unset variable set true, as in the
// in-order search, and the model completed is the greatest one: when a variable is set, every
// decision is a lower variable set true, so any model that agrees with the trail below it gives it
// the same value. Learnt clauses are shared by both kinds of decision, and the witness never has to
// be found again while it holds, so a formula whose greatest model is easy to reach costs little
// more than the in-order search, and a hard one costs about what a search by activity costs.
// With a witness, the whole trail belongs to the greatest model: each decision on it is the lowest
// unset variable, set true with a model (the witness) that keeps every value below it, so the
// greatest model sets it true as well, and the rest of the trail follows from the decisions. When
// every model is accepted, that model is the answer, so the trail's levels then hold for good
// (root_level_): no jump goes below them, and conflict analysis leaves their literals out of learnt
// clauses as it leaves out level 0's. Such a clause follows from the formula and those values, not
// from the formula alone; the greatest model satisfies it, so that model stays the greatest one of
// the clauses held, and the argument above stands. These clauses must die with the search, so this
// is never done where a proof is written, learnt clauses are reported, or an incremental solve hands
// them back. A question then costs what it costs a search by activity given the values before it as
// facts: its excursion assumes the question alone, and learns clauses without those values.
// Before the first witness the excursions' clauses carry the in-order decisions they rest on:
// hundreds of literals where the trail is long (random 3-SAT of thousands of variables), although
// most of those decisions turn out to be the greatest model's. So when the trail holds more than
// twice speculation_margin_ (50 at first) in-order decisions, all but the newest that many are
// speculated on: they hold for good as above (root_level_) with no witness yet. A witness found
// then bears them out, as it keeps the whole trail: they are the greatest model's, and the clauses
// learnt under them follow from the formula and values of that model, as above. A conflict among
// them shows instead that they have no model together. The clause of their negations, which
// follows from the formula alone, is learnt; every clause learnt since the speculation began is
// released, as it may rest on their values; the search goes on below them, and the margin doubles.
#include "search_state.hpp"

namespace nubrix::engine {

auto search_state::assign_all() -> step {
  if (options_.policy == search_policy::any_model) {
    excursion_end end{};
    return excursion(false, end);
  }
  const bool turns = options_.policy == search_policy::preferred;
  for (;;) {
    while (undecided() && !(turns && conflicts_ >= turn_end_)) {
      if (const step s = place_assumptions(); s != step::done) return s;
      if (!undecided()) break;
      decide();
      if (const step s = unless_speculation_failed(propagate_and_learn()); s != step::done) return s;
    }
    if (!undecided()) break;
    if (activity_ == nullptr) enable_activity();
    // Only excursions without a witness give way to turns in order alone (and a rejected model
    // was the witness), so there is none here. The excursions take up the decisions where their
    // last turn left them, not the deeper ones made since.
    assert(!have_witness_);
    assert(resume_level_ >= root_level_);
    if (resume_level_ < decision_level_) unassign_all(resume_level_);
    bool stuck = false;
    if (const step s = witness_turn(stuck); s != step::done) return s;
    if (!stuck) break;
    resume_level_ = decision_level_;
    in_order_turn_ *= 2;
    excursion_cap_ *= 2;
    turn_end_ = conflicts_ + in_order_turn_;
  }
  return place_assumptions();
}

auto search_state::witness_turn(bool& stuck) -> step {
  while (undecided()) {
    if (const step s = place_assumptions(); s != step::done) return s;
    if (!undecided()) break;
    if (have_witness_) {
      if (may_settle()) root_level_ = decision_level_;
      const variable v = decisions::first_unassigned(m_, first_unset_);
      assert(to_int(v) != 0);
      const bool known = witness_[to_int(v)] != 0;
      decide_literal(+v);
      // The levels below hold for good here, kept by the witness: no speculation can fail.
      if (const step s = propagate_and_learn(); s != step::done) return s;
      assert(!known || value(v) == variable_value::true_);
      // Still true against the witness: find a new witness, or learn that v is false. Either way
      // the trail and the witness agree again.
      if (known || value(v) != variable_value::true_) continue;
      const dive_end dived = dive();
      if (dived == dive_end::stopped) return step::stopped;
      if (dived == dive_end::witness) continue;
    }
    if (!have_witness_ && !speculating_) speculate();
    const bool capped = !have_witness_ && in_order_earns_turns();
    const std::int64_t cap = capped ? conflicts_ + excursion_cap_ : std::numeric_limits<std::int64_t>::max();
    excursion_end end{};
    const step s = excursion(true, end, cap);
    if (s == step::speculation_failed) {
      if (const step t = abandon_speculation(); t != step::done) return t;
      continue;
    }
    if (s != step::done) return s;
    if (end == excursion_end::capped) {
      stuck = true;
      return step::done;
    }
  }
  return step::done;
}

// The in-order search alone earns its turns while the clauses it learns span, on average, at most a
// quarter more levels than those the excursions learn. Where its decisions lead it astray (random
// formulas), its clauses span far more and its turns only delay the excursions; on the formulas the
// turns are for (pigeonhole, planning), they span fewer.
bool search_state::in_order_earns_turns() const noexcept {
  if (learnt_counts_[0] == 0 || learnt_counts_[1] == 0) return true;
  return 4.0 * static_cast<double>(lbd_sums_[0]) * static_cast<double>(learnt_counts_[1]) <=
         5.0 * static_cast<double>(lbd_sums_[1]) * static_cast<double>(learnt_counts_[0]);
}

void search_state::speculate() noexcept {
  // The ages of learnt clauses tell those learnt under the speculation apart while they count
  // conflicts exactly.
  constexpr std::int64_t age_limit = std::int64_t{1} << 30;
  if (!may_settle() || conflicts_ >= age_limit || decision_level_ - assumed_level_ <= 2 * speculation_margin_) return;
  speculating_ = true;
  root_level_ = decision_level_ - speculation_margin_;
  speculation_start_ = conflicts_;
  speculation_clauses_ = f_->clauses.size;
}

auto search_state::abandon_speculation() -> step {
  const std::int32_t level = root_level_;
  assert(speculating_ && level > 0 && !have_witness_);
  speculating_ = false;
  root_level_ = 0;
  speculation_margin_ = std::min(2 * speculation_margin_, std::numeric_limits<std::int32_t>::max() / 4);
  // The decisions of levels 1 .. level have no model together: the newest first, as it is the one
  // the clause asserts false, then the next newest, which the clause is watched on.
  learnt_.clear();
  for (std::int32_t k = level; k >= 1; --k) learnt_.append(-trail_[level_starts_[k - 1]]);
  unassign_all(level - 1);
  // What rests on the speculation: the learnt clauses since it began, none of them the reason of an
  // assignment below its levels, and the clauses of one literal it added to the formula.
  const std::int64_t start = speculation_start_;
  release_learnts(0, release_filter{0, start});
  for (std::int32_t i = speculation_clauses_; i < f_->clauses.size; ++i) {
    assert(f_->clauses.e[i].length() == 1);
    free(f_->clauses.e[i]);
  }
  f_->clauses.size = speculation_clauses_;
  learn(analysis{level - 1, level}, false);
  return propagate_and_learn();  // with no speculation left to fail
}

auto search_state::dive() -> dive_end {
  const std::int32_t base = decision_level_;
  for (;;) {
    const variable v = pick_by_activity();
    if (to_int(v) == 0) {
      record_witness();
      unassign_all(base);
      return dive_end::witness;
    }
    decide_literal(witness_[to_int(v)] != 0 ? +v : -v);
    const bool conflicting = static_cast<bool>(propagate());
    if (conflicting || out_of_budget()) {
      unassign_all(base);
      return conflicting ? dive_end::conflict : dive_end::stopped;
    }
  }
}

// When keep_trail, the in-order decisions on the trail above the levels that hold for good become
// assumptions, made together as the decisions of the level just above those (level 1 until a
// witness), above which the search decides by activity and restarts (restarts.cpp). One level for
// all of them keeps conflicts from undoing and replaying them one by one. A conflict at their level
// refutes them: the clause that negates the assumptions it depends on is learnt.
// Without keep_trail (the search for any model), only the caller's assumptions come first, each at
// a level of its own as in the in-order search, so that every level holds one decision: a conflict
// among them, or a rejection by the theory, is then analysed like any other.
// A complete assignment becomes the witness. Then, unless keep_trail is false (the model then
// stays), the in-order decisions are made again one per level, in order, up to the first that is no
// longer possible.
auto search_state::excursion(bool keep_trail, excursion_end& end, std::int64_t conflict_cap) -> step {
  assumptions_.clear();
  if (keep_trail) {
    for (std::int32_t level = root_level_; level < decision_level_; ++level)
      assumptions_.append(trail_[level_starts_[level]]);
  }
  const std::int32_t block = root_level_ + (assumptions_.is_empty() ? 0 : 1);  // the assumptions' level
  unassign_all(root_level_);
  // Beside the in-order decisions, the search starts from the witness, which agrees with all but
  // the last of them: a new witness is usually a few changes away. After a rejection it starts from
  // the rejected model, which only the theory's new entries rule out. Without either it starts from
  // false, not from the values the in-order search gave, which lean to true wherever it went.
  if (keep_trail) {
    const auto slots = static_cast<std::size_t>(last_) + 1;
    if (witness_phases_) {
      std::memcpy(phase_, witness_, slots);
    } else {
      std::memset(phase_, 0, slots);
    }
  }
  ++stats_.excursions;
  start_restarts(keep_trail);
  end = excursion_end::witness;
  for (;;) {
    const conflict c = propagate();
    if (c && decision_level_ == 0) return step::no_model;  // before any bound, as in propagate_and_learn
    if (out_of_budget()) return step::stopped;
    if (c) {
      if (decision_level_ == block) {
        refute(c);
        end = excursion_end::refuted;
        break;
      }
      if (const step s = resolve_conflict(c, false); s != step::done) return s;  // a speculation failed
      count_learnt(true);
      track_lbd();
      continue;
    }
    if (decision_level_ < block) {
      // Make the assumptions, all at one level; one found false refutes them.
      open_level();
      bool refuted = false;
      for (std::int32_t i = 0; i < assumptions_.size && !refuted; ++i) {
        const literal p = assumptions_.e[i];
        if (val(p) == variable_value::unset) assign(p, nullptr);
        refuted = val(p) == variable_value::false_;
        if (refuted) refute(conflict{conflict::kind::assumption, nullptr, p});
      }
      if (refuted) {
        end = excursion_end::refuted;
        break;
      }
      continue;
    }
    if (!keep_trail && assumed_ < user_count_) {
      if (const step s = place_assumptions(); s != step::done) return s;
      continue;
    }
    if (conflicts_ >= conflict_cap) {
      end = excursion_end::capped;
      break;
    }
    if (restart_due()) unassign_all(block);
    reduce_when_due();
    const variable v = pick_by_activity();
    if (to_int(v) == 0) {
      record_witness();
      ++stats_.witnesses;
      if (!keep_trail) return step::done;
      break;
    }
    decide_literal(phase_[to_int(v)] != 0 ? +v : -v);
  }

  // Back to the in-order search: its decisions again, one per level.
  unassign_all(root_level_);
  if (end == excursion_end::refuted) {
    ++stats_.refutations;
    // A refutation of the caller's assumptions alone ends the search; the clause is kept all the same.
    const bool final = assumptions_refuted();
    const step s = learn_refutation();
    if (final) return step::assumptions_refuted;
    if (s != step::done) return s;
  }
  if (const step s = propagate_and_learn(); s != step::done) return s;  // a literal learnt for good may wait
  for (std::int32_t i = 0; i < assumptions_.size; ++i) {
    const literal p = assumptions_.e[i];
    if (val(p) == variable_value::true_) continue;
    if (val(p) == variable_value::false_) break;
    const std::int64_t before = conflicts_;
    decide_literal(p);
    if (const step s = propagate_and_learn(); s != step::done) return s;
    if (conflicts_ != before) break;
  }
  return step::done;
}

}  // namespace nubrix::engine
