"""Deep nesting in every input language ends in a clear error or a correct
result, never a crash: Python expressions (safe_eval), HTML (transform_html,
mark_html), templates (parse_template) and syntax trees built from Python.

Every case runs in a child process, so a stack overflow fails its test (with
the signal named) instead of killing the test run. The child prints one JSON
line describing the outcome; the parent checks it.
"""

from __future__ import annotations

import json
import os
import signal
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

SANITIZE = os.environ.get("LUMRA_SANITIZE") == "1"
N = 100_000
# Generous: the sanitizer build is many times slower, and some inputs are
# several megabytes long.
TIMEOUT = 600 if SANITIZE else 120

PRELUDE = textwrap.dedent("""
    import gc, json, sys, threading
    from lumra_core._rust import html_transform as ht, safe_eval as se, template_parser as tp
    N = {n}

    def report(**fields):
        print(json.dumps(fields))

    def outcome(call):
        try:
            return {{"result": call()}}
        except Exception as e:
            return {{"error": type(e).__name__, "message": str(e)[:300]}}
""")


def run_child(body: str, timeout: float = TIMEOUT) -> dict:
    """Runs PRELUDE + body in a fresh interpreter; returns the JSON it printed."""
    script = PRELUDE.format(n=N) + textwrap.dedent(body)
    try:
        proc = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        pytest.fail(f"no answer within {timeout} s")
    if proc.returncode < 0:
        pytest.fail(f"child killed by {signal.Signals(-proc.returncode).name}\n{proc.stderr[-3000:]}")
    assert proc.returncode == 0, f"child exited with {proc.returncode}\n{proc.stderr[-3000:]}"
    lines = proc.stdout.strip().splitlines()
    assert lines, f"child printed nothing\n{proc.stderr[-3000:]}"
    return json.loads(lines[-1])


# ---- safe_eval ---------------------------------------------------------------------------------

NESTED = "nested"  # SyntaxError saying the expression is nested too deeply
RESULT = "result"  # a rewritten expression

