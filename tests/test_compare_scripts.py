"""Tests of the checking half of bench/compare: the independent DIMACS reader and model checker,
the readers of the solvers' answers, the plain copies made for the other solvers, and the variants
of nubrix with the comparison of their models; and of bench/questions, against brute force."""

import concurrent.futures
import io
import itertools
import random
import sys
import tempfile
import types
import unittest
import unittest.mock
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "bench"))
import compare  # noqa: E402
import dimacs_check  # noqa: E402
import questions  # noqa: E402
from dimacs_check import FormatError  # noqa: E402


class Reading(unittest.TestCase):
    def test_plain_and_extended(self):
        f = dimacs_check.parse("c a comment\np cnf+ 4 3\n1 -2 0\n2 3 4 <= 1\n-1\n 4 0\n")
        self.assertEqual((f.variables, f.declared), (4, 3))
        self.assertEqual(f.clauses, [(1, -2), (-1, 4)])
        self.assertEqual(f.at_most_one, [(2, 3, 4)])

    def test_satlib_habits(self):
        # A '%' trailer whose 0 is no clause, double spaces and tabs, a comment after the clauses
        # and no newline at the end.
        f = dimacs_check.parse("p cnf 3  2 \n 1\t-3 0\n2 3 0\nc end\n%\n0\n")
        self.assertEqual(f.clauses, [(1, -3), (2, 3)])
        f = dimacs_check.parse("p cnf 2 1\n1 2 0")
        self.assertEqual(f.clauses, [(1, 2)])

    def test_refusals(self):
        for text, why in [("1 0\n", "before the header"),
                          ("p cnf 2 1\np cnf 2 1\n1 0\n", "second header"),
                          ("p dnf 2 1\n1 0\n", "malformed header"),
                          ("p cnf 2 1\n1 3 0\n", "beyond"),
                          ("p cnf 2 1\n1 x 0\n", "not a literal"),
                          ("p cnf 2 1\n1 2\n", "not closed"),
                          ("p cnf 2 2\n1 2 0\n", "2 entries declared"),
                          ("p cnf+ 3 1\n1 2 3 <= 2\n", "only '<= 1'"),
                          ("", "no header")]:
            with self.subTest(text=text), self.assertRaisesRegex(FormatError, why):
                dimacs_check.parse(text)


class Checking(unittest.TestCase):
    formula = dimacs_check.parse("p cnf+ 4 3\n1 2 0\n-1 -3 0\n2 3 4 <= 1\n")

    def test_models(self):
        self.assertIsNone(dimacs_check.check(self.formula, [1, -2, -3, 4]))
        self.assertIsNone(dimacs_check.check(self.formula, [-1, 2, -3]))  # 4 left out, not needed
        cases = [([-1, -2, -3, -4], "clause 1"),
                 ([1, 3], "clause 2"),
                 ([-1, 2, 4], "at-most-one group 1"),
                 ([1, -1, -3], "both values"),
                 ([1, -3, 5], "outside"),
                 ([-3, -4], "clause 1")]  # 1 and 2 left out: the clause is not satisfied
        for model, why in cases:
            with self.subTest(model=model):
                self.assertIn(why, dimacs_check.check(self.formula, model))

    def test_v_lines(self):
        self.assertEqual(dimacs_check.model_from_v_lines("c x\ns SATISFIABLE\nv 1 -2\nv 3 0\n"), [1, -2, 3])
        self.assertIsNone(dimacs_check.model_from_v_lines("s UNSATISFIABLE\n"))
        for text in ("v 1 2\n", "v 1 0 2\n", "v 1 two 0\n"):
            with self.subTest(text=text), self.assertRaises(FormatError):
                dimacs_check.model_from_v_lines(text)

    def test_minisat_result(self):
        self.assertEqual(dimacs_check.model_from_minisat("SAT\n1 -2 3 0\n"), [1, -2, 3])
        self.assertIsNone(dimacs_check.model_from_minisat("UNSAT\n"))
        self.assertIsNone(dimacs_check.model_from_minisat(""))
        with self.assertRaises(FormatError):
            dimacs_check.model_from_minisat("SAT\n1 -2 3\n")


class PlainCopies(unittest.TestCase):
    def copy(self, text):
        with tempfile.TemporaryDirectory() as d:
            source, target = Path(d) / "in.cnf", Path(d) / "out" / "in.cnf"
            source.write_text(text)
            made = compare.plain_copy(source, target)
            return made, target.read_text() if made else None

    def test_needed_only_where_a_solver_refuses_the_file(self):
        self.assertEqual(self.copy("c ok\np cnf 2 2\n1 -2 0\n 2 0\n"), (False, None))
        for text in ("p cnf 2 2\n1 -2 0\n2 0\n%\n0\n",  # SATLIB trailer
                     "p cnf 2 2\n1 -2\n 0\n2 0\n",  # a clause over two lines
                     "p cnf 2 2\n1\t-2\t0\n2 0\n",  # tabs
                     "p cnf 2 2\n1 -2 0 2 0\n"):  # two clauses on a line
            with self.subTest(text=text):
                made, copy = self.copy(text)
                self.assertTrue(made)
                self.assertEqual(copy.splitlines()[1:], ["p cnf 2 2", "1 -2 0", "2 0"])
                self.assertEqual(dimacs_check.parse(copy).clauses, dimacs_check.parse(text).clauses)


class Sampling(unittest.TestCase):
    def test_spread(self):
        items = list(range(10))
        self.assertEqual(compare.spread(items, None), items)
        self.assertEqual(compare.spread(items, 3), [0, 4, 9])  # round(4.5) is 4
        self.assertEqual(compare.spread(items, 1), [0])
        self.assertEqual(compare.spread(items, 20), items)

    def test_natural_order(self):
        self.assertEqual(sorted(["uf20-10", "uf20-9", "uf100-1"], key=compare.natural_key),
                         ["uf20-9", "uf20-10", "uf100-1"])


