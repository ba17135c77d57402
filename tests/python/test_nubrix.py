"""The Python module against brute force on small random formulas, with its errors, limits,
interruptions and theories. The examples of README.md and docs/ are run by tests of their own."""
import itertools
import os
import pathlib
import random
import signal
import subprocess
import sys
import threading
import time

import pytest

import nubrix


def random_clauses(rng, n, count):
    return [[rng.choice((-1, 1)) * rng.randint(1, n) for _ in range(rng.randint(1, 3))] for _ in range(count)]


def random_problem(seed):
    """n, clauses and at-most-one ranges over 1 .. n."""
    rng = random.Random(seed)
    n = rng.randint(1, 8)
    ranges = [(a, rng.randint(a, n)) for a in (rng.randint(1, n) for _ in range(rng.randint(0, 2)))]
    return n, random_clauses(rng, n, rng.randint(0, 3 * n)), ranges


def holds(m, clauses, ranges=()):
    return all(any(m[abs(lit) - 1] == lit for lit in c) for c in clauses) and all(
        sum(m[v - 1] > 0 for v in range(a, b + 1)) <= 1 for a, b in ranges)


def models(n, clauses, ranges=(), accept=lambda m: True):
    """Every model over 1 .. n in preference order: variable 1 most significant, true first."""
    for values in itertools.product((True, False), repeat=n):
        m = [v if t else -v for v, t in zip(range(1, n + 1), values)]
        if holds(m, clauses, ranges) and accept(m):
            yield m


PROBLEMS = [random_problem(seed) for seed in range(300)]


def test_solve_and_itersolve_against_brute_force():
    for n, clauses, ranges in PROBLEMS:
        expected = list(models(n, clauses, ranges))
        assert nubrix.solve(clauses, n, ranges) == (expected[0] if expected else "UNSAT")
        assert list(nubrix.itersolve(clauses, n, ranges)) == expected


def queens(n):
    q = lambda r, c: r * n + c + 1  # noqa: E731
    clauses = [[q(r, c) for c in range(n)] for r in range(n)]
    clauses += [[-q(r1, c1), -q(r2, c2)] for r1, r2 in itertools.combinations(range(n), 2)
                for c1, c2 in itertools.product(range(n), repeat=2) if c1 == c2 or abs(c1 - c2) == r2 - r1]
    return clauses, [(q(r, 0), q(r, n - 1)) for r in range(n)]


def test_itersolve_counts_queens():
    counts = [sum(1 for _ in nubrix.itersolve(clauses, at_most_one=rows)) for clauses, rows in map(queens, range(1, 9))]
    assert counts == [1, 0, 0, 2, 10, 4, 40, 92]


def test_solver_under_assumptions_against_brute_force():
    rng = random.Random(1)
    for n, clauses, ranges in PROBLEMS[:150]:
        s = nubrix.Solver()
        for c in clauses:
            s.add_clause(c)
        for a, b in ranges:
            s.add_at_most_one(a, b)
        for _ in range(4):
            assumed = [rng.choice((-1, 1)) * rng.randint(1, n) for _ in range(rng.randint(0, 3))]
            expected = next(models(n, clauses + [[lit] for lit in assumed], ranges), None)
            any_model = rng.random() < 0.3
            answer = s.solve(assumed, any_model=any_model)
            if expected is None:
                assert answer is False and s.model() is None
                failed = s.failed_assumptions
                assert set(failed) <= set(assumed)
                assert [lit for lit in assumed if s.failed(lit)] == [lit for lit in assumed if lit in failed]
                assert next(models(n, clauses + [[lit] for lit in failed], ranges), None) is None
            else:
                m = s.model()
                assert answer is True and len(m) == s.variables
                full = m + list(range(len(m) + 1, n + 1))
                assert holds(full, clauses + [[lit] for lit in assumed], ranges)
                assert any_model or full == expected
                assert all(s.value(abs(lit)) == (lit > 0) for lit in m)
            clause = random_clauses(rng, n, 1)[0]
            clauses.append(clause)
            s.add_clause(clause)


