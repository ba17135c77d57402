// Bounds on a solve and what it reports: the options record of a bounded solve, its three answers,
// and the statistics it fills in. Nothing here is global; every solve reads its own record.
#ifndef NUBRIX_CONTROL_HPP
#define NUBRIX_CONTROL_HPP

#include <array>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string_view>

#include <nubrix/decisions.hpp>
#include <nubrix/proof.hpp>

namespace nubrix {

// The answer of a bounded solve.
enum class solve_result : std::uint8_t {
  sat = 0,      // a model was found (and accepted by the theory)
  unsat = 1,    // there is none
  unknown = 2,  // a bound was reached or the terminate callback said stop first
};

// "SAT", "UNSAT", "UNKNOWN", indexed by the number of a solve_result.
inline constexpr std::array<std::string_view, 3> solve_result_names = {"SAT", "UNSAT", "UNKNOWN"};

// What one solve did. Every counter starts at 0 and only grows during the solve.
struct solve_statistics {
  std::int64_t decisions = 0;                  // literals decided, in variable order or by activity
  std::int64_t propagations = 0;               // literals of the trail whose consequences were propagated
  std::int64_t conflicts = 0;                  // conflicts analysed into a learnt clause
  std::int64_t learnt_clauses = 0;             // clauses learnt from those conflicts, one each
  std::int64_t learnt_literals_before = 0;     // literals of the learnt clauses before minimisation
  std::int64_t learnt_literals = 0;            // literals of the learnt clauses as kept, after minimisation
  std::int64_t reductions = 0;                 // runs of the reduction of the learnt clauses
  std::int64_t released_clauses = 0;           // learnt clauses released by those runs
  std::int64_t excursions = 0;                 // searches by activity started: the preferred search's, or any_model's one
  std::int64_t witnesses = 0;                  // of those, the ones that found a model
  std::int64_t refutations = 0;                // in-order decisions shown impossible by an excursion
  std::int64_t restarts = 0;                   // restarts of the searches by activity
  std::int64_t theory_calls = 0;               // calls of the theory's check
  std::int64_t theory_rejections = 0;          // of those, the ones that rejected the model
  std::int32_t highest_level = 0;              // the highest decision level reached
  std::int32_t level = 0;                      // the decision level when the record was last written
  std::int64_t learnts_held = 0;               // learnt clauses that reduction may release, when last written
  std::chrono::steady_clock::duration time{};  // time since the solve began, when last written
};

// How a bounded solve runs, chosen by its caller. The defaults bound nothing.
struct solve_options {
  // A limit meaning "none".
  static constexpr std::int64_t no_limit = std::numeric_limits<std::int64_t>::max();

  search_policy policy = search_policy::preferred;  // how models are looked for
  std::int64_t conflict_limit = no_limit;           // answer unknown once this many conflicts were analysed
  std::int64_t propagation_limit = no_limit;        // answer unknown once this many literals were propagated
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();  // unknown after it
  bool (*terminate)(void* data) = nullptr;  // polled at the start and every few thousand propagations; true stops
  void* terminate_data = nullptr;           // passed to terminate
  void (*progress)(void* data, const solve_statistics& so_far) = nullptr;           // called every progress_interval
  void* progress_data = nullptr;                                                    // passed to progress
  std::chrono::steady_clock::duration progress_interval = std::chrono::seconds{1};  // between progress calls
  solve_statistics* statistics = nullptr;  // when not null, filled in with what the solve did as it returns
  // When not null, called with each clause learnt of at most learnt_max_size literals, as it is
  // learnt; lits are readable during the call only. Each is implied by the formula (with a theory: by
  // the formula and the explanations received so far).
  void (*learnt_clause)(void* data, const literal* lits, std::int32_t size) = nullptr;
  void* learnt_data = nullptr;        // passed to learnt_clause
  std::int32_t learnt_max_size = 0;   // longest clause passed to learnt_clause
  // When not null, a DRAT proof goes there: every clause learnt and released, and the empty clause
  // after unsat. It proves the formula (ranges as their pairwise clauses) unsatisfiable when there is
  // no theory and no preset model entry; a theory's explanations are not part of what it proves.
  const proof_sink* proof = nullptr;
};

}  // namespace nubrix

#endif  // NUBRIX_CONTROL_HPP
