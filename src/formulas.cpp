// Model checking, release and the text image of formulas.
#include <nubrix/formulas.hpp>

namespace nubrix::formulas {

namespace {

// The state of one entry under a model: satisfied, or not satisfied with (unset) or without (false_)
// an unset variable that could still satisfy it.
variable_value clause_verdict(literal_array_access dis, const model& m) noexcept {
  variable_value ok = variable_value::false_;
  for (const literal l : dis) {
    const variable_value model_value = m[get_var(l)];
    const variable_value required = is_positive(l) ? variable_value::true_ : variable_value::false_;
    if (model_value == variable_value::unset) {
      ok = variable_value::unset;
    } else if (model_value == required) {
      return variable_value::true_;
    }
  }
  return ok;
}

// At most one of the variables from .. to of [0, from, to] may be true. Falsified by two true ones;
// satisfied when at most one is true or unset, since no completion can break it then; otherwise it
// depends on unset variables.
variable_value at_most_one_verdict(literal_array_access amo, const model& m) noexcept {
  const std::int32_t n = amo.length();
  const std::int64_t from = n >= 2 ? to_int(get_var(amo[amo.first() + 1])) : 1;
  const std::int64_t to = n >= 2 ? to_int(get_var(amo[amo.last()])) : 0;
  int true_count = 0;
  int open_count = 0;
  for (std::int64_t v = from; v <= to; ++v) {
    const variable_value value = m[variable{static_cast<std::int32_t>(v)}];
    if (value == variable_value::true_ && ++true_count == 2) return variable_value::false_;
    if (value == variable_value::unset && open_count < 2) ++open_count;
  }
  return true_count + open_count <= 1 ? variable_value::true_ : variable_value::unset;
}

}  // namespace

sat_result satisfies(const formula& f, const model& m) noexcept {
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
    const literal_array_access dis = f.get(i);
    const variable_value ok = is_at_most_one(dis) ? at_most_one_verdict(dis, m) : clause_verdict(dis, m);
    if (ok != variable_value::true_) return static_cast<sat_result>(ok);
  }
  return sat_result::sat;
}

void free_all(formula& f) noexcept {
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
    const literal_array_access c = f.get(i);
    if (!c.is_null()) free(c);
  }
  f.destroy();
}

std::string image(const formula& f) {
  std::string res;
  const std::int32_t n = f.length();
  for (std::int32_t i = 1; i <= n; ++i) {
    res += nubrix::image(f.get(i));
    if (i < n) res += " & ";
  }
  return res;
}

}  // namespace nubrix::formulas
