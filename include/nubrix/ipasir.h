/* IPASIR, the common C interface of incremental SAT solvers, served by nubrix. Literals are non-zero
 * int32_t (v or -v, 1 <= v <= 2147483646). The library libnubrix_ipasir holds the whole solver.
 *
 * Misuse that IPASIR leaves undefined (a literal out of range, a solve while a clause is open, a null
 * handle) prints a message to stderr and aborts. Running out of memory does not: a message goes to
 * stderr, the call that met it loses what it was adding, and the answers stay sound. A solve answers 0
 * in place of 10 once a clause was lost or when one of its assumptions was, and in place of 20 when
 * it also held the assumptions of the solve before it, interrupted by the failure (which answered 0),
 * as a refutation of those would not be one of its own. */
#ifndef NUBRIX_IPASIR_H
#define NUBRIX_IPASIR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The solver's name and version, "nubrix MAJOR.MINOR.PATCH"; a static string. */
const char* ipasir_signature(void);
/* A new empty solver, owned by the caller until ipasir_release. */
void* ipasir_init(void);
/* Releases the solver and everything it holds. */
void ipasir_release(void* solver);
/* Adds a literal to the clause being built, or with 0 adds that clause. */
void ipasir_add(void* solver, int32_t lit_or_zero);
/* Makes lit hold for the next solve only. */
void ipasir_assume(void* solver, int32_t lit);
/* Solves the clauses under the assumptions, then drops them: 10 sat, 20 unsat, 0 interrupted. */
int ipasir_solve(void* solver);
/* After 10: lit if lit is true in the model, -lit if it is false, 0 for a variable never named. */
int32_t ipasir_val(void* solver, int32_t lit);
/* After 20: 1 when the assumption lit was used to refute the assumptions, 0 otherwise. */
int ipasir_failed(void* solver, int32_t lit);
/* Polls terminate(data) during each solve (at its start and every few thousand propagations); non-zero
 * stops it with 0. NULL removes the callback. */
void ipasir_set_terminate(void* solver, void* data, int (*terminate)(void* data));
/* Calls learn(data, clause) with each clause of at most max_length literals learnt by later solves,
 * zero-terminated and readable during the call only; each follows from the clauses added. NULL, or
 * a negative max_length, removes the callback. */
void ipasir_set_learn(void* solver, void* data, int max_length, void (*learn)(void* data, int32_t* clause));

#ifdef __cplusplus
}
#endif

#endif /* NUBRIX_IPASIR_H */
