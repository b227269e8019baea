"""Trivia and names that the expression parser looks ahead over or lexes again
cost what they cost elsewhere.

At `is` and `not` the parser looks one token ahead (for `is not` and `not in`),
and every open operator level asks; a list that gives up at a token of an
enclosing construct lexes the line breaks before it again, and every open list
gives up in turn. Each text below puts long trivia or a long name right where
that happens, under about 190 open levels; its control holds the same bytes
where nothing reads them twice. Both are timed through safe_eval and, where the
template grammar lets the text through (it wants every quote closed), through a
template's {{ }}."""

import time

import pytest

from lumra_core._rust import safe_eval as se
from lumra_core._rust import template_parser as tp

NAME = "\uff58" * 2000  # fullwidth letters: NFKC must normalise each one
DEEP = 190


def listed(item, count):
    return "[" + ", ".join([item] * count) + "]"


# name: (hostile, control)
FAMILIES = {
    "`is`, then line breaks": (listed("-" * DEEP + "x is" + "\n" * 1000 + "y", 100),
                               listed("\n" * 999 + "-" * DEEP + "x is y", 100)),
    "`not`, then line breaks before `in`": (listed("-" * DEEP + "x not" + "\n" * 1000 + "in y", 100),
                                            listed("\n" * 999 + "-" * DEEP + "x not in y", 100)),
    "`is`, then a long name": (listed("-" * DEEP + "x is " + NAME, 10), listed("-" * DEEP + NAME + " is x", 10)),
    "`not`, then a long name": (listed("-" * DEEP + "x not " + NAME, 10), listed("-" * DEEP + NAME + " not x", 10)),
    "lists give up after line breaks": ("f(" + "[" * DEEP + "x" + "\n" * 50000 + ")",
                                        "f(" + "\n" * 50000 + "[" * DEEP + "x)"),
    "lists give up after comments": ("f(" + "[" * DEEP + "x" + "#c\n" * 20000 + ")",
                                     "f(" + "#c\n" * 20000 + "[" * DEEP + "x)"),
    # Unclosed f-strings: safe_eval only.
    "f-strings give up after line breaks": ("g(" + 'f"{' * 60 + "x" + "\n" * 50000 + ")",
                                            "g(" + "\n" * 50000 + 'f"{' * 60 + "x)"),
    "f-strings give up at `not`": ("g(" + 'f"{(' * 50 + "x not" + "\n" * 50000 + " y)",
                                   "g(" + "\n" * 50000 + 'f"{(' * 50 + "x not y)"),
    # The token ahead of `not` opens an f-string, or is the literal text of
    # the format specs that give up one after another.
    "f-strings give up at `not` before an f-string": ("g(" + 'f"{(' * 95 + "x not" + "\n" * 20000 + ' f"y")',
                                                      "g(" + "\n" * 20000 + 'f"{(' * 95 + 'x not f"y")'),
    "f-strings' format specs give up at `not`": ("g(f'''{x:" + "{x:" * 95 + "{a not#" + "c" * 100000 + " y)",
                                               "g(f'''{x:#" + "c" * 100000 + "{x:" * 95 + "{a not y)"),
}

CALLS = {
    "safe_eval": se.safe_eval,
    "template": lambda expr: tp.parse_template("{{ " + expr + " }}"),
}
CASES = [(family, call) for family in FAMILIES for call in CALLS if call == "safe_eval" or "f-strings" not in family]


def outcome(call, text):
    try:
        call(text)
        return "ok"
    except SyntaxError as error:
        return "template" if "Failed to parse template" in str(error) else "SyntaxError"


def best_times(call, *texts, repeat=5):
    """Best time of the call on each text, the texts taking turns so that a
    burst of load on the machine falls on both."""
    best = [float("inf")] * len(texts)
    for _ in range(repeat):
        for i, text in enumerate(texts):
            start = time.perf_counter()
            outcome(call, text)
            best[i] = min(best[i], time.perf_counter() - start)
    return best


@pytest.mark.parametrize(("family", "call_name"), CASES)
def test_trivia_read_ahead_or_again_cost_what_they_cost_elsewhere(family, call_name):
    hostile, control = FAMILIES[family]
    call = CALLS[call_name]
    assert len(hostile) == len(control)
    # Both must take the same path, through the parser: a refusal of one alone,
    # or of both by the template grammar, would time nothing.
    assert outcome(call, hostile) == outcome(call, control)
    assert call_name == "safe_eval" or "template" not in outcome(call, hostile)
    slow, fast = best_times(call, hostile, control)
    # A quarter of a millisecond absorbs the timer's noise on calls this short.
    assert slow <= 3 * fast + 0.00025, f"{slow:.5f} s against {fast:.5f} s"
