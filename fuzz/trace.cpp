// The API fuzzer: the input bytes drive a sequence of operations on three clause builders and three
// formula builders over at most 12 variables, and solves of what the formula builders hold, plain
// and under theories. Every builder has a shadow in plain std::vector that says what each operation
// must leave behind; every solve is checked against brute force; and one heap request, chosen by the
// input, fails: the failure must surface once as std::bad_alloc, leave the state the operation
// documents, and, once everything is released, no library block may be left.
//
// The input is read as: the number of variables, whether and where a request fails, then one
// operation after another (a code and its arguments) until the bytes run out; reading past the end
// gives zeros. A failed check prints the trace so far and aborts.
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <nubrix/builders.hpp>
#include <nubrix/dpll.hpp>
#include <nubrix/heap.hpp>
#include <nubrix/helpers.hpp>

#include "oracle.hpp"

namespace nubrix::fuzz {
namespace {

namespace probe = internals::heap_probe;

std::string trace_text;  // the operations of the current input, printed when a check fails

[[gnu::format(printf, 1, 2)]] void note(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  trace_text += line;
  trace_text += '\n';
}

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "trace check failed: %s\n-- trace --\n%s", what, trace_text.c_str());
  std::abort();
}

// The input bytes, read front to back; zeros once they run out.
class byte_reader {
 public:
  byte_reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool exhausted() const noexcept { return at_ >= size_; }
  std::uint8_t next() noexcept { return at_ < size_ ? data_[at_++] : 0; }
  // A number in 0 .. n - 1, n <= 256.
  int below(int n) noexcept { return next() % n; }
  std::uint64_t word() noexcept {
    std::uint64_t w = 0;
    for (int i = 0; i < 8; ++i) w = w << 8 | next();
    return w;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A small deterministic generator (splitmix64), for the theories' pseudo-random verdicts.
struct mixer {
  std::uint64_t state;
  std::uint64_t next() noexcept {
    std::uint64_t z = state += 0x9e3779b97f4a7c15U;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9U;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebU;
    return z ^ (z >> 31);
  }
};

// --- the library's values as numbers, and back -------------------------------------------------

entry numbers_of(const internals::literal_vectors::vector& v) {
  entry out;
  for (std::int32_t i = v.first_index(); v.has_element(i); i = v.next(i)) out.push_back(to_int(v.get(i)));
  return out;
}

entry numbers_of(literal_array_access c) {
  entry out;
  for (const literal l : c) out.push_back(to_int(l));
  return out;
}

entries numbers_of(const formulas::formula& f) {
  entries out;
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) out.push_back(numbers_of(f.get(i)));
  return out;
}

literal_array_access clause_of(const entry& e) {
  std::vector<literal> lits;
  for (const std::int32_t x : e) lits.push_back(literal{x});
  return new_clause(lits);
}

std::string text_of(const entry& e) {
  std::string s = "[";
  for (const std::int32_t x : e) s += (s.size() > 1 ? " " : "") + std::to_string(x);
  return s + "]";
}

std::string text_of(const entries& es) {
  std::string s;
  for (const entry& e : es) s += text_of(e);
  return s;
}

// The complete assignment in m of 1 .. n; every one of them must be set.
assignment assignment_of(const model& m, int n) {
  assignment a = 0;
  for (std::int32_t v = 1; v <= n; ++v) {
    require(m[variable{v}] != variable_value::unset, "a variable left unset in a complete model");
    if (m[variable{v}] == variable_value::true_) a |= assignment{1} << (v - 1);
  }
  return a;
}

// The clause that excludes exactly the assignment a of 1 .. n.
entry blocking(assignment a, int n) {
  entry e;
  for (std::int32_t v = 1; v <= n; ++v) e.push_back(is_true(a, v) ? -v : v);
  return e;
}

// Appends a new entry to a theory's explanation, which owns it from then on, and releases it when
// the append runs out of memory.
void give(formulas::formula& explanation, const entry& e) {
  const literal_array_access c = clause_of(e);
  try {
    explanation.append(c);
  } catch (...) {
    free(c);
    throw;
  }
}

// A deep copy of f, owned by the caller.
formulas::formula copy_of(const formulas::formula& f) { return builders::formula_builder{f}.copy().v; }

// --- theories ------------------------------------------------------------------------------------

// Every theory below records the models it is offered, as complete assignments of 1 .. n.
struct offers {
  int n;
  std::vector<assignment> offered;
  assignment take(const model& m) {
    offered.push_back(assignment_of(m, n));
    return offered.back();
  }
};

// Rejects each model with its blocking clause until it has rejected `limit`, then accepts: the
// search enumerates the models, all of them when there are no more than the limit.
struct enumeration : offers {
  std::size_t limit = 0;
};
bool enumerate(enumeration& ctx, const model& m, formulas::formula& explanation) {
  const assignment a = ctx.take(m);
  if (ctx.offered.size() > ctx.limit) return true;
  give(explanation, blocking(a, ctx.n));
  return false;
}

// Holds entries the search does not see and reveals copies of those a model violates, at most
// `at_most` at a time, and with them, when `extra`, the satisfied ones too.
struct hidden : offers {
  entries held;
  std::size_t at_most = 1;
  bool extra = false;
};
bool reveal(hidden& ctx, const model& m, formulas::formula& explanation) {
  const assignment a = ctx.take(m);
  std::size_t given = 0;
  bool violated = false;
  for (const entry& e : ctx.held) {
    if (!holds(e, a)) {
      violated = true;
      if (given++ < ctx.at_most) give(explanation, e);
    } else if (ctx.extra) {
      give(explanation, e);
    }
  }
  return !violated;
}

// Random entries over 1 .. n drawn from g: short clauses (now and then empty, with repeats and
// complementary literals) and ranges.
entries random_entries(mixer& g, int n, int count) {
  entries es;
  for (int k = 0; k < count; ++k) {
    const std::uint64_t pick = g.next() % 16;
    if (pick == 0) {
      es.push_back({0, static_cast<std::int32_t>(1 + g.next() % n), static_cast<std::int32_t>(1 + g.next() % n)});
      continue;
    }
    const std::uint64_t length = pick == 1 ? 0 : 1 + g.next() % 4;
    entry e;
    for (std::uint64_t i = 0; i < length; ++i) {
      const auto v = static_cast<std::int32_t>(1 + g.next() % n);
      e.push_back(g.next() % 2 != 0 ? v : -v);
    }
    es.push_back(e);
  }
  return es;
}

// A theory whose verdict and explanation are a function of the model and the salt: it accepts one
// model in four and rejects the others with 0 to 2 random entries (which the model may satisfy).
bool verdict(std::uint64_t salt, int n, assignment a, entries& explanation) {
  mixer g{salt ^ (std::uint64_t{a} * 0x9e3779b97f4a7c15U)};
  const bool accept = g.next() % 4 == 0;
  explanation = accept ? entries{} : random_entries(g, n, static_cast<int>(g.next() % 3));
  return accept;
}
struct whimsical : offers {
  std::uint64_t salt = 0;
  entries received;  // every entry handed to the search
};
bool whim(whimsical& ctx, const model& m, formulas::formula& explanation) {
  entries es;
  const bool accept = verdict(ctx.salt, ctx.n, ctx.take(m), es);
  for (const entry& e : es) {
    ctx.received.push_back(e);
    give(explanation, e);
  }
  return accept;
}

constexpr std::array<search_policy, 3> policies{search_policy::preferred, search_policy::in_order,
                                                 search_policy::any_model};
constexpr std::array<const char*, 3> policy_names{"preferred", "in_order", "any_model"};
std::size_t index_of(search_policy p) noexcept {
  return static_cast<std::size_t>(std::find(policies.begin(), policies.end(), p) - policies.begin());
}

// The outcome of one solve under one policy; ran is false when it ran out of memory.
struct outcome {
  bool ran = false;
  bool found = false;
  model m;
};

// --- the trace -------------------------------------------------------------------------------------

constexpr int slots = 3;

class trace {
 public:
  explicit trace(int n) : n_(n) {}

