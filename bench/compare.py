#!/usr/bin/env python3
"""nubrix side by side with MiniSat, CaDiCaL, PicoSAT and CryptoMiniSat, one process per solve.

Run through bench/compare, which installs the solvers and builds nubrix first. This script builds
the instance sets, runs every instance on every solver in turn under a wall-clock limit, checks the
answers and the models, and writes the results: a CSV of every run, a markdown report and a cactus
plot. Variants of nubrix (another build, or the same program with other options) run as extra
columns, and their models are compared with nubrix's. It exits 1 when any answer disagrees, any
model fails its check, a variant expected to print nubrix's model prints another, or any run ends in
an error.
"""

import argparse
import csv
import fnmatch
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import dimacs_check  # noqa: E402  (beside this file)

# ---------------------------------------------------------------------------------------------
# The instance sets

# Generated families: (family, list of (instance name, nubrix-gen arguments)). The sizes go from
# quick for every solver to past the default limit for nubrix, so that each family shows where
# nubrix stops keeping up. Random families have no expected answer; the others state theirs.
RANDOM_SIZES = (50, 100, 150, 200)
RANDOM_SEEDS = range(1, 11)


def generated_families():
    families = []
    for n in RANDOM_SIZES:
        families.append((f"random-{n}", [(f"random3-{n}-s{seed}", ["--seed", str(seed), "random", "3", str(n), "4.26"])
                                         for seed in RANDOM_SEEDS]))
    families.append(("queens", [(f"queens{n}", ["queens", str(n)]) for n in (8, 12, 16, 18, 20, 22, 30, 50)]))
    families.append(("pigeonhole", [(f"pigeonhole{n}", ["pigeonhole", str(n)]) for n in range(5, 13)]))
    # Random graphs with average degree 4.6, near the 3-colouring threshold; 3 colours.
    families.append(("colouring", [(f"colouring{n}-s{seed}", ["--seed", str(seed), "colouring", str(n),
                                                              str(round(2.3 * n)), "3"])
                                   for n in (50, 100, 150, 200) for seed in (1, 2, 3, 4)]))
    # M_m needs m colours: m - 1 is unsatisfiable, m satisfiable.
    families.append(("mycielski", [(f"mycielski{m}-{k}", ["mycielski", str(m), str(k)])
                                   for m in (4, 5, 6, 7) for k in (m - 1, m)]))
    families.append(("langford", [(f"langford{n}", ["langford", str(n)]) for n in range(5, 17)]))
    return families


@dataclass
class Instance:
    set: str  # "generated" or "real"
    family: str
    name: str
    native: Path  # the file nubrix reads
    plain: Path  # the same problem for the peers: plain 'p cnf', no SATLIB trailer
    expected: str  # "SAT", "UNSAT" or "" when not known


def natural_key(text):
    return [int(part) if part.isdigit() else part for part in re.split(r"(\d+)", str(text))]


def wanted(family, patterns):
    return not patterns or any(fnmatch.fnmatch(family, p) for p in patterns)


def spread(items, n):
    """At most n of the items, evenly spaced, first and last included."""
    if n is None or len(items) <= n:
        return items
    if n == 1:
        return items[:1]
    return [items[round(i * (len(items) - 1) / (n - 1))] for i in range(n)]


def expected_line(path):
    """The answer a generated file states in its 'c expected:' line, as SAT / UNSAT, or ""."""
    with open(path) as f:
        for line in f:
            if not line.startswith("c"):
                break
            if line.startswith("c expected:"):
                return {"SATISFIABLE": "SAT", "UNSATISFIABLE": "UNSAT"}[line.split(":", 1)[1].strip()]
    return ""


def build_generated(gen, directory, patterns, per_family):
    instances = []
    for family, members in generated_families():
        if not wanted(family, patterns):
            continue
        (directory / family).mkdir(parents=True, exist_ok=True)
        for name, args in spread(members, per_family):
            native = directory / family / f"{name}.cnf"
            plain = directory / family / f"{name}.pairwise.cnf"
            subprocess.run([gen, *args, "-o", native], check=True)
            subprocess.run([gen, "--pairwise", *args, "-o", plain], check=True)
            instances.append(Instance("generated", family, name, native, plain, expected_line(native)))
    return instances


def read_expected(benchmarks):
    """path relative to the benchmark directory -> SAT / UNSAT, from expected.txt."""
    expected = {}
    listing = benchmarks / "expected.txt"
    if listing.exists():
        for line in listing.read_text().splitlines():
            fields = line.split()
            if len(fields) >= 2 and not line.startswith("#"):
                expected[fields[0]] = fields[1]
    return expected


