"""compile_template: the generated source of hand-built and parsed trees, its
errors, its nesting bound, and that no text of a tree can break or extend the
generated code."""

import unicodedata

import pytest
from hypothesis import given, settings, strategies as st

from lumra_core._rust import template_parser as tp

K = tp.HtmlAttrKind
HEAD = "def generate_template():\n    body = "
TAIL = "\n    return body\n"
RUNTIME_CLASSES = ["ExprNode", "StaticHtmlAttr", "ExprHtmlAttr", "TemplateHtmlAttr", "FillDataBinding",
                   "ElementAttrsNode", "ComponentNode", "SlotNode", "FillNode", "IfNode", "ForNode"]


class Call:
    """What the generated code builds: the class called and its arguments."""

    def __init__(self, *args):
        self.args = args

    def __eq__(self, other):
        return type(self) is type(other) and self.args == other.args

    def __repr__(self):
        return f"{type(self).__name__}{self.args!r}"


RUNTIME = {name: type(name, (Call,), {}) for name in RUNTIME_CLASSES}


def run(source):
    """Compiles and runs generated source; returns the body it builds."""
    namespace = dict(RUNTIME, source="<source>")
    exec(compile(source, "<template>", "exec"), namespace)
    return namespace["generate_template"]()


def body_line(source):
    assert source.startswith(HEAD) and source.endswith(TAIL), source
    return source[len(HEAD):-len(TAIL)]


# ---- hand-built trees ------------------------------------------------------------------

def tok(content, start=0, end=None):
    return tp.Token(content, start, len(content) if end is None else end, (1, 1))


def toks(names):
    return [tok(n) for n in names]


def text(content):
    return tp.TemplateElement.Text(tp.Text(tok(content)))


def expr(value, used=(), start=0, end=None):
    whole = "{{" + value + "}}"
    return tp.TemplateElement.Expr(tp.Expr(tok(whole, start, end), tok(value), toks(used), []))


def attr(key, value=None, kind=K.Static, used=(), quote='"', written=True, pattern=None, span=None):
    start, end = span or (0, len(key))
    outer = tok(quote + value + quote) if value is not None and written else None
    inner = tok(value) if value is not None else None
    return tp.HtmlAttr(tok(key, start, end), tok(key), outer, inner, quote if outer and quote else None, kind, [],
                       toks(used), pattern)


def node(name, attrs=(), body=None, used=(), introduced=(), fills=False, span=None):
    start, end = span or (0, len(name) + 2)
    tag = tp.HtmlStartTag(tok(f"<{name}>", start, end), tok(name), list(attrs), body is None, [])
    if body is None:
        value = tp.Node.SelfClosing(tag, toks(used), toks(introduced), [], fills)
    else:
        close = tp.HtmlEndTag(tok(f"</{name}>", end, end + len(name) + 3), tok(name), [])
        value = tp.Node.WithBody(tag, close, template(*body), toks(used), toks(introduced), [], fills)
    return tp.TemplateElement.Node(value)


def template(*elements):
    return tp.Template(list(elements), [], [], [])


def compiled(*elements):
    return body_line(tp.compile_template(template(*elements)))


def binding(whole=None, fields=(), rest=None):
    return tp.FillDataPattern(tok("data"), None if whole is None else tok(whole),
                              [tp.FillDataField(tok(s), tok(t)) for s, t in fields], None if rest is None else tok(rest))


def nested(depth, wrap, leaf):
    tree = leaf
    for _ in range(depth):
        tree = wrap(tree)
    return template(tree)


