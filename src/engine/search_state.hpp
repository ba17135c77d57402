// The state of one search and the small operations that change an assignment, with the trail, the
// per-variable tables and the counters. Each concern of the search is a file of its own beside this
// one, all working on this state:
//   trail.cpp           tables, assignment, undoing levels, the in-order decision
//   clause_store.cpp    the internal formula and its watch and implication lists
//   propagation.cpp     unit propagation
//   analysis.cpp        first-UIP analysis, minimisation, learning and backjumping
//   final_conflict.cpp  the caller's assumptions and the refutations that involve them
//   reduction.cpp       releasing learnt clauses
//   decisions.cpp       the activity heap: decisions by activity
//   restarts.cpp        when a search by activity restarts
//   preferred.cpp       the preferred model: witness, dive, excursion, speculation
//   theory_step.cpp     asking the theory, and resuming after a rejection
//   limits.cpp          bounds, polling and statistics
//   search.cpp          the search loop
//   solve.cpp           the entry points: a formula in, an answer out
#ifndef NUBRIX_ENGINE_SEARCH_STATE_HPP
#define NUBRIX_ENGINE_SEARCH_STATE_HPP

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>

#include <nubrix/control.hpp>
#include <nubrix/decisions.hpp>
#include <nubrix/dpll.hpp>
#include <nubrix/proof.hpp>

#include "clause_store.hpp"
#include "parameters.hpp"

namespace nubrix::testing {
template <typename user_context, auto check>
struct access;  // the test suite's window on the search's internal state
}

namespace nubrix::engine {

// All working data of one search. The caller's model is the assignment, written in place. The
// literals made true are kept on a trail in the order of assignment; levels never decrease along
// it (every assignment is made at the current level, and a jump undoes whole levels), so undoing
// levels pops a suffix, and the part of the trail not yet propagated is the propagation queue.
//
// Control flow. Each step of the search (propagating and learning, placing the assumptions, an
// excursion, a turn, taking a theory's explanation in) ends with one value, a `step`, that says
// what happened: done, and the search goes on; or it must end or change course, and the caller
// passes that value up, but for a failed speculation, which the preferred search abandons where it
// made it. run() turns the last value into the answer.
class search_state {
 public:
  using clock = std::chrono::steady_clock;

  // How a step of the search ended.
  enum class step : std::uint8_t {
    done,                 // it did what it was for: the search goes on
    no_model,             // the clauses held, with the entries received, have no model
    stopped,              // a bound was reached or terminate said stop: the answer is unknown
    speculation_failed,   // the levels speculated on have no model together: abandon_speculation() is due
    assumptions_refuted,  // the caller's assumptions cannot all hold: failed_ lists those the refutation used
  };

  // A state over f, the theory and m that owns nothing yet, bounded by `options` but searching by
  // `policy` (options.policy is not read), for a solve that began at `began`, tuned by `tuning`;
  // start() allocates its tables.
  search_state(internal_formula& f, const theory_ref& theory, model& m, variable_or_null min_vars,
               search_policy policy = search_policy::in_order, const solve_options& options = {},
               clock::time_point began = {}, const parameters& tuning = default_parameters) noexcept
      : f_(&f), theory_(theory), m_(m), min_vars_(min_vars), options_(options), params_(tuning), began_(began) {
    options_.policy = policy;
    speculation_margin_ = tuning.speculation_margin;
    next_reduction_ = reduction_step_ = tuning.first_reduction;
    turn_end_ = tuning.first_in_order_turn;
    in_order_turn_ = tuning.in_order_turn;
    excursion_cap_ = tuning.excursion_cap;
  }

  // Runs the search to its end: returns sat with an accepted model in m, unsat when there is none,
  // unknown when it had to stop first (m's entries then as they were given). Releases everything the
  // search owns on a normal return; after an exception the caller must call cleanup(). Raises
  // std::bad_alloc and whatever check and the options' callbacks raise.
  solve_result search();
  // Allocates the tables and counts the unset entries of m; the entries already set become level-0
  // facts with no antecedent, queued for propagation.
  void start();
  // The search proper, on a started state (a persistent one readied by begin_solve()); see search().
  solve_result run();

