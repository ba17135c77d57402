// Unit propagation through the watch lists; part of <nubrix/dpll.hpp>.
#ifndef NUBRIX_DPLL_PROPAGATION_HPP
#define NUBRIX_DPLL_PROPAGATION_HPP

#include <utility>

#include <nubrix/dpll.hpp>
#include <nubrix/dpll/search_state.hpp>

namespace nubrix {

// Takes the literals made false off the queue, the last pushed first, and walks the watch list of
// each. Literals assigned during a walk wait on the queue until the walk ends. An entry of a long
// clause is passed over when its blocking literal is true; otherwise the false literal goes to the
// clause's second position and a true or unset replacement takes over its watch, or the clause is
// unit (its first literal is assigned) or violated (conflict). Binary clauses and at-most-one
// constraints are handled from the entry and the model alone and never move.
template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::search_state::unit_propagate() {
  while (!to_propagate_.is_empty()) {
    const literal being_propagated = to_propagate_.pop();
    watch_list& watchers = watches_[to_int(being_propagated)];
    std::int32_t watch_count = watchers.length();
    std::int32_t j = 1;
    while (j <= watch_count) {
      watcher* const w = watchers.get_access(j);

      if (w->blit == literal{0}) {
        // At most one of from .. to, and get_var(being_propagated) has just become true.
        const literal_array_access amo = w->literals;
        const std::int32_t from = to_int(get_var(amo.data()[1]));
        const std::int32_t to = to_int(get_var(amo.data()[amo.length() - 1]));
        const variable now_true = get_var(being_propagated);
        for (std::int32_t v = from; v <= to; ++v) {
          const variable var{v};
          switch (value(var)) {
            case variable_value::unset:
              assign(var, false, amo);
              break;
            case variable_value::false_:
              break;
            case variable_value::true_:
              if (var == now_true) break;
              setup_backjump(-var, being_propagated);
              clear_propagation();
              return false;
          }
        }
        ++j;
        continue;
      }

      if (w->other != literal{0}) {
        // Binary clause: blit is the other literal.
        switch (val(w->blit)) {
          case variable_value::true_:
            break;
          case variable_value::unset:
            assign(get_var(w->blit), is_positive(w->blit), w->literals);
            break;
          case variable_value::false_:
            setup_backjump(w->literals);
            clear_propagation();
            return false;
        }
        ++j;
        continue;
      }

      // Clause of three or more literals, watched on its first two.
      if (val(w->blit) == variable_value::true_) {
        ++j;
        continue;
      }
      const literal_array_access lits = w->literals;
      literal* const p = lits.data();
      const std::int32_t n = lits.length();
      if (p[0] == being_propagated) std::swap(p[0], p[1]);
      const literal other_lit = p[0];
      w->blit = other_lit;
      if (val(other_lit) == variable_value::true_) {
        ++j;
        continue;
      }
      std::int32_t k = 2;
      while (k < n && val(p[k]) == variable_value::false_) ++k;
      if (k < n) {
        // A true or unset literal takes over the watch; the entry moves to its list.
        p[1] = p[k];
        p[k] = being_propagated;
        watches_[to_int(p[1])].append(*w);
        watchers.swap_and_remove(j);
        --watch_count;
        continue;
      }
      if (val(other_lit) == variable_value::false_) {
        setup_backjump(lits);
        clear_propagation();
        return false;
      }
      assign(get_var(other_lit), is_positive(other_lit), lits);
      ++j;
    }
  }
  return true;
}

template <typename user_context, auto check>
requires theory::check_operation<check, user_context>
bool dpll<user_context, check>::search_state::propagate_and_learn() {
  while (!unit_propagate()) {
    if (!backjump()) return false;
  }
  return true;
}

}  // namespace nubrix

#endif  // NUBRIX_DPLL_PROPAGATION_HPP
