"""safe_eval through the module: rewritten source text and error messages."""

import pytest

from lumra_core._rust import safe_eval as safe_eval_module

safe_eval = safe_eval_module.safe_eval


def v(name, start, end):
    """The printed `variable` call for a name at start..end."""
    return f"variable(context, source, ({start}, {end}), {name!r})"


REWRITES = [
    # Names, operators and literals.
    ("my_var + 1", f"{v('my_var', 0, 6)} + 1"),
    ("a + a", f"{v('a', 0, 1)} + {v('a', 4, 5)}"),
    ("1 + 2.5 * -3", "1 + 2.5 * -3"),
    # A tuple at the top level prints bare.
    ("('a', b'x', None, True, ...)", "'a', b'x', None, True, ..."),
    # ... unless it holds a starred element: "a, *b" alone is not an expression.
    ("(a, *b)", f"({v('a', 1, 2)}, *{v('b', 5, 6)})"),
    ("not a < b", f"not {v('a', 4, 5)} < {v('b', 8, 9)}"),
    ("x if y else z", f"{v('x', 0, 1)} if {v('y', 5, 6)} else {v('z', 12, 13)}"),
    ("", "()"),
    # Byte offsets count bytes; names are stored NFKC-normalised.
    ("\u00e9 + 1", f"{v(chr(0xE9), 0, 2)} + 1"),
    ("\ufb01", v("fi", 0, 3)),
    # A name stored as a keyword ("\u2115one" as None) is written as spelled
    # where it stays bare, and goes into strings in its stored form.
    (
        "lambda \u2115one: f(\U0001d422\U0001d41f=\u2115one) + "
        "[\U0001d422\U0001d41f.\u2115one for \U0001d422\U0001d41f in \u2115one]",
        f"lambda \u2115one: call(context, source, (15, 33), {v('f', 15, 16)}, \U0001d422\U0001d41f=\u2115one) + "
        "[attribute(context, source, (37, 52), \U0001d422\U0001d41f, 'None') for \U0001d422\U0001d41f in \u2115one]",
    ),
    # Line breaks and comments do not disturb offsets.
    ("a\n+ b", f"{v('a', 0, 1)} + {v('b', 4, 5)}"),
    ("x # note", v("x", 0, 1)),
    # Attributes, calls, subscripts and slices.
    ("obj.attr", f"attribute(context, source, (0, 8), {v('obj', 0, 3)}, 'attr')"),
    ("foo()", f"call(context, source, (0, 5), {v('foo', 0, 3)})"),
    (
        "a.b(c)",
        f"call(context, source, (0, 6), attribute(context, source, (0, 3), {v('a', 0, 1)}, 'b'), {v('c', 4, 5)})",
    ),
    (
        "foo(1, 2, a=3, *args, **kwargs)",
        f"call(context, source, (0, 31), {v('foo', 0, 3)}, 1, 2, a=3, *{v('args', 16, 20)}, **{v('kwargs', 24, 30)})",
    ),
    # Keyword and starred arguments keep their source order.
    ("f(a=1, *b)", f"call(context, source, (0, 10), {v('f', 0, 1)}, a=1, *{v('b', 8, 9)})"),
    (
        "f(x for x in y)",
        f"call(context, source, (0, 15), {v('f', 0, 1)}, (x for x in {v('y', 13, 14)}))",
    ),
    (
        "obj[:]",
        f"subscript(context, source, (0, 6), {v('obj', 0, 3)}, slice(context, source, (4, 5), None, None, None))",
    ),
    (
        "obj[1:10:2]",
        f"subscript(context, source, (0, 11), {v('obj', 0, 3)}, slice(context, source, (4, 10), 1, 10, 2))",
    ),
    (
        "obj[a, 1:]",
        f"subscript(context, source, (0, 10), {v('obj', 0, 3)}, "
        f"({v('a', 4, 5)}, slice(context, source, (7, 9), 1, None, None)))",
    ),
    ("{**d, 'k': v}", f"{{**{v('d', 3, 4)}, 'k': {v('v', 11, 12)}}}"),
    # Assignment expressions.
    ("(y := 1) + y", f"assign(context, source, (1, 7), 'y', 1) + {v('y', 11, 12)}"),
    # `:=` goes through `assign`, so even a sandbox name can be its target.
    ("(context := 1)", "assign(context, source, (1, 13), 'context', 1)"),
    ("context", v("context", 0, 7)),
    # Lambdas and comprehensions bind their names.
    ("lambda x: x + my_var", f"lambda x: x + {v('my_var', 14, 20)}"),
    ("lambda x=x: x", f"lambda x={v('x', 9, 10)}: x"),
    ("lambda *a, **k: a + k", "lambda *a, **k: a + k"),
    ("[y for x in xs if x]", f"[{v('y', 1, 2)} for x in {v('xs', 12, 14)} if x]"),
    ("[x for x in x]", f"[x for x in {v('x', 12, 13)}]"),
    ("[x for x in (y := x)]", f"[x for x in assign(context, source, (13, 19), 'y', {v('x', 18, 19)})]"),
    ("{k: v for k, (v, w) in items}", f"{{k: v for k, (v, w) in {v('items', 23, 28)}}}"),
    ("lambda x: [x for y in z]", f"lambda x: [x for y in {v('z', 22, 23)}]"),
    # f-strings and t-strings.
    ('f"{x}"', f"format(context, source, (0, 6), '{{}}', ({v('x', 3, 4)}, None, ''))"),
    ('f"{x=}"', f"format(context, source, (0, 7), '{{}}', ({v('x', 3, 4)}, None, ''))"),
    (
        'f"Hello {price!r:.2f}"',
        f"format(context, source, (0, 22), 'Hello {{}}', ({v('price', 9, 14)}, 'r', '.2f'))",
    ),
    (
        'f"{x:{w}}"',
        f"format(context, source, (0, 10), '{{}}', ({v('x', 3, 4)}, None, ('{{}}', {v('w', 6, 7)})))",
    ),
    ('"a" f"{x}"', f"format(context, source, (0, 10), 'a{{}}', ({v('x', 7, 8)}, None, ''))"),
    ('f"{{}} {x}"', f"format(context, source, (0, 11), '{{{{}}}} {{}}', ({v('x', 8, 9)}, None, ''))"),
    (
        't"Hello {name!r:>10}"',
        f"template(context, source, (0, 21), 'Hello ', "
        f"interpolation(context, source, (8, 20), {v('name', 9, 13)}, '', 'r', '>10'))",
    ),
    (
        't"{x:{w}}"',
        f"template(context, source, (0, 10), "
        f"interpolation(context, source, (2, 9), {v('x', 3, 4)}, '', None, '{{}}'.format({v('w', 6, 7)})))",
    ),
]


