// The explanation sink of theories given at run time.
#include <nubrix/theory.hpp>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include <nubrix/internals.hpp>

namespace nubrix::theory {

namespace {

// Appends c to the entries and hands it over; releases it when that runs out of memory.
void hand_over(formulas::formula& entries, literal_array_access c) {
  try {
    entries.append(c);
  } catch (...) {
    free(c);
    throw;
  }
}

}  // namespace

void explanation_sink::add_clause(std::span<const literal> lits) {
  if (lits.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 4))
    throw std::invalid_argument("nubrix::theory::explanation_sink::add_clause: the clause is too long");
  const literal_array_access c = internals::allocate_clause(static_cast<std::int32_t>(lits.size()));
  std::copy(lits.begin(), lits.end(), c.data());
  hand_over(*entries_, c);
}

void explanation_sink::add_at_most_one(variable from, variable to) {
  if (to_int(to) <= to_int(from)) return;
  const literal_array_access c = internals::allocate_clause(3);
  c.data()[0] = literal{0};
  c.data()[1] = +from;
  c.data()[2] = +to;
  hand_over(*entries_, c);
}

}  // namespace nubrix::theory