def test_pysat_names_agree_with_the_solvers_own():
    """bootstrap_with, append_formula, get_model and get_core against add_clause, model and
    failed_assumptions, on the same problems under the same assumptions."""
    rng = random.Random(2)
    for n, clauses, ranges in PROBLEMS[:150]:
        own = nubrix.Solver()
        for c in clauses:
            own.add_clause(c)
        bootstrapped = nubrix.Solver(bootstrap_with=clauses)
        appended = nubrix.Solver()
        appended.append_formula(tuple(c) for c in clauses)
        with pytest.raises(ValueError):
            appended.append_formula([[n + 1], [0]])  # a bad clause: none of them added
        assert appended.variables == own.variables
        pysat = (bootstrapped, appended)
        for s in (own,) + pysat:
            for a, b in ranges:
                s.add_at_most_one(a, b)
        for _ in range(4):
            assumed = [rng.choice((-1, 1)) * rng.randint(1, n) for _ in range(rng.randint(0, 3))]
            answer = own.solve(assumed)
            expected_core = own.failed_assumptions if answer is False else None
            for s in pysat:
                assert s.solve(assumed) is answer
                assert s.get_model() == s.model() == own.model()
                assert s.get_core() == expected_core
            clause = random_clauses(rng, n, 1)[0]
            own.add_clause(clause)
            bootstrapped.append_formula([clause])
            appended.add_clause(clause)