  void step(byte_reader& in) {
    switch (in.below(16)) {
      case 0:
      case 1:
        clause_add(in.below(slots), pick_literal(in), in.below(2) == 1);
        break;
      case 2:
        clause_reserve(in.below(slots), in.below(4));
        break;
      case 3:
        clause_copy(in.below(slots), in.below(slots));
        break;
      case 4:
        clause_destroy(in.below(slots));
        break;
      case 5:
      case 6:
        formula_add_built(in.below(slots), in.below(slots), in.below(2) == 1);
        break;
      case 7:
      case 8:
        formula_add_new(in.below(slots), in.below(2) == 1, pick_entry(in));
        break;
      case 9:
        formula_at_most_one(in.below(slots), pick_variable(in), pick_variable(in));
        break;
      case 10:
        formula_copy(in.below(slots), in.below(slots));
        break;
      case 11:
        formula_feasible(in.below(slots), pick_literal(in));
        break;
      case 12:
        formula_destroy(in.below(slots));
        break;
      case 13:
        check_satisfies(in.below(slots), in);
        break;
      default:
        solve(in.below(slots), in);
        break;
    }
  }

  // Releases everything the trace owns.
  void release_all() noexcept {
    for (int i = 0; i < slots; ++i) {
      cb_[i].destroy();
      fb_[i].destroy();
    }
  }

