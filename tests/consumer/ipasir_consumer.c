/* An IPASIR application: 1 or 2, not both; assuming 1 and 2 fails, assuming -1 gives 2. */
#include <stdio.h>

#include <nubrix/ipasir.h>

int main(void) {
  void* s = ipasir_init();
  int ok;
  ipasir_add(s, 1), ipasir_add(s, 2), ipasir_add(s, 0);
  ipasir_add(s, -1), ipasir_add(s, -2), ipasir_add(s, 0);
  ipasir_assume(s, 1), ipasir_assume(s, 2);
  ok = ipasir_solve(s) == 20 && ipasir_failed(s, 1) && ipasir_failed(s, 2);
  ipasir_assume(s, -1);
  ok = ok && ipasir_solve(s) == 10 && ipasir_val(s, 1) == -1 && ipasir_val(s, 2) == 2;
  printf("%s: %s\n", ok ? "ok" : "FAILED", ipasir_signature());
  ipasir_release(s);
  return ok ? 0 : 1;
}