# (id, Python expression building the source from N, accepted outcomes,
#  for a result: how many names it must send through variable(...))
SAFE_EVAL_CASES = [
    # brackets of every kind, open and closed or left open
    ("parentheses", "'(' * N + 'x' + ')' * N", {NESTED}, None),
    ("brackets", "'[' * N + 'x' + ']' * N", {NESTED}, None),
    ("braces", "'{' * N + 'x' + '}' * N", {NESTED}, None),
    ("mixed brackets", "'([{' * N + 'x' + '}])' * N", {NESTED}, None),
    ("empty parentheses", "'(' * N + ')' * N", {NESTED}, None),
    ("unclosed parentheses", "'(' * N", {NESTED}, None),
    ("dict values", "\"{'a': \" * N + '1' + '}' * N", {NESTED}, None),
    ("starred", "'[*' * N + 'x' + ']' * N", {NESTED}, None),
    ("double starred", "'{**' * N + 'x' + '}' * N", {NESTED}, None),
    ("calls", "'f(' * N + ')' * N", {NESTED}, None),
    ("starred call arguments", "'f(*' * N + 'x' + ')' * N", {NESTED}, None),
    ("keyword arguments", "'f(a=' * N + '1' + ')' * N", {NESTED}, None),
    ("subscripts", "'x[' * N + '1' + ']' * N", {NESTED}, None),
    ("slices", "'x[::' * N + '1' + ']' * N", {NESTED}, None),
    ("generators", "'(x for x in ' * N + 'y' + ')' * N", {NESTED}, None),
    ("walrus", "'(x := ' * N + '1' + ')' * N", {NESTED}, None),
    # prefix operators and lambdas
    ("lambdas", "'lambda: ' * N + 'x'", {NESTED}, None),
    ("lambda defaults", "'lambda x=' * N + '1: x'", {NESTED}, None),
    ("unary minus", "'-' * N + 'x'", {NESTED}, None),
    ("unary tilde", "'~' * N + 'x'", {NESTED}, None),
    ("not", "'not ' * N + 'x'", {NESTED}, None),
    ("await", "'await ' * N + 'x'", {NESTED}, None),
    ("minus power", "'-a**' * N + 'b'", {NESTED}, None),
    ("conditional expressions", "'a if b else ' * N + 'c'", {NESTED}, None),
    ("conditionals in lambdas", "'lambda: a if b else ' * N + 'c'", {NESTED}, None),
    # f-strings and t-strings
    ("f-strings", "\"f'{\" * N + 'x' + \"}'\" * N", {NESTED}, None),
    ("f-strings unclosed", "\"f'{\" * N", {NESTED}, None),
    ("t-strings", "\"t'{\" * N + 'x' + \"}'\" * N", {NESTED}, None),
    ("f-strings in format specs", "\"f'{x:{\" * N + 'y' + \"}}'\" * N", {NESTED}, None),
    ("conditionals in an f-string", "\"f'{\" + 'a if b else ' * N + \"c}'\"", {NESTED}, None),
    ("format specs", "\"f'{x:\" + '{y:' * N + 'z' + '}' * N + \"}'\"", {NESTED}, None),
    # long chains
    ("a+a+...", "'+'.join(['a'] * N)", {NESTED}, None),
    ("a*a*...", "'*'.join(['a'] * N)", {NESTED}, None),
    ("a|a|...", "'|'.join(['a'] * N)", {NESTED}, None),
    ("a**a**...", "'**'.join(['a'] * N)", {NESTED}, None),
    ("f()()...", "'f' + '()' * N", {NESTED}, None),
    ("x.a.b...", "'x' + '.a' * N", {NESTED}, None),
    ("x[0][0]...", "'x' + '[0]' * N", {NESTED}, None),
    # chains that are flat trees: a result, each name rewritten once
    ("a<a<...", "'<'.join(['a'] * N)", {NESTED, RESULT}, N),
    ("a and a and ...", "' and '.join(['a'] * N)", {NESTED, RESULT}, N),
    ("a or not a or ...", "' or not '.join(['a'] * N)", {NESTED, RESULT}, N),
    ("a in a in ...", "' in '.join(['a'] * N)", {NESTED, RESULT}, N),
    ("tuple a, a, ...", "','.join(['a'] * N)", {NESTED, RESULT}, N),
    ("call arguments", "'f(' + ','.join(['a'] * N) + ')'", {NESTED, RESULT}, N + 1),
    ("comprehension conditions", "'[x for x in y ' + 'if a ' * N + ']'", {NESTED, RESULT}, N + 1),
    ("implicit concatenation", "\"'a' \" * N", {NESTED, RESULT}, 0),
    ("f-string concatenation", "\"f'{a}' \" * N", {NESTED, RESULT}, N),
]

def safe_eval_params():
    for case_id, source, accepted, names in SAFE_EVAL_CASES:
        yield pytest.param(source, accepted, names, id=case_id)


def check_safe_eval(out, accepted, names):
    if "error" in out:
        assert NESTED in accepted, f"unexpected error: {out}"
        assert out["error"] == "SyntaxError", out
        assert "too deeply nested" in out["message"], out
    else:
        assert RESULT in accepted, f"expected an error, got a result: {out}"
        assert out["result"]["names"] == names, out


@pytest.mark.parametrize(("source", "accepted", "names"), list(safe_eval_params()))
def test_safe_eval_deep_input(source, accepted, names):
    out = run_child(f"""
        source = {source}
        def call():
            text = se.safe_eval(source)
            return {{"names": text.count("variable(context, source, (")}}
        report(**outcome(call))
    """)
    check_safe_eval(out, accepted, names)


@pytest.mark.skipif(SANITIZE, reason="a time limit means nothing under the sanitizer")
def test_safe_eval_many_comprehension_clauses_in_reasonable_time():
    out = run_child("""
        source = '[x ' + 'for x in y ' * N + ']'
        report(**outcome(lambda: len(se.safe_eval(source))))
    """, timeout=10)
    assert "result" in out or "nested" in out.get("message", ""), out