def plain_copy(source, target):
    """Writes, when a peer needs one, a copy of the DIMACS file source to target: the same header and
    clauses in the same order, one clause a line, separated by single spaces, without the SATLIB
    '%' trailer. MiniSat, CaDiCaL, PicoSAT and CryptoMiniSat all refuse the trailer, and
    CryptoMiniSat also refuses a clause split over lines (ii, parity) and tabs between literals
    (cfa). Returns False, writing nothing, when the file is fine as it is."""
    text = source.read_text()
    header, clauses, needed = None, [], False
    open_clause = []
    for line in text.splitlines():
        stripped = line.strip()
        if not stripped or stripped.startswith("c"):
            continue
        if stripped.startswith("%"):
            needed = True
            break
        if stripped.startswith("p"):
            header = " ".join(stripped.split())
            continue
        tokens = stripped.split()
        if "\t" in line or tokens[-1] != "0" or open_clause or tokens.count("0") != 1:
            needed = True
        for token in tokens:
            if token == "0":
                clauses.append(" ".join(open_clause + ["0"]))
                open_clause = []
            else:
                open_clause.append(token)
    if not needed:
        return False
    if open_clause:
        clauses.append(" ".join(open_clause))  # left open as in the source, for the solvers to judge
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_text(f"c {source.name}, one clause a line\n{header}\n" + "\n".join(clauses) + "\n")
    return True


def build_real(benchmarks, directory, patterns, per_family):
    expected = read_expected(benchmarks)
    by_family = {}
    for path in benchmarks.rglob("*.cnf"):
        relative = path.relative_to(benchmarks)
        by_family.setdefault(str(relative.parent), []).append(path)
    instances = []
    for family in sorted(by_family, key=natural_key):
        if not wanted(family, patterns):
            continue
        for path in spread(sorted(by_family[family], key=natural_key), per_family):
            relative = path.relative_to(benchmarks)
            plain = directory / relative
            if not plain_copy(path, plain):
                plain = path
            instances.append(Instance("real", family, path.stem, path, plain, expected.get(str(relative), "")))
    return instances


# ---------------------------------------------------------------------------------------------
# The solvers. Each reads a DIMACS file and exits 10 for SAT and 20 for UNSAT; all but MiniSat
# print 's' and 'v' lines, MiniSat writes "SAT" and the model (or "UNSAT") to a result file.

@dataclass
class Solver:
    name: str
    program: str
    reads_native: bool  # reads the 'p cnf+' file; the others get the pairwise or trailer-free copy
    args: tuple = ()  # a variant's arguments, given before the file
    variant: bool = False  # a nubrix-like program from --variant or --baseline

    @property
    def compares_model(self):
        """Whether its models are compared with nubrix's: the variants named nubrix-something."""
        return self.variant and self.name.startswith("nubrix")

    @property
    def same_model(self):
        """Whether it must print nubrix's model, the lexicographically greatest; a variant told
        --any-model may print any other."""
        return "--any-model" not in self.args

    def command(self, path, result_file):
        if self.name == "minisat":
            return [self.program, "-verb=0", str(path), str(result_file)]
        if self.name == "cadical":
            return [self.program, "-q", str(path)]
        if self.name == "cryptominisat":
            return [self.program, "--verb", "0", str(path)]
        return [self.program, *self.args, str(path)]  # nubrix and its variants, picosat

    def answer(self, stdout, result_file):
        """The answer ("SAT", "UNSAT" or "") the solver wrote, and its model (list or None)."""
        if self.name == "minisat":
            text = result_file.read_text() if result_file.exists() else ""
            first = text.split("\n", 1)[0].strip()
            return {"SAT": "SAT", "UNSAT": "UNSAT"}.get(first, ""), dimacs_check.model_from_minisat(text)
        lines = [line.strip() for line in stdout.splitlines() if line.startswith("s ")]
        status = {"s SATISFIABLE": "SAT", "s UNSATISFIABLE": "UNSAT"}.get(lines[-1] if lines else "", "")
        return status, dimacs_check.model_from_v_lines(stdout)


