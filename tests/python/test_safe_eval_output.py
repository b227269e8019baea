"""safe_eval refuses a text or returns Python that CPython compiles wherever it
compiles the text, with every position tuple inside the text. Texts: the
semantics strategy's and the standard library's expressions, mutated."""

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
pytestmark = pytest.mark.filterwarnings("ignore::SyntaxWarning", "ignore::DeprecationWarning")

_CORPUS_PATH = differential.ROOT / "build" / "corpus" / "stdlib_exprs.txt"
CORPUS = differential.load_corpus(_CORPUS_PATH) if _CORPUS_PATH.exists() else differential.stdlib_expressions(40)
# Forms the printer decides on: raw text holding NUL or CR, names that NFKC-normalise to keywords.
TRICKY = ["r'a\0b' + rb'''\r'''", "rf'\\d{x:\0}' + rt'''\r{y}'''", "lambda \u2115one: f(\u2115one=\u2115one)",
          "9" * 30 + "+0x" + "f" * 40]
BOLD = str.maketrans({chr(97 + i): chr(0x1D41A + i) for i in range(26)})  # NFKC: the same letters
KEYWORD_SPELLINGS = ["\u2115one", "if".translate(BOLD), "l" + "ambda".translate(BOLD), "n" + "ot".translate(BOLD)]
SEEDS = st.one_of(expr(), st.sampled_from(CORPUS), st.sampled_from(TRICKY))  # built once: they copy their lists


@st.composite
def mutated(draw):
    text = draw(SEEDS)
    for _ in range(draw(st.integers(0, 3))):
        kind, at = draw(st.sampled_from("+-xnb")), draw(st.integers(0, len(text)))
        words = sorted(set(re.findall(r"\b[a-z_]\w*\b", text)))
        if kind == "+":  # a bracket inserted
            text = text[:at] + draw(st.sampled_from("()[]{}")) + text[at:]
        elif kind in "-x":  # a bracket or any character removed
            places = [i for i, c in enumerate(text) if kind == "x" or c in "()[]{}"]
            i = draw(st.sampled_from(places)) if places else at
            text = text[:i] + text[i + 1:]
        elif words:  # every use of a name respelled as a keyword, or one word in bold letters
            word = draw(st.sampled_from(words))
            new = draw(st.sampled_from(KEYWORD_SPELLINGS)) if kind == "n" else word.translate(BOLD)
            text = re.sub(rf"\b{word}\b", new, text, count=0 if kind == "n" else 1)
    return text


SANDBOX = {"variable", "call", "attribute", "subscript", "slice", "assign", "format", "template", "interpolation"}


def unpacked_into_sandbox_arguments(tree):
    """The `*x` and `**x` of a sandboxed tree that stand where a sandbox function
    reads its own arguments by position: anywhere but among the callee's
    arguments of `call`, and in the field and spec tuples of `format` and the
    spec's `.format` call of `interpolation`."""
    found = []
    for node in ast.walk(tree):
        if not (isinstance(node, ast.Call) and isinstance(node.func, ast.Name) and node.func.id in SANDBOX):
            continue
        name = node.func.id
        own = node.args[:4] if name == "call" else node.args
        found += [a for a in own if isinstance(a, ast.Starred)] + ([] if name == "call" else node.keywords)
        if name == "format":
            for field in node.args[4:]:
                parts = field.elts if isinstance(field, ast.Tuple) else [field]
                if len(parts) == 3 and isinstance(parts[2], ast.Tuple):
                    parts = parts + parts[2].elts
                found += [p for p in parts if isinstance(p, ast.Starred)] + ([field] if len(parts) < 3 else [])
        if name == "interpolation" and len(node.args) > 6 and isinstance(node.args[6], ast.Call):
            spec = node.args[6]
            found += [a for a in spec.args if isinstance(a, ast.Starred)] + spec.keywords
    return found


@st.composite
def starred(draw):
    """A text with `*` or `**` put where an expression may start."""
    text = draw(SEEDS)
    for _ in range(draw(st.integers(1, 3))):
        places = [i + 1 for i, c in enumerate(text) if c in "{([, :"] or [0]
        at = draw(st.sampled_from(places))
        text = text[:at] + draw(st.sampled_from(["*", "**"])) + text[at:]
    return text