# The deepest inputs the parser accepts must also fit in a worker thread's
# stack, not only in the main thread's 8 MiB.
STACK_CASES = [
    "'(' * 199 + 'x' + ')' * 199",
    "'[' * 199 + ']' * 199",
    "'-' * 199 + 'x'",
    "'not ' * 199 + 'x'",
    "'lambda: ' * 199 + 'x'",
    "\"f'{\" * 60 + 'x' + \"}'\" * 60",
    "'+'.join(['a'] * 1999)",
    "'x' + '.a' * 1999",
]


@pytest.mark.skipif(SANITIZE, reason="sanitizer frames are several times larger")
# 512 KiB is macOS' default for secondary threads. A release build takes about
# 1.8 KiB per bracket level, so 199 nested parentheses need about 360 KiB.
@pytest.mark.parametrize("stack_kib", [1024, 512])
def test_deepest_accepted_input_fits_a_thread_stack(stack_kib):
    out = run_child(f"""
        threading.stack_size({stack_kib} * 1024)
        sources = [{", ".join(STACK_CASES)}]
        outcomes = []
        def work():
            for s in sources:
                outcomes.append(outcome(lambda: se.safe_eval(s)))
        t = threading.Thread(target=work)
        t.start()
        t.join()
        report(outcomes=outcomes)
    """)
    assert len(out["outcomes"]) == len(STACK_CASES)
    for o in out["outcomes"]:
        assert "result" in o or (o["error"] == "SyntaxError" and "too deeply nested" in o["message"]), o


# ---- safe_eval output at CPython's limits -----------------------------------------------------

# One level of each shape: the text before and after the level inside it.
OUTPUT_SHAPES = [
    ("lists", "[x, ", "]"), ("first items", "[", "]"), ("tuples", "(x, ", ")"), ("sets", "{x, ", "}"),
    ("dict values", "{x: x, x: ", "}"), ("dict keys", "{", ": x}"), ("dict unpacking", "{**", "}"),
    ("calls", "f(", ")"), ("call arguments", "f(x, ", ")"), ("keyword arguments", "f(x=", ")"),
    ("methods", "a.b(x, ", ")"), ("subscripts", "x[", "]"), ("slices", "x[1:", "]"), ("steps", "x[::", "]"),
    ("attributes", "(", ").a"), ("lambdas", "lambda x: ", ""), ("lambda defaults", "(lambda x=", ": x)"),
    ("conditionals", "a if b else ", ""), ("conditions", "[a if ", " else b]"), ("not", "not ", ""),
    ("unary minus", "-", ""), ("powers", "a ** ", ""), ("negated powers", "-a ** ", ""),
    ("comparisons", "[x, a < ", "]"), ("operators", "[x, a or not b and c < d | e * -f ** ", "]"),
    ("f-strings", "f'{ ", " }'"), ("format specs", "f'{x:{ ", " }}'"),
    ("t-strings", "t'{ ", " }'"), ("list comprehensions", "[x for x in y if ", "]"),
    ("comprehension elements", "{", " for x in y}"), ("comprehension iterables", "[x for x in ", "]"),
    ("generators", "(x for x in y if ", ")"), ("walrus", "(y := ", ")"),
    ("lambdas in comprehensions", "[x for x in y if (lambda: ", ")]"),
]

# The child finds how deep each case nests before safe_eval refuses it (for
# nesting, and for nothing else), then compiles the outputs at and just below
# that depth; CPython crashes on some deep texts, so it runs in a child.
LIMIT_CHILD = """
    import json, sys
    def sandboxed(levels, leaf):
        source = leaf
        for opening, closing in reversed(levels):
            source = opening + source + closing
        try:
            return se.safe_eval(source)
        except SyntaxError as e:
            assert "too deeply nested" in str(e), (source, str(e))
            return None
    results = []
    for pattern, leaf in json.loads(sys.argv[1]):
        levels = pattern * (MOST // len(pattern) + 1)
        accepted, refused = 0, MOST
        while refused - accepted > 1:
            middle = (accepted + refused) // 2
            if sandboxed(levels[:middle], leaf) is None:
                refused = middle
            else:
                accepted = middle
        for depth in range(max(0, accepted - 4), accepted + 1):
            compile(sandboxed(levels[:depth], leaf), "<out>", "eval")
        results.append(accepted)
    report(depths=results)
"""


