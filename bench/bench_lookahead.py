"""Trivia and names that the expression parser looks ahead over or lexes again,
against the same bytes where nothing reads them twice.

At `is` and `not` the parser looks one token ahead (for `is not` and `not in`),
and every open operator level asks; lists that give up at a token of an
enclosing construct go back over the line breaks before it, one list after
another. Each family puts long trivia or a long non-ASCII name there, under
190 open levels; its control holds the same bytes where nothing reads them
twice. Target: hostile within 2x of its control.

Each family runs through safe_eval and through a template's {{ }} (but the
f-string ones: the template grammar wants every quote closed). Best of 3 wall
times; with --instructions, callgrind's count of one call (a child that makes
the call twice, less one that makes it once), which the machine's load does
not change.

Usage: PYTHONPATH=build/<dir>/python python bench/bench_lookahead.py [--instructions] [--only TEXT]
"""

import argparse
import time

from callgrind import one_call_instructions

def listed(item, count):
    return "[" + ", ".join([item] * count) + "]"


def families(scale=1.0):
    """name: (hostile, control). `scale` shrinks the repeated parts (the tests
    take them at half this size); the depths stay."""
    def times(count):
        return max(1, int(count * scale))

    name = "\uff58" * times(3000)  # fullwidth letters: NFKC must normalise each one
    deep = "-" * 190
    return {
        "`is`, then line breaks": (listed(deep + "x is" + "\n" * 1000 + "y", times(400)),
                                   listed("\n" * 999 + deep + "x is y", times(400))),
        "`not`, then line breaks before `in`": (listed(deep + "x not" + "\n" * 1000 + "in y", times(400)),
                                                listed("\n" * 999 + deep + "x not in y", times(400))),
        "`is`, then a long name": (listed(deep + "x is " + name, 20), listed(deep + name + " is x", 20)),
        "`not`, then a long name": (listed(deep + "x not " + name, 20), listed(deep + name + " not x", 20)),
        "lists give up after line breaks": ("f(" + "[" * 190 + "x" + "\n" * times(200000) + ")",
                                            "f(" + "\n" * times(200000) + "[" * 190 + "x)"),
        "lists give up after comments": ("f(" + "[" * 190 + "x" + "#c\n" * times(60000) + ")",
                                         "f(" + "#c\n" * times(60000) + "[" * 190 + "x)"),
        # Unclosed f-strings, which the template grammar refuses: safe_eval only.
        "f-strings give up after line breaks": ("g(" + 'f"{' * 60 + "x" + "\n" * times(200000) + ")",
                                                "g(" + "\n" * times(200000) + 'f"{' * 60 + "x)"),
        "f-strings give up at `not`": ("g(" + 'f"{(' * 50 + "x not" + "\n" * times(200000) + " y)",
                                       "g(" + "\n" * times(200000) + 'f"{(' * 50 + "x not y)"),
        # The token ahead of `not` opens an f-string, or is the literal text of
        # the format specs that give up one after another.
        "f-strings give up at `not` before an f-string": (
            "g(" + 'f"{(' * 95 + "x not" + "\n" * times(200000) + ' f"y")',
            "g(" + "\n" * times(200000) + 'f"{(' * 95 + 'x not f"y")'),
        "f-strings' format specs give up at `not`": (
            "g(f'''{x:" + "{x:" * 95 + "{a not#" + "c" * times(400000) + " y)",
            "g(f'''{x:#" + "c" * times(400000) + "{x:" * 95 + "{a not y)"),
    }


FAMILIES = families()


def call(kind, text):
    from lumra_core._rust import safe_eval, template_parser
    try:
        if kind == "safe_eval":
            safe_eval.safe_eval(text)
        else:
            template_parser.parse_template("{{ " + text + " }}")
    except SyntaxError:
        pass


def best_time(kind, text, repeat=3):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        call(kind, text)
        best = min(best, time.perf_counter() - start)
    return best


def instructions(kind, family, which):
    return one_call_instructions([__file__, "--child", kind, family, which], family)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--instructions", action="store_true")
    ap.add_argument("--only", default="")
    ap.add_argument("--child", nargs=4, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        kind, family, which, calls = args.child
        for _ in range(int(calls)):
            call(kind, FAMILIES[family][int(which)])
        return
    for family, (hostile, control) in FAMILIES.items():
        if args.only not in family:
            continue
        for kind in ("safe_eval", "{{ }}"):
            if kind == "{{ }}" and "f-string" in family:
                continue
            if args.instructions:
                h, c = instructions(kind, family, 0), instructions(kind, family, 1)
                print(f"{kind:9} {family:38} hostile {h:>15,} control {c:>15,} instructions  {h / c:6.2f}x",
                      flush=True)
            else:
                h, c = best_time(kind, hostile), best_time(kind, control)
                print(f"{kind:9} {family:38} hostile {h * 1e3:9.2f} ms control {c * 1e3:9.2f} ms  {h / c:6.2f}x",
                      flush=True)


if __name__ == "__main__":
    main()
