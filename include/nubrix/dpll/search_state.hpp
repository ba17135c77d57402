// The state of one search and the operations that change an assignment; part of <nubrix/dpll.hpp>.
#ifndef NUBRIX_DPLL_SEARCH_STATE_HPP
#define NUBRIX_DPLL_SEARCH_STATE_HPP

#include <nubrix/dpll.hpp>
#include <nubrix/dpll/internal_formula.hpp>

namespace nubrix {

// All working data of one search. The caller's model is the assignment, written in place. Levels
// only grow along the order of assignment (every assignment is made at the current level, and a
// jump undoes whole levels), so the variables assigned, kept in that order, let undoing levels cost
// what is undone rather than a pass over every variable.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
class dpll<user_context, check>::search_state {
 public:
  // A state over f, ctx and m that owns nothing yet; start() allocates its tables.
  search_state(internal_formula& f, user_context& ctx, model& m, variable_or_null min_vars) noexcept
      : f_(f), ctx_(ctx), m_(m), min_vars_(min_vars) {}

  // Runs the search to its end: returns true with an accepted model in m, false when there is none.
  // Releases everything the search owns on a normal return; after an exception the caller must call
  // cleanup(). Raises std::bad_alloc and whatever check raises.
  bool search();

  // Releases the tables, the queue and the learnt-clause block, and destroys the internal formula
  // (every clause and list; the record itself stays). Returns result.
  bool cleanup(bool result) noexcept;

 private:
  friend struct testing::dpll_access;

  // Allocates the tables and counts the unset entries of m; the entries already set become level-0
  // facts with no antecedent, queued for propagation.
  void start();
  // The search proper, on a started state; see search().
  bool run();

  // --- assignment ---
  std::int32_t& level_of(variable v) noexcept { return lit_decisions_[to_int(v)]; }
  literal_array_access& antecedent_of(variable v) noexcept { return lit_antecedents_[to_int(v)]; }
  bool& mark(literal l) noexcept { return learnt_mask_[to_int(l)]; }
  variable_value& value(variable v) noexcept { return values_[to_int(v) - value_base_]; }

  // The value of literal x: the value of its variable, with true and false exchanged when x < 0.
  // Kept per literal beside the model, so that the hot loops read it with one load.
  variable_value val(literal x) noexcept { return lit_values_[to_int(x)]; }

  // Gives var the value at the current level, records the antecedent (null for a decision) and
  // queues the literal that became false. var must be unset.
  void assign(variable var, bool value, literal_array_access antecedent) {
    assert(this->value(var) == variable_value::unset);
    set_value(var, value ? variable_value::true_ : variable_value::false_);
    level_of(var) = decision_level_;
    antecedent_of(var) = antecedent;
    trail_[trail_size_++] = var;
    --unassigned_left_;
    add_to_propagate(value ? -var : +var);
  }

  // Makes var unset; its antecedent entry is left stale and is never read for an unset variable.
  void unassign(variable var) noexcept {
    set_value(var, variable_value::unset);
    level_of(var) = 0;
    ++unassigned_left_;
  }

  // Writes x as the value of var into the model and the per-literal copy.
  void set_value(variable var, variable_value x) noexcept {
    static constexpr variable_value negation[] = {variable_value::false_, variable_value::true_, variable_value::unset};
    value(var) = x;
    lit_values_[to_int(var)] = x;
    lit_values_[-to_int(var)] = negation[static_cast<std::uint8_t>(x)];
  }

  // Undoes every assignment above `level`; first_unset moves down to the lowest variable undone and
  // is left as it was when nothing is undone.
  void unassign_all(std::int32_t level) noexcept;

  void add_to_propagate(literal l) { to_propagate_.append(l); }
  void clear_propagation() noexcept { to_propagate_.clear(); }

  // Decides the lowest unset variable at or after first_unset true, at a new level.
  void decide();

  // --- propagation ---
  // Propagates the queue to a fixpoint. True: the queue is empty and no clause is violated. False: a
  // conflict has been set up for backjump() and the queue emptied.
  bool unit_propagate();

  // Propagates, and learns from every conflict, until a fixpoint: false when a conflict is met at
  // level 0 (there is no model).
  bool propagate_and_learn();

  // --- conflict analysis ---
  // Starts the analysis of a clause whose literals are all false, one at least at the current level.
  void setup_backjump(literal_array_access conflicting_clause);
  // Starts the analysis of two true variables of one at-most-one range, as the clause (first, second).
  void setup_backjump(literal first_lit, literal second_lit);
  // Starts the analysis of the clause that excludes the current decisions, the negation of each.
  void setup_backjump_on_decisions();
  // Learns the first-UIP clause, jumps to the highest level among its other literals and asserts
  // its literal of the current level. False when the conflict is at level 0.
  bool backjump();
  // Resolves the clause being learnt, at position pivot_index, with the antecedent of its pivot.
  void resolve(literal_array_access right, std::int32_t pivot_index);

  // --- the search and the theory ---
  // Assigns a unit clause's literal at level 0 and propagates; false when var already has the other
  // value or propagation meets a conflict.
  bool check_assign(variable var, bool value, literal_array_access antecedent);
  // Asks the theory about the completed model; see theory_step.hpp. Returns accepted, or rejected and
  // the search goes on, or there is no model.
  enum class verdict : std::uint8_t { accepted, go_on, no_model };
  verdict theory_step();
  // Makes the rejected model's explanation part of the search (its clauses enter at `first_new`) and
  // resumes. False when there is no model left.
  bool backtrack(std::int32_t first_new);
  // Puts the two best literals of a new clause first: non-false ones, then the false ones of the
  // highest levels. Returns the number of non-false literals.
  std::int32_t reorder_clause(literal_array_access c) noexcept;

