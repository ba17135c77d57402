// Unit propagation through the watch lists.
#include "search_state.hpp"

namespace nubrix::engine {

// Takes the literals of the trail in order and, for the negation of each, the literal that has just
// become false, walks its implication list, then its watch list. Each literal implied through a
// binary clause is assigned, or the clause is violated. An entry of a long clause is passed over
// when its blocking literal is true; otherwise the false literal goes to the clause's second
// position and a true or unset replacement takes over its watch, or the clause is unit (its first
// literal is assigned) or violated (conflict). An entry of a clause of three holds both its other
// literals, so the clause is read only when its watch moves. At-most-one ranges are handled from the
// entry and the values of their range, and never move. The watch list is compacted as it is walked, so
// leaving an entry costs nothing.
auto search_state::propagate() -> conflict {
  const std::int32_t start = propagated_;  // counted once at the end, not in the loop
  while (propagated_ < trail_size_) {
    const literal now_true = trail_[propagated_++];
    const literal now_false = -now_true;
    conflict found;

    const implication_list& implied = implications_[to_int(now_false)];
    for (const literal* p = implied.begin(); p != implied.end(); ++p) {
      const variable_value x = val(*p);
      if (x == variable_value::true_) continue;
      if (x == variable_value::unset) {
        assign(*p, nullptr, now_false);
        continue;
      }
      stats_.propagations += propagated_ - start;
      return conflict{conflict::kind::pair, nullptr, *p, now_false};
    }

    watch_list& list = watches_[to_int(now_false)];
    watcher* read = list.e;
    watcher* write = list.e;
    watcher* const end = list.e + list.size;

    while (read != end) {
      const watcher w = *read++;

      if (w.blit == literal{0}) {
        // At most one of from .. to, and get_var(now_true) has just become true.
        *write++ = w;
        const literal* const range = clause_literals(w.clause);
        const std::int32_t from = to_int(range[1]);
        const std::int32_t to = to_int(range[w.clause->last - w.clause->first]);
        const variable cause = get_var(now_true);
        for (std::int32_t v = from; v <= to; ++v) {
          const variable var{v};
          const variable_value x = val(+var);
          if (x == variable_value::unset) {
            assign(-var, w.clause, now_false);
          } else if (x == variable_value::true_ && var != cause) {
            found = conflict{conflict::kind::pair, nullptr, -var, now_false};
            break;
          }
        }
        if (found) break;
        continue;
      }

      // Clause of three or more literals, watched on its first two.
      if (val(w.blit) == variable_value::true_) {
        *write++ = w;
        continue;
      }
      if (w.is_ternary()) {
        // Both other literals are in the entry. The clause is read only to move the watch, when
        // both are unset; otherwise the watch stays, as the clause is satisfied, unit or violated
        // at the current level, where every literal of the trail not yet propagated lies.
        const literal third = w.third();
        const variable_value x = val(third);
        if (x == variable_value::true_) {
          *write++ = watcher{third, watcher::ternary(w.blit), w.clause};
          continue;
        }
        const variable_value y = val(w.blit);
        if (x == variable_value::unset && y == variable_value::unset) {
          literal* const lits = clause_literals(w.clause);
          const literal partner = lits[0] == now_false ? lits[1] : lits[0];
          const literal other = partner == w.blit ? third : w.blit;
          lits[0] = partner;
          lits[1] = other;
          lits[2] = now_false;
          f_->append_watch(watches_[to_int(other)], watcher{partner, watcher::ternary(now_false), w.clause});
          continue;
        }
        *write++ = w;
        if (x == variable_value::false_ && y == variable_value::false_) {
          found = conflict{conflict::kind::clause, w.clause};
          break;
        }
        assign(x == variable_value::unset ? third : w.blit, w.clause);
        continue;
      }
      literal* const lits = clause_literals(w.clause);
      if (lits[0] == now_false) std::swap(lits[0], lits[1]);
      const literal first = lits[0];
      watcher kept{first, w.next, w.clause};
      if (first != w.blit && val(first) == variable_value::true_) {
        *write++ = kept;
        continue;
      }
      // Look for a replacement from where the last search stopped, round to the same place, so
      // that long clauses are not read from their start every time.
      const std::int32_t n = w.clause->last - w.clause->first + 1;
      std::int32_t k = w.next;
      while (k < n && val(lits[k]) == variable_value::false_) ++k;
      if (k == n) {
        k = 2;
        while (k < w.next && val(lits[k]) == variable_value::false_) ++k;
        if (k == w.next) k = n;
      }
      if (k < n) {
        // A true or unset literal takes over the watch; the entry moves to its list.
        lits[1] = lits[k];
        lits[k] = now_false;
        kept.next = k + 1 < n ? k + 1 : 2;
        f_->append_watch(watches_[to_int(lits[1])], kept);
        continue;
      }
      *write++ = kept;
      if (val(first) == variable_value::false_) {
        found = conflict{conflict::kind::clause, w.clause};
        break;
      }
      assign(first, w.clause);
    }

    if (found) {
      while (read != end) *write++ = *read++;
      list.size = static_cast<std::int32_t>(write - list.e);
      stats_.propagations += propagated_ - start;
      return found;
    }
    list.size = static_cast<std::int32_t>(write - list.e);
  }
  stats_.propagations += propagated_ - start;
  return conflict{};
}

auto search_state::propagate_and_learn() -> step {
  for (;;) {
    const conflict c = propagate();
    // A conflict at level 0 answers before any bound: there is no model.
    if (c && decision_level_ == 0) return step::no_model;
    if (out_of_budget()) return step::stopped;
    if (!c) break;
    if (const step s = resolve_conflict(c, false); s != step::done) return s;
    count_learnt(false);
  }
  reduce_when_due();
  return step::done;
}

}  // namespace nubrix::engine