MOST = 260  # levels tried: more than the parser's limits allow


def deepest_compiled(cases):
    """For each (pattern, leaf), how many levels of the repeated pattern safe_eval accepts."""
    out = run_child(LIMIT_CHILD.replace("sys.argv[1]", repr(json.dumps(cases))).replace("MOST", str(MOST)))
    return out["depths"]


@pytest.mark.parametrize("leaf", ["x", "1"])
def test_safe_eval_output_compiles_at_the_limit_of_each_shape(leaf):
    depths = deepest_compiled([([[opening, closing]], leaf) for _, opening, closing in OUTPUT_SHAPES])
    for (name, _, _), depth in zip(OUTPUT_SHAPES, depths):
        assert depth < MOST, name  # a limit was reached
        assert depth >= 20, name  # and is not far below CPython's


@settings(max_examples=60, deadline=None)
@given(st.lists(st.lists(st.sampled_from(OUTPUT_SHAPES), min_size=1, max_size=8), min_size=1, max_size=4),
       st.sampled_from(["x", "1", "x.y", "f(x)[0]"]))
def test_safe_eval_output_compiles_at_the_limit_of_mixtures(patterns, leaf):
    # Each pattern repeats until safe_eval refuses; a parenthesised level
    # keeps the next shape's operand an atom.
    cases = [([[opening, closing] if closing else ["(" + opening, ")"] for _, opening, closing in pattern], leaf)
             for pattern in patterns]
    assert all(depth < MOST for depth in deepest_compiled(cases))


# A generator's code runs inside a handler that takes one of the 20 blocks in
# which CPython 3.12 nests comprehensions: 19 list comprehensions fit around
# it, 20 crash the compiler. (shape from k nested comprehensions)
def nested_lists(k):
    return "[" * k + "x" + " for y in z]" * k


GENERATOR_SHAPES = [
    ("element", lambda k: "(" + nested_lists(k) + " for q in r)"),
    ("condition", lambda k: "(x for q in r if " + nested_lists(k) + ")"),
    ("later iterable", lambda k: "(x for q in r for w in " + nested_lists(k) + ")"),
    ("sole call argument", lambda k: "sum(" + nested_lists(k) + " for q in r)"),
    ("generator in a generator", lambda k: "((" + nested_lists(k) + " for q in r) for s in t)"),
    ("generator in a comprehension", lambda k: "[(" + nested_lists(k) + " for q in r) for y in z]"),
    ("dict comprehensions", lambda k: "(" + "{" * k + "x: 1" + " for y in z}" * k + " for q in r)"),
]


def test_safe_eval_generators_take_a_block():
    # Outside a generator, and in a lambda's body, all 20 stay accepted.
    outside = [nested_lists(20), "lambda: " + nested_lists(20), "(x for q in " + nested_lists(20) + ")"]
    texts = [make(k) for _, make in GENERATOR_SHAPES for k in (19, 20)] + outside
    out = run_child(f"""
        results = []
        for text in {texts!r}:
            try:
                compile(se.safe_eval(text), "<out>", "eval")
                results.append("compiled")
            except SyntaxError as e:
                results.append(str(e))
        report(results=results)
    """)
    results = iter(out["results"])
    for name, _ in GENERATOR_SHAPES:
        assert (next(results), next(results)) == (
            "compiled", "Validation Error: Expression is too deeply nested"), name
    assert list(results) == ["compiled"] * len(outside)


# ---- HTML ----------------------------------------------------------------------------------------

# (id, document from N, number of start tags that get the attribute)
HTML_CASES = [
    ("nested elements", "'<div>' * N + 'x' + '</div>' * N", N),
    ("nested, never closed", "'<div>' * N", N),
    ("nested templates", "'<template>' * N + '</template>' * N", N),
    ("nested with attributes", "'<p data-id=\"1\">' * N + '</p>' * N", N),
    ("nested with void elements", "'<span><br/>' * N + '</span>' * N", 2 * N),
]