  // Records the final level and learnt clause count, puts back m's entries as they were given when
  // result is unknown, releases the tables and the scratch lists, and destroys the internal formula
  // (every clause and list; the record itself stays). Returns result.
  solve_result cleanup(solve_result result) noexcept;

  // What the search did, its time measured up to `now`.
  solve_statistics statistics(clock::time_point now) const noexcept;

  // Makes the search write its proof to `proof` (null: no proof), which must outlive the search.
  void set_proof(proof_writer* proof) noexcept { proof_ = proof; }
  // Makes the search assert the `count` literals at `facts` (which must outlive it) at level 0, after
  // the unit clauses it holds: facts of unit clauses, or forced by the clauses, that it no longer
  // holds as clauses.
  void set_root_facts(const literal* facts, std::int32_t count) noexcept {
    root_facts_ = facts;
    root_fact_count_ = count;
  }

  // Makes the search hold the `count` literals at `assumptions` (variables of m; they must outlive
  // the search) before any other decision, each decided at a level of its own; when they cannot all
  // hold, the search ends without a model and appends to `failed` the ones that the refutation used.
  // Call once, after start() and before run().
  void set_assumptions(const literal* assumptions, std::int32_t count, internals::literal_vectors::vector* failed) {
    user_assumptions_ = assumptions;
    user_count_ = count;
    failed_ = failed;
    for (std::int32_t i = 0; i < count; ++i) assumed_flags_[to_int(get_var(assumptions[i]))] = 1;
  }
  // Makes cleanup() leave the internal formula's clauses to the caller instead of releasing them.
  void keep_formula() noexcept { keep_formula_ = true; }
  // Makes the searches by activity start from the phases in `phases` (entry v: 1 for true, 0 for
  // false, for v in 0 .. m's last variable), and cleanup() write there the phases it ends with: the
  // value of each variable set, the saved phase of the others.
  void share_phases(std::uint8_t* phases) noexcept { shared_phases_ = phases; }

  // --- a state that lives across solves (incremental.cpp) ---
  // Makes the state last across solves, for the incremental engine: cleanup() then leaves the
  // tables, the trail and the internal formula in place, the unit clauses are asserted as they
  // arrive rather than by a pass of each solve, and end_solve() goes back to level 0 after each.
  // Call before start().
  void make_persistent() noexcept { persistent_ = keep_formula_ = true; }
  // Allocates the tables (start()) and asserts the unit clauses already in the internal formula:
  // false when that meets a conflict, and there is no model from then on.
  bool start_persistent();
  // Makes room in every per-variable table for the variables up to `last`, their contents
  // unchanged. Raises std::bad_alloc, the state unchanged but for room.
  void reserve_variables(std::int32_t last);
  // Takes up the variables that the model gained (room made by reserve_variables), unset, and the
  // internal formula that now holds their lists, at level 0.
  void adopt_variables(internal_formula& f) noexcept;
  // What the clause of `lits` (variables of m) is at level 0: returns -1 when a literal is true or
  // two are complementary (the clause holds for good), else the number of distinct literals not
  // false, which it writes to `out` (room for lits.size() literals).
  std::int32_t simplify_at_root(std::span<const literal> lits, literal* out) noexcept;
  // At level 0: makes the clause or range c, just stored in the internal formula, part of the
  // search: watched, and what it forces asserted and propagated. False when it leaves no model.
  // Raises std::bad_alloc, after which the state must be rebuilt.
  bool attach_at_root(literal_array_access c);
  // Readies the state for a solve within `options` (and by their policy) begun at `began`, with
  // `theory`: the counters and schedules of one solve start afresh; the trail's level 0, the learnt
  // clauses, activities and phases carry over.
  void begin_solve(const solve_options& options, clock::time_point began, const theory_ref& theory);
  // The entries the theory gave that joined f_->clauses in this solve.
  std::int32_t entries_received() const noexcept { return entries_received_; }
  // After a solve (its model read): back to level 0, the assumptions forgotten, and once the learnt
  // clauses pass half as many again as `kept`, those beyond `kept` of most levels released. Raises
  // std::bad_alloc, after which the state must be rebuilt.
  void end_solve(std::int32_t kept);
  // Whether the last unsat answer was a refutation of the caller's assumptions (not of the formula).
  bool assumptions_failed() const noexcept { return assumptions_failed_; }
  // Releases the tables of a persistent state; the internal formula is its owner's.
  void release_tables() noexcept;

