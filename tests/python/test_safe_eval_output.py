"""What safe_eval returns is Python that CPython reads, about the text it was given.

Property: for any text, safe_eval either raises SyntaxError or returns text in
which every position tuple (the `(s, e)` after `context, source,`) lies within
the text, and which compiles wherever CPython compiles the text. A text that
CPython refuses for an unmatched ')' is refused. The texts are expressions of
the semantics strategy and of the standard library, spoilt by mutations: a
bracket inserted or removed, a character deleted, a name respelled in letters
whose NFKC form is a keyword.

Also: a ')' that closes the parentheses the rewriter wraps around the text is
refused, by safe_eval and wherever a template holds an expression.
"""

import ast
import pathlib
import re
import sys

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import pyexpr_differential as differential  # noqa: E402
from test_safe_eval_semantics import expr  # noqa: E402

from lumra_core._rust import safe_eval as safe_eval_module  # noqa: E402
from lumra_core._rust import template_parser as tp  # noqa: E402

safe_eval = safe_eval_module.safe_eval

# Generated texts index literals, call them, hold invalid escapes: Python warns.
pytestmark = pytest.mark.filterwarnings("ignore::SyntaxWarning", "ignore::DeprecationWarning")

CORPUS_PATH = differential.ROOT / "build" / "corpus" / "stdlib_exprs.txt"


def load_corpus():
    if CORPUS_PATH.exists():
        return differential.load_corpus(CORPUS_PATH)
    return differential.stdlib_expressions(limit_files=40)


CORPUS = load_corpus()

# Forms the printer decides on: raw literals holding what no source may hold
# raw (NUL, CR), prefixes, nested quotes, numbers, precedence, unpacking and
# names whose NFKC form is a keyword.
TRICKY = [
    "r'a\0b'", "r'''a\r\nb'''", "rb'\\\0'", "Rb'x\r'", "'a' r'\0' u'b'", "rf'\\d{x}\0'", "rt'\r{x:\0}'",
    "f'{x!r:>{w}}' 'y' f\"{'z'}\"", "f'{f\"{x}\"}'", "f'{\"}\"}'", "t'{x=}' t'{y:{z}}'", "b'\\xff' Rb'\\d'",
    "0x_ff_ff + 1_000 + 1e309 + 1e-7j + .5 + 0o17 + 0b1", "9" * 30 + " + 0x" + "f" * 40,
    "(-1) ** -x ** 2", "not -a if b else c", "(lambda: (x := 1))() + [*a, *b]", "f(*a or b, **{**c})",
    "x[a:b, *c]", "(y := lambda z=(w := 1): z)", "f(x for x in y)", "(a if b else c)(d)", "'\\N{BULLET}\\ud800'",
    "lambda \u2115one: \u2115one", "f(\U0001d422\U0001d41f=1)", "[\U0001d422\U0001d41f for \U0001d422\U0001d41f in y]",
    "a \\\n + b", "{**a, 'b': 1} | {*c}", "lambda a, /, b=1, *c, d, **e: 0",
]

BOLD_LOWER, BOLD_UPPER = 0x1D41A, 0x1D400


def bold(word):
    """The word in mathematical bold letters: its NFKC form is the word."""
    return "".join(
        chr(BOLD_LOWER + ord(c) - 97) if "a" <= c <= "z" else chr(BOLD_UPPER + ord(c) - 65) if "A" <= c <= "Z" else c
        for c in word
    )


KEYWORD_SPELLINGS = ["\u2115one", bold("if"), bold("True"), "l" + bold("ambda"), bold("not"), "f" + bold("or")]


# Built once: sampling strategies copy their lists.
SEEDS = st.one_of(expr(), st.sampled_from(CORPUS), st.sampled_from(TRICKY))


@st.composite
def mutated(draw):
    text = draw(SEEDS)
    for _ in range(draw(st.integers(0, 3))):
        kind = draw(st.sampled_from(["insert", "remove", "delete", "rename", "respell"]))
        at = draw(st.integers(0, len(text)))
        if kind == "insert":
            text = text[:at] + draw(st.sampled_from("()[]{}")) + text[at:]
        elif kind == "remove":
            brackets = [i for i, c in enumerate(text) if c in "()[]{}"]
            if brackets:
                i = draw(st.sampled_from(brackets))
                text = text[:i] + text[i + 1:]
        elif kind == "delete" and text:
            at = min(at, len(text) - 1)
            text = text[:at] + text[at + 1:]
        elif kind == "rename":
            # Every use of one name, so that what CPython compiled still compiles.
            names = sorted(set(re.findall(r"\b[a-z_]\w*\b", text)))
            if names:
                name = draw(st.sampled_from(names))
                text = re.sub(rf"\b{name}\b", draw(st.sampled_from(KEYWORD_SPELLINGS)), text)
        elif kind == "respell":
            words = [m for m in re.finditer(r"\b[a-zA-Z]+\b", text)]
            if words:
                m = draw(st.sampled_from(words))
                text = text[: m.start()] + bold(m.group()) + text[m.end():]
    return text