@pytest.mark.parametrize(("html", "tags"), [pytest.param(h, t, id=i) for i, h, t in HTML_CASES])
@pytest.mark.parametrize("check_end_names", [False, True])
def test_transform_html_deep(html, tags, check_end_names):
    out = run_child(f"""
        html = {html}
        def call():
            text, tracked = ht.transform_html(html, ["r"], ["a"], check_end_names={check_end_names},
                track_added_attributes_for_tags_with_this_attribute="data-id")
            return {{"roots": text.count(' r=""'), "all": text.count(' a=""'),
                    "rest_is_input": text.replace(' r=""', "").replace(' a=""', "") == html,
                    "tracked": sorted(tracked)}}
        report(**outcome(call))
    """)
    assert "result" in out, out
    result = out["result"]
    assert result["roots"] == 1 and result["all"] == tags and result["rest_is_input"], result


MARK_CASES = [
    ("nested elements", "'<div>' * N + 'x' + '</div>' * N", 0),
    ("nested, never closed", "'<div>' * N", 0),
    ("placeholders in nested elements", "'<div><template ph=\"1\"></template>' * N + '</div>' * N", N),
    ("nested placeholders", "'<template ph=\"1\">' * N + '</template>' * N", None),
    ("nested placeholders, never closed", "'<template ph=\"1\">' * N", None),
]


@pytest.mark.parametrize(("html", "placeholders"), [pytest.param(h, p, id=i) for i, h, p in MARK_CASES])
def test_mark_html_deep(html, placeholders):
    out = run_child(f"""
        html = {html}
        def call():
            segments, found = ht.mark_html(html, ["r"], "ph")
            parts = [segments[0]]
            for (_, text, _), segment in zip(found, segments[1:]):
                parts += [text, segment]
            return {{"segments": len(segments), "placeholders": len(found),
                    "rest_is_input": "".join(parts).replace(' r=""', "") == html}}
        report(**outcome(call))
    """)
    assert "result" in out, out
    result = out["result"]
    assert result["rest_is_input"] and result["segments"] == result["placeholders"] + 1, result
    if placeholders is not None:
        assert result["placeholders"] == placeholders, result


# ---- templates -------------------------------------------------------------------------------------

TEMPLATE_CASES = [
    ("braces in an expression", "'{{ ' + '{' * N + '}' * N + ' }}'"),
    ("unclosed braces in an expression", "'{{ ' + '{' * N"),
    ("parentheses in an expression", "'{{ ' + '(' * N + 'x' + ')' * N + ' }}'"),
    ("f-strings in an expression", "'{{ ' + \"f'{\" * N + 'x' + \"}'\" * N + ' }}'"),
    ("nested elements", "'<div>' * N + '{{ x }}' + '</div>' * N"),
    ("nested elements, never closed", "'<div>' * N"),
    ("nested components", "'<c-card>' * N + '</c-card>' * N"),
    ("nested conditions", "'<c-if cond=\"{{ x }}\">' * N + '</c-if>' * N"),
    ("nested loops", "'<c-for each=\"x in xs\">' * N + '</c-for>' * N"),
    ("nested slots and fills", "'<c-fill name=\"a\"><c-slot name=\"b\">' * N + '</c-slot></c-fill>' * N"),
    ("braces in an attribute", "'<div a=\"{{ ' + '{' * N + '}' * N + ' }}\"></div>'"),
    ("nested comments", "'{# ' * N + ' #}' * N"),
]


@pytest.mark.parametrize("lang", ["python", "js"])
@pytest.mark.parametrize("template", [pytest.param(t, id=i) for i, t in TEMPLATE_CASES])
def test_parse_template_deep(template, lang):
    out = run_child(f"""
        source = {template}
        def call():
            tree = tp.parse_template(source, lang="{lang}")
            assert type(tree) is tp.Template
            return "Template"
        report(**outcome(call))
    """)
    # A tree, or one of the documented errors.
    assert out.get("result") == "Template" or out["error"] in {"SyntaxError", "ValueError"}, out