  bool failure_seen() const noexcept { return failure_seen_; }

 private:
  int n_;                                     // variables 1 .. n_, n_ <= 12
  std::array<builders::clause_builder, slots> cb_{};
  std::array<entry, slots> cb_shadow_;        // the literals each clause builder must hold
  std::array<builders::formula_builder, slots> fb_{};
  std::array<entries, slots> fb_shadow_;      // the entries each formula builder must hold, in order
  bool failure_seen_ = false;                 // the injected failure has surfaced

  // Called where std::bad_alloc was caught: it must be the injected failure, surfacing once.
  void failed() {
    note("  -> std::bad_alloc");
    require(probe::failure_raised(), "std::bad_alloc without an injected failure");
    require(!failure_seen_, "one injected failure surfaced twice");
    failure_seen_ = true;
  }

  variable pick_variable(byte_reader& in) { return variable{1 + in.below(n_)}; }
  literal pick_literal(byte_reader& in) {
    const std::uint8_t b = in.next();
    const std::int32_t v = 1 + (b >> 1) % n_;
    return literal{(b & 1U) != 0 ? -v : v};
  }
  // A clause of 0 to 5 literals, or one time in eight a range [0, from, to] (to < from allowed).
  entry pick_entry(byte_reader& in) {
    const int kind = in.below(8);
    if (kind == 0) return {0, to_int(pick_variable(in)), to_int(pick_variable(in))};
    entry e;
    const int length = kind == 1 ? 0 : in.below(6);
    for (int i = 0; i < length; ++i) e.push_back(to_int(pick_literal(in)));
    return e;
  }

  void check_clause_builder(int i, const char* what) {
    require(numbers_of(cb_[i].v) == cb_shadow_[i], what);
  }
  void check_formula_builder(int i, const char* what) { require(numbers_of(fb_[i].v) == fb_shadow_[i], what); }

  void clause_add(int i, literal l, bool simplify) {
    note("cb%d.%s(%d)", i, simplify ? "add_simplify" : "add", to_int(l));
    try {
      if (simplify)
        cb_[i].add_simplify(l);
      else
        cb_[i].add(l);
    } catch (const std::bad_alloc&) {
      failed();
      check_clause_builder(i, "a failed add changed the clause builder");
      return;
    }
    entry& s = cb_shadow_[i];
    if (!simplify || std::find(s.begin(), s.end(), to_int(l)) == s.end()) s.push_back(to_int(l));
    check_clause_builder(i, "the clause builder's literals after an add");
  }

  void clause_reserve(int i, int spare) {
    const auto size = static_cast<std::int32_t>(cb_shadow_[i].size()) + spare;
    note("cb%d.reserve(%d)", i, size);
    try {
      cb_[i].reserve(size);
    } catch (const std::bad_alloc&) {
      failed();
      check_clause_builder(i, "a failed reserve changed the clause builder");
      return;
    }
    require(cb_[i].v.capacity == size, "reserve gives room for exactly the size asked");
    check_clause_builder(i, "reserve keeps the literals");
  }

  void clause_copy(int from, int to) {
    if (from == to) return;
    note("cb%d = cb%d.copy()", to, from);
    builders::clause_builder copy;
    try {
      copy = cb_[from].copy();
    } catch (const std::bad_alloc&) {
      failed();
      check_clause_builder(from, "a failed copy changed the clause builder");
      return;
    }
    require(numbers_of(copy.v) == cb_shadow_[from], "a clause builder's copy holds its literals");
    require(copy.v.capacity == copy.v.size && (copy.v.size > 0) == (copy.v.e != nullptr),
            "a clause builder's copy has a block of exactly its literals, none when empty");
    require(copy.v.e == nullptr || copy.v.e != cb_[from].v.e, "a clause builder's copy shares its block");
    cb_[to].destroy();
    cb_[to] = copy;
    cb_shadow_[to] = cb_shadow_[from];
  }

