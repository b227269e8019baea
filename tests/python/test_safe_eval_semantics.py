"""Property: evaluating the sandboxed text with plain sandbox functions gives what
Python gives for the original text: the same value, or the same exception type
(for f-strings any exception but a missing name, since a `format` call evaluates
all fields before it formats any)."""

import builtins
import types
import warnings

from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

from lumra_core._rust import safe_eval as safe_eval_module

safe_eval = safe_eval_module.safe_eval


def initial_values():
    return {
        "a": 3,
        "b": -2,
        "c": 7,
        "s": "hello",
        "xs": [1, 2, 3, 4],
        "d": {"k": 1, "j": 2},
        "o": types.SimpleNamespace(p=5, q="z"),
        "f": lambda *args, **kwargs: (args, sorted(kwargs.items())),
        # Names that comprehensions, lambdas and `:=` also bind.
        "v": 10,
        "w": 20,
        "t": 0,
        "len": len,
        "abs": abs,
        "min": min,
        "max": max,
        "sum": sum,
        "str": str,
        "list": list,
        "zip": zip,
    }


class UnknownName(Exception):
    """A name the sandbox was asked for but never defined: a rewrite fault."""


def sandbox(context):
    def variable(context, source, pos, name, /):
        if name not in context:
            raise UnknownName(name)
        return context[name]

    def call(context, source, pos, func, /, *args, **kwargs):
        return func(*args, **kwargs)

    def attribute(context, source, pos, obj, name, /):
        return getattr(obj, name)

    def subscript(context, source, pos, obj, key, /):
        return obj[key]

    def slice_(context, source, pos, lower, upper, step, /):
        return slice(lower, upper, step)

    def assign(context, source, pos, name, value, /):
        context[name] = value
        return value

    def convert(value, conversion):
        return {"r": repr, "s": str, "a": ascii, None: lambda x: x}[conversion](value)

    def format_(context, source, pos, text, /, *fields):
        parts = []
        for value, conversion, spec in fields:
            if isinstance(spec, tuple):
                spec = spec[0].format(*spec[1:])
            parts.append(builtins.format(convert(value, conversion), spec))
        return text.format(*parts)

    return {
        "__builtins__": {},
        "context": context,
        "source": None,
        "variable": variable,
        "call": call,
        "attribute": attribute,
        "subscript": subscript,
        "slice": slice_,
        "assign": assign,
        "format": format_,
    }


VALUE_NAMES = ["a", "b", "c", "s", "xs", "d", "o", "v", "w", "t"]
INT_LITERALS = ["0", "1", "2", "-1", "3"]
# Line breaks in bodies read as Python reads them: CR and CRLF are a line feed, raw or not.
STR_LITERALS = ["'x'", "'k'", "''", "'a{b}'", "'''a\r\nb\rc'''", "r'''\\\r\n'''", "'''\\\r\n\\r'''", "b'''\r\n'''"]


