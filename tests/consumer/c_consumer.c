/* A C caller of the installed library through nubrix.h: at most one of 1 .. 3, and 1 or 2, under
 * the assumption -1; the preferred model then sets 2 alone. */
#include <stdio.h>

#include <nubrix/nubrix.h>

int main(void) {
  nubrix_solver* s = nubrix_create();
  int ok = s != NULL && nubrix_add_at_most_one(s, 1, 3) == NUBRIX_OK && nubrix_add(s, 1) == NUBRIX_OK &&
           nubrix_add(s, 2) == NUBRIX_OK && nubrix_add(s, 0) == NUBRIX_OK && nubrix_assume(s, -1) == NUBRIX_OK &&
           nubrix_solve(s) == NUBRIX_SAT && nubrix_value(s, 1) == -1 && nubrix_value(s, 2) == 2 &&
           nubrix_value(s, 3) == -3;
  printf("%s: nubrix %s\n", ok ? "ok" : "FAILED", nubrix_version());
  nubrix_release(s);
  return ok ? 0 : 1;
}