CASES = [
    ("empty", [], "[]"),
    ("text, expression, text", [text("a "), expr("user.name", ["user"], 4, 17), text(" b")],
     '["""a """, ExprNode(source, (4, 17,), """user.name""", ("user",)), """ b""",]'),
    ("static attributes", [node("p", [attr("class", "big"), attr("hidden"), attr("x", "", quote="'"),
                                      attr("y", "1", quote="")], [text("t")])],
     '["""<p class=\\"big\\" hidden x y=1>t</p>""",]'),
    ("void and self-closing", [node("br"), node("BR"), node("div")], '["""<br/><BR></BR><div></div>""",]'),
    ("dynamic attributes", [node("input", [attr("class", "big", span=(5, 16)),
                                           attr("value", "v + v", K.Expression, ["v", "v"])])],
     '["""<input""", ElementAttrsNode(source, (0, 7,), (StaticHtmlAttr(source, (5, 16,), """class""", """big""", ()), '
     'ExprHtmlAttr(source, (0, 5,), """value""", """v + v""", ("v", "v",)),), ("v",)), """/>""",]'),
    ("metadata after the attributes", [node("li", [attr("#c-ignore", kind=K.Meta), attr("#c-key", "k", K.Meta, ["k"]),
                                                   attr("id", "a")], [])],
     '["""<li id=\\"a\\" data-lumra-morph=\\"ignore\\" data-lumra-key=\\":""", ExprNode(source, (0, 6,), """k""", ("k",)), '
     '"""\\"></li>""",]'),
    ("template attributes", [node("c-x", [attr("a", "  <>in </>  ", K.Template), attr("b", "<>", K.Template),
                                          attr("c", kind=K.Template)])],
     '[ComponentNode(source, (0, 5,), (TemplateHtmlAttr(source, (0, 1,), """a""", """in """, ()), '
     'TemplateHtmlAttr(source, (0, 1,), """b""", """<>""", ()), TemplateHtmlAttr(source, (0, 1,), """c""", """""", ()),), '
     '[], (), """x""", False),]'),
    ("component", [node("c-MyCard", [attr("#c-key", "k", K.Meta)], [node("c-fill", [attr("name", "a")], [text("x")])],
                        used=["ﬁ", "fi", "b"], fills=True)],
     '[ComponentNode(source, (0, 21,), (), [FillNode(source, (0, 17,), (StaticHtmlAttr(source, (0, 4,), """name""", '
     '"""a""", ()),), ["""x""",], (), ()),], ("fi", "b",), """mycard""", True, '
     'ExprHtmlAttr(source, (0, 6,), """#c-key""", """k""", ())),]'),
    ("fill bindings", [node("c-fill", [attr("data", "d", pattern=binding(whole="ｄ"))]),
                       node("c-fill", [attr("data", "d", pattern=binding(fields=[("a", "a"), ("b", "c")], rest="more"))]),
                       node("c-slot", [attr("data", "d", pattern=binding(fields=[("a", "ﬁ")]))], introduced=["ﬁ"])],
     '[FillNode(source, (0, 8,), (StaticHtmlAttr(source, (0, 4,), """data""", """d""", ()),), [], (), ()), '
     'FillNode(source, (0, 8,), (StaticHtmlAttr(source, (0, 4,), """data""", FillDataBinding((("a", "a",), '
     '("b", "c",),), "more"), ()),), [], (), ()), SlotNode(source, (0, 8,), (StaticHtmlAttr(source, (0, 4,), '
     '"""data""", FillDataBinding((("a", "fi",),), ""), ()),), [], (), ("fi",)),]'),
    ("c-for attribute", [node("li", [attr("c-for", "x in xs", K.Expression, ["xs"])], [expr("x", ["x"])],
                              used=["xs"], introduced=["x"])],
     '[ForNode(source, (((0, 9,), (ExprHtmlAttr(source, (0, 5,), """each""", """x in xs""", ("xs",)),), '
     '["""<li>""", ExprNode(source, (0, 5,), """x""", ("x",)), """</li>""",], ("x",),),), ("xs",)),]'),
    ("c-if and c-for on one element", [node("div", [attr("c-for", "x in xs", K.Expression), attr("c-if", "a", K.Expression)],
                                            [], introduced=["x"])],
     '[IfNode(source, (((0, 11,), (ExprHtmlAttr(source, (0, 4,), """cond""", """a""", ()),), [ForNode(source, '
     '(((0, 11,), (ExprHtmlAttr(source, (0, 5,), """each""", """x in xs""", ()),), ["""<div></div>""",], ("x",),),), ()),], '
     '(),),), ()),]'),
    ("if chain across a comment", [node("c-if", [attr("cond", "a", K.Expression, ["a"])], [text("A")], used=["a"]),
                                   text("\n"), text("\n"), node("c-else", [], [text("B")]), text(" "), text("\n"),
                                   node("p", [], [])],
     '[IfNode(source, (((0, 13,), (ExprHtmlAttr(source, (0, 4,), """cond""", """a""", ("a",)),), ["""A""",], (),), '
     '((0, 17,), (), ["""B""",], (),),), ("a",)), """ \n<p></p>""",]'),
    ("static condition", [node("c-if", [attr("cond", "", K.Expression)], [text("x")])],
     '[IfNode(source, (((0, 13,), (ExprHtmlAttr(source, (0, 4,), """cond""", True, ()),), ["""x""",], (),),), ()),]'),
    ("c-element", [node("c-element", [attr("is", "div"), attr("id", "a")], [text("x")]),
                   node("c-element", [attr("is", "br")], [text(" \n")]),
                   node("c-element", [attr("is", "span"), attr("c-bind", "b", K.Expression)])],
     '["""<div id=\\"a\\">x</div><br/>""", ComponentNode(source, (0, 11,), (StaticHtmlAttr(source, (0, 2,), """is""", '
     '"""span""", ()), ExprHtmlAttr(source, (0, 6,), """c-bind""", """b""", ()),), [], (), """element""", False),]'),
    ("c-component and c-raw", [node("c-component", [attr("is", "Card")]),
                               node("c-raw", [], [text("{{ x }}"), expr("y"), text("!")])],
     '[ComponentNode(source, (0, 13,), (), [], (), """card""", False), """{{ x }}!""",]'),
]