@pytest.mark.parametrize(("source", "expected"), REWRITES, ids=[s for s, _ in REWRITES])
def test_rewrites(source, expected):
    assert safe_eval(source) == expected


def unsupported(debug):
    return f"Validation Error: Unsupported expression: {debug}"


def name_debug(start, end, ident, ctx="Load"):
    return f'Name(ExprName {{ node_index: NodeIndex(None), range: {start}..{end}, id: Name("{ident}"), ctx: {ctx} }})'


ERRORS = [
    # Parse errors: ranges in the caller's text; a snippet only inside it.
    ("a b", "Parse error: Expected `)`, found name at byte range 2..3: 'b'"),
    ("x)", "Parse error: Unexpected token at the end of an expression at byte range 3..4"),
    # The error lies at the parenthesis the wrapping adds: past the source, no snippet.
    ("1 +", "Parse error: Expected an expression at byte range 4..5"),
    ('"""x', "Parse error: missing closing quote in string literal at byte range 0..6"),
    # Offsets count bytes; the snippet is whole characters.
    ("\u00e9 \u00e9", "Parse error: Expected `)`, found name at byte range 3..5: '\u00e9'"),
    # Refused constructs.
    ("[x async for x in y]", "Validation Error: Async comprehensions are not allowed for security reasons"),
    (
        "await x",
        unsupported(f"Await(ExprAwait {{ node_index: NodeIndex(None), range: 2..9, value: {name_debug(8, 9, 'x')} }})"),
    ),
    ("(yield)", unsupported("Yield(ExprYield { node_index: NodeIndex(None), range: 3..8, value: None })")),
    (
        "[a for [a] in b]",
        "Validation Error: Unsupported target type in comprehension: "
        f"List(ExprList {{ node_index: NodeIndex(None), range: 9..12, elts: [{name_debug(10, 11, 'a', 'Store')}], "
        "ctx: Store })",
    ),
    # Assignment expressions that rebind a bound name; the last recorded wins.
    ("[(x := 1) for x in xs]", "SyntaxError: assignment expression cannot rebind comprehension iteration variable 'x'"),
    ("lambda p: (p := 1)", "SyntaxError: assignment expression cannot rebind lambda parameter 'p'"),
    # The first iterable is rewritten outside the comprehension, but `:=` there
    # still may not rebind one of the comprehension's targets.
    ("[x for x in (x := y)]", "SyntaxError: assignment expression cannot rebind comprehension iteration variable 'x'"),
    (
        "(lambda a: (a := 1)) + [(b := 2) for b in c]",
        "SyntaxError: assignment expression cannot rebind comprehension iteration variable 'b'",
    ),
    # Binding a sandbox name would capture the rewritten calls in that scope.
    (
        "[o.secret for context in [d]]",
        "Validation Error: 'context' is a name of the sandbox and cannot be bound by a lambda parameter or a "
        "comprehension target",
    ),
    (
        "lambda x, attribute: x.y",
        "Validation Error: 'attribute' is a name of the sandbox and cannot be bound by a lambda parameter or a "
        "comprehension target",
    ),
    # A refused construct wins over an earlier recorded error.
    (
        "(lambda p: (p := 1)) + await x",
        unsupported(
            f"Await(ExprAwait {{ node_index: NodeIndex(None), range: 25..32, value: {name_debug(31, 32, 'x')} }})"
        ),
    ),
]


