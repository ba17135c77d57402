/* The C interface of nubrix: an incremental solver behind an opaque handle, usable from C99 and C++.
 *
 * Clauses are given a literal at a time, 0 closing each; literals are non-zero int32_t, v for
 * variable v true and -v for it false, with 1 <= v <= 2147483646. Each solve answers for every clause
 * and at-most-one range added so far under the assumptions made since the previous answer, which it
 * then drops. Learnt clauses are kept from one solve to the next.
 *
 * No function raises an exception or aborts. Those that can fail return an int: NUBRIX_OK (0) or a
 * negative error code below. A handle that met an error stays valid and keeps what it held before
 * the failed call, so the caller may retry or carry on; nubrix_release always releases it.
 * A handle is used by one thread at a time; distinct handles are independent. */
#ifndef NUBRIX_NUBRIX_H
#define NUBRIX_NUBRIX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Answers of nubrix_solve, as in the SAT competition's exit codes. */
#define NUBRIX_SAT 10
#define NUBRIX_UNSAT 20
#define NUBRIX_UNKNOWN 0 /* a limit was reached or the terminate callback said stop */

/* Status codes. */
#define NUBRIX_OK 0
#define NUBRIX_ERROR_INVALID (-1)   /* a null handle, a literal out of range, a bad argument or order */
#define NUBRIX_ERROR_NO_MEMORY (-2) /* an allocation failed; the call did nothing */
#define NUBRIX_ERROR_FAILED (-3)    /* anything else went wrong inside the call; it did nothing */

/* Search policies for nubrix_set_policy. */
#define NUBRIX_POLICY_PREFERRED 0 /* the greatest model: variable 1 most significant, true above false */
#define NUBRIX_POLICY_IN_ORDER 1  /* the same model, by deciding the lowest unset variable true only */
#define NUBRIX_POLICY_ANY_MODEL 2 /* the first model a search by activity finds */

/* An incremental solver; only pointers to it are handled. */
typedef struct nubrix_solver nubrix_solver;

/* What the last solve did (all zero before the first). */
typedef struct nubrix_statistics {
  int64_t decisions;              /* literals decided */
  int64_t propagations;           /* literals whose consequences were propagated */
  int64_t conflicts;              /* conflicts analysed into a learnt clause */
  int64_t learnt_clauses;         /* clauses learnt, one per conflict */
  int64_t learnt_literals_before; /* their literals before minimisation */
  int64_t learnt_literals;        /* their literals as kept */
  int64_t reductions;             /* runs of the reduction of the learnt clauses */
  int64_t released_clauses;       /* learnt clauses those runs released */
  int64_t excursions;             /* searches by activity started (by the preferred search, and
                                     the one search of NUBRIX_POLICY_ANY) */
  int64_t witnesses;              /* of those, the ones that found a model */
  int64_t refutations;            /* in-order decisions shown impossible by an excursion */
  int64_t restarts;               /* restarts of the searches by activity */
  int32_t highest_level;          /* the highest decision level reached */
  double seconds;                 /* wall-clock time of the solve */
} nubrix_statistics;

/* The library's version, "MAJOR.MINOR.PATCH"; a static string. */
const char* nubrix_version(void);

/* A new empty solver, owned by the caller until nubrix_release; NULL when memory runs out. */
nubrix_solver* nubrix_create(void);
/* Releases the solver and everything it holds; NULL is ignored. */
void nubrix_release(nubrix_solver* s);

/* Adds lit to the clause being built, or with 0 adds that clause to the solver (an empty one means
 * no model from now on). A literal out of range returns NUBRIX_ERROR_INVALID and spoils the clause,
 * as does running out of memory with NUBRIX_ERROR_NO_MEMORY: the literals up to its 0 are then
 * ignored, and each of them and the 0 return the same error; the clause is not added. */
int nubrix_add(nubrix_solver* s, int32_t lit_or_zero);
/* Adds "at most one of the variables from .. to is true" (nothing when to < from); from and to must
 * be variables (1 .. 2147483646), NUBRIX_ERROR_INVALID otherwise. */
int nubrix_add_at_most_one(nubrix_solver* s, int32_t from, int32_t to);
/* Makes lit hold for the next solve only. */
int nubrix_assume(nubrix_solver* s, int32_t lit);
/* Drops the assumptions made since the last answer, as after a solve that returned an error. */
int nubrix_clear_assumptions(nubrix_solver* s);

