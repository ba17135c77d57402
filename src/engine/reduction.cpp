// Reduction of the learnt clauses.
#include "search_state.hpp"

namespace nubrix::engine {

void search_state::reduce_learnts() {
  ++stats_.reductions;
  stats_.released_clauses += keep_most_useful(f_->learnts.size / 2);
}

// Ranks the learnt clauses, fewest levels first and among equals the newest first, and releases
// those beyond the first `kept`, except clauses of at most kept_lbd levels (binary clauses among
// them), which no reduction releases (a failed speculation may: see preferred.cpp), and clauses
// that are the reason of a current assignment. The caller's clauses, theory entries and clauses
// learnt from a rejection are not in this list and are never released. Every allocation comes
// before the first release, so running out of memory leaves every clause owned once.
std::int32_t search_state::keep_most_useful(std::int32_t kept) {
  // The most useful `kept` first, in no particular order: which clauses go depends on the ranking
  // alone, and a partition costs a pass where a sort cost a logarithm more.
  if (kept < f_->learnts.size)
    std::nth_element(f_->learnts.e, f_->learnts.e + kept, f_->learnts.e + f_->learnts.size, learnt_record::more_useful{});
  return release_learnts(kept, release_filter{params_.kept_lbd, std::numeric_limits<std::int64_t>::min()});
}

// The literal a clause forced is its first, but for a clause of three, which may have forced any.
bool search_state::locked(array_bounds* c) const noexcept {
  const literal* const lits = clause_literals(c);
  const std::int32_t candidates = c->last - c->first == 2 ? 3 : 1;
  for (std::int32_t i = 0; i < candidates; ++i)
    if (val(lits[i]) == variable_value::true_ && vars_[to_int(get_var(lits[i]))].reason == c) return true;
  return false;
}

std::int32_t search_state::release_learnts(std::int32_t from, release_filter filter) {
  // A released clause's first bound, set just before its entries are dropped and its block released.
  constexpr std::int32_t released = std::numeric_limits<std::int32_t>::min();
  learnt_record* const records = f_->learnts.e;
  const std::int32_t n = f_->learnts.size;
  // Room to list every variable once, first: no allocation may come between the marks below and
  // the release of what they mark.
  if (to_clear_.capacity < last_ + 1) to_clear_.reserve(last_ + 1);
  // Mark the clauses to release and list, once each, the variables whose watch lists hold them.
  std::int32_t releasing = 0;
  for (std::int32_t i = from; i < n; ++i) {
    array_bounds* const c = records[i].clause;
    if (records[i].lbd <= filter.lbd_above || records[i].age < filter.age_from || locked(c)) continue;
    const literal* const lits = clause_literals(c);
    if (c->last == c->first + 1) {
      // A binary clause lives in the implication lists, and the newest entry for it is its own.
      f_->implications(lits[0]).remove_last(lits[1]);
      f_->implications(lits[1]).remove_last(lits[0]);
    }
    for (const literal l : {lits[0], lits[1]}) {
      const variable v = get_var(l);
      if (marks_[to_int(v)] != 0) continue;
      to_clear_.append(+v);
      marks_[to_int(v)] = 1;
    }
    if (proof_ != nullptr) proof_->clause(lits, c->last - c->first + 1, true);
    c->first = released;
    ++releasing;
  }
  if (releasing == 0) {
    clear_marks();
    return 0;
  }

  for (std::int32_t i = 0; i < to_clear_.size; ++i) {
    const variable v = get_var(to_clear_.e[i]);
    for (watch_list* list : {&watches_[to_int(v)], &watches_[-to_int(v)]}) {
      watcher* write = list->e;
      for (watcher* read = list->e; read != list->e + list->size; ++read) {
        const bool gone = read->next != 0 && read->clause->first == released;
        if (!gone) *write++ = *read;
      }
      list->size = static_cast<std::int32_t>(write - list->e);
    }
  }
  clear_marks();

  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    if (records[i].clause->first == released) {
      free(literal_array_access(records[i].clause));
    } else {
      records[kept++] = records[i];
    }
  }
  f_->learnts.size = kept;
  return releasing;
}

}  // namespace nubrix::engine
