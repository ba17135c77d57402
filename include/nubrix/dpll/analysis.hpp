// Conflict analysis, clause learning and backjumping; part of <nubrix/dpll.hpp>.
#ifndef NUBRIX_DPLL_ANALYSIS_HPP
#define NUBRIX_DPLL_ANALYSIS_HPP

#include <algorithm>

#include <nubrix/dpll.hpp>
#include <nubrix/dpll/search_state.hpp>

namespace nubrix {

// The clause being learnt lives in learnt_clause_, in a fresh block per conflict (the previous block
// went to the previous learnt clause); learnt_mask_ marks every literal that has entered it during
// this analysis, so none enters twice.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::setup_backjump(literal_array_access conflicting_clause) {
  assert(learnt_clause_.e == nullptr);
  learnt_clause_.reserve(conflicting_clause.length());
  std::fill_n(learnt_mask_ - last_, 2 * std::size_t(last_) + 1, false);
  for (const literal l : conflicting_clause) {
    if (mark(l)) continue;
    learnt_clause_.append(l);
    mark(l) = true;
  }
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::setup_backjump(literal first_lit, literal second_lit) {
  assert(learnt_clause_.e == nullptr);
  std::fill_n(learnt_mask_ - last_, 2 * std::size_t(last_) + 1, false);
  learnt_clause_.append(first_lit);
  learnt_clause_.append(second_lit);
  mark(first_lit) = true;
  mark(second_lit) = true;
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::setup_backjump_on_decisions() {
  assert(learnt_clause_.e == nullptr);
  learnt_clause_.reserve(decision_level_);
  std::fill_n(learnt_mask_ - last_, 2 * std::size_t(last_) + 1, false);
  for (std::int32_t v = 1; v <= last_; ++v) {
    const variable var{v};
    if (level_of(var) > 0 && antecedent_of(var).is_null()) {
      assert(value(var) == variable_value::true_);
      learnt_clause_.append(-var);
      mark(-var) = true;
    }
  }
  assert(learnt_clause_.length() == decision_level_);
}

// Precondition: every literal of learnt_clause_ is false, one at least belongs to the current level,
// and the queue is empty. Postcondition on true: the learnt clause is in the formula with its
// literal of the current level (the asserting literal) first, every level above the highest level
// of its other literals is undone, and the asserting literal is true at that level with the learnt
// clause as its antecedent, queued for propagation.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::search_state::backjump() {
  assert(to_propagate_.is_empty());
  if (decision_level_ == 0) {
    learnt_clause_.destroy();
    learnt_clause_ = internals::literal_vectors::empty_vector;
    return false;
  }

  // Resolve until one literal of the current level is left. The pivot is the first literal of the
  // current level, in the clause's current order, that has an antecedent; the scan stops as soon as
  // a pivot and a second literal of the level are known.
  for (;;) {
    std::int32_t found = 0;
    variable pivot{0};
    std::int32_t pivot_index = 0;
    bool scanned_all = true;
    const std::int32_t length = learnt_clause_.length();
    for (std::int32_t lit_index = 1; lit_index <= length; ++lit_index) {
      const variable v = get_var(learnt_clause_.get(lit_index));
      assert(val(learnt_clause_.get(lit_index)) == variable_value::false_);
      if (level_of(v) != decision_level_) continue;
      ++found;
      if (to_int(pivot) == 0) {
        if (!antecedent_of(v).is_null()) {
          pivot = v;
          pivot_index = lit_index;
        }
      } else {
        scanned_all = false;
        break;
      }
    }
    assert(found >= 1);
    if (scanned_all && found == 1) break;
    assert(to_int(pivot) != 0);
    resolve(antecedent_of(pivot), pivot_index);
  }

  // Hand the block over as the learnt clause, move the asserting literal to the front and find the
  // jump level.
  const literal_array_access learnt = internals::get_literal_vector_array(learnt_clause_);
  learnt_clause_ = internals::literal_vectors::empty_vector;
  literal* const lits = learnt.data();
  literal asserting_lit{0};
  std::int32_t backjump_decision_level = 0;
  for (std::int32_t i = 0; i < learnt.length(); ++i) {
    const std::int32_t lit_decision_level = level_of(get_var(lits[i]));
    if (lit_decision_level == decision_level_) {
      asserting_lit = lits[i];
      lits[i] = lits[0];
      lits[0] = asserting_lit;
    } else {
      backjump_decision_level = std::max(backjump_decision_level, lit_decision_level);
    }
  }
  assert(to_int(asserting_lit) != 0);

  decision_level_ = backjump_decision_level;
  unassign_all(decision_level_);
  f_.append_clause(learnt);
  assign(get_var(asserting_lit), is_positive(asserting_lit), learnt);
  return true;
}

// Removes the pivot (the last literal takes its place) and adds the antecedent's other literals,
// each unless already marked. An at-most-one antecedent forced the pivot false because another
// variable of its range is true: the negation of the first such variable is added.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
void dpll<user_context, check>::search_state::resolve(literal_array_access right, std::int32_t pivot_index) {
  const variable pivot = get_var(learnt_clause_.get(pivot_index));
  learnt_clause_.swap_and_remove(pivot_index);
  const literal* const lits = right.data();
  const std::int32_t n = right.length();
  if (lits[0] == literal{0}) {
    const std::int32_t from = to_int(get_var(lits[1]));
    const std::int32_t to = to_int(get_var(lits[n - 1]));
    for (std::int32_t v = from; v <= to; ++v) {
      if (value(variable{v}) != variable_value::true_) continue;
      const literal l = -variable{v};
      if (!mark(l)) {
        learnt_clause_.append(l);
        mark(l) = true;
      }
      break;
    }
    return;
  }
  for (std::int32_t i = 0; i < n; ++i) {
    const literal l = lits[i];
    if (get_var(l) == pivot || mark(l)) continue;
    learnt_clause_.append(l);
    mark(l) = true;
  }
}

}  // namespace nubrix

#endif  // NUBRIX_DPLL_ANALYSIS_HPP