 private:
  template <typename, auto>
  friend struct nubrix::testing::access;

  // How a variable got its value.
  struct var_record {
    std::int32_t level;    // decision level of the assignment; 0 while unset
    literal because;       // forced by a binary clause or an at-most-one range: the false literal that
                           // forced it (the clause's other one, or -v for the range's true v); else 0
    array_bounds* reason;  // the clause or range that forced it; null for a decision, a preset entry
                           // and a binary clause (`because` stands for it)
  };
  static_assert(sizeof(var_record) == 16);

  // What propagation ran into: a clause whose literals are all false (a binary one as a pair), two
  // true variables of one at-most-one range, or (only from the theory step) the current decisions,
  // all of which the theory rejected together. Refuting assumptions also starts from an assumption
  // found false.
  struct conflict {
    enum class kind : std::uint8_t { none, clause, pair, decisions, assumption } what = kind::none;
    array_bounds* clause = nullptr;  // kind::clause: the violated clause
    literal first{0}, second{0};     // kind::pair: two false literals, the clause violated (for a
                                     // range, the negations of its two true variables);
                                     // kind::assumption: the assumption, in first
    explicit operator bool() const noexcept { return what != kind::none; }
  };

  // The per-variable tables in one block, for `slots` variables (0 .. slots - 1): what the old
  // block held is copied, new entries start as for an unset variable. Raises std::bad_alloc with
  // the tables unchanged.
  void place_tables(std::size_t slots);

  // --- bounds ---
  // Whether the solve must stop: two comparisons, and a poll() once the propagations reach next_poll_
  // or the conflicts their limit. Sets stopped_ when it says yes.
  bool out_of_budget() {
    if (stats_.propagations < next_poll_ && conflicts_ < options_.conflict_limit) return false;
    return poll();
  }
  // Tests every bound, reads the clock when a deadline or progress calls need it, calls progress
  // when due and asks terminate; schedules the next poll. Returns stopped_.
  bool poll();

  // --- assignment ---
  std::int32_t level_of(variable v) const noexcept { return vars_[to_int(v)].level; }
  // Whether v was forced (by a clause or range of the search), rather than decided or preset.
  bool forced(variable v) const noexcept {
    const var_record& r = vars_[to_int(v)];
    return r.reason != nullptr || r.because != literal{0};
  }
  variable_value& value(variable v) noexcept { return values_[to_int(v) - value_base_]; }

  // The value of literal x: the value of its variable, with true and false exchanged when x < 0.
  // Kept per literal beside the model, so that the hot loops read it with one load.
  variable_value val(literal x) const noexcept { return lit_values_[to_int(x)]; }

  // Makes literal l true at the current level with the given reason (null for a decision) and puts
  // it on the trail, where propagation will find it. Its variable must be unset.
  void assign(literal l, array_bounds* reason, literal because = literal{0}) noexcept {
    const variable var = get_var(l);
    assert(value(var) == variable_value::unset);
    set_value(var, is_positive(l) ? variable_value::true_ : variable_value::false_);
    vars_[to_int(var)] = var_record{decision_level_, because, reason};
    trail_[trail_size_++] = l;
    --unassigned_left_;
  }

  // Makes var unset; its reason is left stale and is never read for an unset variable. With
  // decisions by activity, its value is saved as its phase and it goes back into the heap.
  void unassign(variable var) noexcept {
    if (phase_ != nullptr) {
      phase_[to_int(var)] = value(var) == variable_value::true_ ? 1 : 0;
      if (heap_position_[to_int(var)] < 0 && var <= min_vars_) heap_insert(var);
    }
    set_value(var, variable_value::unset);
    vars_[to_int(var)].level = 0;
    ++unassigned_left_;
  }