@st.composite
def expr(draw, depth=0, in_lambda=False, in_iterable=False):
    """Source text of an expression. `:=` stays out of lambda bodies (where Python
    binds it locally and the sandbox in the context) and out of comprehension
    iterables (where Python refuses it)."""
    if depth >= 3 or draw(st.integers(0, 3)) == 0:
        return draw(st.sampled_from(VALUE_NAMES + INT_LITERALS + STR_LITERALS))
    sub = lambda: draw(expr(depth + 1, in_lambda, in_iterable))  # noqa: E731
    forms = [
        "binop", "compare", "unary", "boolop", "ifexp", "call", "method", "attr", "index", "slice",
        "listcomp", "dictcomp", "genexp", "lambda", "fstring", "tuple", "dict", "starcall",
    ]
    if not in_lambda and not in_iterable:
        forms.append("walrus")
    form = draw(st.sampled_from(forms))
    if form == "binop":
        # No `*`: nested products would make huge repeated strings.
        return f"({sub()} {draw(st.sampled_from(['+', '-', '//', '%', '&', '|']))} {sub()})"
    if form == "compare":
        ops = draw(st.lists(st.sampled_from(["<", "<=", "==", "!=", ">", "in", "not in"]), min_size=1, max_size=2))
        text = sub()
        for op in ops:
            text += f" {op} {sub()}"
        return f"({text})"
    if form == "unary":
        return f"({draw(st.sampled_from(['-', 'not ', '~']))}{sub()})"
    if form == "boolop":
        return f"({sub()} {draw(st.sampled_from(['and', 'or']))} {sub()})"
    if form == "ifexp":
        return f"({sub()} if {sub()} else {sub()})"
    if form == "call":
        fn = draw(st.sampled_from(["f", "len", "abs", "min", "max", "str", "list"]))
        args = [sub() for _ in range(draw(st.integers(0, 2)))]
        if fn == "f" and draw(st.booleans()):
            args.append(f"key={sub()}")
        return f"{fn}({', '.join(args)})"
    if form == "starcall":
        return f"f(*{sub()}, **d)"
    if form == "method":
        return f"({sub()}).{draw(st.sampled_from(['upper()', 'count(1)', 'get(' + repr('k') + ')', 'index(2)']))}"
    if form == "attr":
        return f"({draw(st.sampled_from(['o', sub()]))}).{draw(st.sampled_from(['p', 'q', 'real']))}"
    if form == "index":
        return f"({sub()})[{sub()}]"
    if form == "slice":
        parts = [draw(st.sampled_from(["", sub()])) for _ in range(3)]
        return f"({sub()})[{parts[0]}:{parts[1]}:{parts[2]}]"
    if form == "listcomp":
        iterable = draw(expr(depth + 1, in_lambda, True))
        return f"[{sub()} for v in {iterable} if {sub()}]"
    if form == "dictcomp":
        iterable = draw(expr(depth + 1, in_lambda, True))
        return f"{{v: {sub()} for v, w in zip(xs, {iterable})}}"
    if form == "genexp":
        iterable = draw(expr(depth + 1, in_lambda, True))
        return f"list({sub()} for v in {iterable} for w in xs)"
    if form == "lambda":
        body = draw(expr(depth + 1, True, in_iterable))
        default = sub()
        return f"(lambda v, w={default}: {body})({sub()})"
    if form == "fstring":
        conv = draw(st.sampled_from(["", "!r", "!s", "!a"]))
        spec = draw(st.sampled_from(["", ":>6", ":^{a}", ":{v}"]))
        # Literal braces around the first field: they must come out as written.
        prefix, sep = draw(st.sampled_from([("f", "|"), ("f", "\r\n"), ("rf", "\\\r"), ("f", "\\r\r")]))
        return prefix + '"""<{{{' + sub() + conv + spec + '}}}' + sep + '{' + sub() + '}>"""'
    if form == "tuple":
        return f"({sub()}, {sub()})"
    if form == "dict":
        return f"{{'k': {sub()}, **d}}"
    if form == "walrus":
        return f"(t := {sub()})"
    raise AssertionError(form)


def outcome(thunk):
    try:
        return ("value", thunk())
    except Exception as exc:  # noqa: BLE001 - the type is what is compared
        return ("raises", type(exc))


@settings(max_examples=3000, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(expr())
def test_sandboxed_evaluation_matches_python(source):
    with warnings.catch_warnings():
        # Generated code may index with tuples or invert booleans: Python warns.
        warnings.simplefilter("ignore")
        try:
            code = compile(source, "<expr>", "eval")
        except SyntaxError:
            assume(False)
        expected = outcome(lambda: eval(code, initial_values()))
        rewritten = safe_eval(source)
        actual = outcome(lambda: eval(rewritten, sandbox(initial_values())))
    if expected[0] == "raises" and actual[0] == "raises" and 'f"' in source:
        # An f-string becomes one `format` call: all its fields are evaluated
        # before any is formatted, so which error comes first may differ.
        assert actual[1] not in (NameError, UnknownName), rewritten
    else:
        assert actual == expected, rewritten
