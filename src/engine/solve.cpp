// The entry points of the compiled search: a formula (and for the incremental solver, its learnt
// clauses and assumptions) in, an answer out.
#include <memory>
#include <optional>
#include <stdexcept>

#include "search_state.hpp"
#include "validation.hpp"

namespace nubrix::engine {

namespace {

// The literals that hold before any search, in a table of m's literals that `facts` takes over: those
// of the unit clauses of f and the set entries of m, and those that they force through the clauses
// of f, found by up to `passes` passes over them (propagation finds any others). `asserted` receives
// the literals of the unit clauses in formula order, `units` of them, then the forced ones in the
// order they were found, each forced by a clause whose other literals are false by the ones before.
// None (and nothing allocated) when f has no unit clause and m no set entry. Raises std::bad_alloc
// with nothing allocated but what `asserted` holds.
known_true root_facts(const formulas::formula& f, const model& m, std::int32_t passes,
                      std::unique_ptr<std::uint8_t, decltype(&internals::release)>& facts,
                      internals::literal_vectors::vector& asserted, std::int32_t& units) {
  bool any = false;
  for (std::int32_t i = 0; i < f.size && !any; ++i) any = f.e[i].length() == 1;
  for (std::int32_t v = m.first(); v <= m.last() && !any; ++v) any = m[variable{v}] != variable_value::unset;
  if (!any || m.is_empty()) return {};
  const auto last = static_cast<std::size_t>(m.last());
  facts.reset(static_cast<std::uint8_t*>(internals::allocate(2 * last + 1)));
  std::memset(facts.get(), 0, 2 * last + 1);
  std::uint8_t* const at = facts.get() + last;
  for (std::int32_t i = 0; i < f.size; ++i) {
    if (f.e[i].length() != 1) continue;
    asserted.append(f.e[i].data()[0]);
    at[to_int(f.e[i].data()[0])] = 1;
  }
  units = asserted.size;
  for (std::int32_t v = m.first(); v <= m.last(); ++v) {
    const variable_value x = m[variable{v}];
    if (x != variable_value::unset) at[x == variable_value::true_ ? v : -v] = 1;
  }
  const known_true known{at};
  for (bool found = true; found && passes-- > 0;) {
    found = false;
    for (std::int32_t i = 0; i < f.size; ++i) {
      const literal_array_access c = f.e[i];
      if (c.length() < 2 || c.data()[0] == literal{0} || known.satisfies(c)) continue;
      literal open{0};
      std::int32_t open_count = 0;
      for (const literal l : c) {
        if (known.is_false(l)) continue;
        open = l;
        if (++open_count > 1) break;
      }
      if (open_count == 0) return known;  // no model: the search finds the conflict
      if (open_count > 1) continue;
      asserted.append(open);
      at[to_int(open)] = 1;
      found = true;
    }
  }
  return known;
}

}  // namespace

solve_result solve_bounded(formulas::formula& f, const theory_ref& theory, model& m, variable_or_null min_vars,
                           const solve_options& options) {
  using clock = std::chrono::steady_clock;
  const bool timed = options.statistics != nullptr || options.progress != nullptr;
  const clock::time_point began = timed ? clock::now() : clock::time_point{};
  validate_model(m);
  std::optional<proof_writer> proof;
  if (options.proof != nullptr) proof.emplace(*options.proof);
  const internal_formula_access internal = internal_formula::create(m, f);
  std::unique_ptr<std::uint8_t, decltype(&internals::release)> facts(nullptr, &internals::release);
  struct owned_literals {
    internals::literal_vectors::vector v = internals::literal_vectors::empty_vector;
    ~owned_literals() { v.destroy(); }
  } asserted;  // the unit clauses' literals and the facts they force, asserted before the search
  std::int32_t units = 0;
  known_true satisfied;
  try {
    for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i))
      validate_entry(f.get(i), i, m, "the formula");
    satisfied = root_facts(f, m, default_parameters.root_passes, facts, asserted.v, units);
    internal->reserve_watchers(f, formulas::clause_vectors::empty_vector, satisfied);
    if (proof && satisfied.at != nullptr) {
      // The forced facts first, each a unit the checker derives from the ones before, then the
      // deletion of the clauses they satisfy.
      for (std::int32_t i = units; i < asserted.v.size; ++i) proof->clause(&asserted.v.e[i], 1, false);
      for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i))
        if (satisfied.satisfies(f.get(i))) proof->clause(f.get(i).data(), f.get(i).length(), true);
    }
    // Nothing below can fail: the lists have their room.
    for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
      const literal_array_access c = f.get(i);
      if (c.length() < 2 || satisfied.satisfies(c)) continue;
      if (c.length() > 2 && c.data()[0] != literal{0}) satisfied.order(c.data(), c.length());
      internal->append_watcher(c);
    }
  } catch (...) {
    internal->destroy_watch_lists();
    internal_formula::release(internal);
    throw;
  }
  f = formulas::clause_vectors::empty_vector;
  // Taken over for good: the clauses that hold whatever the search does go now, and the unit clauses,
  // whose literals the search asserts from `asserted` (about 50 bytes each, against 4 there).
  if (satisfied.at != nullptr) {
    formulas::formula& clauses = internal->clauses;
    std::int32_t kept = 0;
    for (std::int32_t i = 0; i < clauses.size; ++i) {
      if (clauses.e[i].length() == 1 || satisfied.satisfies(clauses.e[i])) {
        free(clauses.e[i]);
      } else {
        clauses.e[kept++] = clauses.e[i];
      }
    }
    const bool mostly_gone = kept < clauses.size / 2;
    clauses.size = kept;
    if (mostly_gone) {
      try {
        clauses.reserve(kept);  // the room of the entries dropped goes back
      } catch (const std::bad_alloc&) {
        // The block stays as large as it was.
      }
    }
  }
  facts.reset();
  // Taken over for good: the binary clauses live on in the implication lists alone, which saves their
  // blocks and references for the whole search (on bw_large.d, a third of the formula's memory).
  internal->release_binary_clauses();

  const variable_or_null bound = to_int(min_vars) == 0 ? variable{m.last()} : min_vars;
  // The preferred model is the in-order search's only when every variable is decided.
  search_policy policy = options.policy;
  if (policy == search_policy::preferred && to_int(bound) < m.last()) policy = search_policy::in_order;
  search_state state(*internal, theory, m, bound, policy, options, began);
  if (proof) state.set_proof(&*proof);
  state.set_root_facts(asserted.v.e, asserted.v.size);
  solve_result r = solve_result::unsat;
  try {
    r = state.search();
  } catch (...) {
    state.cleanup(solve_result::unsat);
    internal_formula::release(internal);
    throw;
  }
  internal_formula::release(internal);
  if (options.statistics != nullptr) *options.statistics = state.statistics(timed ? clock::now() : began);
  return r;
}