  // Writes x as the value of var into the model and the per-literal copy.
  void set_value(variable var, variable_value x) noexcept {
    static constexpr variable_value negation[] = {variable_value::false_, variable_value::true_, variable_value::unset};
    value(var) = x;
    lit_values_[to_int(var)] = x;
    lit_values_[-to_int(var)] = negation[static_cast<std::uint8_t>(x)];
  }

  // Undoes every assignment above `level`, which becomes the current level; first_unset moves down
  // to the lowest variable undone when that is below it.
  void unassign_all(std::int32_t level) noexcept;

  // Decides the lowest unset variable at or after first_unset true, at a new level.
  void decide() noexcept;

  // --- the caller's assumptions ---
  // Makes every assumption true: those not yet true are decided in order, each at a new level, so
  // that they lie below every other decision. assumptions_refuted when one is found false (failed_
  // then lists the assumptions that imply it false, it included).
  step place_assumptions();
  // Records the assumptions whose negations learnt_ holds as the failed ones when every literal of
  // learnt_ is the negation of an assumption; returns whether it did.
  bool assumptions_refuted();
  // Makes l true as the decision of a new level.
  void decide_literal(literal l) noexcept {
    open_level();
    ++stats_.decisions;
    assign(l, nullptr);
  }
  // Starts a new decision level at the end of the trail.
  void open_level() noexcept {
    level_starts_[decision_level_++] = trail_size_;
    if (decision_level_ > stats_.highest_level) stats_.highest_level = decision_level_;
  }

  // --- the preferred search and the search for any model (preferred.cpp) ---
  // Until every variable up to min_vars is set (done), by the policy's search.
  step assign_all();
  // Whether a variable up to min_vars is still unset.
  bool undecided() const noexcept { return unassigned_left_ > 0 && first_unset_ <= min_vars_; }
  // How an excursion that is done ended: a witness found, the last in-order decision refuted, or
  // its conflict cap reached first.
  enum class excursion_end : std::uint8_t { witness, refuted, capped };
  // Searches by activity, with restarts, for a model that keeps the in-order decisions now on the
  // trail (none when `keep_trail` is false), until conflicts_ reaches conflict_cap; see
  // preferred.cpp. When done, `end` says how it ended.
  step excursion(bool keep_trail, excursion_end& end,
                 std::int64_t conflict_cap = std::numeric_limits<std::int64_t>::max());
  // The preferred search's turn with a witness: done when every variable up to min_vars is set, or
  // when an excursion without a witness reaches its cap (`stuck` then set).
  step witness_turn(bool& stuck);
  // How a dive ended.
  enum class dive_end : std::uint8_t { witness, conflict, stopped };
  // With a witness that the trail keeps but for its last decision: decides the unset variables by
  // activity with the witness's values, and when every variable is set without a conflict, takes
  // that assignment as the new witness. Undoes its own decisions either way and learns nothing: a
  // conflict only means that an excursion must answer.
  dive_end dive();
  // Whether the values the preferred search has settled may hold for good (see preferred.cpp): only
  // when every model is accepted and the clauses learnt under them die with the search.
  bool may_settle() const noexcept {
    return theory_.accepts_every_model && proof_ == nullptr && !keep_formula_ && options_.learnt_clause == nullptr;
  }
  // Copies the complete, conflict-free assignment into the witness, which bears out a speculation.
  void record_witness() noexcept {
    keep_witness_phases();
    have_witness_ = true;
    speculating_ = false;
  }
  // Copies the complete assignment into witness_ as the phases the next excursion starts from.
  void keep_witness_phases() noexcept {
    for (std::int32_t i = 1; i <= last_; ++i) witness_[i] = val(literal{i}) == variable_value::true_ ? 1 : 0;
    witness_phases_ = true;
  }
  // Before the first witness, takes the in-order decisions on the trail as facts, but for the newest
  // speculation_margin_ of them, when there are more than twice as many; see preferred.cpp.
  void speculate() noexcept;
  // After a speculation met a conflict among its facts: learns that its decisions cannot hold
  // together, releases every clause learnt under them and goes on from the level below.
  step abandon_speculation();
  // Passes s on, but abandons a failed speculation first.
  step unless_speculation_failed(step s) { return s == step::speculation_failed ? abandon_speculation() : s; }
  // Derives into learnt_ the negation of the assumptions that a conflict at their level depends on.
  void refute(const conflict& c);
  // Makes learnt_ a clause of the search at root_level_, asserted there when it has one literal.
  step learn_refutation();
  // Allocates what decisions by activity need; every variable up to min_vars goes into the heap.
  void enable_activity();
  // The tables of decisions by activity in one block, for `slots` variables: what the old block
  // held is copied, new entries start as for a variable never bumped. Raises std::bad_alloc with
  // the tables unchanged.
  void place_activity(std::size_t slots);
  // The unset variable of the highest activity up to min_vars; 0 when every one is set.
  variable pick_by_activity() noexcept;
  void bump(variable v) noexcept;
  void heap_insert(variable v) noexcept;
  void heap_up(std::int32_t i) noexcept;
  void heap_down(std::int32_t i) noexcept;