# ---- syntax trees built from Python ----------------------------------------------------------------

def test_syntax_tree_deep():
    out = run_child("""
        def tok(text):
            return tp.Token(text, 0, len(text), (1, 1))

        def build(depth, leaf):
            tree = tp.Template([tp.TemplateElement.Text(tp.Text(tok(leaf)))], [], [], [])
            start = tp.HtmlStartTag(tok("<div>"), tok("div"), [], False, [])
            end = tp.HtmlEndTag(tok("</div>"), tok("div"), [])
            for _ in range(depth):
                node = tp.Node.WithBody(start, end, tree, [], [], [], False)
                tree = tp.Template([tp.TemplateElement.Node(node)], [], [], [])
            return tree

        a, b, c = build(N, "leaf"), build(N, "leaf"), build(N, "other")
        text = repr(a)
        node = a.elements[0][0]
        inner = node.body
        facts = {
            "equal": a == b and not (a != b),
            "different leaf": a != c and not (a == c),
            "repr nodes": text.count("WithBody"),
            "repr leaf": text.count('"leaf"'),
            "element repr": repr(a.elements[0]).count("WithBody"),
            "node repr": repr(node).count("WithBody"),
            "body is one level less": inner == build(N - 1, "leaf") and inner != a,
            "compile": outcome(lambda: [tp.compile_template(a).count(s) for s in ("<div>", "</div>", ",")]),
        }
        # Copies are independent: dropping the original keeps the others intact.
        del a, node, text
        gc.collect()
        facts["after release"] = inner == build(N - 1, "leaf") and b != c
        del b, c, inner
        gc.collect()
        report(**facts)
    """)
    assert out["equal"] and out["different leaf"], out
    assert out["repr nodes"] == N and out["repr leaf"] == 1, out
    assert out["element repr"] == N and out["node repr"] == N, out
    assert out["body is one level less"] and out["after release"], out
    compiled = out["compile"]
    # Plain elements nest without brackets in the generated code: any depth
    # compiles, to one text (the list's only comma is its trailing one).
    assert compiled.get("result") == [N, N, 1], compiled


# ---- loop headers take the chains that expressions take -----------------------------------------

CHAINS = {
    "attributes": lambda links: "a" + ".b" * links,
    "operators": lambda links: "a" + " + a" * links,
    "calls": lambda links: "a" + "()" * links,
}
# Each form of loop header with the prefix of its refusal; the chain stands in
# an iterable or in a condition.
LOOP_HEADERS = [
    ('<div c-for="{}"></div>', "Failed to parse expression: ", ["x in {c}", "x, y in {c}", "x in y for z in {c}"]),
    ('<c-for each="{}"></c-for>', "Failed to parse 'each' attribute: ",
     ["x in {c}", "x, y in {c}", "x in y if {c}", "x in y for z in {c} if z"]),
]


@pytest.mark.parametrize("chain", list(CHAINS), ids=list(CHAINS))
def test_loop_header_takes_the_chains_that_expressions_take(chain):
    from lumra_core._rust import template_parser as tp

    make = CHAINS[chain]
    assert [t.content for t in tp.parse_template("{{ %s }}" % make(999)).used_variables] == ["a"] * (
        1000 if chain == "operators" else 1)
    with pytest.raises(SyntaxError, match="Expression is too deeply nested"):
        tp.parse_template("{{ %s }}" % make(1000))
    for form, prefix, shapes in LOOP_HEADERS:
        for shape in shapes:
            template = form.format(shape.format(c=make(999)))
            tree = tp.parse_template(template)
            assert "a" in {t.content for t in tree.used_variables}, template[:60]
            assert tp.compile_template(tree).startswith("def generate_template():")
            with pytest.raises(SyntaxError) as refused:
                tp.parse_template(form.format(shape.format(c=make(1000))))
            last = str(refused.value).splitlines()[-1]
            assert last.startswith("  = " + prefix + "Parse error: Expression is too deeply nested at byte range "), (
                template[:60], last)
