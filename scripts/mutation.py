#!/usr/bin/env python3
"""Mutation testing: how many small faults in the product code does ctest catch?

Copies the tree, builds it once with Ninja, then for N mutants drawn with a
fixed seed (by each mutant's line text, so the draw survives edits elsewhere) applies one small change to one product source, rebuilds, runs
ctest and restores the file. Prints every surviving mutant and, last,
"killed K of M". A mutant that does not compile is left out of M.

    python3 scripts/mutation.py [-n 150] [--seed 1] [--list]
"""
import argparse
import os
import hashlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

PRODUCT = ["cli", "platform", "store", "settings", "writers", "bootenv", "board", "tools"]
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (name, pattern, replacement): each match on a code line is one mutant.
OPERATORS = [
    ("flip <", r"(?<=\s)<(?=\s)", "<="),
    ("flip <=", r"(?<=\s)<=(?=\s)", "<"),
    ("flip >", r"(?<=\s)>(?=\s)", ">="),
    ("flip >=", r"(?<=\s)>=(?=\s)", ">"),
    ("flip ==", r"(?<=\s)==(?=\s)", "!="),
    ("flip !=", r"(?<=\s)!=(?=\s)", "=="),
    ("&& to ||", r"(?<=\s)&&(?=\s)", "||"),
    ("|| to &&", r"(?<=\s)\|\|(?=\s)", "&&"),
    ("constant +1", r"(?<![\w.])\d+(?![\w.])", None),
    ("negate if", r"\bif \((.*)\)(?=\s*(\{|$|return|continue|break))", None),
]
SKIP_LINE = re.compile(r"^\s*(#|//|\*|/\*)|static_assert|\[\[")
STATEMENT = re.compile(r"^\s+(?!return\b|break\b|continue\b|case\b|default\b)[\w:.>()\[\]-]+.*\);\s*$")


def code_part(line):
    """The line with string and character literals and comments blanked out."""
    line = re.sub(r'"(\\.|[^"\\])*"', lambda m: '"' + " " * (len(m.group(0)) - 2) + '"', line)
    line = re.sub(r"'(\\.|[^'\\])+'", lambda m: "'" + " " * (len(m.group(0)) - 2) + "'", line)
    cut = line.find("//")
    return line if cut < 0 else line[:cut] + " " * (len(line) - cut)


def mutants_of(path, lines):
    for no, line in enumerate(lines, 1):
        if SKIP_LINE.search(line):
            continue
        code = code_part(line.rstrip("\n"))
        for name, pattern, repl in OPERATORS:
            for m in re.finditer(pattern, code):
                if name == "constant +1":
                    new = str(int(m.group(0)) + 1)
                elif name == "negate if":
                    new = "if (!(" + line[m.start(1):m.end(1)] + "))"
                else:
                    new = repl
                yield (path, no, m.start(), m.end(), new, name)
        if STATEMENT.match(code) and "=" not in code.split("(")[0]:
            yield (path, no, 0, len(line.rstrip("\n")), "", "remove statement")


def all_mutants(src):
    found = []
    for top in PRODUCT:
        for dirpath, _, files in os.walk(os.path.join(src, top)):
            for f in sorted(files):
                if f.endswith(".cpp"):
                    path = os.path.relpath(os.path.join(dirpath, f), src)
                    with open(os.path.join(src, path)) as fh:
                        found.extend(mutants_of(path, fh.readlines()))
    found.sort()
    return found


def draw_key(m, lines, seed):
    """A mutant's place in the draw, from its line's text and not the line's
    number or file: after unrelated edits elsewhere the same mutants are drawn."""
    path, no, start, end, new, name = m
    line = lines[no - 1]
    indent = len(line) - len(line.lstrip())
    text = f"{seed}|{line.strip()}|{start - indent}|{name}|{new}"
    return hashlib.sha256(text.encode()).hexdigest()


def run(cmd, cwd, timeout):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def describe(m, lines):
    path, no, start, end, new, name = m
    old = lines[no - 1].rstrip("\n")
    after = old[:start] + new + old[end:]
    return f"{path}:{no}: {name}: `{old.strip()}` -> `{after.strip()}`"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("-n", type=int, default=150, help="mutants to draw (default 150)")
    ap.add_argument("--seed", type=int, default=1, help="sampling seed (default 1)")
    ap.add_argument("--list", action="store_true", help="print the sample and stop")
    ap.add_argument("--keep", help="work in this folder and keep it")
    args = ap.parse_args()

    work = args.keep or tempfile.mkdtemp(prefix="mutation-")
    src = os.path.join(work, "src")
    if not os.path.isdir(src):
        shutil.copytree(ROOT, src, ignore=shutil.ignore_patterns("build", ".git"))
    population = all_mutants(src)
    files = {}
    for m in population:
        if m[0] not in files:
            with open(os.path.join(src, m[0])) as fh:
                files[m[0]] = fh.readlines()
    sample = sorted(population, key=lambda m: draw_key(m, files[m[0]], args.seed))[:args.n]
    print(f"{len(sample)} mutants of {len(population)}, seed {args.seed}", flush=True)
    if args.list:
        for m in sample:
            print(describe(m, files[m[0]]))
        return 0

    build = os.path.join(work, "build")
    jobs = str(os.cpu_count() or 2)
    started = time.time()
    if run(["cmake", "-G", "Ninja", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=Debug", "-DCFGPULL_TESTS=ON",
            "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON"], work, 600) != 0 \
            or run(["ninja", "-C", build, "-j", jobs], work, 3600) != 0 \
            or run(["ctest", "--test-dir", build, "-j", jobs], work, 900) != 0:
        print("the unmutated tree does not build or pass its tests", file=sys.stderr)
        return 1

    killed = viable = 0
    for i, m in enumerate(sample, 1):
        path, no, start, end, new, _ = m
        lines = files[path]
        mutated = list(lines)
        old = lines[no - 1]
        mutated[no - 1] = old[:start] + new + old[end:]
        full = os.path.join(src, path)
        with open(full, "w") as fh:
            fh.writelines(mutated)
        try:
            if run(["ninja", "-C", build, "-j", jobs], work, 900) != 0:
                print(f"[{i}] did not compile: {describe(m, lines)}", flush=True)
                continue
            viable += 1
            status = run(["ctest", "--test-dir", build, "-j", jobs, "--stop-on-failure",
                          "--timeout", "120"], work, 1800)
            if status == 0:
                print(f"[{i}] SURVIVED {describe(m, lines)}", flush=True)
            else:
                killed += 1
        finally:
            with open(full, "w") as fh:
                fh.writelines(lines)
    minutes = (time.time() - started) / 60
    print(f"killed {killed} of {viable} ({len(sample) - viable} did not compile), "
          f"seed {args.seed}, {minutes:.0f} min", flush=True)
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