  // --- restarts (restarts.cpp) ---
  // Starts the restart schedule of an excursion: by the levels its learnt clauses span when
  // `by_lbd` (under in-order decisions), else on the Luby sequence.
  void start_restarts(bool by_lbd) noexcept;
  // Takes the levels spanned by the clause an excursion just learnt into the moving averages.
  void track_lbd() noexcept;
  // Whether the excursion restarts now; when it does, counts the restart and schedules the next.
  bool restart_due() noexcept;
  // The i-th term (from 0) of the Luby sequence 1 1 2 1 1 2 4 ...
  static std::int64_t luby(std::int64_t i) noexcept;

  // --- propagation ---
  // Propagates the trail from its first unpropagated literal to a fixpoint. Returns no conflict
  // when every literal on the trail is propagated and no clause is violated; otherwise the first
  // conflict met, with the rest of the trail left unpropagated.
  conflict propagate();

  // Propagates, and learns from every conflict, until a fixpoint (done), checking the bounds after
  // each propagation.
  step propagate_and_learn();

  // --- conflict analysis ---
  // The clause learnt from a conflict: where the search jumps and how many levels it spans.
  struct analysis {
    std::int32_t jump_level;  // the highest level among its literals but the first; root_level_ for one
    std::int32_t lbd;         // the number of distinct levels among its literals
  };
  // Derives into learnt_ the first-UIP clause of `c`, met at the current level (above root_level_),
  // with every literal of a level that holds for good left out and every literal implied by the
  // others removed: its literal of the current level first, a literal of the highest other level
  // second.
  analysis analyze(const conflict& c);
  // Makes learnt_ a clause of the search (for good when `keep`, else one that reduction may
  // release), undoes the levels above the jump level and asserts the clause's first literal there.
  void learn(const analysis& a, bool keep);
  // Calls fn with each literal of a conflict of kind clause or pair, all of them false.
  template <typename function>
  void for_each_conflict_literal(const conflict& c, function fn) const {
    if (c.what == conflict::kind::pair) {
      fn(c.first);
      fn(c.second);
      return;
    }
    const literal* const lits = clause_literals(c.clause);
    const std::int32_t n = c.clause->last - c.clause->first + 1;
    for (std::int32_t i = 0; i < n; ++i) fn(lits[i]);
  }
  // Calls fn with every literal of the clause or range that forced var, except var's own, until fn
  // returns false.
  template <typename function>
  void for_each_reason_literal(variable var, function fn) const;
  // Whether the false literal l of the learnt clause is implied by the clause's other literals,
  // following reasons down to them; `levels` has bit (level mod 32) set for each of their levels.
  // Marks what it proves implied, and lists it in to_clear_.
  bool redundant(literal l, std::uint32_t levels);
  // Clears the marks of the variables listed in to_clear_ and empties the list.
  void clear_marks() noexcept;