@pytest.mark.parametrize(("source", "message"), ERRORS, ids=[s for s, _ in ERRORS])
def test_errors(source, message):
    with pytest.raises(SyntaxError) as info:
        safe_eval(source)
    assert info.value.args == (message,)


def test_argument_must_be_str():
    with pytest.raises(TypeError) as info:
        safe_eval(1)
    assert str(info.value) == "argument 'source': 'int' object cannot be cast as 'str'"
    assert safe_eval(source="x") == v("x", 0, 1)


def test_deep_nesting_is_an_error_not_a_crash():
    with pytest.raises(SyntaxError):
        safe_eval("(" * 10000 + "x" + ")" * 10000)
    with pytest.raises(SyntaxError):
        safe_eval("+".join(["a"] * 20000))


# Each link of a chain becomes one more call around the last, so a chain the
# parser takes can print deeper than Python compiles (200 open brackets).
@pytest.mark.parametrize(
    "make",
    [
        lambda n: "x" + ".a" * n,
        lambda n: "x" + "[0]" * n,
        lambda n: "f" + "()" * n,
        lambda n: "x" + ".a()" * (n // 2),
        lambda n: "f(" * 30 + "x" + ".a" * (n - 30) + ")" * 30,
        lambda n: "'(' + x" + ".a" * n,
    ],
    ids=["attributes", "subscripts", "calls", "methods", "inside calls", "after a string"],
)
def test_output_python_cannot_compile_is_refused(make):
    results = {}
    for n in range(185, 215):
        try:
            results[n] = safe_eval(make(n))
        except SyntaxError as error:
            assert str(error) == "Validation Error: Expression is too deeply nested"
            results[n] = None
            continue
        compile(results[n], "<safe_eval>", "eval")
    # Both sides of the limit are reached.
    assert results[185] is not None
    assert results[214] is None
