#!/usr/bin/env python3
"""Differential check of template_parser.parse_template between two builds, on
templates made to reach the template grammar's searches and retries.

    grammar_differential.py compare BUILD_A BUILD_B [--cases N] [--seed S]
        Runs every case in each build (the lumra_core under BUILD/python) and
        reports each case whose repr of the result, or exception type and
        message, differs, with the first inputs. Exit status 1 on any
        difference.

    grammar_differential.py run [--cases N] [--seed S]
        Writes one "index sha256" line per case for the lumra_core found on
        PYTHONPATH (what `compare` runs in each build).

    grammar_differential.py show --ids ID[,ID...] [--cases N] [--seed S]
        Prints the input and the observation of some cases.

The cases, matching and failing: raw elements whose end tag tries hold the
next tries in comments and quoted values (with attributes, comments and
whitespace after them, closed and unclosed), unclosed `{#`, `<!--`, quotes and
triple quotes, nested `{{ }}` and expressions with strings, and fills at every
depth of control flow, inside and outside components. Generation depends
on nothing but the seed (random.Random seeded with a string)."""

from __future__ import annotations

import argparse
import hashlib
import os
import random
import subprocess
import sys
from pathlib import Path

DEFAULT_CASES = 20000
DEFAULT_SEED = "grammar-1"

TRY_TAILS = ["{#", " {#", "\n{#", "{#y#}{#", " a=\"", " a='", "{#\"", " a=\"{#", " ", "x", "", " #c-k=", "\t"]
SHARED = ["#}", "\"", "'", " ", "  ", "\n", "x", "{#y#}", " {#z#}", ">", "=", "<", "/", "a", "b=", "\"\"", "{#",
          "</c-raw", "</c-raw>", "</ ", " c=\"v\"", "\r\n", "/>", "{{ x }}", "é"]
MARKUP = ["<div", " a=\"1\"", " b='2'", " c=d", ">", "</div>", "<br/>", "{{ x }}", "{{ {'a': {1}} }}", "{#", "#}",
          "{# c #}", "<!--", "-->", "<!-- c -->", "<!DOCTYPE html>", "<!", "<?x ?>", "<?", "<c-raw>", "</c-raw>",
          "</c-raw", " ", "\n", "text", "\"", "'", "\"\"\"", "'''", "=", "<", "/", "{{", "}}", "{", "}", "é",
          "<c-if cond=\"a\">", "</c-if>", "<c-for each=\"x in xs\">", "</c-for>", "<p {# n #} #c-k=v>", "\\"]
EXPR = ["x", " ", "{", "}", "(", ")", "\"", "'", "\"\"\"", "'''", "\\", "\\\"", "a.b", "+", "f(", ",", "[1]",
        "'}}'", "\"{{\"", "\"\"\"}}\"\"\"", "#}", "{#", ":", "lambda y: y"]


def pieces(rng, alphabet, most):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, most)))


def raw_case(rng):
    text = rng.choice(["", "x ", "<p>", "{# a #}"]) + "<c-raw>"
    for _ in range(rng.randint(1, 6)):
        text += "</c-raw" + pieces(rng, TRY_TAILS, 2)
    text += pieces(rng, SHARED, 10)
    if rng.random() < 0.3:
        text += pieces(rng, TRY_TAILS, 2) + pieces(rng, SHARED, 8)
    if rng.random() < 0.7:
        text += "</c-raw>" + pieces(rng, MARKUP, 4)
    return text


def repeated_case(rng):
    """A hostile shape at a small size, with noise."""
    k = rng.randint(2, 40)
    unit = rng.choice(["</c-raw{# ", "</c-raw{#", "</c-raw a=\"", "</c-raw {#", "<!--", "{#", "\"\"\"", "{{ {"])
    tail = rng.choice(["#} {#y#}x <", "#}" + " " * k + "x<", "\" x y>", "-->", "#} x", "\"\"\" }}", "}} }}", ""])
    text = "<c-raw>" if unit.startswith("</c-raw") else rng.choice(["", "{{ "])
    text += unit * k + pieces(rng, SHARED, 3) + tail
    if rng.random() < 0.5:
        text += "</c-raw>"
    return text