PEERS = ("minisat", "cadical", "picosat", "cryptominisat")
# The real formulas: ../shared/benchmarks beside the source tree.
DEFAULT_BENCHMARKS = Path(__file__).resolve().parent.parent.parent / "shared" / "benchmarks"
DRAT_TRIM_SOURCE = Path(__file__).resolve().parent.parent.parent / "shared" / "tools" / "drat-trim" / "drat-trim.c"
PACKAGES = {"minisat": "minisat", "cadical": "cadical", "picosat": "picosat", "cryptominisat": "cryptominisat"}


def parse_variant(text):
    """NAME=PROGRAM[,ARG...] -> a variant Solver; raises ValueError on a malformed one."""
    name, equals, rest = text.partition("=")
    program, *args = rest.split(",")
    if not equals or not program:
        raise ValueError(f"variant {text!r} is not NAME=PROGRAM[,ARG...]")
    if not re.fullmatch(r"[A-Za-z0-9][A-Za-z0-9._+-]*", name):
        raise ValueError(f"variant name {name!r}: letters, digits and . _ + - only")
    if name in ("nubrix", *PEERS):
        raise ValueError(f"variant name {name!r} is taken by a solver")
    return Solver(name, program, True, tuple(a for a in args if a), True)


def make_solvers(names, nubrix, variants=()):
    programs = {"nubrix": str(nubrix), "minisat": "minisat", "cadical": "cadical", "picosat": "picosat",
                "cryptominisat": "cryptominisat5"}
    solvers = []
    for name in names:
        program = programs[name]
        if shutil.which(program) is None:
            sys.exit(f"compare: {program} not found")
        solvers.append(Solver(name, program, name == "nubrix"))
    for variant in variants:
        if shutil.which(variant.program) is None:
            sys.exit(f"compare: {variant.program} (variant {variant.name}) not found")
        solvers.append(variant)
    return solvers


def describe(solver):
    """The solver's name, version and, for a variant, its arguments."""
    text = f"{solver.name} {version(solver)}"
    if solver.variant:
        text += f" (`{' '.join([solver.program, *solver.args])}`)"
    return text


def version(solver):
    if solver.name == "nubrix" or solver.variant:
        out = subprocess.run([solver.program, "--version"], capture_output=True, text=True).stdout.split()
        return out[-1] if out else "?"
    out = subprocess.run(["dpkg-query", "-W", "-f=${Version}", PACKAGES[solver.name]], capture_output=True, text=True)
    return out.stdout.strip() or "?"


# ---------------------------------------------------------------------------------------------
# Running and checking

@dataclass
class Run:
    instance: Instance
    solver: str
    file: Path
    status: str  # SAT, UNSAT, timeout, error
    seconds: float
    exit_code: int
    model: str = "-"  # verified, failed, missing, or - (no model expected)
    note: str = ""
    literals: frozenset = None  # a nubrix-like solver's model over the declared variables, while needed

    @property
    def solved(self):
        return self.status in ("SAT", "UNSAT")


def run_one(solver, instance, limit, scratch):
    path = instance.native if solver.reads_native else instance.plain
    result_file = scratch / f"{solver.name}.result"
    result_file.unlink(missing_ok=True)
    # timeout sends TERM at the limit and KILL a second later; its status is 124 on a time-out.
    command = ["timeout", "-k", "1", f"{limit}", *solver.command(path, result_file)]
    start = time.perf_counter()
    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace")
    seconds = time.perf_counter() - start
    code = done.returncode
    run = Run(instance, solver.name, path, "error", seconds, code)
    if code == 124 or (code == 137 and seconds >= limit):
        run.status = "timeout"
        return run, done
    try:
        status, model = solver.answer(done.stdout, result_file)
    except dimacs_check.FormatError as e:
        run.note = f"unreadable output: {e}"
        return run, done
    if code not in (10, 20):
        run.note = f"exit status {code}: {last_line(done.stderr) or last_line(done.stdout)}"
        return run, done
    if status != ("SAT" if code == 10 else "UNSAT"):
        run.note = f"exit status {code} but the answer written is {status or 'missing'}"
        return run, done
    run.status = status
    if status == "SAT":
        if model is None:
            run.model = "missing"
            run.note = "SAT without a model"
        else:
            try:
                problem = dimacs_check.check(formula_of(instance.native), model)
            except dimacs_check.FormatError as e:
                problem = f"the checker cannot read the instance: {e}"
            run.model = "verified" if problem is None else "failed"
            run.note = problem or ""
            if solver.name == "nubrix" or solver.variant:
                run.literals = model_over_declared(model, formula_of(instance.native).variables)
    return run, done


