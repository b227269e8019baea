"""Cost of names chosen to collide in a hash table, and of attribute spans
aimed at one bucket.

The "colliding" names share one value of libstdc++'s std::hash<std::string_view>,
so they would pile into one chain of every table keyed with it, and an
operation that files n of them would cost n^2 compares instead of n. The
"hash-key" names share one bucket under the key that the core once took from
Python's hash() of two fixed bytes objects, read back through hash() in the
process that runs them (as an application that shows hash() of a string it is
sent gives it away), in the table the family fills most (the open-addressing
table of a first read, or libstdc++'s). Each family below runs one operation on
n such names and on n random names of the same length and characters; the ratio
of the two is the damage. The core's tables hash with a key of the process's
own, which hash() does not reveal, so the ratio should be about 1.

With --spans, the cases are templates of n bytes whose attribute spans aim at
one bucket of a table keyed by span (bench/aimed_spans.cpp), against the same
tags shuffled.

The names and templates come from bench/colliding_names.cpp and
bench/aimed_spans.cpp (built on first use) and are cached under
build/collisions/ (hash-key names are made in the child that runs them).
Each case runs in a child process of its own,
which keeps the best of 3 calls (fewer when they would not end within
--timeout seconds) and is stopped after --timeout seconds. With
--instructions, callgrind (valgrind) counts the instructions of one call
instead: a child that makes the call twice, less one that makes it once.

Usage: PYTHONPATH=build/<dir>/python python bench/bench_collisions.py [--sizes N ...] [--only TEXT]
       [--kinds KIND ...] [--timeout S] [--instructions] [--spans]
"""

import argparse
import gc
import subprocess
import sys
import time
from pathlib import Path

from callgrind import one_call_instructions

ROOT = Path(__file__).resolve().parent.parent
CACHE = ROOT / "build" / "collisions"
REPEATS = 3
MASK = (1 << 64) - 1


def generator(name):
    """bench/<name>.cpp, built into the cache when missing or older."""
    source, binary = ROOT / "bench" / f"{name}.cpp", CACHE / name
    if not binary.exists() or binary.stat().st_mtime < source.stat().st_mtime:
        CACHE.mkdir(parents=True, exist_ok=True)
        subprocess.run(["g++", "-O2", "-std=c++20", "-pthread", f"-I{ROOT / 'src'}", str(source), "-o", str(binary)],
                       check=True)
    return str(binary)


def generated(path, args):
    """The output of a generator run, cached at `path`."""
    if not path.exists():
        out = subprocess.run(args, check=True, capture_output=True, text=True).stdout
        path.with_suffix(".tmp").write_text(out)
        path.with_suffix(".tmp").replace(path)
    return path.read_text()


def open_names_mask(n):
    """The slot mask of the open-addressing table of a first read once it holds n keys."""
    slots = 0
    for keys in range(9, n + 1):
        if 2 * keys > slots:
            slots = 1 << (4 * keys - 1).bit_length()
    return slots - 1


def names(kind, n, table="libstdc++"):
    """n names of a kind: from the cache, generated when missing; "hash-key"
    names are made for this process's hash()."""
    if kind == "hash-key":
        key = [hash(f"lumra_core table key, {half} half".encode()) & MASK for half in ("first", "second")]
        aim = ["--mask", str(open_names_mask(n))] if table == "open" else ["--buckets-of", str(n)]
        args = [generator("colliding_names"), str(n), "--siphash", *map(str, key), *aim]
        found = subprocess.run(args, check=True, capture_output=True, text=True).stdout.split()
    else:
        args = [generator("colliding_names"), str(n)] + (["--random"] if kind == "random" else [])
        found = generated(CACHE / f"{kind}-{n}.txt", args).split()
    assert len(found) == n, (kind, n)
    return found


def spans(kind, n):
    """A template of about n bytes whose attribute spans aim at one bucket, or
    the same tags shuffled."""
    args = [generator("aimed_spans"), str(n)] + (["--shuffled"] if kind == "shuffled" else [])
    return generated(CACHE / f"spans-{kind}-{n}.txt", args)


def for_loop(ns, uses=1):
    return f'<c-for each="{", ".join(ns)} in xs">' + f"{{{{ {ns[0]} }}}}" * uses + "</c-for>"


# name: (what runs, text made from the names). What runs: "parse", "compile"
# (of a tree parsed beforehand), "safe_eval", "first read" (of the top-level
# used_variables of a tree parsed beforehand).
SPAN_FAMILIES = {"parse: aimed attribute spans": ("parse", lambda text: text)}
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
    if family in SPAN_FAMILIES:
        what, make = SPAN_FAMILIES[family]
        text = make(spans(kind, n))
    else:
        what, make = FAMILIES[family]
        text = make(names(kind, n, "open" if what == "first read" else "libstdc++"))
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
    return one_call_instructions([__file__, "--instructions-child", family, kind, n], f"{family} ({kind}) at n={n}",
                                 timeout=timeout)


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
    ap.add_argument("--kinds", nargs=2, help="the two kinds compared (default: colliding random; "
                    "hash-key random; with --spans, aimed shuffled)")
    ap.add_argument("--spans", action="store_true", help="templates with aimed attribute spans (sizes in bytes)")
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

    kinds = args.kinds or (["aimed", "shuffled"] if args.spans else ["colliding", "random"])
    families = SPAN_FAMILIES if args.spans else FAMILIES
    if not args.spans:
        check_shapes()
    for n in args.sizes:
        for kind in kinds:
            if kind != "hash-key":
                spans(kind, n) if args.spans else names(kind, n)
    measure, unit = (count_instructions, "instructions") if args.instructions else (time_case, "seconds")
    show = (lambda v: f"{v:,}") if args.instructions else (lambda v: f"{v:.4f}")
    print(f"{'family':40} {'N':>8} {kinds[0] + ' ' + unit:>22} {kinds[1] + ' ' + unit:>22} {'ratio':>8}")
    for family in families:
        if args.only and args.only not in family:
            continue
        for n in args.sizes:
            hit = measure(family, kinds[0], n, args.timeout)
            rand = measure(family, kinds[1], n, args.timeout)
            if hit is None or rand is None:
                ratio = f">{args.timeout / rand:.0f}" if hit is None and rand else ""
            else:
                ratio = f"{hit / max(rand, 1e-9):.1f}"
            print(f"{family:40} {n:>8} {'timeout' if hit is None else show(hit):>22} "
                  f"{'timeout' if rand is None else show(rand):>22} {ratio:>8}", flush=True)


if __name__ == "__main__":
    main()