  void clause_destroy(int i) {
    note("cb%d.destroy()", i);
    cb_[i].destroy();
    cb_[i] = builders::empty_clause_builder;
    cb_shadow_[i].clear();
  }

  // Adds c, whose literals are e, to formula builder j, which takes it over.
  void formula_take(int j, literal_array_access c, const entry& e, bool simplify) {
    note("fb%d.%s(%s)", j, simplify ? "add_simplify" : "add", text_of(e).c_str());
    try {
      if (simplify)
        fb_[j].add_simplify(c);
      else
        fb_[j].add(c);
    } catch (const std::bad_alloc&) {
      failed();
      check_formula_builder(j, "a failed add changed the formula builder");
      return;
    }
    entries& s = fb_shadow_[j];
    if (simplify && !is_range(e)) {
      // A held clause that holds every literal of e goes (the last entry takes its place); e itself
      // goes when a held clause has no literal outside e.
      const auto subset = [](const entry& small, const entry& large) {
        return std::all_of(small.begin(), small.end(),
                           [&](std::int32_t x) { return std::find(large.begin(), large.end(), x) != large.end(); });
      };
      std::size_t k = 0;
      while (k < s.size()) {
        if (is_range(s[k])) {
          ++k;
        } else if (subset(e, s[k])) {
          s[k] = s.back();
          s.pop_back();
        } else if (subset(s[k], e)) {
          check_formula_builder(j, "add_simplify of a clause implied by one held");
          return;
        } else {
          ++k;
        }
      }
    }
    s.push_back(e);
    check_formula_builder(j, "the formula builder's entries after an add");
  }

  void formula_add_built(int i, int j, bool simplify) {
    note("c = cb%d.build()", i);
    const bool had_block = cb_[i].v.e != nullptr;
    const literal* const block = cb_[i].v.e;
    literal_array_access c;
    try {
      c = cb_[i].build();
    } catch (const std::bad_alloc&) {
      failed();
      require(!had_block, "build allocated although the builder had a block");
      check_clause_builder(i, "a failed build changed the clause builder");
      return;
    }
    require(cb_[i] == builders::empty_clause_builder, "a clause builder is empty after build");
    require(!had_block || c.data() == block, "build hands the builder's own block over");
    require(c.first() == 1 && numbers_of(c) == cb_shadow_[i], "a built clause holds the builder's literals");
    const entry e = cb_shadow_[i];
    cb_shadow_[i].clear();
    formula_take(j, c, e, simplify);
  }

  void formula_add_new(int j, bool simplify, const entry& e) {
    literal_array_access c;
    try {
      c = clause_of(e);
    } catch (const std::bad_alloc&) {
      note("new_clause(%s)", text_of(e).c_str());
      failed();
      return;
    }
    formula_take(j, c, e, simplify);
  }

  void formula_at_most_one(int j, variable from, variable to) {
    note("fb%d.add_at_most_one(%d, %d)", j, to_int(from), to_int(to));
    try {
      fb_[j].add_at_most_one(from, to);
    } catch (const std::bad_alloc&) {
      failed();
      check_formula_builder(j, "a failed add_at_most_one changed the formula builder");
      return;
    }
    if (from == to) {
    } else if (to_int(to) == to_int(from) + 1) {
      fb_shadow_[j].push_back({-to_int(from), -to_int(to)});
    } else {
      fb_shadow_[j].push_back({0, to_int(from), to_int(to)});
    }
    check_formula_builder(j, "the formula builder's entries after add_at_most_one");
  }

  void formula_copy(int from, int to) {
    if (from == to) return;
    note("fb%d = fb%d.copy()", to, from);
    builders::formula_builder copy;
    try {
      copy = fb_[from].copy();
    } catch (const std::bad_alloc&) {
      failed();
      check_formula_builder(from, "a failed copy changed the formula builder");
      return;
    }
    require(numbers_of(copy.v) == fb_shadow_[from], "a formula builder's copy holds its entries");
    for (std::int32_t k = copy.v.first_index(); copy.v.has_element(k); k = copy.v.next(k))
      require(copy.v.get(k).bounds() != fb_[from].v.get(k).bounds(), "a formula builder's copy shares an entry");
    fb_[to].destroy();
    fb_[to] = copy;
    fb_shadow_[to] = fb_shadow_[from];
  }