def model_over_declared(model, variables):
    """The literals of a printed model on the declared variables 1 .. variables, as a set."""
    return frozenset(lit for lit in model if abs(lit) <= variables)


def model_comparisons(runs, solvers):
    """{variant name: whether its model equals nubrix's}, for the variants named nubrix-something
    that answered SAT with a model on this instance, as nubrix did."""
    by_name = {r.solver: r for r in runs}
    ours = by_name.get("nubrix")
    if ours is None or ours.status != "SAT" or ours.literals is None:
        return {}
    return {s.name: by_name[s.name].literals == ours.literals for s in solvers
            if s.compares_model and s.name in by_name and by_name[s.name].status == "SAT"
            and by_name[s.name].literals is not None}


def last_line(text):
    lines = [line for line in text.strip().splitlines() if line.strip()]
    return lines[-1][:200] if lines else ""


_formulas = {}


def formula_of(path):
    """The parsed file, kept for the runs of the current instance only."""
    if path not in _formulas:
        _formulas[path] = dimacs_check.read(path)
    return _formulas[path]


def problems_of(instance, runs, solvers=(), identical=None):
    """What is wrong with the runs of one instance: a list of (kind, text), kind being
    "disagreement" or "error". identical is model_comparisons' result: a variant expected to print
    nubrix's model that printed another disagrees."""
    problems = []
    for s in solvers:
        if identical and identical.get(s.name) is False and s.same_model:
            problems.append(("disagreement", f"{s.name}'s model differs from nubrix's"))
    answers = {r.solver: r.status for r in runs if r.solved}
    if len(set(answers.values())) > 1:
        problems.append(("disagreement", "answers differ: " + ", ".join(f"{s} {a}" for s, a in answers.items())))
    if instance.expected:
        wrong = [s for s, a in answers.items() if a != instance.expected]
        if wrong:
            problems.append(("disagreement", f"expected {instance.expected}, answered otherwise by {', '.join(wrong)}"))
    for r in runs:
        if r.model in ("failed", "missing"):
            problems.append(("disagreement", f"{r.solver}'s model {'is missing' if r.model == 'missing' else 'fails'}: "
                                             f"{r.note}"))
        if r.status == "error":
            problems.append(("error", f"{r.solver}: {r.note}"))
    return problems


# ---------------------------------------------------------------------------------------------
# Report

def fmt_time(t, limit):
    return f">{limit:g}" if t == float("inf") else f"{t:.3f}"


def ratio_cell(runs_by_solver, peer, instances):
    """Sum of nubrix's times over the sum of the peer's, on the instances both solved."""
    both = [i for i in instances
            if runs_by_solver["nubrix"][i].solved and runs_by_solver[peer][i].solved]
    if not both:
        return "-"
    ours = sum(runs_by_solver["nubrix"][i].seconds for i in both)
    theirs = sum(runs_by_solver[peer][i].seconds for i in both)
    return f"{ours / theirs:.3g} ({len(both)})"


def family_rows(runs, solvers):
    """Rows of (set, family, instance keys, {solver: {key: Run}}) for each family and each set."""
    groups = {}
    for r in runs:
        key = (r.instance.set, r.instance.family)
        groups.setdefault(key, {}).setdefault(r.solver, {})[r.instance.name] = r
    rows = []
    for set_name in ("generated", "real"):
        keys = [k for k in groups if k[0] == set_name]
        everything = {s.name: {} for s in solvers}
        for key in keys:
            by_solver = groups[key]
            for s in solvers:
                everything[s.name].update({(key[1], n): r for n, r in by_solver[s.name].items()})
            rows.append((set_name, key[1], list(by_solver[solvers[0].name]), by_solver))
        if len(keys) > 1:
            rows.append((set_name, f"**all {set_name}**", list(everything[solvers[0].name]), everything))
    return rows


def answers_cell(instances, by_solver):
    counts = {"SAT": 0, "UNSAT": 0, "?": 0}
    for i in instances:
        expected = next(iter(by_solver.values()))[i].instance.expected
        agreed = {r[i].status for r in by_solver.values() if r[i].solved}
        answer = expected or (agreed.pop() if len(agreed) == 1 else "?")
        counts[answer] += 1
    return ", ".join(f"{n} {a}" for a, n in counts.items() if n)


