// Proofs of "no model", checked by drat-trim against the formula written with its at-most-one ranges
// as pairwise clauses: random formulas, the generated unsatisfiable families, every policy, text and
// binary; and proofs that lost a lemma, which the checker must refuse.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nubrix/builders.hpp>
#include <nubrix/control.hpp>
#include <nubrix/dimacs.hpp>
#include <nubrix/helpers.hpp>
#include <nubrix/proof.hpp>

#include "generators.hpp"
#include "support.hpp"

namespace nubrix::testing {
namespace {

namespace fs = std::filesystem;

void append_to(void* text, const char* bytes, std::size_t size) {
  static_cast<std::string*>(text)->append(bytes, size);
}

// Solves a copy of f with a proof written to `proof`; the answer.
solve_result prove(const formulas::formula& f, std::int32_t variables, search_policy policy, bool binary,
                   std::string& proof) {
  formulas::formula copy = builders::formula_builder{f}.copy().build();
  model m(1, variables);
  const proof_sink sink{append_to, &proof, binary};
  solve_options options;
  options.policy = policy;
  options.proof = &sink;
  return helpers::dpll_solve_bounded(copy, m, variable{0}, options);
}

class proof_test : public heap_test {
 protected:
  void SetUp() override {
#ifndef NUBRIX_DRAT_TRIM
    GTEST_SKIP() << "drat-trim's source is not beside the project: proofs were not checked";
#endif
    heap_test::SetUp();
    dir_ = fs::temp_directory_path() / ("nubrix-proofs-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
    heap_test::TearDown();
  }

  // Whether drat-trim verifies `proof` for f.
  bool verified(const formulas::formula& f, std::int32_t variables, const std::string& proof) {
#ifdef NUBRIX_DRAT_TRIM
    const fs::path cnf = dir_ / "formula.cnf", drat = dir_ / "proof.drat", out = dir_ / "out.txt";
    {
      std::ofstream text(cnf);
      dimacs::write(text, f, variables, {.expand_at_most_one = true});
      std::ofstream(drat, std::ios::binary) << proof;
    }
    const std::string command =
        std::string(NUBRIX_DRAT_TRIM) + " " + cnf.string() + " " + drat.string() + " -t 60 > " + out.string() + " 2>&1";
    const int status = std::system(command.c_str());
    std::stringstream seen;
    seen << std::ifstream(out).rdbuf();
    return WIFEXITED(status) && seen.str().find("s VERIFIED") != std::string::npos;
#else
    (void)f, (void)variables, (void)proof;
    return false;
#endif
  }

  fs::path dir_;
};

TEST_F(proof_test, unsatisfiable_random_formulas) {
  std::mt19937_64 rng(::testing::UnitTest::GetInstance()->random_seed());
  int checked = 0;
  for (int round = 0; checked < 80 && round < 3000; ++round) {
    const int n = 3 + static_cast<int>(rng() % 10);
    const entries es = random_entries(rng, n, static_cast<int>(2 * n + rng() % (3 * n)));
    if (count_models(es, n) != 0) continue;
    formulas::formula f = formula_of(es);
    const auto policy = static_cast<search_policy>(checked % 3);
    std::string proof;
    ASSERT_EQ(prove(f, n, policy, checked % 2 == 1, proof), solve_result::unsat);
    EXPECT_TRUE(verified(f, n, proof)) << "round " << round << "\n" << formulas::image(f) << "\n" << proof;
    formulas::free_all(f);
    ++checked;
  }
  EXPECT_EQ(checked, 80);
}

TEST_F(proof_test, generated_families_and_lost_lemmas) {
  std::vector<generators::instance> family = {
      generators::pigeonhole(6), generators::pigeonhole(7),
      generators::colouring(generators::mycielski(4), 3, "mycielski", "UNSAT"), generators::langford(5),
      generators::colouring(generators::random_graph(40, 130, 7), 3, "colouring", "")};
  for (generators::instance& inst : family) {
    for (const search_policy policy : {search_policy::preferred, search_policy::in_order, search_policy::any_model}) {
      std::string proof;
      const solve_result r = prove(inst.f, inst.variables, policy, false, proof);
      if (r != solve_result::unsat) continue;  // a satisfiable colouring
      EXPECT_TRUE(verified(inst.f, inst.variables, proof)) << static_cast<int>(policy);
    }
  }
  // Without its lemmas the proof of the pigeonhole problem is refused, and so is it with one of its
  // first lemmas dropped: the checker can fail.
  std::string proof;
  const generators::instance& php = family[0];
  ASSERT_EQ(prove(php.f, php.variables, search_policy::in_order, false, proof), solve_result::unsat);
  EXPECT_FALSE(verified(php.f, php.variables, "0\n"));
  std::vector<std::string> lines;
  for (std::istringstream in(proof); std::getline(in, lines.emplace_back());) {
  }
  int refused = 0;
  for (std::size_t drop = 0; drop < std::min<std::size_t>(lines.size(), 12); ++drop) {
    if (lines[drop].empty() || lines[drop][0] == 'd' || lines[drop] == "0") continue;
    std::string without;
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (i != drop && !lines[i].empty()) without += lines[i] + "\n";
    refused += verified(php.f, php.variables, without) ? 0 : 1;
  }
  EXPECT_GT(refused, 0);
  for (generators::instance& inst : family) formulas::free_all(inst.f);
}

}  // namespace
}  // namespace nubrix::testing