/* Solves with the solver's policy, limits and callbacks: NUBRIX_SAT, NUBRIX_UNSAT or NUBRIX_UNKNOWN,
 * which drop the assumptions, or an error code (NUBRIX_ERROR_INVALID while a clause is being built).
 * After an error the solver is as before the call, assumptions included, so that the solve can be
 * tried again, but for the answer of the previous solve, which is forgotten: nubrix_value and
 * nubrix_failed answer 0 until a solve answers again. */
int nubrix_solve(nubrix_solver* s);
/* After NUBRIX_SAT: lit if lit is true in the model, -lit if it is false; 0 for a variable the
 * solver has not seen, after any other answer, and for a null handle, 0 or INT32_MIN. */
int32_t nubrix_value(const nubrix_solver* s, int32_t lit);
/* After NUBRIX_UNSAT: 1 when the assumption lit was used to refute the assumptions (the clauses with
 * the failed assumptions alone have no model), 0 otherwise. */
int nubrix_failed(const nubrix_solver* s, int32_t lit);
/* The highest variable named so far by a clause, range or assumption; 0 for none or a null handle. */
int32_t nubrix_variables(const nubrix_solver* s);

/* Limits for each later solve, counted from its start: conflicts analysed, literals propagated and
 * wall-clock seconds. A negative value (or an infinite time) means no limit, the default. A solve
 * that reaches one answers NUBRIX_UNKNOWN. A NaN time returns NUBRIX_ERROR_INVALID. */
int nubrix_set_conflict_limit(nubrix_solver* s, int64_t conflicts);
int nubrix_set_propagation_limit(nubrix_solver* s, int64_t propagations);
int nubrix_set_time_limit(nubrix_solver* s, double seconds);
/* The search policy of later solves, one of NUBRIX_POLICY_...; NUBRIX_POLICY_PREFERRED by default. */
int nubrix_set_policy(nubrix_solver* s, int policy);

/* Calls terminate(data) as each solve starts and every few thousand propagations; a non-zero return
 * stops the solve, which answers NUBRIX_UNKNOWN. NULL removes the callback. data stays the caller's;
 * neither callback may call back into this solver. */
int nubrix_set_terminate(nubrix_solver* s, void* data, int (*terminate)(void* data));
/* Calls learn(data, lits, size) with each clause of at most max_length (>= 0) literals learnt by
 * later solves; lits holds size literals followed by a 0 and is readable during the call only. Each
 * clause follows from the clauses and ranges added. NULL removes the callback. */
int nubrix_set_learn(nubrix_solver* s, void* data, int32_t max_length,
                     void (*learn)(void* data, const int32_t* lits, int32_t size));

/* What a theory's check is given: the model it is asked about and its explanation being built. */
typedef struct nubrix_theory nubrix_theory;
/* Sets the theory of later solves: check(data, t) is called with each model the search completes,
 * and returns non-zero to accept it (the solve answers NUBRIX_SAT with it) or 0 to reject it, after
 * adding through nubrix_theory_add clauses over the solver's variables that every acceptable model
 * satisfies (none: that model alone is excluded). They join the solver's clauses for good. With
 * NUBRIX_POLICY_PREFERRED and _IN_ORDER the calls and their models are those of an in-order solve
 * of the clauses with the assumptions as unit clauses. NULL removes the theory. data stays the
 * caller's; check may not call back into this solver but through t. */
int nubrix_set_theory(nubrix_solver* s, void* data, int (*check)(void* data, nubrix_theory* t));
/* During check: lit if lit is true in the model offered, -lit if it is false; 0 for a variable
 * outside the model, 0 or INT32_MIN. */
int32_t nubrix_theory_value(const nubrix_theory* t, int32_t lit);
/* During check: adds lit to the explanation clause being built, or with 0 adds that clause. A
 * literal out of the model's range returns NUBRIX_ERROR_INVALID, running out of memory
 * NUBRIX_ERROR_NO_MEMORY; either spoils the explanation (every later call of this check returns the
 * same error), and the solve ends with that error once check returns, as it does when check returns
 * with a clause not ended by 0. The clauses added before stay the solver's. */
int nubrix_theory_add(nubrix_theory* t, int32_t lit_or_zero);

/* Copies the statistics of the last solve into *out. */
int nubrix_get_statistics(const nubrix_solver* s, nubrix_statistics* out);

#ifdef __cplusplus
}
#endif

#endif /* NUBRIX_NUBRIX_H */
