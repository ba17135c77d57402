/* An IPASIR application in C99 linked with the static libnubrix_ipasir alone (and the C++ runtime):
 * random clauses over 12 variables added ten at a time, each solve under three assumptions checked
 * by brute force (answer, model, failed assumptions); then the C interface from the same library. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <nubrix/ipasir.h>
#include <nubrix/nubrix.h>

enum { variables = 12, max_clauses = 60 };
static int32_t clauses[max_clauses][3];
static int clause_count;

static int32_t random_literal(void) {
  const int32_t v = 1 + rand() % variables;
  return rand() % 2 ? v : -v;
}
/* Whether the assignment bits (bit v - 1 for variable v) satisfies the clauses and the n units. */
static int satisfies(unsigned bits, const int32_t* units, int n) {
  int c, i, ok = 1;
#define HOLDS(lit) ((int)((bits >> (abs(lit) - 1)) & 1u) == ((lit) > 0))
  for (i = 0; i < n; ++i) ok = ok && HOLDS(units[i]);
  for (c = 0; c < clause_count; ++c) ok = ok && (HOLDS(clauses[c][0]) || HOLDS(clauses[c][1]) || HOLDS(clauses[c][2]));
  return ok;
}
static int satisfiable(const int32_t* units, int n) {
  unsigned bits;
  for (bits = 0; bits < 1u << variables; ++bits)
    if (satisfies(bits, units, n)) return 1;
  return 0;
}

int main(void) {
  int wrong = 0, round, answers[21] = {0};
  nubrix_solver* s = nubrix_create();
  nubrix_statistics stats;
  for (round = 0; round < 12; ++round) {
    void* solver = ipasir_init();
    for (clause_count = 0; clause_count < max_clauses;) {
      int32_t assumed[3], failed[3];
      int i, j, answer, failed_count = 0;
      unsigned bits = 0;
      for (i = 0; i < 10; ++i, ++clause_count, ipasir_add(solver, 0))
        for (j = 0; j < 3; ++j) ipasir_add(solver, clauses[clause_count][j] = random_literal());
      for (i = 0; i < 3; ++i) ipasir_assume(solver, assumed[i] = random_literal());
      answer = ipasir_solve(solver);
      for (i = 1; answer == 10 && i <= variables; ++i) bits |= ipasir_val(solver, i) == i ? 1u << (i - 1) : 0u;
      for (i = 0; answer == 20 && i < 3; ++i)
        if (ipasir_failed(solver, assumed[i])) failed[failed_count++] = assumed[i];
      wrong += answer != (satisfiable(assumed, 3) ? 10 : 20) || (answer == 10 && !satisfies(bits, assumed, 3)) ||
               (answer == 20 && satisfiable(failed, failed_count));
      ++answers[answer == 10 ? 10 : 20];
    }
    ipasir_release(solver);
  }
  wrong += s == NULL || nubrix_add(s, -1) != NUBRIX_OK || nubrix_add(s, 0) != NUBRIX_OK ||
           nubrix_solve(s) != NUBRIX_SAT || nubrix_value(s, 1) != -1 || nubrix_get_statistics(s, &stats) != NUBRIX_OK;
  nubrix_release(s);
  printf("%s: %d sat and %d unsat answers, %d wrong\n", ipasir_signature(), answers[10], answers[20], wrong);
  return wrong == 0 && answers[10] > 0 && answers[20] > 0 ? 0 : 1;
}