  // --- learnt clause reduction ---
  // Releases the less useful half of the learnt clauses that reduction may release, never one
  // that is the reason of a current assignment or of literal block distance two or less.
  void reduce_learnts();
  // Releases the learnt clauses beyond the `kept` most useful, but for those of at most kept_lbd
  // levels and the reasons of current assignments; returns how many.
  std::int32_t keep_most_useful(std::int32_t kept);
  // Which learnt clauses a release takes: those that span more than `lbd_above` levels and were
  // learnt at or after conflict `age_from`.
  struct release_filter {
    std::int32_t lbd_above;
    std::int64_t age_from;
  };
  // Releases the learnt clauses from position `from` on that `filter` takes, except those that are
  // the reason of a current assignment; returns how many.
  std::int32_t release_learnts(std::int32_t from, release_filter filter);
  // Whether the clause c is the reason of a current assignment.
  bool locked(array_bounds* c) const noexcept;
  // Reduces when conflicts_ has reached next_reduction_, which then moves on by a step 300 longer
  // than the last.
  void reduce_when_due() {
    if (conflicts_ < next_reduction_) return;
    reduce_learnts();
    reduction_step_ += params_.reduction_growth;
    next_reduction_ = conflicts_ + reduction_step_;
  }

  // --- the search and the theory ---
  // Assigns a unit clause's literal at level 0 and propagates; false when its variable already
  // has the other value or propagation meets a conflict.
  bool check_assign(literal l, array_bounds* antecedent);
  // Asks the theory about the completed model; see theory_step.cpp. Sets `accepted`; done when the
  // theory accepted, or rejected and the search goes on.
  step theory_step(bool& accepted);
  // Makes the rejected model's explanation part of the search (its clauses enter at `first_new`) and
  // resumes.
  step backtrack(std::int32_t first_new);
  // Puts the two best literals of a new clause first: non-false ones, then the false ones of the
  // highest levels. Returns the number of non-false literals.
  std::int32_t reorder_clause(literal_array_access c) noexcept;
  // Analyses c as a conflict at the current level and learns from it; unless the level holds for
  // good: level 0 (no model), or a speculation's.
  step resolve_conflict(const conflict& c, bool keep);
  // Counts the clause learnt last toward the excursions' clauses or the in-order search's.
  void count_learnt(bool in_excursion) noexcept {
    lbd_sums_[in_excursion ? 1 : 0] += last_lbd_;
    ++learnt_counts_[in_excursion ? 1 : 0];
  }
  // Whether the in-order search alone still earns turns; see preferred.cpp.
  bool in_order_earns_turns() const noexcept;
  // Passes the clause c, just learnt and owned by the formula, to the options' learnt_clause
  // callback when there is one and c is short enough.
  void report_learnt(literal_array_access c) const {
    if (options_.learnt_clause != nullptr && c.length() <= options_.learnt_max_size)
      options_.learnt_clause(options_.learnt_data, c.data(), c.length());
  }

  // Ends the search with `result`: closes the proof (with the empty clause after unsat), then
  // releases everything (cleanup).
  solve_result finish(solve_result result);

  // Inputs of the search.
  internal_formula* f_;            // the clauses and watch lists; learnt clauses are added to it
  theory_ref theory_;              // the theory's check and context
  const literal* root_facts_ = nullptr;  // facts asserted at level 0 after the unit clauses
  std::int32_t root_fact_count_ = 0;     // how many
  std::int32_t entries_received_ = 0;  // explanation entries moved into f_->clauses by this solve
  std::int32_t learnts_left_ = 0;      // learnt clauses that the last cut between solves left
  model& m_;                       // the assignment, the caller's own model
  variable_or_null min_vars_;      // decide no variable once first_unset has passed it
  proof_writer* proof_ = nullptr;  // where learnt and released clauses are written, if anywhere