def markdown_tables(runs, solvers, limit):
    names = [s.name for s in solvers]
    rows = family_rows(runs, solvers)
    out = []
    out.append("### Solved within the limit\n")
    out.append("| set | family | instances | answers | " + " | ".join(names) + " |")
    out.append("|---|---|---:|---|" + "---:|" * len(names))
    for set_name, family, instances, by_solver in rows:
        solved = [sum(by_solver[n][i].solved for i in instances) for n in names]
        out.append(f"| {set_name} | {family} | {len(instances)} | {answers_cell(instances, by_solver)} | "
                   + " | ".join(map(str, solved)) + " |")
    out.append("\n### Time in seconds: median / total over the family\n")
    out.append("| set | family | " + " | ".join(names) + " |")
    out.append("|---|---|" + "---:|" * len(names))
    for set_name, family, instances, by_solver in rows:
        cells = []
        for n in names:
            times = [by_solver[n][i].seconds if by_solver[n][i].solved else float("inf") for i in instances]
            median = statistics.median(times)
            total = sum(t if t != float("inf") else limit for t in times)
            cells.append(f"{fmt_time(median, limit)} / {total:.2f}")
        out.append(f"| {set_name} | {family} | " + " | ".join(cells) + " |")
    peers = [n for n in names if n != "nubrix"]
    if "nubrix" in names and peers:
        out.append("\n### nubrix's time over each peer's, on the instances both solved\n")
        out.append("| set | family | " + " | ".join(f"nubrix / {p}" for p in peers) + " |")
        out.append("|---|---|" + "---:|" * len(peers))
        for set_name, family, instances, by_solver in rows:
            out.append(f"| {set_name} | {family} | "
                       + " | ".join(ratio_cell(by_solver, p, instances) for p in peers) + " |")
    return "\n".join(out)


def model_section(solvers, tallies):
    """For each variant named nubrix-something: how many of its models were nubrix's, and the
    instances where they differ. tallies: {variant name: [compared count, list of Instances that differ]}."""
    variants = [s for s in solvers if s.compares_model]
    if not variants or "nubrix" not in [s.name for s in solvers]:
        return ""
    lines = ["## Models beside nubrix's\n",
             "nubrix prints the lexicographically greatest model (variable 1 most significant, true before",
             "false). On the instances where nubrix and a variant both answered SAT, the two models printed",
             "(as sets of literals over the declared variables) are compared. A difference is a",
             "disagreement, except for a variant given `--any-model`, which may print any model.\n"]
    for s in variants:
        compared, differ = tallies[s.name]
        rule = "must be identical" if s.same_model else "may differ"
        line = f"- {s.name} ({rule}): identical models: {compared - len(differ)} of {compared}"
        if differ:
            line += "; different on " + ", ".join(f"`{i.family}/{i.name}`" for i in differ)
        lines.append(line + ".")
    return "\n".join(lines) + "\n\n"


def problem_section(title, entries):
    lines = [f"## {title}\n"]
    if not entries:
        lines.append("None.")
    for instance, text in entries:
        lines.append(f"- `{instance.native}` ({instance.family}, expected {instance.expected or 'unknown'}): {text}")
    return "\n".join(lines)


