// The incremental entry point with a theory, and the incremental solver with a theory given at run
// time: sequences of solves under assumptions and policies, the learnt clauses and the theory's
// entries carried from one solve to the next, checked against brute force over everything the
// theory answered so far.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nubrix/dpll.hpp>
#include <nubrix/solver.hpp>

#include "support.hpp"

namespace nubrix::testing {
namespace {

using sequence_test = heap_test;

constexpr search_policy policies[] = {search_policy::preferred, search_policy::in_order, search_policy::any_model};

const char* name_of(search_policy policy) {
  switch (policy) {
    case search_policy::preferred:
      return "preferred";
    case search_policy::in_order:
      return "in_order";
    default:
      return "any_model";
  }
}

std::string image(const entry& e) {
  std::ostringstream out;
  out << '(';
  for (std::size_t i = 0; i < e.size(); ++i) out << (i == 0 ? "" : " ") << e[i];
  out << ')';
  return out.str();
}

std::string image(const entries& es) {
  std::string out;
  for (const entry& e : es) out += image(e);
  return out.empty() ? "none" : out;
}

// An assignment of 1 .. n as the literals it makes true.
entry literals_of(std::uint64_t bits, int n) {
  entry out;
  for (std::int32_t v = 1; v <= n; ++v) out.push_back(((bits >> (v - 1)) & 1U) != 0 ? v : -v);
  return out;
}

// A theory whose verdict is a fixed pseudo-random function of the complete model and a salt: it
// accepts about one model in four and rejects the others with no explanation, with unit clauses,
// now and then with the empty clause, with short clauses mostly false in the model, or with random
// entries (ranges included). Records every model it is offered.
using fickle = recording_theory;
bool verdict(std::uint64_t salt, int n, std::uint64_t bits, entries& explanation) {
  std::mt19937_64 rng(salt ^ (bits * 0x9e3779b97f4a7c15U));
  explanation.clear();
  const auto literal_of = [&](bool false_in_model) {
    const auto v = static_cast<std::int32_t>(1 + rng() % n);
    const bool is_true = ((bits >> (v - 1)) & 1U) != 0;
    return is_true != false_in_model ? v : -v;
  };
  const auto pick = rng() % 100;
  if (pick < 25) return true;
  if (pick < 45) return false;
  if (pick < 60) {
    for (auto k = 1 + rng() % 2; k-- > 0;) explanation.push_back({literal_of(rng() % 2 == 0)});
  } else if (pick < 61) {
    explanation.push_back({});
  } else if (pick < 85) {
    for (auto k = 1 + rng() % 2; k-- > 0;) {
      entry c;
      for (auto length = 2 + rng() % 2; length-- > 0;) c.push_back(literal_of(rng() % 3 != 0));
      explanation.push_back(c);
    }
  } else {
    explanation = random_entries(rng, n, static_cast<int>(1 + rng() % 2));
  }
  return false;
}
using fickle_solver = dpll<fickle, recorded<verdict>>;

// What a sequence owns of the library's heap between its solves, released however it ends.
struct held {
  formulas::formula f = formulas::clause_vectors::empty_vector;
  formulas::formula learnts = formulas::clause_vectors::empty_vector;
  internals::literal_vectors::vector assumptions = internals::literal_vectors::empty_vector;
  internals::literal_vectors::vector failed = internals::literal_vectors::empty_vector;
  held() = default;
  held(const held&) = delete;
  held& operator=(const held&) = delete;
  ~held() {
    formulas::free_all(f);
    formulas::free_all(learnts);
    assumptions.destroy();
    failed.destroy();
  }
};

std::vector<literal> literals(const entry& e) {
  std::vector<literal> out;
  for (const std::int32_t x : e) out.push_back(literal{x});
  return out;
}

entries with_units(const entries& es, const entry& literals) {
  entries out = es;
  for (const std::int32_t l : literals) out.push_back({l});
  return out;
}

struct tally {
  int solves = 0;
  int rejected = 0;  // check calls that rejected the model
  int sat = 0;
  int refuted_by_assumptions = 0;  // unsat with failed assumptions
  std::string first_written;       // the first formula a solve wrote to, and how
};

// One sequence: a few steps, each adding entries to the formula and solving under random
// assumptions and a random policy with the learnt clauses of the previous solve, through the
// incremental entry point or, when through_solver, through nubrix::solver. `known` is the
// formula, every entry the theory gave, and the exclusion of every model it rejected with entries
// none of which the model falsifies (the search excludes that assignment itself): each solve is
// judged against it, and the theory is a fixed function of the model, so all of it holds for the
// later solves too.
void run_sequence(std::mt19937_64& rng, tally& count, bool through_solver) {
  const int n = 1 + static_cast<int>(rng() % 10);
  fickle ctx{rng(), n, {}};
  held h;
  solver s;
  s.add_clause({+variable{n}, -variable{n}});  // its models cover 1 .. n
  entries es;
  entries known;
  std::vector<std::uint8_t> phases(static_cast<std::size_t>(n) + 1);
  for (std::uint8_t& p : phases) p = static_cast<std::uint8_t>(rng() % 2);
  std::ostringstream history;
  history << "n " << n << ", theory salt " << ctx.salt;

  for (int step = 0; step < 4; ++step) {
    const entries added = random_entries(rng, n, static_cast<int>(rng() % 3));
    for (const entry& e : added) {
      es.push_back(e);
      known.push_back(e);
      if (!through_solver) {
        h.f.append(clause_of(e));
      } else if (is_at_most_one(e)) {
        s.add_at_most_one(variable{e[1]}, variable{e[2]});
      } else {
        s.add_clause(literals(e));
      }
    }
    entry assumed(rng() % 5);
    for (std::int32_t& a : assumed) a = static_cast<std::int32_t>(1 + rng() % n) * (rng() % 2 ? 1 : -1);
    h.assumptions.clear();
    for (const std::int32_t a : assumed) h.assumptions.append(literal{a});
    for (const std::int32_t a : assumed)
      if (through_solver) s.assume(literal{a});
    solve_options options;
    options.policy = policies[rng() % 3];
    const bool share_phases = !through_solver && rng() % 2 == 0;
    history << "\nstep " << step << ": adds " << image(added) << ", assumes " << image(assumed) << ", "
            << name_of(options.policy) << (share_phases ? ", phases" : "");

    // What the theory answers to a model joins what is known: its entries and, when none of them
    // rules the model out, the exclusion of that model. Returns whether it accepted the model.
    const auto absorb = [&](std::uint64_t bits) {
      entries explanation;
      if (verdict(ctx.salt, n, bits, explanation)) return true;
      const bool falsified =
          std::any_of(explanation.begin(), explanation.end(), [&](const entry& e) { return !holds(e, bits); });
      known.insert(known.end(), explanation.begin(), explanation.end());
      if (!falsified) {
        entry block;
        for (const std::int32_t l : literals_of(bits, n)) block.push_back(-l);
        known.push_back(block);
      }
      return false;
    };

    model m(1, n);
    ctx.offered.clear();
    solve_result r = solve_result::unknown;
    if (!through_solver) {
      r = fickle_solver::solve_incremental(h.f, h.learnts, ctx, m, h.assumptions, h.failed, options,
                                           share_phases ? phases.data() : nullptr);
    } else {
      // The same theory at run time, its entries copied through the sink.
      const auto answer = [&](const model& offered, theory::explanation_sink& out) {
        const std::uint64_t bits = bits_of(offered, n);
        ctx.offered.push_back(bits);
        entries explanation;
        const bool accept = verdict(ctx.salt, n, bits, explanation);
        for (const entry& e : explanation) {
          if (is_at_most_one(e)) {
            out.add_at_most_one(variable{e[1]}, variable{e[2]});
          } else {
            out.add_clause(literals(e));
          }
        }
        return accept;
      };
      // A solve with it that raises at its call `raise_at` (0: never).
      const auto solve_raising_at = [&](std::size_t raise_at) {
        return s.solve(options, [&](const model& offered, theory::explanation_sink& out) {
          if (ctx.offered.size() + 1 == raise_at) throw std::runtime_error("the theory gives up");
          return answer(offered, out);
        });
      };
      // Now and then a solve first that the theory ends with an exception: what it answered before
      // stays, the assumptions wait for the next solve, and nothing leaks.
      if (rng() % 4 == 0) {
        bool raised = false;
        try {
          (void)solve_raising_at(1 + rng() % 3);
        } catch (const std::runtime_error&) {
          raised = true;
        }
        history << "\n  a solve first " << (raised ? "raised" : "ended") << " after offering " << ctx.offered.size();
        for (const std::uint64_t bits : ctx.offered) (void)absorb(bits);
        ctx.offered.clear();
        for (const std::int32_t a : assumed)
          if (!raised) s.assume(literal{a});
      }
      r = solve_raising_at(0);
      for (std::int32_t v = 1; v <= n; ++v) m[variable{v}] = s.value(variable{v});
      h.failed.clear();
      for (const literal l : s.failed_assumptions()) h.failed.append(l);
    }
    ++count.solves;
    for (const std::uint64_t bits : ctx.offered) {
      entries explanation;
      const bool accept = verdict(ctx.salt, n, bits, explanation);
      history << "\n  offered " << image(literals_of(bits, n)) << ": "
              << (accept ? "accepted" : "rejected with " + image(explanation));
    }
    history << "\n  answer " << (r == solve_result::sat ? "sat " + image(literals_of(bits_of(m, n), n)) : "unsat")
            << ", learnt clauses handed back " << image(numbers_of(h.learnts));
    SCOPED_TRACE(history.str());
    // The formula is only read: its entries hold the same literals, though the search may reorder
    // them within a clause. Checked apart from the answers, so that a clause written to does not
    // hide what the answers show.
    const auto sorted = [](entries e) {
      for (entry& c : e)
        if (!is_at_most_one(c)) std::sort(c.begin(), c.end());
      return e;
    };
    if (!through_solver && count.first_written.empty() && sorted(numbers_of(h.f)) != sorted(es))
      count.first_written = image(es) + " became " + image(numbers_of(h.f)) + "\n" + history.str();

    // Every model offered satisfies what is known under the assumptions, and is the greatest such
    // one but for any_model; what the theory answered joins what is known.
    bool accepted = false;
    for (std::size_t i = 0; i < ctx.offered.size(); ++i) {
      const std::uint64_t bits = ctx.offered[i];
      ASSERT_FALSE(accepted) << "a model offered after one was accepted";
      const entries under = with_units(known, assumed);
      if (options.policy == search_policy::any_model) {
        ASSERT_TRUE(holds(under, bits)) << "offered " << image(literals_of(bits, n)) << ", which is excluded";
      } else {
        ASSERT_EQ(std::optional<std::uint64_t>{bits}, greatest_model(under, n, model(1, n)))
            << "offered " << image(literals_of(bits, n)) << " out of order";
      }
      accepted = absorb(bits);
      count.rejected += accepted ? 0 : 1;
    }

    ASSERT_NE(r, solve_result::unknown);
    ASSERT_EQ(r == solve_result::sat, accepted) << "the answer is the last verdict";
    if (r == solve_result::sat) {
      ++count.sat;
      for (std::int32_t v = 1; v <= n; ++v) ASSERT_NE(m[variable{v}], variable_value::unset) << "variable " << v;
      ASSERT_EQ(bits_of(m, n), ctx.offered.back()) << "the model is the one accepted";
      for (std::int32_t v = 1; share_phases && v <= n; ++v)
        ASSERT_EQ(phases[static_cast<std::size_t>(v)], m[variable{v}] == variable_value::true_ ? 1 : 0)
            << "the phase of " << v << " after sat";
    } else {
      const std::optional<std::uint64_t> left = greatest_model(with_units(known, assumed), n, model(1, n));
      ASSERT_FALSE(left.has_value()) << "unsat, but " << image(literals_of(*left, n))
                                     << " satisfies everything known and the assumptions, and was never offered";
      entry failed(reinterpret_cast<const std::int32_t*>(h.failed.e),
                   reinterpret_cast<const std::int32_t*>(h.failed.e) + h.failed.size);
      for (const std::int32_t a : failed)
        ASSERT_NE(std::find(assumed.begin(), assumed.end(), a), assumed.end()) << a << " failed but was not assumed";
      ASSERT_FALSE(greatest_model(with_units(known, failed), n, model(1, n)).has_value())
          << "the failed assumptions " << image(failed) << " alone leave a model";
      ASSERT_TRUE(!failed.empty() || !greatest_model(known, n, model(1, n)).has_value())
          << "no failed assumption, but there is a model without them";
      count.refuted_by_assumptions += failed.empty() ? 0 : 1;
    }

    // What is handed back holds in every model of what is known.
    for (const entry& c : numbers_of(h.learnts))
      for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << n); ++bits)
        ASSERT_TRUE(!holds(known, bits) || holds(c, bits))
            << "handed back " << image(c) << ", which excludes " << image(literals_of(bits, n));
  }
}

