"""parse_template applies every rule of the template language to finished
elements: tag rules, slots and fills, control-flow chains, attribute checks.

Every message a template can reach is in data/validation_cases.txt, with the
order of checks where two apply and the place each error points at.
"""

from __future__ import annotations

import pathlib

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from lumra_core import _rust

tp = _rust.template_parser
TagRules = tp.TagRules

CASES_FILE = pathlib.Path(__file__).parent / "data" / "validation_cases.txt"

# The user rules the table assumes.
USER_RULES = {
    "c-card": TagRules(allowed_slots=["a", "b", "default"], slot_data_fields={"a": ["item", "index"], "b": []}),
    "c-need": TagRules(required_slots=["default"]),
    "c-hdr": TagRules(allowed_slots=["header"]),
    "c-ab": TagRules(required_slots=["a", "b"]),
    "c-two": TagRules(allowed_slots=["a", "b"]),
    "c-tight": TagRules(allowed_attrs=[["id"]], required_attrs=[["id"]]),
    "c-Mixed": TagRules(required_attrs=[["id"]]),
    "my-tag": TagRules(allowed_attrs=[["id"]]),
}


def _cases():
    for line in CASES_FILE.read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            source, at, message = (line.split("\t") + ["", ""])[:3]
            yield pytest.param(source, at, message, id=source[:60])


@pytest.mark.parametrize("source,at,message", list(_cases()))
def test_case_table(source, at, message):
    if not message:
        tp.parse_template(source, user_rules=USER_RULES)
        return
    with pytest.raises(SyntaxError) as info:
        tp.parse_template(source, user_rules=USER_RULES)
    text = str(info.value)
    assert text.startswith("Parse error: ")
    assert text.endswith(f"= {message}"), text
    # Single-line ASCII templates: the column is the byte offset plus one.
    assert f"--> 1:{source.index(at) + 1}\n" in text, text


def test_filed_tree_reports_slots_and_fills():
    t = tp.parse_template(
        '<c-x><c-if cond="a"><c-fill name="f"></c-fill></c-if></c-x>'
        '<c-slot></c-slot><c-slot name="s" required></c-slot><c-slot c-name="d"></c-slot>'
    )
    component = t.elements[0][0]
    assert component.contains_fills and component.body.elements[0][0].contains_fills
    assert [(s.token.content, s.required) for s in t.slots] == [("default", False), ("s", True)]


# Random templates from a small grammar: they parse, or raise SyntaxError or
# ValueError with a "Parse error: " message; never anything else.
NAMES = st.sampled_from(["div", "p", "br", "c-x", "c-card", "c-element", "c-component", "c-slot", "c-fill",
                         "c-if", "c-elif", "c-else", "c-for", "c-empty", "C-If", "c-ab"])
KEYS = st.sampled_from(["id", "class", "c-class", "name", "c-name", "c-bind", "cond", "each", "data", "is", "c-is",
                        "c-if", "c-elif", "c-else", "c-for", "c-empty", "#c-key", "#c-ignore", "$c-props",
                        "$C-PROPS", "@click", "c-@click", "required", "c-title"])
VALUES = st.sampled_from(["", " ", "a", "x in xs", "{ item, row }", "item", "<p></p>", "<>t</>", "a +", "1"])


def _attr(key, value):
    return f" {key}" if value is None else f' {key}="{value}"'


@st.composite
def elements(draw, depth=0):
    kind = draw(st.sampled_from(["text", "blank", "expr", "node", "node", "node"] if depth < 5 else ["text", "expr"]))
    if kind == "text":
        return "hi"
    if kind == "blank":
        return "  "
    if kind == "expr":
        return "{{ v }}"
    name = draw(NAMES)
    attrs = "".join(_attr(k, v) for k, v in draw(st.lists(st.tuples(KEYS, st.none() | VALUES), max_size=3)))
    if draw(st.booleans()):
        return f"<{name}{attrs}/>"
    body = "".join(draw(st.lists(elements(depth + 1), max_size=3)))
    return f"<{name}{attrs}>{body}</{name}>"


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(elements(), min_size=1, max_size=4))
def test_random_templates_parse_or_fail_cleanly(parts):
    source = "".join(parts)
    try:
        tp.parse_template(source, user_rules=USER_RULES)
    except (SyntaxError, ValueError) as error:
        assert str(error).startswith("Parse error: "), (source, str(error))
