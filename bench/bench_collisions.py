"""Cost of names chosen to collide in a string hash with a fixed seed.

The names share one value of libstdc++'s std::hash<std::string_view>, so they
would pile into one chain of every table keyed with it, and an operation that
files n of them would cost n^2 compares instead of n. Each family below runs one
operation on n colliding names and on n random names of the same length and
characters; the ratio of the two is the damage. The core's tables hash with a
key of the process's own, so the ratio should be about 1.

The names come from bench/colliding_names.cpp (built on first use) and are
cached under build/collisions/. Each case runs in a child process of its own,
which keeps the best of 3 calls (fewer when they would not end within
--timeout seconds) and is stopped after --timeout seconds. With
--instructions, callgrind (valgrind) counts the instructions of one call
instead: a child that makes the call twice, less one that makes it once.

Usage: PYTHONPATH=build/<dir>/python python bench/bench_collisions.py [--sizes N ...] [--only TEXT]
       [--timeout S] [--instructions]
"""

import argparse
import gc
import os
import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SOURCE = ROOT / "bench" / "colliding_names.cpp"
CACHE = ROOT / "build" / "collisions"
GENERATOR = CACHE / "colliding_names"
REPEATS = 3


def names(kind, n):
    """n names from the cache, generated (and the generator built) when missing."""
    path = CACHE / f"{kind}-{n}.txt"
    if not path.exists():
        CACHE.mkdir(parents=True, exist_ok=True)
        if not GENERATOR.exists() or GENERATOR.stat().st_mtime < SOURCE.stat().st_mtime:
            subprocess.run(["g++", "-O2", "-std=c++20", "-pthread", str(SOURCE), "-o", str(GENERATOR)], check=True)
        args = [str(GENERATOR), str(n)] + (["--random"] if kind == "random" else [])
        path.with_suffix(".tmp").write_text(subprocess.run(args, check=True, capture_output=True, text=True).stdout)
        path.with_suffix(".tmp").replace(path)
    found = path.read_text().split()
    assert len(found) == n, path
    return found


def for_loop(ns, uses=1):
    return f'<c-for each="{", ".join(ns)} in xs">' + f"{{{{ {ns[0]} }}}}" * uses + "</c-for>"


# name: (what runs, text made from the names). What runs: "parse", "compile"
# (of a tree parsed beforehand), "safe_eval", "first read" (of the top-level
# used_variables of a tree parsed beforehand).
FAMILIES = {
    "parse: c-for targets": ("parse", for_loop),
    "parse: c-fill data names": ("parse", lambda ns: f'<c-card><c-fill name="s" data="{{ {", ".join(ns)} }}">'
                                 f"{{{{ {ns[0]} }}}}</c-fill></c-card>"),
    "parse: static attributes": ("parse", lambda ns: "<p " + " ".join(f'{n}="v"' for n in ns) + "></p>"),
    "compile: c-for targets": ("compile", for_loop),
    "compile: names in one c-x": ("compile", lambda ns: f'<p c-x="f({", ".join(ns)})"></p>'),
    "safe_eval: lambda parameters": ("safe_eval", lambda ns: f"lambda {', '.join(ns)}: 0"),
    "safe_eval: keyword arguments": ("safe_eval", lambda ns: "f(" + ", ".join(f"{n}=1" for n in ns) + ")"),
    # 100 uses in the body: a list of at most 64 items is read without the
    # index, a longer one builds it on its first read, filing the loop's names.
    "first read: c-for targets under c-if": ("first read", lambda ns: f'<c-if cond="c">{for_loop(ns, 100)}</c-if>'),
}


def prepare(family, kind, n):
    """The input text and the call to measure, which takes a fresh copy of the
    text: a str caches its UTF-8 form, and a caller hands over a new one."""
    from lumra_core._rust import safe_eval, template_parser as tp
    what, make = FAMILIES[family]
    text = make(names(kind, n))
    if what == "parse":
        return text, tp.parse_template
    if what == "compile":
        tree = tp.parse_template(text)
        return text, lambda fresh: tp.compile_template(tree)
    if what == "first read":
        # Only a tree's first read walks its store: one fresh tree per call.
        trees = [tp.parse_template(text) for _ in range(REPEATS)]
        return text, lambda fresh: trees.pop().used_variables
    return text, safe_eval.safe_eval