def cactus_plot(runs, solvers, limit, out_dir):
    """cactus.png: for each set, one line per solver through (k, t) where t is the time of the
    solver's k-th fastest solved instance."""
    sets = [s for s in ("generated", "real") if any(r.instance.set == s for r in runs)]
    scripts = []
    for set_name in sets:
        total = len({r.instance.native for r in runs if r.instance.set == set_name})
        plots = []
        for index, solver in enumerate(solvers):
            times = sorted(r.seconds for r in runs if r.instance.set == set_name and r.solver == solver.name and r.solved)
            data = out_dir / f"cactus-{set_name}-{solver.name}.dat"
            data.write_text("".join(f"{k} {t:.6f}\n" for k, t in enumerate(times, 1)) or "0 0\n")
            plots.append(f"'{data.name}' using 1:2 with lines ls {index + 1} title '{solver.name} ({len(times)} solved)'")
        title = "generated families" if set_name == "generated" else "real formulas"
        scripts.append(f"set title '{title}: {total} instances, limit {limit:g} s'\n"
                       f"set xrange [0:{total}]\n"
                       "plot " + ", \\\n     ".join(plots))
    colours = ["#d62728", "#1f77b4", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b", "#e377c2", "#17becf"]
    styles = "\n".join(f"set style line {i + 1} lc rgb '{colours[i % len(colours)]}' lw 2 dt {i + 1}"
                       for i in range(len(solvers)))
    script = f"""set terminal pngcairo size {700 * len(sets)},560 font 'sans,11'
set output 'cactus.png'
{styles}
set logscale y
set yrange [0.001:{limit * 1.5:g}]
set format y '%g'
set xlabel 'instances solved'
set ylabel 'time per instance (s, wall clock)'
set key left top
set grid
set multiplot layout 1,{len(sets)}
{chr(10).join(scripts)}
unset multiplot
"""
    (out_dir / "cactus.gp").write_text(script)
    subprocess.run(["gnuplot", "cactus.gp"], cwd=out_dir, check=True)
    return out_dir / "cactus.png"


def write_report(path, runs, solvers, args, entries_by_kind, wall, plot, tallies):
    cpu = next((line.split(":", 1)[1].strip() for line in Path("/proc/cpuinfo").read_text().splitlines()
                if line.startswith("model name")), platform.processor())
    versions = ", ".join(describe(s) for s in solvers)
    instances = len({r.instance.native for r in runs})
    text = f"""# nubrix beside established SAT solvers

{instances} instances, {len(runs)} runs in {wall / 60:.1f} min on {os.cpu_count()} cores ({cpu}); one solver at a time.
Solvers: {versions}, each with its default settings unless arguments are shown.
Time limit: {args.time_limit:g} s of wall clock per run (`timeout`). A time is the wall clock of the whole
process, from start to exit: reading the file is included, and so is the start-up of the program,
which dominates on small instances.

nubrix and its variants read the generated problems with their at-most-one groups as `p cnf+`
ranges; the other solvers read the same problems with the groups written as pairwise clauses. For
the real formulas, nubrix and its variants read the files as they are; the other solvers read them
too, except where one of them refuses the file: then all four read a copy with the same clauses in
the same order, one clause a line and single spaces, without the SATLIB `%` trailer (MiniSat,
CaDiCaL, PicoSAT and CryptoMiniSat all refuse the trailer; CryptoMiniSat also refuses a clause split
over lines and tabs).
`bench/dimacs_check.py` checks every model printed, whichever solver printed it, against the file
nubrix read: the `p cnf+` form for the generated problems, the original for the real formulas.

- *answers*: the expected answer of each instance, else the one the solvers agree on, else `?`.
- *median / total*: over every instance of the family, a run that did not finish counted at the time
  limit (a median of `>{args.time_limit:g}` means that half the runs or more did not finish).
- *nubrix / peer*: nubrix's total time over the peer's total time, both summed over the instances that
  both solved (their number in brackets): above 1, nubrix took longer. Variants count as peers.

{markdown_tables(runs, solvers, args.time_limit)}

Cactus plot: `{plot.name}`: for each solver, its solved instances sorted by time; the k-th point
is the time of its k-th fastest solve, so a line further right solves more, a lower one faster.

{model_section(solvers, tallies)}{problem_section("Disagreements", entries_by_kind["disagreement"])}

{problem_section("Errors", entries_by_kind["error"])}
"""
    path.write_text(text)
    return text


# ---------------------------------------------------------------------------------------------
# Proofs

def check_proofs(runs, nubrix, build, limit, scratch):
    """Solves again, with a proof, every instance nubrix answered UNSAT, and checks the proof with
    drat-trim (built from its source beside the project) against the plain form of the formula. The
    lines of the report's section, or a line saying why the proofs were not checked."""
    if not DRAT_TRIM_SOURCE.exists():
        return f"Proofs were not checked: {DRAT_TRIM_SOURCE} is absent.\n"
    checker = build / "drat-trim"
    if not checker.exists():
        subprocess.run(["cc", "-O2", "-w", "-o", str(checker), str(DRAT_TRIM_SOURCE)], check=True)
    unsat = [r for r in runs if r.solver == "nubrix" and r.status == "UNSAT"]
    proof = scratch / "proof.drat"
    verified, failed, slow, with_proof, without = 0, [], 0, 0.0, 0.0
    for r in unsat:
        started = time.perf_counter()
        done = subprocess.run(["timeout", "-k", "1", f"{limit}", str(nubrix), "-q", "--proof", str(proof),
                               str(r.instance.native)], capture_output=True, text=True)
        seconds = time.perf_counter() - started
        if done.returncode != 20:
            slow += 1
            continue
        with_proof += seconds
        without += r.seconds
        check = subprocess.run(["timeout", "60", str(checker), str(r.instance.plain), str(proof)],
                               capture_output=True, text=True, errors="replace")
        if "s VERIFIED" in check.stdout:
            verified += 1
        else:
            failed.append(f"{r.instance.family}/{r.instance.name}")
    ratio = f"{with_proof / without:.2f}" if without > 0 else "-"
    lines = [f"Proofs of the {len(unsat)} answers UNSAT of nubrix, solved again with `--proof` and checked by "
             f"drat-trim against the plain formula: {verified} verified, {len(failed)} not verified, {slow} not "
             f"finished again within the limit. Solving with the proof written took {ratio} times the time "
             f"of the run without, on the instances both finished."]
    lines += [f"- not verified: {name}" for name in failed]
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------------------------

def parse_arguments(argv):
    p = argparse.ArgumentParser(prog="bench/compare", description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter, epilog="""
families: generated: random-50, random-100, random-150, random-200, queens, pigeonhole, colouring,
mycielski, langford; real: the folders of the benchmark directory (uf20, flat/flat30, hole, ...).
Patterns are shell-style: --families 'uf*,queens'.

variants: --variant NAME=PROGRAM[,ARG...] adds a column for a nubrix-like program, run as
'PROGRAM ARG... FILE' on the files nubrix reads and checked like every solver, e.g.
  --variant nubrix-any=build/compare/tools/nubrix,--any-model
  --baseline DIR    the same as --variant nubrix-before=DIR/tools/nubrix (an older build)
bench/compare runs from the source tree: relative paths start there. A variant named nubrix-...
has its models compared with nubrix's, which must be identical unless its arguments include
--any-model; it appears in the ratio table as a peer.""")
    p.add_argument("--sets", default="generated,real", help="instance sets to run (default: generated,real)")
    p.add_argument("--families", default="", help="comma-separated patterns of family names (default: all)")
    p.add_argument("--solvers", default="nubrix," + ",".join(PEERS), help="solvers to run (default: all)")
    p.add_argument("--time-limit", type=float, default=None, help="seconds per run (default 5; 2 with --quick)")
    p.add_argument("--per-family", type=int, default=None, metavar="N",
                   help="run at most N instances of each family, evenly spread (default: all)")
    p.add_argument("--quick", action="store_true", help="a short run: --per-family 3 --time-limit 2")
    p.add_argument("--benchmarks", type=Path, default=DEFAULT_BENCHMARKS,
                   help="directory of the real formulas (default ../shared/benchmarks beside the source tree; "
                        "skipped when absent)")
    p.add_argument("--build", type=Path, default=Path("build/compare"), help="nubrix's build directory")
    p.add_argument("--variant", action="append", default=[], metavar="NAME=PROGRAM[,ARG...]",
                   help="another nubrix-like solver as a column (repeatable; see below)")
    p.add_argument("--baseline", type=Path, default=None, metavar="DIR",
                   help="an older nubrix build: --variant nubrix-before=DIR/tools/nubrix")
    p.add_argument("--out", type=Path, default=None, help="results directory (default BUILD/results)")
    p.add_argument("--no-proofs", action="store_true",
                   help="do not check nubrix's proofs of its UNSAT answers with drat-trim")
    args = p.parse_args(argv)
    if args.quick:
        args.per_family = args.per_family or 3
        args.time_limit = args.time_limit or 2.0
    args.time_limit = args.time_limit or 5.0
    args.out = args.out or args.build / "results"
    args.sets = [s for s in args.sets.split(",") if s]
    args.families = [f for f in args.families.split(",") if f]
    args.solvers = [s for s in args.solvers.split(",") if s]
    for s in args.sets:
        if s not in ("generated", "real"):
            p.error(f"unknown set {s!r}")
    for s in args.solvers:
        if s not in ("nubrix", *PEERS):
            p.error(f"unknown solver {s!r}")
    if args.time_limit <= 0 or (args.per_family is not None and args.per_family < 1):
        p.error("the time limit and --per-family must be positive")
    texts = args.variant + ([f"nubrix-before={args.baseline / 'tools' / 'nubrix'}"] if args.baseline else [])
    try:
        args.variants = [parse_variant(t) for t in texts]
    except ValueError as e:
        p.error(str(e))
    names = [v.name for v in args.variants]
    if len(set(names)) != len(names):
        p.error(f"two variants share a name: {', '.join(names)}")
    return args


def main(argv):
    args = parse_arguments(argv)
    tools = args.build / "tools"
    solvers = make_solvers(args.solvers, tools / "nubrix", args.variants)
    names = [s.name for s in solvers]
    instance_dir = args.build / "instances"
    args.out.mkdir(parents=True, exist_ok=True)

    instances = []
    if "generated" in args.sets:
        instances += build_generated(tools / "nubrix-gen", instance_dir / "generated", args.families, args.per_family)
    if "real" in args.sets:
        if args.benchmarks.is_dir():
            instances += build_real(args.benchmarks, instance_dir / "real", args.families, args.per_family)
        else:
            print(f"compare: {args.benchmarks} is absent: the real formulas are skipped")
    if not instances:
        sys.exit("compare: no instance matches the sets and families chosen")
    print(f"compare: {len(instances)} instances, solvers {', '.join(names)}, "
          f"limit {args.time_limit:g} s, results in {args.out}", flush=True)

    scratch = args.out / "scratch"
    scratch.mkdir(exist_ok=True)
    failures = args.out / "failures"
    shutil.rmtree(failures, ignore_errors=True)
    runs, entries_by_kind = [], {"disagreement": [], "error": []}
    tallies = {s.name: [0, []] for s in solvers if s.compares_model}
    start = time.perf_counter()
    family_start, family_runs = start, []
    with open(args.out / "run.log", "w") as log:
        for index, instance in enumerate(instances):
            # Rotate the order, so that no solver always runs first on a fresh file.
            order = solvers[index % len(solvers):] + solvers[:index % len(solvers)]
            outputs, these = {}, []
            for solver in order:
                run, done = run_one(solver, instance, args.time_limit, scratch)
                outputs[solver.name] = done
                these.append(run)
                log.write(f"{instance.family}/{instance.name} {solver.name} {run.status} {run.seconds:.3f} "
                          f"{run.model} {run.note}\n")
            _formulas.clear()
            these.sort(key=lambda r: names.index(r.solver))
            identical = model_comparisons(these, solvers)
            for name, same in identical.items():
                tallies[name][0] += 1
                if not same:
                    tallies[name][1].append(instance)
            for r in these:
                r.literals = None  # compared: no longer needed
            runs += these
            family_runs += these
            for kind, text in problems_of(instance, these, solvers, identical):
                entries_by_kind[kind].append((instance, text))
                failures.mkdir(exist_ok=True)
                for solver_name, done in outputs.items():  # keep every output for the investigation
                    stem = failures / f"{instance.family.replace('/', '-')}-{instance.name}-{solver_name}"
                    Path(f"{stem}.out").write_text(done.stdout)
                    Path(f"{stem}.err").write_text(done.stderr)
                print(f"compare: {kind}: {instance.native}: {text}", flush=True)
            last = index + 1 == len(instances) or instances[index + 1].family != instance.family
            if last:
                solved = ", ".join(f"{s} {sum(r.solved for r in family_runs if r.solver == s)}" for s in names)
                count = len(family_runs) // len(solvers)
                print(f"  {instance.set}/{instance.family}: {count} instances, solved: {solved} "
                      f"({time.perf_counter() - family_start:.0f} s)", flush=True)
                family_start, family_runs = time.perf_counter(), []
    wall = time.perf_counter() - start
    proofs = "" if args.no_proofs or "nubrix" not in names else check_proofs(
        runs, tools / "nubrix", args.build, args.time_limit, scratch)
    shutil.rmtree(scratch, ignore_errors=True)

    with open(args.out / "runs.csv", "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["set", "family", "instance", "solver", "file", "expected", "status", "seconds", "exit_code",
                    "model", "note"])
        for r in runs:
            w.writerow([r.instance.set, r.instance.family, r.instance.name, r.solver, r.file, r.instance.expected,
                        r.status, f"{r.seconds:.4f}", r.exit_code, r.model, r.note])
    plot = cactus_plot(runs, solvers, args.time_limit, args.out)
    report = write_report(args.out / "report.md", runs, solvers, args, entries_by_kind, wall, plot, tallies)
    if proofs:
        report += "\n## Proofs\n\n" + proofs
        (args.out / "report.md").write_text(report)
    print()
    print(report)
    print(f"compare: wrote {args.out / 'runs.csv'}, {args.out / 'report.md'} and {plot}")
    bad = len(entries_by_kind["disagreement"]) + len(entries_by_kind["error"])
    if bad:
        print(f"compare: {len(entries_by_kind['disagreement'])} disagreements and {len(entries_by_kind['error'])} "
              f"errors; the outputs are in {failures}", file=sys.stderr)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