  void formula_feasible(int j, literal l) {
    note("fb%d.is_feasible(%d)", j, to_int(l));
    const entries& s = fb_shadow_[j];
    const bool expected = std::none_of(s.begin(), s.end(), [&](const entry& e) { return e == entry{-to_int(l)}; });
    require(fb_[j].is_feasible(l) == expected, "is_feasible is false exactly for a held unit (-l)");
  }

  void formula_destroy(int j) {
    note("fb%d.destroy()", j);
    fb_[j].destroy();
    fb_[j] = builders::empty_formula_builder;
    fb_shadow_[j].clear();
  }

  model pick_model(byte_reader& in, fixed_values& fixed) {
    model m(1, n_);
    for (std::int32_t v = 1; v <= n_; ++v) {
      const int b = in.below(6);
      if (b >= 2) continue;
      m[variable{v}] = b == 0 ? variable_value::true_ : variable_value::false_;
      fixed.set |= assignment{1} << (v - 1);
      if (b == 0) fixed.values |= assignment{1} << (v - 1);
    }
    return m;
  }

  void check_satisfies(int j, byte_reader& in) {
    fixed_values unused;
    const model m = pick_model(in, unused);
    note("satisfies(fb%d, model%s)", j, image(m).c_str());
    require(formulas::satisfies(fb_[j].v, m) == status(fb_shadow_[j], m), "satisfies on a partial model");
  }

  // Solves f (taken over) under each policy in turn, each time from `start`, with solve(f, m, policy).
  // A run that ran out of memory must leave f consumed or untouched, and counts as not run.
  template <typename solver>
  std::array<outcome, 3> solve_each(formulas::formula f, const entries& es, const model& start, solver solve) {
    std::array<formulas::formula, 3> fs{f, formulas::clause_vectors::empty_vector,
                                        formulas::clause_vectors::empty_vector};
    std::array<outcome, 3> out;
    try {
      fs[1] = copy_of(f);
      fs[2] = copy_of(f);
    } catch (const std::bad_alloc&) {
      note("copying the formula");
      failed();
      for (formulas::formula& g : fs) formulas::free_all(g);
      return out;
    }
    for (std::size_t p = 0; p < policies.size(); ++p) {
      note("  %s", policy_names[p]);
      model m = start;
      const formulas::formula record = fs[p];
      try {
        out[p].found = solve(fs[p], m, policies[p]);
      } catch (const std::bad_alloc&) {
        failed();
        require(fs[p] == formulas::clause_vectors::empty_vector || (fs[p] == record && numbers_of(fs[p]) == es),
                "a solve that ran out of memory left the formula neither consumed nor untouched");
        formulas::free_all(fs[p]);
        continue;
      }
      require(fs[p] == formulas::clause_vectors::empty_vector, "solve resets the caller's formula");
      out[p].ran = true;
      out[p].m = m;
      note("  -> %s%s", out[p].found ? "model" : "no model", out[p].found ? image(m).c_str() : "");
    }
    return out;
  }

  // The preset entries are kept as they were.
  void check_fixed(const model& m, fixed_values fixed) {
    for (std::int32_t v = 1; v <= n_; ++v)
      if (is_true(fixed.set, v))
        require(m[variable{v}] == (is_true(fixed.values, v) ? variable_value::true_ : variable_value::false_),
                "a preset model entry changed");
  }

  void solve(int j, byte_reader& in) {
    const int kind = in.below(4);
    fixed_values fixed;
    const model start = pick_model(in, fixed);
    const entries es = fb_shadow_[j];
    const formulas::formula f = fb_[j].build();
    fb_shadow_[j].clear();
    switch (kind) {
      case 0:
        solve_plain(f, es, start, fixed, in.below(4) == 0 ? 1 + in.below(n_) : 0);
        break;
      case 1:
        solve_enumeration(f, es, start, fixed);
        break;
      case 2:
        solve_hidden(f, es, start, fixed, in);
        break;
      default:
        solve_whimsical(f, es, start, fixed, in.word());
        break;
    }
  }