def test_with_block_releases_the_solver_and_refuses_it_after():
    def resident():
        return int(pathlib.Path("/proc/self/statm").read_text().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    clauses = [[v, -(v + 1), v + 2] for v in range(1, 100001)]
    before = resident()
    held = nubrix.Solver(clauses)
    assert held.solve() is True
    one = resident() - before  # what one solver of these clauses holds after a solve
    closed = []
    for _ in range(20):
        with nubrix.Solver(bootstrap_with=clauses) as s:
            assert s.solve() is True and s.get_model() is not None
        closed.append(s)  # kept alive: only the end of the block can have released its clauses
    assert resident() - before < 4 * one
    assert held.solve([-1, 2]) is True

    with pytest.raises(KeyError):
        with nubrix.Solver([[1, 2]]) as s:
            raise KeyError("passes through")
    s.interrupt()  # allowed: it only asks the next solve to stop
    for call in [lambda: s.solve(), lambda: s.add_clause([1]), lambda: s.append_formula([[1]]),
                 lambda: s.add_at_most_one(1, 2), lambda: s.model(), lambda: s.get_model(),
                 lambda: s.get_core(), lambda: s.value(1), lambda: s.failed(1), lambda: s.failed_assumptions,
                 lambda: s.statistics, lambda: s.variables, lambda: s.__enter__()]:
        with pytest.raises(ValueError, match="closed"):
            call()


def preference(m):
    return tuple(lit > 0 for lit in m)


def test_theory_against_brute_force():
    for seed, (n, clauses, ranges) in enumerate(PROBLEMS[:200]):
        hidden = random_clauses(random.Random(-seed), n, n)
        whim = lambda m: random.Random(hash((seed,) + tuple(m))).random() < 0.3  # noqa: E731
        offered = []

        def theory(m):
            offered.append(m)
            violated = [c for c in hidden if not holds(m, [c])]
            if violated:
                return violated[:1 + len(offered) % 2]
            if whim(m):
                return [] if len(offered) % 2 else False
            return None if len(offered) % 2 else True

        acceptable = lambda m: holds(m, hidden) and not whim(m)  # noqa: E731
        expected = next(models(n, clauses, ranges, acceptable), None)
        assert nubrix.solve(clauses, n, ranges, theory=theory) == (expected or "UNSAT")
        assert sorted(offered, key=preference, reverse=True) == offered
        assert len({tuple(m) for m in offered}) == len(offered)

        # The same theory through a Solver, its clauses kept from one solve under assumptions to the
        # next, and through itersolve, which gives exactly the acceptable models in order.
        s = nubrix.Solver()
        s.add_clause([n, -n])
        for c in clauses:
            s.add_clause(c)
        for a, b in ranges:
            s.add_at_most_one(a, b)
        rng = random.Random(seed)
        for _ in range(3):
            assumed = [rng.choice((-1, 1)) * rng.randint(1, n) for _ in range(rng.randint(0, 2))]
            offered.clear()
            expected = next(models(n, clauses + [[lit] for lit in assumed], ranges, acceptable), None)
            assert s.solve(assumed, theory=theory) == (expected is not None)
            assert s.model() == expected
            assert sorted(offered, key=preference, reverse=True) == offered
        assert list(nubrix.itersolve(clauses, n, ranges, theory=theory)) == list(models(n, clauses, ranges, acceptable))


def test_exceptions_of_a_theory_reach_the_caller():
    def theory(m):
        raise KeyError("from the theory")

    for _ in range(3):
        with pytest.raises(KeyError, match="from the theory"):
            nubrix.solve([[1, 2], [-1, 3]], theory=theory)
    assert nubrix.solve([[1, 2], [-1, 3]], theory=lambda m: m[0] < 0 or [[-1]]) == [-1, 2, 3]
    s = nubrix.Solver()
    s.add_clause([1, 2])
    s.add_clause([-1, 3])
    s.solve([-1, -2])
    for _ in range(3):
        with pytest.raises(KeyError, match="from the theory"):
            s.solve([2], theory=theory)
        assert s.get_core() is None
    assert s.solve(theory=lambda m: m[0] < 0 or [[-1]]) is True and s.model() == [-1, 2, 3]


@pytest.mark.parametrize("call, error", [
    (lambda: nubrix.solve([[1, 0]]), ValueError),
    (lambda: nubrix.solve([[3]], vars=2), ValueError),
    (lambda: nubrix.solve([[2**31 - 1]]), ValueError),
    (lambda: nubrix.solve([[-2**31]]), ValueError),
    (lambda: nubrix.solve([[2**80]]), ValueError),
    (lambda: nubrix.solve([], vars=2**31 - 1), ValueError),
    (lambda: nubrix.solve([], at_most_one=[(1, 3)], vars=2), ValueError),
    (lambda: nubrix.solve([], at_most_one=[(0, 3)]), ValueError),
    (lambda: nubrix.solve([], at_most_one=[(1, 2, 3)]), ValueError),
    (lambda: nubrix.solve([], prop_limit=-1), ValueError),
    (lambda: nubrix.solve([[1]], theory=lambda m: [[2]]), ValueError),
    (lambda: nubrix.solve(5), TypeError),
    (lambda: nubrix.solve([1, 2]), TypeError),
    (lambda: nubrix.solve([["1"]]), TypeError),
    (lambda: nubrix.solve([[1.0]]), TypeError),
    (lambda: nubrix.solve([[1]], vars="2"), TypeError),
    (lambda: nubrix.solve([], at_most_one=[1]), TypeError),
    (lambda: nubrix.solve([[1]], theory=3), TypeError),
    (lambda: nubrix.solve([[1]], theory=lambda m: 3), TypeError),
    (lambda: nubrix.Solver().solve(theory=3), TypeError),
    (lambda: nubrix.itersolve([[1]], theory=lambda m: [[2]]).__next__(), ValueError),
    (lambda: nubrix.itersolve([[2, 0]]), ValueError),
    (lambda: nubrix.Solver().add_clause([1, 0]), ValueError),
    (lambda: nubrix.Solver().add_clause(1), TypeError),
    (lambda: nubrix.Solver([[1, 0]]), ValueError),
    (lambda: nubrix.Solver(bootstrap_with=[1]), TypeError),
    (lambda: nubrix.Solver().append_formula(5), TypeError),
    (lambda: nubrix.Solver().add_at_most_one(0, 2), ValueError),
    (lambda: nubrix.Solver().solve([0]), ValueError),
    (lambda: nubrix.Solver().solve(conflict_limit=-1), ValueError),
    (lambda: nubrix.Solver().solve(time_limit="1"), TypeError),
])
def test_errors(call, error):
    with pytest.raises(error):
        call()


def pigeonhole(holes):
    """holes + 1 pigeons in `holes` holes: variable h * (holes + 1) + p + 1 puts pigeon p in hole h."""
    var = lambda p, h: h * (holes + 1) + p + 1  # noqa: E731
    clauses = [[var(p, h) for h in range(holes)] for p in range(holes + 1)]
    return clauses, [(var(0, h), var(holes, h)) for h in range(holes)]


def test_limits_and_statistics():
    clauses, ranges = pigeonhole(10)
    assert nubrix.solve(clauses, at_most_one=ranges, prop_limit=1000) == "UNKNOWN"
    assert list(nubrix.itersolve(clauses, at_most_one=ranges, prop_limit=1000)) == ["UNKNOWN"]
    s = nubrix.Solver()
    for c in clauses:
        s.add_clause(c)
    for a, b in ranges:
        s.add_at_most_one(a, b)
    assert s.solve(conflict_limit=50) is None and s.model() is None and s.get_core() is None
    assert s.statistics["conflicts"] >= 50
    assert s.solve(prop_limit=1000) is None and s.solve(time_limit=0) is None
    small, small_ranges = pigeonhole(5)
    assert nubrix.solve(small, at_most_one=small_ranges) == "UNSAT"


# Run in a child process, which the test ends if it hangs: a solve on another thread that
# interrupt() stops (reached only if the solve let the main thread run), then three solves that a
# SIGINT stops. The Solver's pigeons may stay out of the holes when its last variable is true: hard
# under the assumption that it is false, which must not outlive the interrupted solve.
CHILD = """
import signal, threading, time
import nubrix
from test_nubrix import pigeonhole
signal.signal(signal.SIGINT, signal.default_int_handler)  # even where it was started with SIGINT ignored
clauses, ranges = pigeonhole(14)
out = 14 * 15 + 1
s = nubrix.Solver()
for c in clauses:
    s.add_clause(c + [out])
for a, b in ranges:
    s.add_at_most_one(a, b)
answers = []
worker = threading.Thread(target=lambda: answers.append(s.solve([-out])))
worker.start()
time.sleep(0.5)
s.interrupt()
worker.join()
print("interrupt()", answers, flush=True)
for name, solve in [("solve", lambda: nubrix.solve(clauses, at_most_one=ranges)),
                    ("itersolve", lambda: next(nubrix.itersolve(clauses, at_most_one=ranges))),
                    ("Solver", lambda: s.solve([-out]))]:
    print("ready", flush=True)
    try:
        solve()
    except KeyboardInterrupt:
        print(name, "interrupted", flush=True)
print("then", s.solve(), s.value(out), flush=True)
"""


def test_interrupt_and_ctrl_c_stop_a_solve():
    here = str(pathlib.Path(__file__).parent)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [here, os.environ.get("PYTHONPATH")])))
    child = subprocess.Popen([sys.executable, "-c", CHILD], stdout=subprocess.PIPE, text=True, env=env)
    watchdog = threading.Timer(60, child.kill)
    watchdog.start()
    lines = []
    try:
        for line in child.stdout:
            lines.append(line.strip())
            if line.startswith("ready"):
                time.sleep(0.5)
                child.send_signal(signal.SIGINT)
        assert child.wait() == 0
    finally:
        watchdog.cancel()
        child.kill()
    assert [line for line in lines if line != "ready"] == [
        "interrupt() [None]", "solve interrupted", "itersolve interrupted", "Solver interrupted", "then True True"]