def time_child(family, kind, n, timeout):
    start = time.perf_counter()
    text, call = prepare(family, kind, n)
    times = []
    # Fewer calls when another would not end within the time allowed.
    while len(times) < REPEATS and (not times or time.perf_counter() - start + times[-1] < 0.9 * timeout):
        fresh = text[:1] + text[1:]
        t0 = time.perf_counter()
        call(fresh)
        times.append(time.perf_counter() - t0)
    print(min(times))


def instructions_child(family, kind, n, calls):
    text, call = prepare(family, kind, n)
    # The collector runs when allocations say so, which would put a pass in
    # one child's count and not the other's.
    gc.disable()
    copies = [text[:1] + text[1:] for _ in range(2)]
    for fresh in copies[:calls]:
        call(fresh)


def time_case(family, kind, n, timeout):
    try:
        out = subprocess.run([sys.executable, __file__, "--time-child", family, kind, str(n), str(timeout)],
                             capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None
    if out.returncode != 0:
        sys.exit(f"{family} ({kind}) at n={n} failed:\n{out.stderr[-2000:]}")
    return float(out.stdout)


def count_instructions(family, kind, n, timeout):
    """Instructions of one call: a child that calls twice, less one that calls
    once. A fixed hash seed keeps the interpreter's own work the same in both."""
    totals = []
    for calls in (1, 2):
        try:
            out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable,
                                  __file__, "--instructions-child", family, kind, str(n), str(calls)],
                                 capture_output=True, text=True, timeout=timeout,
                                 env={**os.environ, "PYTHONHASHSEED": "0"})
        except subprocess.TimeoutExpired:
            return None
        if out.returncode != 0:
            sys.exit(f"callgrind of {family} ({kind}) at n={n} failed:\n{out.stderr[-2000:]}")
        totals.append(int(re.search(r"Collected : (\d+)", out.stderr).group(1)))
    return totals[1] - totals[0]


def check_shapes():
    """Every template and expression must be accepted, so that the times
    measure the work on the names and not an early error."""
    for family, (what, make) in FAMILIES.items():
        text, call = prepare(family, "colliding", 8)
        call(text)
        if what == "first read":
            assert len(call(text)) == 2, family  # xs and c


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", type=int, nargs="+", default=[8000, 32000], help="numbers of names")
    ap.add_argument("--only", help="run only the families whose name contains this text")
    ap.add_argument("--timeout", type=float, default=120.0, help="seconds allowed to one case")
    ap.add_argument("--instructions", action="store_true", help="count instructions (callgrind) instead of times")
    ap.add_argument("--time-child", nargs=4, help=argparse.SUPPRESS)
    ap.add_argument("--instructions-child", nargs=4, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.time_child:
        family, kind, n, timeout = args.time_child
        time_child(family, kind, int(n), float(timeout))
        return
    if args.instructions_child:
        family, kind, n, calls = args.instructions_child
        instructions_child(family, kind, int(n), int(calls))
        return

    names("colliding", 8)  # builds the generator
    check_shapes()
    for n in args.sizes:
        for kind in ("colliding", "random"):
            names(kind, n)
    measure, unit = (count_instructions, "instructions") if args.instructions else (time_case, "seconds")
    show = (lambda v: f"{v:,}") if args.instructions else (lambda v: f"{v:.4f}")
    print(f"{'family':40} {'N':>6} {'colliding ' + unit:>22} {'random ' + unit:>22} {'ratio':>8}")
    for family in FAMILIES:
        if args.only and args.only not in family:
            continue
        for n in args.sizes:
            hit = measure(family, "colliding", n, args.timeout)
            rand = measure(family, "random", n, args.timeout)
            if hit is None or rand is None:
                ratio = f">{args.timeout / rand:.0f}" if hit is None and rand else ""
            else:
                ratio = f"{hit / max(rand, 1e-9):.1f}"
            print(f"{family:40} {n:>6} {'timeout' if hit is None else show(hit):>22} "
                  f"{'timeout' if rand is None else show(rand):>22} {ratio:>8}", flush=True)


if __name__ == "__main__":
    main()