@settings(max_examples=2500, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(starred())
@example('f"{*a}"')
@example('t"{x:{*a}}"')
def test_no_star_of_the_text_reaches_a_sandbox_argument(text):
    try:
        output = safe_eval(text)
    except SyntaxError:
        return
    try:
        tree = ast.parse(output, mode="eval")
    except (SyntaxError, MemoryError, RecursionError):
        return  # CPython has no tree for it: nothing it could run
    assert not unpacked_into_sandbox_arguments(tree), output


@pytest.mark.parametrize(("text", "accepted"), [
    ('f"{*a}"', False), ('t"{*a}"', False), ('f"{x:{*a}}"', False), ('f"{*a=}"', False), ('f"{x}{ *a!r:>3}"', False),
    ('f"{*a, b}"', True), ('f"{(*a,)}"', True), ('f"{f(*a, **k)}"', True),
])
def test_starred_field_is_refused_at_the_star(text, accepted):
    for place in ("%s", "{{ %s }}"):
        if accepted:
            (safe_eval if place == "%s" else tp.parse_template)(place % text)
            continue
        star = text.index("*")
        message = (f"Parse error: Starred expression cannot be used here at byte range {star}..{star + 2}: "
                   f"'*a'")
        with pytest.raises(SyntaxError, match=re.escape(message)):
            (safe_eval if place == "%s" else tp.parse_template)(place % text)


def test_starred_field_gives_way_to_every_other_refusal():
    with pytest.raises(SyntaxError, match="^Validation Error: 'call' is a name of the sandbox"):
        safe_eval('(f"{*a}", lambda call: 1)')


def test_the_checker_sees_a_field_written_by_the_text():
    leaked = "format(context, source, (0, 7), '{}', (*variable(context, source, (4, 5), 'a'), None, ''))"
    assert unpacked_into_sandbox_arguments(ast.parse(leaked, mode="eval"))


def cpython_compiles(text):
    """Alone, or on several lines: then inside both kinds of brackets, as a
    stray closing bracket of the text could close one of them early."""
    for candidates in ([text], ["(\n" + text + "\n)", "[\n" + text + "\n]"]):
        try:
            for candidate in candidates:
                compile(candidate, "<source>", "eval")
            return True
        except (SyntaxError, ValueError, MemoryError, RecursionError):
            pass
    return False


def unmatched_paren(text):
    try:
        compile(text.lstrip(" \t"), "<source>", "eval")
    except SyntaxError as error:
        return error.msg == "unmatched ')'"
    except (ValueError, MemoryError, RecursionError):
        pass
    return False


@settings(max_examples=2500, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(mutated())
@example("a)(b")
def test_output_compiles_and_stays_in_the_source(text):
    try:
        output = safe_eval(text)
    except SyntaxError:
        return
    assert not unmatched_paren(text), output
    size = len(text.encode("utf-8", "surrogatepass"))
    for start, end in re.findall(r"context, source, \((\d+), (\d+)\)", output):
        assert int(start) <= int(end) <= size, output
    if cpython_compiles(text):
        compile(output, "<output>", "eval")


def unexpected(start, snippet):
    return (f"Parse error: Unexpected token at the end of an expression at byte range "
            f"{start}..{start + len(snippet)}: '{snippet}'")


# The token after the ')' that closed the wrapping is refused, as after a whole expression.
BREAK_OUTS = [("a)(b", 2, "("), (")(x", 1, "("), ("lambda: x)(y", 10, "("), ("a)+(b", 2, "+"), ("a), (b", 2, ","),
              ("f(a)) \\\n.b(c", 8, ".")]
PLACES = ["{{ %s }}", '<c-if cond="%s"></c-if>', '<div c-if="%s"></div>', '<p c-title="%s"/>', '<p #c-key="%s"/>']


@pytest.mark.parametrize(("text", "start", "token"), BREAK_OUTS + [("  a ) ( b # c", 6, "(")])
def test_break_out_of_the_wrapping_is_refused(text, start, token):
    assert unmatched_paren(text)
    with pytest.raises(SyntaxError, match=f"^{re.escape(unexpected(start, token))}$"):
        safe_eval(text)


@pytest.mark.parametrize("place", PLACES)
@pytest.mark.parametrize(("text", "start", "token"), BREAK_OUTS)
def test_break_out_in_templates_is_refused(place, text, start, token):
    with pytest.raises(SyntaxError, match=re.escape("= Failed to parse expression: " + unexpected(start, token))):
        tp.parse_template(place % text)


EACH_NOT_COMPREHENSION = ("Failed to parse 'each' attribute: Tag '<c-for>' 'each' attribute must be a comprehension "
                          "expression (e.g., 'target in iterable' or 'x in range(3) for y in range(2) if x > y').")


@pytest.mark.parametrize("each", ["x in a) + (b", "x in a)(b", "x in a), (b", "x in a) or (b", "x in xs if x) * (y"])
@pytest.mark.parametrize("place", ['<c-for each="%s"></c-for>', '<c-Comp><c-for each="%s"></c-for></c-Comp>'])
def test_loop_header_that_closes_the_wrapping_is_no_comprehension(place, each):
    template = place % each
    with pytest.raises(SyntaxError, match=re.escape(EACH_NOT_COMPREHENSION)) as caught:
        tp.parse_template(template)
    # At the value, as every refusal of the header as a whole.
    assert f" --> 1:{template.index(each) + 1}\n" in str(caught.value)


def test_loop_header_that_closes_the_wrapping_keeps_the_parse_error():
    with pytest.raises(SyntaxError, match=re.escape("Failed to parse 'each' attribute: Parse error: Unexpected token at "
                                                    "the end of an expression at byte range 8..11: 'for'")):
        tp.parse_template('<c-for each="x in a) for y in (b"></c-for>')


def test_element_loop_that_closes_the_wrapping_fails_as_an_expression():
    with pytest.raises(SyntaxError, match=re.escape("= Failed to parse expression: " + unexpected(7, "("))):
        tp.parse_template('<li c-for="x in a)(b">')