solve_result solve_incremental(const formulas::formula& f, formulas::formula& learnts, const theory_ref& theory,
                               model& m, const internals::literal_vectors::vector& assumptions,
                               internals::literal_vectors::vector& failed, const solve_options& options,
                               std::uint8_t* phases) {
  using clock = std::chrono::steady_clock;
  const bool timed = options.statistics != nullptr || options.progress != nullptr;
  const clock::time_point began = timed ? clock::now() : clock::time_point{};
  validate_model(m);
  failed.clear();
  for (std::int32_t i = 0; i < assumptions.size; ++i)
    if (!names_variable_of(assumptions.e[i], m))
      throw std::invalid_argument("nubrix::dpll::solve_incremental: an assumption names no variable of the model");

  // The search's clauses: f's entries, shared, then the learnt clauses of one literal, kept for good;
  // the longer learnt clauses may be released again, ranked by their length for want of their
  // literal block distance.
  std::int32_t units = 0;
  for (std::int32_t i = 0; i < learnts.size; ++i) units += learnts.e[i].length() <= 1 ? 1 : 0;
  const internal_formula_access internal = internal_formula::create(m, formulas::clause_vectors::empty_vector);
  const auto release_internal = [internal]() noexcept {
    internal->destroy_watch_lists();
    internal->clauses.destroy();
    internal->learnts.destroy();
    internal_formula::release(internal);
  };
  try {
    if (f.size + units > 0) internal->clauses.reserve(f.size + units);
    if (learnts.size > units) internal->learnts.reserve(learnts.size - units);
    for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i))
      validate_entry(f.get(i), i, m, "the formula");
    for (std::int32_t i = learnts.first_index(); learnts.has_element(i); i = learnts.next(i))
      validate_entry(learnts.get(i), i, m, "the learnt clauses");
    internal->reserve_watchers(f, learnts);
    for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
      const literal_array_access c = f.get(i);
      internal->clauses.append(c);
      if (c.length() > 1) internal->append_watcher(c);
    }
    for (std::int32_t i = learnts.first_index(); learnts.has_element(i); i = learnts.next(i)) {
      const literal_array_access c = learnts.get(i);
      if (c.length() <= 1) {
        internal->clauses.append(c);
      } else {
        internal->learnts.append(learnt_record{c.bounds(), c.length(), 0});
        internal->append_watcher(c);
      }
    }
  } catch (...) {
    release_internal();
    throw;
  }
  learnts.destroy();  // its clauses are the search's now
  learnts = formulas::clause_vectors::empty_vector;

  // Hands every learnt clause back in `learnts` and releases the rest of the internal formula.
  // Without the memory to list them, the learnt clauses are released instead: false.
  const auto hand_back = [&]() noexcept {
    // Across solves the learnt clauses would only pile up: beyond a bound that grows with the
    // formula, the ones of highest literal block distance (the oldest among equals) go.
    auto& records = internal->learnts;
    const std::int32_t bound = std::max(default_parameters.handed_back_learnts, f.size / 2);
    if (records.size > bound) {
      std::nth_element(records.e, records.e + bound, records.e + records.size, learnt_record::more_useful{});
      for (std::int32_t i = bound; i < records.size; ++i) free(literal_array_access(records.e[i].clause));
      records.size = bound;
    }
    const std::int32_t kept = internal->clauses.size - f.size + internal->learnts.size;
    bool listed = true;
    try {
      if (kept > 0) learnts.reserve(kept);
    } catch (const std::bad_alloc&) {
      listed = false;
    }
    for (std::int32_t i = f.size; i < internal->clauses.size; ++i) {
      if (listed) {
        learnts.append(internal->clauses.e[i]);
      } else {
        free(internal->clauses.e[i]);
      }
    }
    for (std::int32_t i = 0; i < internal->learnts.size; ++i) {
      const literal_array_access c(internal->learnts.e[i].clause);
      if (listed) {
        learnts.append(c);
      } else {
        free(c);
      }
    }
    release_internal();
    return listed;
  };

  search_state state(*internal, theory, m, variable{m.last()}, options.policy, options, began);
  state.keep_formula();
  state.share_phases(phases);
  solve_result r = solve_result::unsat;
  try {
    state.start();
    state.set_assumptions(assumptions.e, assumptions.size, &failed);
    r = state.run();
  } catch (...) {
    state.cleanup(solve_result::unsat);
    hand_back();
    failed.clear();
    throw;
  }
  if (r == solve_result::unsat && !state.assumptions_failed()) {
    // No model at all: the empty clause tells the next solve at once, without asking check again.
    bool known = false;
    for (std::int32_t i = 0; i < internal->clauses.size && !known; ++i) known = internal->clauses.e[i].is_empty();
    try {
      if (!known) internal->append_clause(internals::allocate_clause(0));
    } catch (const std::bad_alloc&) {
      // The clause only spares work: without it the next solve finds the same answer.
    }
  }
  if (!hand_back()) {
    failed.clear();
    throw std::bad_alloc();
  }
  if (options.statistics != nullptr) *options.statistics = state.statistics(timed ? clock::now() : began);
  return r;
}

}  // namespace nubrix::engine