def markup_case(rng):
    return pieces(rng, MARKUP, 16)


def expression_case(rng):
    body = pieces(rng, EXPR, 12)
    return pieces(rng, MARKUP, 3) + "{{ " + body + rng.choice([" }}", "}}", "", " }", "}} }}"]) + pieces(rng, MARKUP, 3)


def fills_case(rng):
    """Fills at every depth of control flow, inside and outside components."""
    tags = ["c-card", "c-x", "div", "c-if", "c-if", "c-for", "c-else", "c-fill", "c-fill", "c-slot"]
    opening = {"c-if": '<c-if cond="a">', "c-for": '<c-for each="x in xs">', "c-fill": '<c-fill name="s{}">',
               "c-slot": '<c-slot name="s">'}

    def element(depth):
        if depth > 7 or rng.random() < 0.25:
            return rng.choice(["", " ", "t", "{{ x }}", '<c-fill name="d"></c-fill>', "<br/>"])
        tag = rng.choice(tags)
        body = "".join(element(depth + 1) for _ in range(rng.randint(0, 3)))
        start = opening.get(tag, f"<{tag}>").format(rng.randint(0, 3))
        return start + body + (f"</{tag}>" if rng.random() < 0.97 else "")

    return "".join(element(0) for _ in range(rng.randint(1, 3)))


FAMILIES = [raw_case, raw_case, repeated_case, markup_case, expression_case, fills_case]


def make_case(seed, index):
    rng = random.Random(f"{seed}/{index}")
    return FAMILIES[index % len(FAMILIES)](rng)


def observe(text):
    from lumra_core._rust import template_parser as tp
    try:
        return "ok " + repr(tp.parse_template(text))
    except Exception as error:  # noqa: BLE001 - the type and message are what is compared
        return f"{type(error).__name__} {error}"


def run(args):
    for index in range(args.cases):
        digest = hashlib.sha256(observe(make_case(args.seed, index)).encode()).hexdigest()
        print(index, digest)


def show(args):
    for index in (int(i) for i in args.ids.split(",")):
        text = make_case(args.seed, index)
        print(f"--- case {index}: {text!r}\n{observe(text)}")


def digests(build, args, extra=()):
    env = {**os.environ, "PYTHONPATH": str(Path(build).resolve() / "python"), "PYTHONHASHSEED": "0"}
    out = subprocess.run([sys.executable, __file__, *extra, "--cases", str(args.cases), "--seed", args.seed],
                         env=env, capture_output=True, text=True, check=True).stdout
    return out


def compare(args):
    a = dict(line.split() for line in digests(args.build_a, args, ["run"]).splitlines())
    b = dict(line.split() for line in digests(args.build_b, args, ["run"]).splitlines())
    differing = [i for i in a if a[i] != b.get(i)]
    kinds = {}
    for i in range(args.cases):
        kinds.setdefault(FAMILIES[i % len(FAMILIES)].__name__, 0)
        kinds[FAMILIES[i % len(FAMILIES)].__name__] += 1
    print(f"{len(a)} cases ({', '.join(f'{k}: {v}' for k, v in kinds.items())}); {len(differing)} differ")
    for i in differing[:5]:
        print(digests(args.build_a, args, ["show", "--ids", i]))
        print(digests(args.build_b, args, ["show", "--ids", i]))
    return 1 if differing else 0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="command", required=True)
    for name in ("compare", "run", "show"):
        p = sub.add_parser(name)
        p.add_argument("--cases", type=int, default=DEFAULT_CASES)
        p.add_argument("--seed", default=DEFAULT_SEED)
        if name == "compare":
            p.add_argument("build_a")
            p.add_argument("build_b")
        if name == "show":
            p.add_argument("--ids", required=True)
    args = ap.parse_args()
    return {"compare": compare, "run": run, "show": show}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