  // Fields of the search.
  std::int32_t unassigned_left_ = 0;             // variables of m that are unset
  variable first_unset_{1};                      // decide() looks from here; every variable below it is set
  std::int32_t decision_level_ = 0;              // current decision level, 0 before the first decision
  std::int32_t root_level_ = 0;                  // levels 1 .. root_level_ hold for good, as level 0 does
  var_record* vars_ = nullptr;                   // level, cause and reason of each variable 0 .. last
  literal* trail_ = nullptr;                     // the literals made true, in order; at most one per variable
  std::int32_t trail_size_ = 0;                  // entries in use in trail_, 0 .. last
  std::int32_t propagated_ = 0;                  // trail_[0 .. propagated_ - 1] are propagated; the rest is queued
  std::int32_t* level_starts_ = nullptr;         // level_starts_[k]: trail position of level k + 1's decision
  std::uint8_t* marks_ = nullptr;                // per variable 0 .. last: 1 while analysis has met it, else 0
  std::uint32_t* level_stamps_ = nullptr;        // per level 0 .. last: the conflict that last counted it
  internals::literal_vectors::vector learnt_;    // the clause being learnt (scratch, reused)
  internals::literal_vectors::vector to_clear_;  // variables whose mark analysis must clear, as literals
  internals::literal_vectors::vector stack_;     // scratch of redundant()
  variable_value* lit_values_block_ = nullptr;   // the values of the literals -last .. last
  variable_value* lit_values_ = nullptr;         // entry of literal 0 in that block: val(l) is lit_values_[l]

  // Decisions by activity: allocated from the start for any_model, and when the preferred search
  // first needs a witness.
  double* activity_ = nullptr;             // per variable: its share in recent conflicts
  double activity_increment_ = 1;          // what a bump adds; grows by 1/0.95 each conflict
  variable* heap_ = nullptr;               // variables by decreasing activity, a binary heap
  std::int32_t heap_size_ = 0;             // entries of heap_ in use
  std::int32_t* heap_position_ = nullptr;  // per variable: its index in heap_, -1 when absent
  std::uint8_t* phase_ = nullptr;          // per variable: 1 when it was last true
  std::uint8_t* shared_phases_ = nullptr;  // the caller's phases, read and written back, if any
  std::uint8_t* witness_ = nullptr;        // per variable: 1 when true in the witness model
  bool have_witness_ = false;              // witness_ satisfies every clause and agrees with the trail
  bool witness_phases_ = false;            // witness_ holds the last witness or rejected model: phases to start from
  // A speculation: until the first witness, the levels 1 .. root_level_ are taken to hold for good,
  // which no model may bear out.
  bool speculating_ = false;
  std::int64_t speculation_start_ = 0;              // conflicts_ when it began: later learnt clauses rest on it
  std::int32_t speculation_clauses_ = 0;            // f_->clauses' size then: later ones, of one literal, rest on it
  std::int32_t speculation_margin_ = 0;             // the newest decisions left out of it; doubles after a failure
  std::int32_t last_lbd_ = 0;                       // the levels spanned by the clause learnt last
  double lbd_recent_ = 0;                           // their moving average in the excursions, recent ...
  double lbd_longer_ = 0;                           // ... and over a longer run
  bool restart_by_lbd_ = false;                     // the excursion's restarts follow those averages, not Luby's
  std::int64_t restart_count_ = 0;                  // restarts of the excursion on the Luby sequence
  std::int64_t restart_at_ = 0;                     // conflicts_ from which the excursion may restart
  internals::literal_vectors::vector assumptions_;  // an excursion's in-order decisions: entry k at level k + 1

