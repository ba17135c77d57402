// IPASIR over the C interface. IPASIR has no error channel, so misuse aborts with a message, and
// running out of memory is remembered so that every answer stays sound. A solve that lacks a clause
// or an assumption it was given may still refute what it holds, which refutes the full problem too,
// but a model it finds may violate what it lacks: it answers 0 in place of 10. A solve that fails
// answers 0 and drops its assumptions, as IPASIR drops them after every solve.
#include <nubrix/ipasir.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <nubrix/nubrix.h>

namespace {

struct ipasir_solver {
  nubrix_solver* solver = nullptr;
  bool clause_lost = false;       // a clause was dropped for want of memory, for good
  bool assumption_lost = false;   // an assumption was dropped for want of memory, until the next solve
  bool warned = false;            // the out-of-memory message was printed
  int answer = 0;                 // of the last solve, as returned
  void* learn_data = nullptr;
  void (*learn)(void* data, std::int32_t* clause) = nullptr;
};

[[noreturn]] void misuse(const char* operation, const char* what, std::int32_t lit) {
  std::fprintf(stderr, "nubrix: %s: %s (%ld)\n", operation, what, static_cast<long>(lit));
  std::abort();
}

ipasir_solver* handle(void* solver, const char* operation) {
  if (solver == nullptr) misuse(operation, "null solver", 0);
  return static_cast<ipasir_solver*>(solver);
}

// Turns the status of a call that adds something into the handle's record; true when it was lost.
bool lost_to(ipasir_solver* s, int status, const char* operation, std::int32_t lit) {
  if (status == NUBRIX_OK) return false;
  if (status == NUBRIX_ERROR_INVALID) misuse(operation, "literal out of range", lit);
  if (!s->warned) {
    s->warned = true;
    std::fprintf(stderr, "nubrix: %s: out of memory; answers that this could make wrong are given as 0\n", operation);
  }
  return true;
}

void call_learn(void* data, const std::int32_t* lits, std::int32_t) {
  const ipasir_solver* const s = static_cast<const ipasir_solver*>(data);
  // The C interface's buffer is the library's own and writable; IPASIR passes it as int32_t*.
  s->learn(s->learn_data, const_cast<std::int32_t*>(lits));
}

}  // namespace

extern "C" {

const char* ipasir_signature(void) { return "nubrix " NUBRIX_VERSION_STRING; }

void* ipasir_init(void) {
  ipasir_solver* const s = new (std::nothrow) ipasir_solver();
  if (s != nullptr) s->solver = nubrix_create();
  if (s == nullptr || s->solver == nullptr) {
    delete s;
    std::fputs("nubrix: ipasir_init: out of memory\n", stderr);
    std::abort();
  }
  return s;
}

void ipasir_release(void* solver) {
  ipasir_solver* const s = handle(solver, "ipasir_release");
  nubrix_release(s->solver);
  delete s;
}

void ipasir_add(void* solver, std::int32_t lit_or_zero) {
  ipasir_solver* const s = handle(solver, "ipasir_add");
  if (lost_to(s, nubrix_add(s->solver, lit_or_zero), "ipasir_add", lit_or_zero)) s->clause_lost = true;
}

void ipasir_assume(void* solver, std::int32_t lit) {
  ipasir_solver* const s = handle(solver, "ipasir_assume");
  if (lost_to(s, nubrix_assume(s->solver, lit), "ipasir_assume", lit)) s->assumption_lost = true;
}

int ipasir_solve(void* solver) {
  ipasir_solver* const s = handle(solver, "ipasir_solve");
  const int status = nubrix_solve(s->solver);
  if (status == NUBRIX_ERROR_INVALID) misuse("ipasir_solve", "a clause is open; close it with 0 first", 0);
  if (status < 0) {
    lost_to(s, status, "ipasir_solve", 0);
    nubrix_clear_assumptions(s->solver);
    s->answer = 0;
    return 0;
  }
  const bool lacking = s->clause_lost || s->assumption_lost;
  s->answer = status == NUBRIX_SAT && lacking ? 0 : status;
  s->assumption_lost = false;
  return s->answer;
}

std::int32_t ipasir_val(void* solver, std::int32_t lit) {
  ipasir_solver* const s = handle(solver, "ipasir_val");
  return s->answer == NUBRIX_SAT ? nubrix_value(s->solver, lit) : 0;
}

int ipasir_failed(void* solver, std::int32_t lit) {
  ipasir_solver* const s = handle(solver, "ipasir_failed");
  return s->answer == NUBRIX_UNSAT ? nubrix_failed(s->solver, lit) : 0;
}

void ipasir_set_terminate(void* solver, void* data, int (*terminate)(void* data)) {
  ipasir_solver* const s = handle(solver, "ipasir_set_terminate");
  nubrix_set_terminate(s->solver, data, terminate);
}

void ipasir_set_learn(void* solver, void* data, int max_length, void (*learn)(void* data, std::int32_t* clause)) {
  ipasir_solver* const s = handle(solver, "ipasir_set_learn");
  s->learn = learn;
  s->learn_data = data;
  if (learn == nullptr || max_length < 0)
    nubrix_set_learn(s->solver, nullptr, 0, nullptr);
  else
    nubrix_set_learn(s->solver, s, max_length, call_learn);
}

}  // extern "C"
