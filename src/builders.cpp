// The clause builder's duplicate check, and the formula builder's subsumption, at-most-one entries,
// feasibility test and deep copy.
#include <nubrix/builders.hpp>

#include <algorithm>
#include <cassert>
#include <cstring>

namespace nubrix::builders {

namespace {

// Whether every literal of c1 occurs somewhere in c2 (by signed value, repeats ignored), so that c1
// implies c2. An empty c1 is a subset of every clause. Quadratic, with no sorting and no allocation.
bool is_subset(literal_array_access c1, literal_array_access c2) noexcept {
  for (const literal x : c1) {
    if (std::find(c2.begin(), c2.end(), x) == c2.end()) return false;
  }
  return true;
}

// A new block holding c's bounds and literals, without the spare room c's block may have.
literal_array_access duplicate(literal_array_access c) {
  const std::size_t bytes = clause_block_size(static_cast<std::size_t>(c.length()));
  auto* bounds = static_cast<array_bounds*>(internals::allocate(bytes));
  std::memcpy(bounds, c.bounds(), bytes);
  return literal_array_access(bounds);
}

}  // namespace

void clause_builder::add_simplify(literal l) {
  for (std::int32_t i = v.first_index(); v.has_element(i); i = v.next(i)) {
    if (v.get(i) == l) return;
  }
  v.append(l);
}

void formula_builder::add_simplify(literal_array_access c) {
  assert(!c.is_null());
  // An at-most-one entry is not a clause: read as the literals 0, from, to it would be dropped by a
  // held (from) or (from | to), which do not imply it. It goes in as it is.
  if (!is_at_most_one(c)) {
    std::int32_t i = v.first_index();
    while (v.has_element(i)) {
      const literal_array_access d = v.get(i);
      if (is_at_most_one(d)) {
        i = v.next(i);
      } else if (is_subset(c, d)) {
        // c implies d: d goes, and the entry moved into position i is examined next.
        free(d);
        v.swap_and_remove(i);
      } else if (is_subset(d, c)) {
        // d implies c: c adds nothing.
        free(c);
        return;
      } else {
        i = v.next(i);
      }
    }
  }
  add(c);
}

void formula_builder::add_at_most_one(variable from, variable to) {
  if (from == to) return;
  literal_array_access c;
  if (std::int64_t{to_int(to)} - to_int(from) == 1) {
    c = internals::allocate_clause(2);
    c[1] = -from;
    c[2] = -to;
  } else {
    c = internals::allocate_clause(3);
    c[1] = literal{0};
    c[2] = +from;
    c[3] = +to;
  }
  add(c);
}

bool formula_builder::is_feasible(literal l) const noexcept {
  for (std::int32_t i = v.first_index(); v.has_element(i); i = v.next(i)) {
    const literal_array_access c = v.get(i);
    if (c.first() == c.last() && c[c.first()] == -l) return false;
  }
  return true;
}

formula_builder formula_builder::copy() const {
  formula_builder r;
  try {
    for (std::int32_t i = v.first_index(); v.has_element(i); i = v.next(i)) {
      assert(!v.get(i).is_null());
      r.add(duplicate(v.get(i)));  // add releases the duplicate itself when its append fails
    }
  } catch (...) {
    r.destroy();
    throw;
  }
  return r;
}

}  // namespace nubrix::builders
