#!/usr/bin/env python3
"""Checks a solver's model against a DIMACS file, independently of any solver.

The reader is written here on its own, so that a verdict never rests on the solver's reader. It
takes plain `p cnf` and the `p cnf+` extension (lines `l1 ... lk <= 1`: at most one of the literals
is true), stops at a SATLIB `%` line, and skips comment lines. A model holds when every clause has a
literal that it makes true and no at-most-one group has two true literals; a variable the model
leaves out makes none of its literals true.

As a program: dimacs_check.py FILE [OUTPUT] reads the `v` lines of a solver's OUTPUT (standard
input when absent) and checks them against FILE; it exits 0 when the model holds, 1 when it does
not, 2 when FILE or OUTPUT cannot be read.
"""

import gzip
import sys


class FormatError(Exception):
    """The file is not DIMACS as this reader takes it."""


class Formula:
    """A DIMACS problem: the declared counts, the clauses and the at-most-one groups."""

    def __init__(self, variables, declared, clauses, at_most_one):
        self.variables = variables  # declared variable count; every literal lies within +-variables
        self.declared = declared  # declared entry count, clauses and at-most-one lines together
        self.clauses = clauses  # list of tuples of non-zero ints
        self.at_most_one = at_most_one  # list of tuples: at most one literal of each is true


def read_text(path):
    """The text of a DIMACS file, gzip-compressed or not."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] == b"\x1f\x8b":
        data = gzip.decompress(data)
    return data.decode("ascii", errors="replace")


def parse(text, name="<text>"):
    """Reads DIMACS text; raises FormatError on anything it does not take."""
    variables = declared = None
    tokens = []
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.strip()
        if not stripped or stripped.startswith("c"):
            continue
        if stripped.startswith("%"):
            break  # SATLIB: the clauses end here, whatever follows
        if stripped.startswith("p"):
            fields = stripped.split()
            if variables is not None:
                raise FormatError(f"{name}:{number}: a second header")
            if len(fields) != 4 or fields[1] not in ("cnf", "cnf+"):
                raise FormatError(f"{name}:{number}: malformed header {stripped!r}")
            try:
                variables, declared = int(fields[2]), int(fields[3])
            except ValueError:
                raise FormatError(f"{name}:{number}: malformed header {stripped!r}") from None
            continue
        if variables is None:
            raise FormatError(f"{name}:{number}: clauses before the header")
        tokens.extend((number, token) for token in stripped.split())
    if variables is None:
        raise FormatError(f"{name}: no header")

    clauses, at_most_one, open_entry = [], [], []
    i = 0
    while i < len(tokens):
        number, token = tokens[i]
        if token == "<=":
            if i + 1 >= len(tokens) or tokens[i + 1][1] != "1":
                raise FormatError(f"{name}:{number}: only '<= 1' is taken")
            at_most_one.append(tuple(open_entry))
            open_entry = []
            i += 2
            continue
        try:
            lit = int(token)
        except ValueError:
            raise FormatError(f"{name}:{number}: not a literal: {token!r}") from None
        if lit == 0:
            clauses.append(tuple(open_entry))
            open_entry = []
        elif abs(lit) > variables:
            raise FormatError(f"{name}:{number}: literal {lit} beyond the {variables} variables declared")
        else:
            open_entry.append(lit)
        i += 1
    if open_entry:
        raise FormatError(f"{name}: the last clause is not closed by 0")
    if len(clauses) + len(at_most_one) != declared:
        raise FormatError(
            f"{name}: {declared} entries declared, {len(clauses)} clauses and {len(at_most_one)} at-most-one lines read")
    return Formula(variables, declared, clauses, at_most_one)


def read(path):
    return parse(read_text(path), str(path))


def model_from_v_lines(text):
    """The literals of the `v` lines of a solver's output, or None when there is no `v` line.
    Raises FormatError when a `v` line holds something other than literals or the 0 is missing."""
    literals, seen, closed = [], False, False
    for line in text.splitlines():
        if not line.startswith("v"):
            continue
        seen = True
        for token in line[1:].split():
            try:
                lit = int(token)
            except ValueError:
                raise FormatError(f"not a literal in a 'v' line: {token!r}") from None
            if closed:
                raise FormatError("literals after the closing 0 of the model")
            if lit == 0:
                closed = True
            else:
                literals.append(lit)
    if not seen:
        return None
    if not closed:
        raise FormatError("the model is not closed by 0")
    return literals


def model_from_minisat(text):
    """The literals of MiniSat's result file ("SAT" then the model closed by 0), or None."""
    lines = text.split("\n", 1)
    if lines[0].strip() != "SAT" or len(lines) < 2:
        return None
    tokens = lines[1].split()
    if not tokens or tokens[-1] != "0":
        raise FormatError("the model is not closed by 0")
    try:
        return [int(t) for t in tokens[:-1]]
    except ValueError:
        raise FormatError("the model holds something other than literals") from None


def check(formula, literals):
    """None when the model (a list of non-zero literals) satisfies the formula, else why not."""
    true = set()
    for lit in literals:
        if lit == 0 or abs(lit) > formula.variables:
            return f"literal {lit} outside 1 .. {formula.variables}"
        if -lit in true:
            return f"variable {abs(lit)} given both values"
        true.add(lit)
    for index, clause in enumerate(formula.clauses, 1):
        if not any(lit in true for lit in clause):
            return f"clause {index} ({' '.join(map(str, clause))} 0) is not satisfied"
    for index, group in enumerate(formula.at_most_one, 1):
        if sum(lit in true for lit in group) > 1:
            return f"at-most-one group {index} ({' '.join(map(str, group))} <= 1) has two true literals"
    return None


def main(argv):
    if len(argv) not in (2, 3) or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(argv) == 2 else 2
    try:
        formula = read(argv[1])
        output = open(argv[2]).read() if len(argv) == 3 else sys.stdin.read()
        literals = model_from_v_lines(output)
    except (OSError, FormatError) as e:
        print(f"dimacs_check: {e}", file=sys.stderr)
        return 2
    if literals is None:
        print("dimacs_check: no 'v' lines in the output", file=sys.stderr)
        return 1
    problem = check(formula, literals)
    print(f"model {'holds' if problem is None else 'fails: ' + problem}")
    return 0 if problem is None else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
