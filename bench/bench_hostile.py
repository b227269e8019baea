"""Hostile inputs against controls of the same size, for one or more builds in
the same run.

Each family is an input built to make one part of the core do more than its
size asks (a search asked again and again over one stretch, look-ahead over
long trivia under deep nesting, slow character names, table keys aimed at one
bucket) and a control: the same size, usually the same bytes, arranged so
that nothing is done twice. Linear means the ratio stays near 1 however the
input grows; the target is at most 2.

Each case runs in a child process of its own (PYTHONPATH set to the build),
which keeps the best of 3 calls, or fewer when another would not end within
--timeout seconds, and is stopped after --timeout. With --instructions,
callgrind counts one call instead (a child that makes the call twice, less one
that makes it once). The "hash-key" family runs with PYTHONHASHSEED unset, as
it must; every other child runs under PYTHONHASHSEED=0.

Usage: python bench/bench_hostile.py [BUILD_PYTHON_DIR ...] [--only TEXT] [--timeout S] [--instructions]
       (by default the lumra_core found on PYTHONPATH)
"""

import argparse
import gc
import os
import subprocess
import sys
import time
from pathlib import Path

from callgrind import one_call_instructions

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

REPEATS = 3
KB = 1000


def raw_retries(size, closed):
    """Each `</c-raw` try opens a comment that runs to the one shared `#}`; a
    later comment moves the search for `#}` on. Control: no later comment."""
    tries = "</c-raw{# " * (size // 10)
    end = "</c-raw>" if closed else ""
    return ("<c-raw>" + tries + "#} {#y#}x <" + end, "<c-raw>" + tries + "#} yyyyyx <" + end)


def raw_shared_tail(size, closed):
    """Every try reaches one `#}` and then walks the spaces after it. Control:
    the spaces before the tries."""
    count = size // 17
    tries, spaces = "</c-raw{#" * count, " " * (9 * count)
    end = "</c-raw>" if closed else ""
    return ("<c-raw>" + tries + "#}" + spaces + "x<" + end, "<c-raw>" + spaces + tries + "#}x<" + end)


CONTROL_NAME = "LATIN SMALL LETTER A"
SLOW_NAMES = ["LF", "VARIATION SELECTOR-256", "TAG LATIN SMALL LETTER Z", "LATIN CAPITAL LETTER GHA", "BOM"]


def same_size(hostile, unit):
    return (unit * (len(hostile) // len(unit))).ljust(len(hostile), "a")


def named_escapes(name):
    body = f"\\N{{{name}}}" * 4000
    return f"'{body}'", f"'{same_size(body, f'\\N{{{CONTROL_NAME}}}')}'"


def unknown_names():
    hostile = " ".join(['"\\N{ZZ}"'] * 400)
    unit = f'"\\N{{{CONTROL_NAME}}}" '
    return hostile, same_size(hostile, unit)


def in_template(pair):
    return tuple("{{ " + text + " }}" for text in pair)


def families():
    """name: (operation, make) where make() gives (hostile, control)."""
    from bench_lookahead import FAMILIES as LOOKAHEAD
    out = {}
    for size in (160 * KB, 640 * KB):
        for closed in (True, False):
            label = f"{size // KB} kB, {'closed' if closed else 'unclosed'}"
            out[f"raw: comment retries, {label}"] = ("parse", lambda s=size, c=closed: raw_retries(s, c))
            out[f"raw: shared tail, {label}"] = ("parse", lambda s=size, c=closed: raw_shared_tail(s, c))
    for name, pair in LOOKAHEAD.items():
        out[f"look-ahead: {name}, safe_eval"] = ("safe_eval", lambda p=pair: p)
        if "f-string" not in name:
            out[f"look-ahead: {name}, {{{{ }}}}"] = ("parse", lambda p=pair: in_template(p))
    for name in SLOW_NAMES:
        out[f"names: 4,000 \\N{{{name}}}, safe_eval"] = ("safe_eval", lambda n=name: named_escapes(n))
        out[f"names: 4,000 \\N{{{name}}}, {{{{ }}}}"] = ("parse", lambda n=name: in_template(named_escapes(n)))
    out["names: 400 literals of an unknown name, safe_eval"] = ("safe_eval", unknown_names)
    out["names: 400 literals of an unknown name, {{ }}"] = ("parse", lambda: in_template(unknown_names()))
    for size in (1_400_000, 5_700_000):
        out[f"spans: aimed attribute spans, {size / 1e6:.1f} MB"] = (
            "parse", lambda s=size: tuple(__import__("bench_collisions").spans(k, s) for k in ("aimed", "shuffled")))
    # Names sharing a bucket under the key the core once took from hash().
    out["hash-key: first read, loop of 4,000 names under <c-if>, 100 uses"] = ("first read", lambda: hash_key(
        4000, "open", lambda ns: f'<c-if cond="c"><c-for each="{", ".join(ns)} in xs">' + f"{{{{ {ns[0]} }}}}" * 100
        + "</c-for></c-if>"))
    out["hash-key: parse, loop of 8,000 names"] = ("parse", lambda: hash_key(
        8000, "libstdc++", lambda ns: f'<c-for each="{", ".join(ns)} in xs">{{{{ {ns[0]} }}}}</c-for>'))
    return out


def hash_key(n, table, make):
    from bench_collisions import names
    return make(names("hash-key", n, table)), make(names("random", n))


def prepare(family, which):
    from lumra_core._rust import safe_eval, template_parser as tp
    operation, make = families()[family]
    text = make()[which]
    if operation == "safe_eval":
        call = safe_eval.safe_eval
    elif operation == "parse":
        call = tp.parse_template
    else:
        # Only a tree's first read walks its store: one fresh tree per call.
        trees = [tp.parse_template(text) for _ in range(REPEATS)]
        return text, lambda fresh: trees.pop().used_variables

    def quiet(fresh):
        try:
            call(fresh)
        except SyntaxError:
            pass
    return text, quiet


def time_child(family, which, timeout):
    start = time.perf_counter()
    text, call = prepare(family, int(which))
    times = []
    while len(times) < REPEATS and (not times or time.perf_counter() - start + times[-1] < 0.9 * float(timeout)):
        fresh = text[:1] + text[1:]  # a new str: a str keeps its UTF-8 form
        t0 = time.perf_counter()
        call(fresh)
        times.append(time.perf_counter() - t0)
    print(min(times))


def instructions_child(family, which, calls):
    text, call = prepare(family, int(which))
    gc.disable()
    copies = [text[:1] + text[1:] for _ in range(2)]
    for fresh in copies[:int(calls)]:
        call(fresh)


def child_env(build, family):
    env = dict(os.environ)
    if build:
        env["PYTHONPATH"] = build
    if family.startswith("hash-key"):
        env.pop("PYTHONHASHSEED", None)
    else:
        env["PYTHONHASHSEED"] = "0"
    return env


def measure(build, family, which, args):
    if not args.instructions:
        try:
            out = subprocess.run([sys.executable, __file__, "--time-child", family, str(which), str(args.timeout)],
                                 capture_output=True, text=True, timeout=args.timeout, env=child_env(build, family))
        except subprocess.TimeoutExpired:
            return None
        if out.returncode != 0:
            sys.exit(f"{family} failed:\n{out.stderr[-2000:]}")
        return float(out.stdout)
    return one_call_instructions([__file__, "--instructions-child", family, which], family,
                                 env=child_env(build, family), timeout=args.timeout)


def show(value, instructions):
    if value is None:
        return "timed out"
    return f"{value:,}" if instructions else f"{value * 1e3:.2f} ms"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("builds", nargs="*", help="directories holding lumra_core (default: PYTHONPATH)")
    ap.add_argument("--only", default="", help="the families whose name holds this text")
    ap.add_argument("--timeout", type=float, default=120.0)
    ap.add_argument("--instructions", action="store_true")
    ap.add_argument("--time-child", nargs=3, help=argparse.SUPPRESS)
    ap.add_argument("--instructions-child", nargs=3, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.time_child:
        return time_child(*args.time_child)
    if args.instructions_child:
        return instructions_child(*args.instructions_child)
    builds = [os.path.abspath(b) for b in args.builds] or [None]
    for family in families():
        if args.only not in family:
            continue
        cells = []
        for build in builds:
            hostile, control = measure(build, family, 0, args), measure(build, family, 1, args)
            ratio = f"{hostile / control:.2f}x" if hostile and control else "-"
            cells.append(f"{show(hostile, args.instructions)} / {show(control, args.instructions)} = {ratio}")
        print(f"{family} | " + " | ".join(cells), flush=True)


if __name__ == "__main__":
    main()