  void solve_plain(formulas::formula f, const entries& es, const model& start, fixed_values fixed, int min_vars) {
    note("dpll_solve(fb%s, model%s, min_vars %d)", text_of(es).c_str(), image(start).c_str(), min_vars);
    const auto out = solve_each(f, es, start, [&](formulas::formula& g, model& m, search_policy p) {
      return helpers::dpll_solve(g, m, variable{min_vars}, p);
    });
    const std::optional<assignment> expected = greatest(es, n_, fixed);
    for (std::size_t p = 0; p < out.size(); ++p) {
      if (!out[p].ran) continue;
      const outcome& o = out[p];
      if (expected) require(o.found, "no model found for a satisfiable formula");
      if (!o.found) continue;
      check_fixed(o.m, fixed);
      if (min_vars == 0 || min_vars >= n_) {
        require(expected.has_value(), "a model found for an unsatisfiable formula");
        const assignment a = assignment_of(o.m, n_);
        require(holds(es, a), "the model found does not satisfy the formula");
        if (policies[p] != search_policy::any_model) require(a == *expected, "the model found is not the greatest");
      } else {
        for (std::int32_t v = 1; v <= min_vars; ++v)
          require(o.m[variable{v}] != variable_value::unset, "a variable up to min_vars left unset");
        require(status(es, o.m) != formulas::sat_result::unsat, "the partial model found falsifies the formula");
      }
    }
    if (out[0].ran && out[1].ran)
      require(out[0].found == out[1].found && out[0].m == out[1].m, "preferred and in_order answer differently");
  }

  // Enumerates at most 128 models (each one found is a check call and a clause for the search).
  void solve_enumeration(formulas::formula f, const entries& es, const model& start, fixed_values fixed) {
    note("enumerate(fb%s, model%s)", text_of(es).c_str(), image(start).c_str());
    std::array<enumeration, 3> ctx;
    for (enumeration& c : ctx) {
      c.n = n_;
      c.limit = 128;
    }
    const auto out = solve_each(f, es, start, [&](formulas::formula& g, model& m, search_policy policy) {
      const std::size_t p = index_of(policy);
      return dpll<enumeration, enumerate>::solve(g, ctx[p], m, variable{0}, policy);
    });
    std::vector<assignment> all = models(es, n_, fixed);
    const bool beyond = all.size() > ctx[0].limit;
    if (beyond) all.resize(ctx[0].limit + 1);
    for (std::size_t q = 0; q < out.size(); ++q) {
      if (!out[q].ran) continue;
      require(out[q].found == beyond, "the enumeration ends with a model exactly when there are more than its limit");
      std::vector<assignment> offered = ctx[q].offered;
      if (beyond) require(assignment_of(out[q].m, n_) == offered.back(), "the model found is not the one accepted");
      if (policies[q] != search_policy::any_model) {
        require(offered == all, "the enumeration does not offer the models, greatest first");
        continue;
      }
      std::sort(offered.begin(), offered.end());
      require(std::adjacent_find(offered.begin(), offered.end()) == offered.end(), "a rejected model offered again");
      if (!beyond) {
        std::sort(all.begin(), all.end());
        require(offered == all, "the enumeration under any_model does not count every model once");
      } else {
        const std::vector<condition> cs = compile(es);
        require(offered.size() == all.size() &&
                    std::all_of(offered.begin(), offered.end(), [&](assignment a) { return fixed.agree(a) && holds(cs, a); }),
                "the enumeration under any_model offers an assignment that is no model");
      }
    }
  }


  void solve_hidden(formulas::formula f, const entries& es, const model& start, fixed_values fixed,
                    byte_reader& in) {
    hidden proto;
    proto.n = n_;
    const int count = in.below(6);
    for (int k = 0; k < count; ++k) proto.held.push_back(pick_entry(in));
    proto.at_most = 1 + static_cast<std::size_t>(in.below(3));
    proto.extra = in.below(3) == 0;
    note("hidden(fb%s, held %s, at most %zu%s, model%s)", text_of(es).c_str(), text_of(proto.held).c_str(),
         proto.at_most, proto.extra ? ", extra" : "", image(start).c_str());
    std::array<hidden, 3> ctx{proto, proto, proto};
    const auto out = solve_each(f, es, start, [&](formulas::formula& g, model& m, search_policy policy) {
      const std::size_t p = index_of(policy);
      return dpll<hidden, reveal>::solve(g, ctx[p], m, variable{0}, policy);
    });
    entries all = es;
    all.insert(all.end(), proto.held.begin(), proto.held.end());
    const std::optional<assignment> expected = greatest(all, n_, fixed);
    for (std::size_t p = 0; p < out.size(); ++p) {
      if (!out[p].ran) continue;
      require(out[p].found == expected.has_value(), "hidden entries: satisfiability differs from brute force");
      if (!out[p].found) continue;
      check_fixed(out[p].m, fixed);
      const assignment a = assignment_of(out[p].m, n_);
      require(holds(all, a), "hidden entries: the model found violates one");
      if (policies[p] != search_policy::any_model) require(a == *expected, "hidden entries: not the greatest model");
    }
    if (out[0].ran && out[1].ran)
      require(ctx[0].offered == ctx[1].offered, "preferred and in_order offer the theory different models");
  }

