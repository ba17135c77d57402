/* An IPASIR application in C99, linked with the static libnubrix_ipasir alone (and the C++ runtime):
 * random incremental problems over 12 variables, each answer, model and set of failed assumptions
 * checked by brute force; then the C interface, which the same library holds. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <nubrix/ipasir.h>
#include <nubrix/nubrix.h>

enum { variables = 12, max_clauses = 60, assumptions = 3 };

static int32_t clauses[max_clauses][3];
static int clause_count;

static uint64_t random_state = 88172645463325252u;
static uint64_t next_random(void) {
  random_state ^= random_state << 13;
  random_state ^= random_state >> 7;
  random_state ^= random_state << 17;
  return random_state;
}
static int32_t random_literal(void) {
  const int32_t v = (int32_t)(1 + next_random() % variables);
  return next_random() % 2 ? v : -v;
}

/* Whether lit is true under the assignment bits (bit v - 1 for variable v). */
static int holds(int32_t lit, unsigned bits) {
  const int value = (int)((bits >> (abs(lit) - 1)) & 1u);
  return lit > 0 ? value : !value;
}
static int satisfies(unsigned bits, const int32_t* units, int n) {
  int c, i;
  for (i = 0; i < n; ++i)
    if (!holds(units[i], bits)) return 0;
  for (c = 0; c < clause_count; ++c)
    if (!holds(clauses[c][0], bits) && !holds(clauses[c][1], bits) && !holds(clauses[c][2], bits)) return 0;
  return 1;
}
/* Whether the clauses with the n literals of units as unit clauses have a model. */
static int satisfiable(const int32_t* units, int n) {
  unsigned bits;
  for (bits = 0; bits < 1u << variables; ++bits)
    if (satisfies(bits, units, n)) return 1;
  return 0;
}

int main(void) {
  int failures = 0, round, answers[21] = {0};
  for (round = 0; round < 12; ++round) {
    void* solver = ipasir_init();
    clause_count = 0;
    while (clause_count < max_clauses) {
      int32_t assumed[assumptions], failed[assumptions];
      int i, j, answer, failed_count = 0;
      unsigned bits = 0;
      for (i = 0; i < 10; ++i, ++clause_count) {
        for (j = 0; j < 3; ++j) ipasir_add(solver, clauses[clause_count][j] = random_literal());
        ipasir_add(solver, 0);
      }
      for (i = 0; i < assumptions; ++i) ipasir_assume(solver, assumed[i] = random_literal());
      answer = ipasir_solve(solver);
      if (answer != (satisfiable(assumed, assumptions) ? 10 : 20)) ++failures;
      if (answer == 10) {
        for (i = 1; i <= variables; ++i)  /* a variable never named is 0: any value does */
          if (ipasir_val(solver, i) == i) bits |= 1u << (i - 1);
        if (!satisfies(bits, assumed, assumptions)) ++failures;
      }
      for (i = 0; answer == 20 && i < assumptions; ++i)
        if (ipasir_failed(solver, assumed[i])) failed[failed_count++] = assumed[i];
      if (answer == 20 && satisfiable(failed, failed_count)) ++failures;
      if (answer == 10 || answer == 20) ++answers[answer];
    }
    ipasir_release(solver);
  }
  {
    nubrix_solver* s = nubrix_create();
    nubrix_statistics stats;
    if (s == NULL || nubrix_add(s, -1) != NUBRIX_OK || nubrix_add(s, 0) != NUBRIX_OK || nubrix_solve(s) != NUBRIX_SAT ||
        nubrix_value(s, 1) != -1 || nubrix_get_statistics(s, &stats) != NUBRIX_OK || stats.seconds < 0)
      ++failures;
    nubrix_release(s);
  }
  printf("%s: %d sat, %d unsat answers checked; %s\n", ipasir_signature(), answers[10], answers[20],
         failures == 0 ? "all right" : "WRONG ANSWERS");
  return failures == 0 && answers[10] > 0 && answers[20] > 0 ? 0 : 1;
}