@pytest.mark.parametrize("elements,expected", [pytest.param(e, s, id=i) for i, e, s in CASES])
def test_generated_source(elements, expected):
    source = tp.compile_template(template(*elements))
    assert body_line(source) == expected
    run(source)


ERRORS = [
    ("is and c-is", [node("c-element", [attr("is", "p"), attr("c-is", "x", K.Expression)])], SyntaxError,
     "<c-element> accepts either 'is' or 'c-is', not both"),
    ("bad element name", [node("c-element", [attr("is", 'my "tag"\n')])], SyntaxError,
     '<c-element>: "my \\"tag\\"\\n" is not a valid HTML tag name'),
    ("void with children", [node("c-element", [attr("is", "br")], [text("x")])], SyntaxError,
     "<c-element>: void element 'br' cannot have children"),
    ("error in a body keeps its kind", [node("c-x", [], [node("c-component", [attr("is", "a"), attr("c-is", "b")])])],
     SyntaxError, "<c-component> accepts either 'is' or 'c-is', not both"),
    ("meta on a slot", [node("c-slot", [attr("#c-key", "k", K.Meta)])], ValueError,
     "Internal error: '#c-*' attribute '#c-key' reached ordinary attribute compilation"),
    ("meta on a component", [node("c-x", [attr("#c-ignore", kind=K.Meta)])], ValueError,
     "Internal error: unexpected '#c-*' attribute '#c-ignore' on component tag"),
    ("other meta on an element", [node("p", [attr("#c-x", kind=K.Meta)])], ValueError,
     "Internal error: unexpected '#c-*' attribute '#c-x' reached the compiler (the parser accepts only '#c-key' and "
     "'#c-ignore')"),
    ("key without value", [node("p", [attr("#c-key", kind=K.Meta)])], ValueError,
     "Internal error: '#c-key' reached the compiler without its expression value"),
]


@pytest.mark.parametrize("lang", [None, "go"])
@pytest.mark.parametrize("elements,exc,message", [pytest.param(e, x, m, id=i) for i, e, x, m in ERRORS])
def test_compile_errors(elements, exc, message, lang):
    # The compiler runs first: its error wins over the backend's.
    with pytest.raises(exc) as info:
        tp.compile_template(template(*elements), lang=lang)
    assert type(info.value) is exc and str(info.value) == "Compile error: " + message


# ---- nesting -----------------------------------------------------------------------------

NESTINGS = [
    ("components", lambda inner: node("c-x", [], [inner])),
    ("slots", lambda inner: node("c-slot", [attr("name", "s")], [inner])),
    ("if attributes", lambda inner: node("p", [attr("c-if", "a", K.Expression)], [inner])),
    ("dynamic elements in components",
     lambda inner: node("c-x", [], [node("p", [attr("a", "b", K.Expression)], [inner])])),
]