def cpython_compiles(text):
    """Whether CPython compiles the text as an expression that may span lines:
    alone, or inside both kinds of brackets (one of which a stray closing
    bracket of the text would close early)."""
    for candidates in ([text], ["(\n" + text + "\n)", "[\n" + text + "\n]"]):
        try:
            for candidate in candidates:
                compile(candidate, "<source>", "eval")
            return True
        except (SyntaxError, ValueError, MemoryError, RecursionError):
            continue
    return False


def unmatched_paren(text):
    try:
        compile(text.lstrip(" \t"), "<source>", "eval")
    except SyntaxError as error:
        return error.msg == "unmatched ')'"
    except (ValueError, MemoryError, RecursionError):
        return False
    return False


POSITION = re.compile(r"context, source, \((\d+), (\d+)\)")


def positions(output):
    """The position tuples of the sandbox calls: from CPython's tree of the
    output when it parses, else read from the text."""
    try:
        tree = ast.parse(output, mode="eval")
    except (SyntaxError, ValueError, MemoryError, RecursionError):
        return [(int(s), int(e)) for s, e in POSITION.findall(output)]
    found = []
    for node in ast.walk(tree):
        if isinstance(node, ast.Call) and len(node.args) >= 3 and isinstance(node.args[0], ast.Name):
            if node.args[0].id == "context" and isinstance(node.args[2], ast.Tuple):
                found.append(tuple(element.value for element in node.args[2].elts))
    return found


@settings(max_examples=2500, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(mutated())
@example("a)(b")
@example("lambda \u2115one: f(\u2115one=\u2115one)")
@example("r'a\0b'")
def test_output_compiles_and_stays_in_the_source(text):
    compiles = cpython_compiles(text)
    try:
        output = safe_eval(text)
    except SyntaxError:
        return
    assert not unmatched_paren(text), output
    size = len(text.encode("utf-8", "surrogatepass"))
    for start, end in positions(output):
        assert 0 <= start <= end <= size, (start, end, output)
    if compiles:
        compile(output, "<output>", "eval")


def unexpected(start, end, snippet):
    return f"Parse error: Unexpected token at the end of an expression at byte range {start}..{end}: '{snippet}'"


# A ')' of the text that closes the wrapping's '(' is refused at the token after
# it, whatever would parse there; comments and spaces around do not hide it.
BREAK_OUTS = [
    ("a)(b", unexpected(2, 3, "(")),
    (")(x", unexpected(1, 2, "(")),
    ("lambda: x)(y", unexpected(10, 11, "(")),
    ("a)+(b", unexpected(2, 3, "+")),
    ("a), (b", unexpected(2, 3, ",")),
    ("  a  )  (  b  ", unexpected(8, 9, "(")),
    ("a) (b # c", unexpected(3, 4, "(")),
    ("# c\na) (b", unexpected(7, 8, "(")),
    ("(a\n)) \\\n[b](c", unexpected(8, 9, "[")),
    ("f(a)) .b(c", unexpected(6, 7, ".")),
]


@pytest.mark.parametrize(("text", "message"), BREAK_OUTS, ids=[t for t, _ in BREAK_OUTS])
def test_break_out_of_the_wrapping_is_refused(text, message):
    assert unmatched_paren(text)
    with pytest.raises(SyntaxError) as info:
        safe_eval(text)
    assert info.value.args == (message,)


# The same texts in every place a template holds an expression; the message
# quotes the expression, its range relative to the expression's text.
TEMPLATES = [
    ("{{ a)(b }}", "Failed to parse expression: " + unexpected(2, 3, "(")),
    ('<c-if cond="a)+(b"></c-if>', "Failed to parse expression: " + unexpected(2, 3, "+")),
    ('<div c-if="a), (b"></div>', "Failed to parse expression: " + unexpected(2, 3, ",")),
    ('<div c-title="lambda: x)(y"></div>', "Failed to parse expression: " + unexpected(10, 11, "(")),
    ('<div #c-key=")(x"></div>', "Failed to parse expression: " + unexpected(1, 2, "(")),
    ('<li c-for="x in a)(b">', "Failed to parse expression: " + unexpected(7, 8, "(")),
    ('<c-for each="x in a) + (b"></c-for>', "Failed to parse 'each' attribute: " + unexpected(8, 9, "+")),
    ('<c-for each="x in a) (b # c"></c-for>', "Failed to parse 'each' attribute: " + unexpected(8, 9, "(")),
]


@pytest.mark.parametrize(("template", "message"), TEMPLATES, ids=[t for t, _ in TEMPLATES])
def test_break_out_in_templates_is_refused(template, message):
    with pytest.raises(SyntaxError) as info:
        tp.parse_template(template)
    assert str(info.value).endswith("= " + message), str(info.value)
