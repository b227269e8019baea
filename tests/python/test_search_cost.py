"""Searches and retries cost what a plain input of the same size costs.

Each family is a hostile template against a control of the same size: raw
end tag tries whose comments or quoted values hold the next tries and end at
one shared terminator, followed by a tail (comments, whitespace, an attribute
name) that every try reaches, with and without the closing `</c-raw>`; and
fills deep in control flow, each checked against the frames above it. Without
the grammar's settled searches and converged tries the hostile raw blocks take
hundreds of times longer at these sizes; the factors below leave room for
machine noise only."""


import pytest

from lumra_core._rust import template_parser as tp

from timing import best_times

TRIES = 12_000


def raw_pair(tries, tail, closed):
    """A raw block whose tries all reach `tail`, and the control with the
    same bytes, the tail first (nothing to share)."""
    end = "</c-raw>" if closed else ""
    return "<c-raw>" + tries + tail + end, "<c-raw>" + tail + tries + end


FAMILIES = {
    # Each try's comment runs to the one `#}`; a later comment moves the search on.
    "comment retries": lambda closed: raw_pair("</c-raw{# " * TRIES, "#} {#y#}x <", closed),
    # Every try walks the whitespace after the shared `#}`.
    "shared spacing": lambda closed: raw_pair("</c-raw{#" * TRIES, "#}" + " " * 9 * TRIES + "x<", closed),
    # ... or the attribute name there.
    "shared attribute": lambda closed: raw_pair("</c-raw{# " * TRIES, "#} " + "n" * 9 * TRIES + " <", closed),
    # Quoted values end together; the rest of the tag is the same for all.
    "shared value": lambda closed: raw_pair('</c-raw a="' * TRIES, '" ' + " " * 9 * TRIES + "b=1 {#c#} <", closed),
    # Each value holds the next try. The first try searches for quotes far
    # past all the others, and what follows an unclosed block (the same
    # attributes, read again as an end tag) searches back over them all.
    "tries in values": lambda closed: (
        "<c-raw></c-raw " + 'x="</c-raw " ' * 6 * TRIES + ("</c-raw>" if closed else ""),
        "<c-raw></c-raw " + "x=unquoted12 " * 6 * TRIES + ("</c-raw>" if closed else "")),
}


def fills(depth, count, pad=0):
    return ("<c-card>" + '<c-if cond="a">' * depth + " " * pad
            + '<c-if cond="a"><c-fill name="s"/></c-if>' * count + "</c-if>" * depth + "</c-card>")


def parse(text):
    try:
        return type(tp.parse_template(text)).__name__
    except SyntaxError as error:
        return str(error)[-40:]


def assert_costs_as_control(hostile, control, factor=3):
    assert len(hostile) == len(control)
    hostile_time, control_time = best_times(tp.parse_template, hostile, control)
    # A millisecond absorbs the timer's noise on calls this short.
    assert hostile_time <= factor * control_time + 0.001, f"{hostile_time:.4f} s against {control_time:.4f} s"


@pytest.mark.parametrize("closed", [True, False], ids=["closed", "unclosed"])
@pytest.mark.parametrize("name", FAMILIES)
def test_raw_end_tag_tries_cost_what_a_plain_block_costs(name, closed):
    hostile, control = FAMILIES[name](closed)
    # Both end alike: matched when closed, the same error when not.
    assert parse(hostile).startswith("Template") == parse(control).startswith("Template") == closed
    assert_costs_as_control(hostile, control)


def test_fills_deep_in_control_flow_cost_what_shallow_ones_cost():
    # As deep as elements may nest. Each frame above costs a few string
    # compares, so walking them all at every fill costs a factor of two or
    # three here, not hundreds: the bound is tighter.
    deep = fills(510, 5000)
    shallow = fills(1, 5000, pad=len(deep) - len(fills(1, 5000)))
    assert parse(deep) == parse(shallow) == "Template"
    assert_costs_as_control(deep, shallow, factor=1.6)