  // The caller's assumptions, decided before everything else.
  const literal* user_assumptions_ = nullptr;             // the assumptions, in the caller's order
  std::int32_t user_count_ = 0;                           // how many
  std::int32_t assumed_ = 0;                              // user_assumptions_[0 .. assumed_ - 1] are true ...
  std::int32_t assumed_level_ = 0;                        // ... at this level or below
  std::uint8_t* assumed_flags_ = nullptr;                 // per variable: 1 when an assumption names it
  void* tables_ = nullptr;                                // the block of the per-variable tables
  void* activity_tables_ = nullptr;                       // the block of the tables of decisions by activity
  internals::literal_vectors::vector* failed_ = nullptr;  // where the failed assumptions go
  bool assumptions_failed_ = false;                       // the search ended on assumptions that cannot hold
  bool keep_formula_ = false;                             // cleanup() leaves the clauses to the caller
  bool persistent_ = false;                               // the state lasts across solves
  std::int32_t capacity_ = 0;                             // the highest variable the tables have room for

  // Bounds and statistics.
  solve_options options_;              // the caller's bounds and callbacks, and the policy of this search
  parameters params_;                  // the tuning constants
  clock::time_point began_;            // when the solve began
  clock::time_point next_progress_{};  // when the progress callback is next due
  std::int64_t next_poll_ = 0;         // stats_.propagations at which out_of_budget() polls next
  bool stopped_ = false;               // a bound was reached or terminate said stop: the answer is unknown
  std::int32_t presets_ = 0;           // trail_[0 .. presets_ - 1] are m's entries as the caller gave them
  solve_statistics stats_;             // the counters of the search; conflicts are kept in conflicts_

  // Counters and the reduction schedule.
  std::int64_t conflicts_ = 0;       // conflicts analysed so far
  std::int64_t next_reduction_ = 0;  // conflicts_ at which reduce_learnts() next runs
  std::int64_t reduction_step_ = 0;  // conflicts between two reductions; grows with each
  // The preferred search's turns until the first witness: in order alone, then with excursions,
  // and so on.
  std::int64_t turn_end_ = 0;       // conflicts_ at which the present turn in order alone ends
  std::int64_t in_order_turn_ = 0;  // doubled before each later turn in order alone
  std::int64_t excursion_cap_ = 0;  // conflicts an excursion without a witness may take; doubles each turn
  std::int32_t resume_level_ = std::numeric_limits<std::int32_t>::max();  // decision level the last turn
                                                                          // with excursions ended at
  // The levels spanned by the clauses learnt so far, summed, and how many: [0] in order, [1] by
  // the excursions.
  std::int64_t lbd_sums_[2] = {0, 0};
  std::int64_t learnt_counts_[2] = {0, 0};

  // Shortcuts into the inputs, fixed at start().
  variable_value* values_ = nullptr;          // m's entries
  std::int32_t value_base_ = 1;               // m's first index: variable v is values_[v - value_base_]
  std::int32_t last_ = 0;                     // m's last index, the highest variable
  watch_list* watches_ = nullptr;             // watch list of literal 0 in f: list of l is watches_[l]
  implication_list* implications_ = nullptr;  // the same for the implication lists
};

// Bumping and the heap's sift-up run in every conflict analysis: inline, beside it.
inline void search_state::bump(variable v) noexcept {
  double& a = activity_[to_int(v)];
  a += activity_increment_;
  if (a > 1e100) {
    for (std::int32_t i = 0; i <= last_; ++i) activity_[i] *= 1e-100;
    activity_increment_ *= 1e-100;
  }
  if (heap_position_[to_int(v)] >= 0) heap_up(heap_position_[to_int(v)]);
}

inline void search_state::heap_up(std::int32_t i) noexcept {
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

// Calls fn with every literal of the clause or range that forced var, except var's own, until fn
// returns false.
template <typename function>
void search_state::for_each_reason_literal(variable var, function fn) const {
  const var_record& r = vars_[to_int(var)];
  assert(forced(var));
  if (r.because != literal{0}) {
    // Forced by a binary clause, or false by an at-most-one range whose other variable is true.
    fn(r.because);
    return;
  }
  const literal* const lits = clause_literals(r.reason);
  const std::int32_t n = r.reason->last - r.reason->first + 1;
  for (std::int32_t i = 0; i < n; ++i)
    if (get_var(lits[i]) != var && !fn(lits[i])) return;
}

}  // namespace nubrix::engine

#endif  // NUBRIX_ENGINE_SEARCH_STATE_HPP