TEST_F(sequence_test, incremental_solves_with_a_theory_match_brute_force) {
  const std::uint64_t seed = ::testing::UnitTest::GetInstance()->random_seed();
  std::mt19937_64 rng(seed + 13);
  tally count;
  for (int round = 0; round < 2000 && !HasFatalFailure(); ++round) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " round " << round);
    run_sequence(rng, count, round % 2 == 1);
  }
  EXPECT_TRUE(count.first_written.empty()) << "a solve wrote to the formula: " << count.first_written;
  if (HasFatalFailure()) return;
  EXPECT_GT(count.rejected, count.solves / 2) << "theories that reject models before the answer";
  EXPECT_GT(count.sat, count.solves / 4);
  EXPECT_GT(count.refuted_by_assumptions, count.solves / 10);
}

// Rejects exactly {1, 2, -3} and {1, -2, 3}, with no explanation.
bool reject_two(fickle& ctx, const model& m, formulas::formula&) {
  const std::uint64_t bits = bits_of(m, ctx.n);
  ctx.offered.push_back(bits);
  return bits != 0b011 && bits != 0b101;
}

// Excluding a model rejected under assumptions excludes that model alone: after {1, 2, -3} is
// rejected under 1 and 2, a solve under 1 and -2 still finds {1, -2, -3}.
TEST_F(sequence_test, an_exclusion_under_assumptions_spares_the_other_models) {
  for (const search_policy policy : policies) {
    SCOPED_TRACE(name_of(policy));
    held h;
    fickle ctx{0, 3, {}};
    solve_options options;
    options.policy = policy;
    std::vector<std::uint64_t> answers;
    for (const entry& assumed : {entry{1, 2}, entry{1, -2}}) {
      h.assumptions.clear();
      for (const std::int32_t a : assumed) h.assumptions.append(literal{a});
      model m(1, 3);
      const solve_result r =
          dpll<fickle, reject_two>::solve_incremental(h.f, h.learnts, ctx, m, h.assumptions, h.failed, options);
      answers.push_back(r == solve_result::sat ? bits_of(m, 3) : ~std::uint64_t{0});
    }
    EXPECT_EQ(answers, (std::vector<std::uint64_t>{0b111, 0b001})) << "models {1, 2, 3} then {1, -2, -3}";
  }
}

}  // namespace
}  // namespace nubrix::testing