class Variants(unittest.TestCase):
    def test_options(self):
        args = compare.parse_arguments(["--variant", "nubrix-any=prog,--any-model,-x", "--baseline", "old",
                                        "--variant", "other=/bin/true"])
        any_model, other, before = args.variants
        self.assertEqual((any_model.program, any_model.args), ("prog", ("--any-model", "-x")))
        self.assertEqual(any_model.command(Path("f.cnf"), None), ["prog", "--any-model", "-x", "f.cnf"])
        self.assertEqual((before.name, before.program, before.args), ("nubrix-before", "old/tools/nubrix", ()))
        self.assertEqual([(v.compares_model, v.same_model) for v in args.variants],
                         [(True, False), (False, True), (True, True)])
        for bad in (["--variant", "noprogram"], ["--variant", "minisat=prog"], ["--variant", "a/b=prog"],
                    ["--variant", "nubrix-before=x", "--baseline", "old"]):
            with self.subTest(bad=bad), self.assertRaises(SystemExit), \
                    unittest.mock.patch("sys.stderr", io.StringIO()):
                compare.parse_arguments(bad)

    def test_models_compared_with_nubrix(self):
        instance = compare.Instance("real", "f", "i", Path("i.cnf"), Path("i.cnf"), "SAT")
        same, any_model, other = (compare.parse_variant(t) for t in
                                  ("nubrix-before=p", "nubrix-any=p,--any-model", "other=p"))
        solvers = [compare.Solver("nubrix", "p", True), same, any_model, other]

        def run(solver, status, model):
            return compare.Run(instance, solver, instance.native, status, 0.1, 10, "verified", "",
                               None if model is None else compare.model_over_declared(model, 3))

        # Literals past the declared 3 variables are left out of the comparison.
        runs = [run("nubrix", "SAT", [1, -2, 3]), run("nubrix-before", "SAT", [-1, 2, 3, 4]),
                run("nubrix-any", "SAT", [3, -2, 1, -4]), run("other", "SAT", [-1, 2, 3])]
        identical = compare.model_comparisons(runs, solvers)
        self.assertEqual(identical, {"nubrix-before": False, "nubrix-any": True})
        self.assertEqual(compare.problems_of(instance, runs, solvers, identical),
                         [("disagreement", "nubrix-before's model differs from nubrix's")])
        runs[2] = run("nubrix-any", "SAT", [-1, 2, 3])  # may differ: no problem
        identical = compare.model_comparisons(runs, solvers)
        self.assertEqual(identical, {"nubrix-before": False, "nubrix-any": False})
        self.assertEqual(len(compare.problems_of(instance, runs, solvers, identical)), 1)
        runs[0] = run("nubrix", "timeout", None)  # nothing to compare with
        self.assertEqual(compare.model_comparisons(runs, solvers), {})


# A peer by brute force: exits 10 when the DIMACS file has a model, else 20.
BRUTE_PEER = f"""#!{sys.executable}
import itertools, sys
sys.path.insert(0, {str(Path(__file__).resolve().parent.parent / "bench")!r})
import dimacs_check
f = dimacs_check.read(sys.argv[1])
models = (dict(enumerate(v, 1)) for v in itertools.product([True, False], repeat=f.variables))
sys.exit(10 if any(dimacs_check.check(f, [x if m[x] else -x for x in m]) is None for m in models) else 20)
"""


class Questions(unittest.TestCase):
    def test_against_brute_force(self):
        # Random formulas with an at-most-one group: the greatest model passes, and any lesser model
        # is caught at the first variable where the greatest model is true and it is not.
        rng = random.Random(7)
        with tempfile.TemporaryDirectory() as d, concurrent.futures.ThreadPoolExecutor(2) as pool:
            peer = Path(d) / "peer"
            peer.write_text(BRUTE_PEER)
            peer.chmod(0o755)
            tried = 0
            while tried < 6:
                clauses = [rng.sample([x * rng.choice((1, -1)) for x in range(1, 7)], 3) for _ in range(12)]
                text = "p cnf+ 6 13\n" + "".join(" ".join(map(str, c)) + " 0\n" for c in clauses) + "2 4 -5 <= 1\n"
                path = Path(d) / "f.cnf"
                path.write_text(text)
                f = dimacs_check.parse(text)
                models = [[x if v else -x for x, v in enumerate(vs, 1)]
                          for vs in itertools.product([True, False], repeat=6)]
                models = [m for m in models if dimacs_check.check(f, m) is None]
                if len(models) < 2:
                    continue
                tried += 1
                for model in (models[0], models[-1]):
                    program = Path(d) / "nubrix"
                    literals = " ".join(map(str, model))
                    program.write_text(f"#!/bin/sh\necho 's SATISFIABLE'\necho 'v {literals} 0'\nexit 10\n")
                    program.chmod(0o755)
                    args = types.SimpleNamespace(nubrix=str(program), peer=str(peer), limit=30)
                    row, problems = questions.examine(path, args, pool)
                    with self.subTest(text=text, model=model):
                        if model is models[0]:
                            self.assertEqual(problems, [])
                            self.assertEqual(row[3], sum(lit < 0 for lit in model))
                        else:
                            first = next(x for x in range(1, 7) if models[0][x - 1] > 0 > model[x - 1])
                            self.assertIn(f"variable {first} can be true", problems[0])


if __name__ == "__main__":
    unittest.main()