@pytest.mark.parametrize("wrap", [pytest.param(w, id=i) for i, w in NESTINGS])
def test_nesting_bound(wrap):
    leaf = node("p", [attr("c", "", K.Template, pattern=binding(fields=[("a", "b")]))])
    depth = 1
    while True:
        try:
            source = tp.compile_template(nested(depth, wrap, leaf))
        except ValueError as error:
            assert "nested too deeply" in str(error)
            break
        run(source)  # compiles right up to the bound
        depth += 1
    assert depth > 20
    with pytest.raises(ValueError, match="nested too deeply"):
        tp.compile_template(nested(50_000, wrap, leaf))


# ---- no text breaks the source -----------------------------------------------------------

# Quotes, backslashes and line ends of every kind, NUL, and characters that
# NFKC turns into quotes and backslashes.
NASTY = st.lists(st.sampled_from(list('"\'\\\n\r\x00\t{}()[] a#＂＼\u2028\x0b\x0cé☃') + ['"""']),
                 max_size=12).map("".join)


@settings(max_examples=300, deadline=None)
@given(a=NASTY, b=NASTY, c=NASTY, d=NASTY)
def test_no_text_escapes_its_literal(a, b, c, d):
    """Every text of the tree comes back from the generated code unchanged
    (names in their NFKC form where the runtime compares them)."""
    tree = template(
        text(a),
        expr(b, [c, d]),
        node("c-fill", [attr(a, b, pattern=binding(fields=[(c, d)], rest=a)), attr("x", c, K.Expression, [d])],
             [text(c)], used=[a], introduced=[b]),
        node("c-for", [attr("each", d, K.Expression, [c])], [text(b)], used=[c, c], introduced=[a]),
        node("c-fill", [attr("data", "v", pattern=binding(whole=c))]),
        node("p", [attr(b, c, written=False), attr("k", a, K.Expression)], [text(d)]),
        node(d, [attr(b, c, written=False)], [text(a)]),
    )
    nfkc = lambda s: unicodedata.normalize("NFKC", s)
    R = RUNTIME
    attr_value = lambda v: v or True
    static_markup = f'{b}="{c.replace(chr(34), "&quot;")}"' if c else b
    assert run(tp.compile_template(tree)) == [
        a,
        R["ExprNode"]("<source>", (0, len(b) + 4), b, (c, d)),
        R["FillNode"]("<source>", (0, 17), (
            R["StaticHtmlAttr"]("<source>", (0, len(a)), a, R["FillDataBinding"](((c, nfkc(d)),), nfkc(a)), ()),
            R["ExprHtmlAttr"]("<source>", (0, 1), "x", attr_value(c), (d,))), [c], (nfkc(a),), (nfkc(b),)),
        R["ForNode"]("<source>", (((0, 15), (R["ExprHtmlAttr"]("<source>", (0, 4), "each", attr_value(d), (c,)),), [b],
                                   (nfkc(a),)),), (c,)),
        R["FillNode"]("<source>", (0, 8), (R["StaticHtmlAttr"]("<source>", (0, 4), "data", nfkc(c), ()),), [], (), ()),
        "<p",
        R["ElementAttrsNode"]("<source>", (0, 3), (R["StaticHtmlAttr"]("<source>", (0, len(b)), b, attr_value(c), ()),
                                                   R["ExprHtmlAttr"]("<source>", (0, 1), "k", attr_value(a), ())), ()),
        f">{d}</p><{d} {static_markup}>{a}</{d}>",
    ]


def test_value_without_written_form_is_quoted():
    assert compiled(node("p", [attr("t", 'a"b', written=False)], [])) == '["""<p t=\\"a&quot;b\\"></p>""",]'


def test_template_unchanged_and_compiles_again():
    t = template(node("c-x", [attr("c-if", "a", K.Expression, ["a"])], [text("x")], used=["a"]))
    before = repr(t)
    first = tp.compile_template(t)
    assert repr(t) == before and tp.compile_template(t) == first
