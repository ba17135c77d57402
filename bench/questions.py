#!/usr/bin/env python3
"""What the preferred model costs in itself: the questions that make a model the greatest, asked of a
peer one by one.

A model is the greatest (variable 1 most significant, true above false) exactly when, for every
variable v it makes false, no model has v true and the model's values on the variables below v. This
script takes nubrix's model of each formula, checks that it holds, and asks a peer every such
question as a formula of its own: the formula, the model's values below v and v itself as unit
clauses. Every answer must be "no model"; a model is a greater one and an error. The hardest
question's time shows what the greatest model costs the peer in itself, beside what finding some
model costs it; the total is what the naive way, one solve a question, costs it.

Usage: bench/questions.py [--nubrix PROGRAM] [--peer PROGRAM] [--limit S] [--jobs N] FILE...
Prints a markdown table, a row a formula. Exits 1 when a model fails or a question has a model.
"""

import argparse
import concurrent.futures
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import dimacs_check  # noqa: E402  (beside this file)


def clause_lines(formula):
    """The formula's clauses as DIMACS lines, at-most-one groups as pairwise clauses."""
    lines = [" ".join(map(str, c)) + " 0" for c in formula.clauses]
    for group in formula.at_most_one:
        lines += [f"{-a} {-b} 0" for i, a in enumerate(group) for b in group[i + 1:]]
    return lines


def timed(command, limit):
    """Runs command; returns (exit status or None when it ran out of time, wall-clock seconds)."""
    began = time.perf_counter()
    try:
        status = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=limit).returncode
    except subprocess.TimeoutExpired:
        status = None
    return status, time.perf_counter() - began


def ask(peer, limit, directory, header_variables, body, values, v):
    """The peer's verdict on: the model's values below v, and v true. (v, exit status, seconds)."""
    units = [f"{x if values[x] else -x} 0" for x in range(1, v)] + [f"{v} 0"]
    path = os.path.join(directory, f"q{v}.cnf")
    with open(path, "w") as out:
        out.write(f"p cnf {header_variables} {len(body) + len(units)}\n")
        out.write("\n".join(units) + "\n" + "\n".join(body) + "\n")
    status, seconds = timed([peer, path], limit)
    os.remove(path)
    return v, status, seconds


def examine(path, args, pool):
    """One row of the table for the formula at path, and the problems found."""
    formula = dimacs_check.read(path)
    began = time.perf_counter()
    run = subprocess.run([args.nubrix, str(path)], capture_output=True, text=True)
    solved = time.perf_counter() - began
    if run.returncode == 20:
        return [path.stem, formula.variables, f"{solved:.2f}", "no model", "", "", ""], []
    if run.returncode != 10:
        return None, [f"{path}: nubrix ended with status {run.returncode}"]
    model = dimacs_check.model_from_v_lines(run.stdout)
    why = dimacs_check.check(formula, model)
    if why is not None:
        return None, [f"{path}: the model fails: {why}"]
    values = [False] * (formula.variables + 1)
    for lit in model:
        values[abs(lit)] = lit > 0
    body = clause_lines(formula)
    with tempfile.TemporaryDirectory() as directory:
        falses = [v for v in range(1, formula.variables + 1) if not values[v]]
        answers = list(pool.map(lambda v: ask(args.peer, args.limit, directory, formula.variables, body, values, v),
                                falses))
    problems = [f"{path}: variable {v} can be true beneath the model's values before it"
                for v, status, _ in answers if status == 10]
    problems += [f"{path}: the peer ended with status {status} on variable {v}"
                 for v, status, _ in answers if status not in (10, 20, None)]
    open_questions = sum(status is None for _, status, _ in answers)
    total = sum(seconds for _, _, seconds in answers)
    hardest = max(answers, key=lambda a: a[2], default=None)
    return [path.stem, formula.variables, f"{solved:.2f}", len(answers), f"{total:.2f}",
            f"{hardest[2]:.2f} (variable {hardest[0]})" if hardest else "-", open_questions], problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="+", type=Path, help="DIMACS files, plain or gzip-compressed")
    parser.add_argument("--nubrix", default="build/compare/tools/nubrix", help="the nubrix program")
    parser.add_argument("--peer", default="minisat", help="a solver that exits 10 on a model and 20 on none")
    parser.add_argument("--limit", type=float, default=60, help="seconds a question may take (default 60)")
    parser.add_argument("--jobs", type=int, default=1, help="questions asked at once (default 1)")
    args = parser.parse_args(argv)
    print(f"| formula | variables | nubrix s | questions | {args.peer} s, all | hardest | open |")
    print("|---|---|---|---|---|---|---|")
    problems = []
    with concurrent.futures.ThreadPoolExecutor(max(1, args.jobs)) as pool:
        for path in args.files:
            row, found = examine(path, args, pool)
            problems += found
            if row is not None:
                print("| " + " | ".join(map(str, row)) + " |", flush=True)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
