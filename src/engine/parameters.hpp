// Every tuning constant of the search, in one record. A solve reads default_parameters; the tests
// set other values through a record of their own to reach every path of the search quickly. None of
// them changes an answer, a preferred model or the sequence of check calls: they only decide how
// fast the search gets there.
#ifndef NUBRIX_ENGINE_PARAMETERS_HPP
#define NUBRIX_ENGINE_PARAMETERS_HPP

#include <cstdint>

namespace nubrix::engine {

struct parameters {
  // --- the preferred search (preferred.cpp) ---
  // Conflicts of the in-order search alone before the first witness is sought: most small formulas
  // need no more, and one it does not settle by then is usually one where the witness does better.
  std::int64_t first_in_order_turn = 500;
  // Conflicts of the later turns in order alone, doubled before each of them: 4000, 8000, ...
  std::int64_t in_order_turn = 2000;
  // Conflicts an excursion without a witness may take before it gives way to a turn in order
  // alone, doubled with each such turn.
  std::int64_t excursion_cap = 8000;
  // The in-order search alone earns turns while the clauses it learns span on average at most this
  // many times the levels of the excursions' clauses.
  double in_order_lbd_ratio = 1.25;
  // Before the first witness, a trail of more than twice this many in-order decisions is speculated
  // on, all but the newest this many; doubled after each failed speculation.
  std::int32_t speculation_margin = 50;

  // --- restarts (restarts.cpp) ---
  // The unit of the Luby sequence of the search for any model, in conflicts.
  std::int64_t luby_unit = 100;
  // Under in-order decisions: restart when the recent levels spanned by learnt clauses, times this
  // factor, exceed their long-run average, at least restart_gap conflicts after the last restart.
  double restart_lbd_factor = 0.8;
  std::int64_t restart_gap = 50;
  // The windows, in conflicts, of the recent and the long-run moving averages of those levels.
  double recent_lbd_window = 32;
  double longer_lbd_window = 4096;

  // --- decisions by activity (decisions.cpp) ---
  // Each conflict makes later bumps worth 1 / activity_decay as much as the last.
  double activity_decay = 0.95;

  // --- reduction of the learnt clauses (reduction.cpp) ---
  // Conflicts before the first reduction, and between the first two; each later interval is
  // reduction_growth longer than the one before.
  std::int64_t first_reduction = 2000;
  std::int64_t reduction_growth = 300;
  // Clauses of at most this literal block distance are never released by a reduction.
  std::int32_t kept_lbd = 2;
  // Across incremental solves, at most max(this, half the formula's entries) learnt clauses are
  // handed back.
  std::int32_t handed_back_learnts = 2000;

  // --- the start of a one-shot solve (solve.cpp) ---
  // Passes over the clauses that look for the facts the unit clauses force, so that the clauses
  // those facts satisfy are dropped before the search and the rest are watched on literals that
  // are not false; propagation finds the facts that more passes would.
  std::int32_t root_passes = 8;

  // --- limits (limits.cpp) ---
  // Propagations between two polls of the clock and the terminate callback, at most.
  std::int64_t poll_interval = 4096;
};

inline constexpr parameters default_parameters{};

}  // namespace nubrix::engine

#endif  // NUBRIX_ENGINE_PARAMETERS_HPP
