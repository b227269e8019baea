"""Trivia and names that the expression parser looks ahead over or lexes again
cost what they cost elsewhere.

At `is` and `not` the parser looks one token ahead (for `is not` and `not in`),
and every open operator level asks; a list that gives up at a token of an
enclosing construct lexes the line breaks before it again, and every open list
gives up in turn. Each family (bench/bench_lookahead.py's) puts long trivia or
a long name right where that happens, under about 190 open levels; its control
holds the same bytes where nothing reads them twice. Both are timed through
safe_eval and, where the template grammar lets the text through (it wants every
quote closed), through a template's {{ }}."""

import sys
from pathlib import Path

import pytest

from lumra_core._rust import safe_eval as se
from lumra_core._rust import template_parser as tp

from timing import best_times

# The benchmark's families, at half its size.
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
from bench_lookahead import families  # noqa: E402

FAMILIES = families(scale=0.5)

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
