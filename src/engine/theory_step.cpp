// The theory step: asking the theory about a completed model and resuming after a rejection.
#include <utility>

#include "search_state.hpp"
#include "validation.hpp"

namespace nubrix::engine {

// Calls check with an empty explanation. Accepted: whatever the explanation holds is released.
// Rejected: its entries move into the internal formula, which owns them from then on, and the search
// resumes (backtrack). When check raises, the explanation is released and the exception propagates.
auto search_state::theory_step(bool& accepted) -> step {
  formulas::formula explanation = formulas::clause_vectors::empty_vector;
  accepted = false;
  ++stats_.theory_calls;
  try {
    accepted = theory_.check(theory_.context, std::as_const(m_), explanation);
  } catch (...) {
    formulas::free_all(explanation);
    throw;
  }
  if (accepted) {
    formulas::free_all(explanation);
    return step::done;
  }
  ++stats_.theory_rejections;
  // The rejected model was the witness, if there was one; it is still a model of every clause but
  // the new entries, and the best start the next excursion has (see preferred.cpp).
  if (witness_ != nullptr) keep_witness_phases();
  have_witness_ = false;
  const std::int32_t first_new = f_->clauses.length() + 1;
  for (std::int32_t i = explanation.first_index(); explanation.has_element(i); i = explanation.next(i)) {
    try {
      validate_entry(explanation.get(i), i, m_, "the explanation");
      f_->clauses.append(explanation.get(i));
      ++entries_received_;
    } catch (...) {
      for (std::int32_t k = i; explanation.has_element(k); k = explanation.next(k)) free(explanation.get(k));
      explanation.destroy();
      throw;
    }
  }
  explanation.destroy();
  // The conflicts a rejection causes are the theory's answer, not the cost of deciding in order:
  // they do not count towards the end of the in-order turn, so a formula whose in-order search
  // is cheap keeps it however many models the theory rejects.
  const std::int64_t before = conflicts_;
  const step s = backtrack(first_new);
  turn_end_ += conflicts_ - before;
  return s;
}

namespace {

// What a new entry asks of the search under the current assignment.
struct trouble {
  enum class kind : std::uint8_t { none, conflict, unit } what = kind::none;
  std::int32_t level = 0;  // conflict: highest level among its literals; unit: the level it became unit at
  literal lit{0};          // unit: the literal to assert (+a for an at-most-one whose true variable is a);
                           // conflict on a range: -a
  literal other{0};        // conflict on a range: -b, a and b being two true variables of the range
  bool excludes = false;   // it rules out the assignment it was assessed under
};

}  // namespace

std::int32_t search_state::reorder_clause(literal_array_access c) noexcept {
  literal* const lits = c.data();
  const std::int32_t n = c.length();
  // Rank: a non-false literal beats every false one; among false ones, the higher level wins.
  const auto rank = [&](literal l) {
    return val(l) != variable_value::false_ ? std::numeric_limits<std::int32_t>::max() : level_of(get_var(l));
  };
  std::int32_t non_false = 0;
  for (std::int32_t i = 0; i < n; ++i) non_false += val(lits[i]) != variable_value::false_ ? 1 : 0;
  for (std::int32_t position = 0; position < std::min(n, 2); ++position) {
    std::int32_t best = position;
    for (std::int32_t i = position + 1; i < n; ++i)
      if (rank(lits[i]) > rank(lits[best])) best = i;
    std::swap(lits[position], lits[best]);
  }
  return non_false;
}

// After a rejection: the new entries (from `first_new` on in the clause list) are watched, the
// rejected assignment is excluded (by a falsified entry, by a unit entry that sets a variable the
// model left unset, or else by learning the negation of its decisions), and every entry that is
// violated or unit under the assignment is dealt with, the one of the lowest level first: a violated
// one by undoing the levels above its highest literal and learning from it as from any conflict, a
// unit one by undoing the levels above the one it became unit at and asserting its literal.
auto search_state::backtrack(std::int32_t first_new) -> step {
  const std::int32_t last_new = f_->clauses.length();

  const auto assess = [&](literal_array_access c) {
    trouble t;
    const literal* const lits = c.data();
    const std::int32_t n = c.length();
    if (is_at_most_one(c)) {
      std::int32_t trues = 0, unset = 0;
      variable a{0}, b{0};  // the two true variables of the lowest levels, a first
      for (std::int32_t v = to_int(get_var(lits[1])); v <= to_int(get_var(lits[n - 1])); ++v) {
        const variable var{v};
        if (value(var) == variable_value::unset) ++unset;
        if (value(var) != variable_value::true_) continue;
        ++trues;
        if (to_int(a) == 0 || level_of(var) < level_of(a)) {
          b = a;
          a = var;
        } else if (to_int(b) == 0 || level_of(var) < level_of(b)) {
          b = var;
        }
      }
      if (trues >= 2) {
        t = {trouble::kind::conflict, level_of(b), -a, -b, true};
      } else if (trues == 1 && unset > 0) {
        t = {trouble::kind::unit, level_of(a), +a, literal{0}, true};
      }
      return t;
    }
    std::int32_t non_false = 0, top = 0;
    literal open{0}, held{0};
    for (std::int32_t i = 0; i < n; ++i) {
      switch (val(lits[i])) {
        case variable_value::false_:
          top = std::max(top, level_of(get_var(lits[i])));
          break;
        case variable_value::unset:
          ++non_false;
          open = lits[i];
          break;
        case variable_value::true_:
          ++non_false;
          held = lits[i];
          break;
      }
    }
    if (non_false == 0) {
      t = {trouble::kind::conflict, top, literal{0}, literal{0}, true};
    } else if (non_false == 1 && to_int(open) != 0) {
      t = {trouble::kind::unit, top, open, literal{0}, true};
    } else if (n == 1 && level_of(get_var(held)) > 0) {
      // A one-literal entry is never watched, so its literal must hold at level 0.
      t = {trouble::kind::unit, 0, held, literal{0}, false};
    }
    return t;
  };

  bool excluded = false;
  for (std::int32_t i = first_new; i <= last_new; ++i) {
    const literal_array_access c = f_->clauses.get(i);
    if (c.is_empty()) return step::no_model;
    excluded = excluded || assess(c).excludes;
    if (!is_at_most_one(c)) reorder_clause(c);
    if (c.length() > 1) f_->append_watcher(c);
  }
  if (!excluded) {
    if (const step s = resolve_conflict(conflict{conflict::kind::decisions}, true); s != step::done) return s;
    if (const step s = propagate_and_learn(); s != step::done) return s;
  }

  for (;;) {
    trouble worst;
    literal_array_access at;
    for (std::int32_t i = first_new; i <= last_new; ++i) {
      const literal_array_access c = f_->clauses.get(i);
      const trouble t = assess(c);
      if (t.what == trouble::kind::none) continue;
      const bool sooner = worst.what == trouble::kind::none || t.level < worst.level ||
                          (t.level == worst.level && t.what == trouble::kind::conflict);
      if (sooner) {
        worst = t;
        at = c;
      }
    }
    if (worst.what == trouble::kind::none) return step::done;

    unassign_all(worst.level);
    if (worst.what == trouble::kind::conflict) {
      const conflict c = is_at_most_one(at) ? conflict{conflict::kind::pair, nullptr, worst.lit, worst.other}
                                            : conflict{conflict::kind::clause, at.bounds()};
      if (const step s = resolve_conflict(c, false); s != step::done) return s;
    } else if (is_at_most_one(at)) {
      const literal* const lits = at.data();
      for (std::int32_t v = to_int(get_var(lits[1])); v <= to_int(get_var(lits[at.length() - 1])); ++v)
        if (value(variable{v}) == variable_value::unset) assign(-variable{v}, at.bounds(), -get_var(worst.lit));
    } else {
      assign(worst.lit, at.bounds());
    }
    if (const step s = propagate_and_learn(); s != step::done) return s;
  }
}

}  // namespace nubrix::engine