  // Inputs of the search.
  internal_formula& f_;        // the clauses and watch lists; learnt clauses are added to it
  user_context& ctx_;          // the theory's context, passed to check
  model& m_;                   // the assignment, the caller's own model
  variable_or_null min_vars_;  // decide no variable once first_unset has passed it

  // Fields of the search.
  std::int32_t unassigned_left_ = 0;                  // variables of m that are unset
  variable first_unset_{1};                           // decide() looks from here; every variable below it is set
  std::int32_t decision_level_ = 0;                   // current decision level, 0 before the first decision
  std::int32_t* lit_decisions_ = nullptr;             // decision level of each variable 0 .. last, 0 while unset
  literal_array_access* lit_antecedents_ = nullptr;   // clause that forced each variable, null if decided
  variable* trail_ = nullptr;                         // the variables assign() has set, in order: levels never decrease
  std::int32_t trail_size_ = 0;                       // entries in use in trail_, 0 .. last
  internals::literal_vectors::vector to_propagate_;   // literals made false and not yet propagated (a stack)
  internals::literal_vectors::vector learnt_clause_;  // the clause being learnt; owns its block until handed over
  bool* learnt_mask_block_ = nullptr;                 // the mask's block, literals -last .. last
  bool* learnt_mask_ = nullptr;                 // entry of literal 0 in that block: marks the learnt clause's literals
  variable_value* lit_values_block_ = nullptr;  // the values of the literals -last .. last
  variable_value* lit_values_ = nullptr;        // entry of literal 0 in that block: val(l) is lit_values_[l]

  // Shortcuts into the inputs, fixed at start().
  variable_value* values_ = nullptr;  // m's entries
  std::int32_t value_base_ = 1;       // m's first index: variable v is values_[v - value_base_]
  std::int32_t last_ = 0;             // m's last index, the highest variable
  watch_list* watches_ = nullptr;     // watch list of literal 0 in f: list of l is watches_[l]
};

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::start() {
  value_base_ = m_.first();
  last_ = m_.last();
  values_ = m_.data();
  first_unset_ = variable{m_.first()};
  if (last_ >= 1 && m_.first() <= last_) watches_ = &f_.occurs_list(literal{0});

  const auto slots = static_cast<std::size_t>(last_ < 0 ? 0 : last_) + 1;  // variables 0 .. last
  lit_decisions_ = static_cast<std::int32_t*>(internals::allocate(slots * sizeof(std::int32_t)));
  std::memset(lit_decisions_, 0, slots * sizeof(std::int32_t));
  lit_antecedents_ = static_cast<literal_array_access*>(internals::allocate(slots * sizeof(literal_array_access)));
  for (std::size_t v = 0; v < slots; ++v) ::new (lit_antecedents_ + v) literal_array_access{};
  trail_ = static_cast<variable*>(internals::allocate(slots * sizeof(variable)));
  learnt_mask_block_ = static_cast<bool*>(internals::allocate(2 * slots - 1));
  learnt_mask_ = learnt_mask_block_ + (slots - 1);
  lit_values_block_ = static_cast<variable_value*>(internals::allocate(2 * slots - 1));
  lit_values_ = lit_values_block_ + (slots - 1);
  std::fill_n(lit_values_block_, 2 * slots - 1, variable_value::unset);

  for (std::int32_t v = m_.first(); v <= last_; ++v) {
    const variable_value x = value(variable{v});
    set_value(variable{v}, x);
    if (x == variable_value::unset) {
      ++unassigned_left_;
    } else {
      add_to_propagate(x == variable_value::true_ ? -variable{v} : +variable{v});
    }
  }
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::search_state::cleanup(bool result) noexcept {
  internals::release(lit_decisions_);
  lit_decisions_ = nullptr;
  internals::release(lit_antecedents_);
  lit_antecedents_ = nullptr;
  internals::release(trail_);
  trail_ = nullptr;
  internals::release(learnt_mask_block_);
  learnt_mask_block_ = learnt_mask_ = nullptr;
  internals::release(lit_values_block_);
  lit_values_block_ = lit_values_ = nullptr;
  to_propagate_.destroy();
  to_propagate_ = internals::literal_vectors::empty_vector;
  learnt_clause_.destroy();
  learnt_clause_ = internals::literal_vectors::empty_vector;
  f_.destroy();
  return result;
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::unassign_all(std::int32_t level) noexcept {
  variable lowest{0};
  while (trail_size_ > 0 && level_of(trail_[trail_size_ - 1]) > level) {
    const variable var = trail_[--trail_size_];
    unassign(var);
    if (to_int(lowest) == 0 || var < lowest) lowest = var;
  }
  if (to_int(lowest) != 0) first_unset_ = lowest;
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::decide() {
  const variable var = decisions::first_unassigned(m_, first_unset_);
  assert(to_int(var) != 0);
  ++decision_level_;
  assign(var, true, literal_array_access{});
}

}  // namespace nubrix

#endif  // NUBRIX_DPLL_SEARCH_STATE_HPP