  void solve_whimsical(formulas::formula f, const entries& es, const model& start, fixed_values fixed,
                       std::uint64_t salt) {
    note("whimsical(fb%s, salt %llx, model%s)", text_of(es).c_str(), static_cast<unsigned long long>(salt),
         image(start).c_str());
    std::array<whimsical, 3> ctx;
    for (whimsical& c : ctx) {
      c.n = n_;
      c.salt = salt;
    }
    const auto out = solve_each(f, es, start, [&](formulas::formula& g, model& m, search_policy policy) {
      const std::size_t p = index_of(policy);
      return dpll<whimsical, whim>::solve(g, ctx[p], m, variable{0}, policy);
    });

    // The models an in-order search must offer: each the greatest one of the formula, the entries
    // received so far and the exclusion of every rejected model that no entry received with it
    // falsified.
    entries known = es;
    std::vector<assignment> expected;
    bool expected_found = false;
    while (const std::optional<assignment> next = greatest(known, n_, fixed)) {
      expected.push_back(*next);
      entries explanation;
      if (verdict(salt, n_, *next, explanation)) {
        expected_found = true;
        break;
      }
      const bool falsified = std::any_of(explanation.begin(), explanation.end(),
                                         [&](const entry& e) { return !holds(e, *next); });
      known.insert(known.end(), explanation.begin(), explanation.end());
      if (!falsified) known.push_back(blocking(*next, n_));
    }

    for (std::size_t p = 0; p < out.size(); ++p) {
      if (!out[p].ran) continue;
      const whimsical& c = ctx[p];
      if (policies[p] != search_policy::any_model) {
        require(out[p].found == expected_found, "random verdicts: the answer differs from brute force");
        require(c.offered == expected, "random verdicts: the models offered are not the greatest in turn");
        continue;
      }
      std::vector<assignment> offered = c.offered;
      std::sort(offered.begin(), offered.end());
      require(std::adjacent_find(offered.begin(), offered.end()) == offered.end(),
              "random verdicts: a rejected model offered again");
      entries all = es;
      all.insert(all.end(), c.received.begin(), c.received.end());
      if (out[p].found) {
        check_fixed(out[p].m, fixed);
        const assignment a = assignment_of(out[p].m, n_);
        entries ignored;
        require(!c.offered.empty() && c.offered.back() == a && verdict(salt, n_, a, ignored),
                "random verdicts: the model found is not the one accepted last");
        require(holds(all, a), "random verdicts: the model found violates an entry received");
      } else {
        for (const assignment a : models(all, n_, fixed)) {
          entries ignored;
          require(!verdict(salt, n_, a, ignored), "random verdicts: no model, but one that would be accepted remains");
        }
      }
    }
  }
};

void run(const std::uint8_t* data, std::size_t size) {
  probe::reset();
  trace_text.clear();
  byte_reader in(data, size);
  const int n = 1 + in.below(max_variables);
  std::int64_t fail_at = 0;
  if (in.below(2) == 1) {
    const int high = in.next();
    fail_at = 1 + (high << 8 | in.next()) % 2048;
  }
  note("variables 1 .. %d, heap request %lld fails", n, static_cast<long long>(fail_at));
  trace t(n);
  probe::fail_request(fail_at);
  while (!in.exhausted()) t.step(in);
  probe::fail_request(0);
  t.release_all();
  require(probe::failure_raised() == t.failure_seen(), "an injected failure was raised but never surfaced");
  require(probe::read().live() == 0, "library blocks left after everything was released");
}

}  // namespace
}  // namespace nubrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  nubrix::fuzz::run(data, size);
  return 0;
}
