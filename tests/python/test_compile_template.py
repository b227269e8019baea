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

def tok(content, start=0):
    return tp.Token(content, start, start + len(content), (1, 1))


def toks(names):
    return [tok(n) for n in names]


def text(content):
    return tp.TemplateElement.Text(tp.Text(tok(content)))


def expr(value, used=()):
    return tp.TemplateElement.Expr(tp.Expr(tok("{{" + value + "}}"), tok(value), toks(used), []))


def attr(key, value=None, kind=K.Static, used=(), written=True, pattern=None):
    outer = tok(f'"{value}"') if value is not None and written else None
    inner = tok(value) if value is not None else None
    return tp.HtmlAttr(tok(key), tok(key), outer, inner, '"' if outer else None, kind, [], toks(used), pattern)


def node(name, attrs=(), body=None, used=(), introduced=(), fills=False):
    tag = tp.HtmlStartTag(tok(f"<{name}>"), tok(name), list(attrs), body is None, [])
    if body is None:
        value = tp.Node.SelfClosing(tag, toks(used), toks(introduced), [], fills)
    else:
        close = tp.HtmlEndTag(tok(f"</{name}>", len(name) + 2), tok(name), [])
        value = tp.Node.WithBody(tag, close, template(*body), toks(used), toks(introduced), [], fills)
    return tp.TemplateElement.Node(value)


def template(*elements):
    return tp.Template(list(elements), [], [], [])


def binding(whole=None, fields=(), rest=None):
    return tp.FillDataPattern(tok("data"), None if whole is None else tok(whole),
                              [tp.FillDataField(tok(s), tok(t)) for s, t in fields], None if rest is None else tok(rest))


def nested(depth, wrap, leaf):
    tree = leaf
    for _ in range(depth):
        tree = wrap(tree)
    return template(tree)


def compile_text(text):
    return tp.compile_template(tp.parse_template(text))


# ---- generated source --------------------------------------------------------------------

SOURCES = [
    ("empty", "", '[]'),
    ("text and expression", "abcd{{user.name}} b",
     '["""abcd""", ExprNode(source, (4, 17,), """user.name""", ("user",)), """ b""",]'),
    ("static attributes", """<p class="big" hidden x="" y=1 z='2'>t</p>""",
     '["""<p class=\\"big\\" hidden x y=1 z=\'2\'>t</p>""",]'),
    ("void and self-closing", "<br><br/><BR/><div/>", '["""<br/><br/><BR></BR><div></div>""",]'),
    ("dynamic attributes", """<input class="big" c-value="v + v" title='t'>""",
     '["""<input""", ElementAttrsNode(source, (0, 45,), (StaticHtmlAttr(source, (7, 18,), """class""", """big""", ()), '
     'ExprHtmlAttr(source, (19, 34,), """c-value""", """v + v""", ("v", "v",)), '
     'StaticHtmlAttr(source, (35, 44,), """title""", """t""", ()),), ("v",)), """/>""",]'),
    ("metadata after the attributes", '<li #c-ignore #c-key="item.id" id="a">x</li>',
     '["""<li id=\\"a\\" data-lumra-morph=\\"ignore\\" data-lumra-key=\\":""", '
     'ExprNode(source, (14, 30,), """item.id""", ("item",)), """\\">x</li>""",]'),
    ("template attributes", '<c-x c-a="  <>in {{ y }} </>  " c-b="<br>"/>',
     '[ComponentNode(source, (0, 44,), (TemplateHtmlAttr(source, (5, 31,), """c-a""", """in {{ y }} """, ("y",)), '
     'TemplateHtmlAttr(source, (32, 42,), """c-b""", """<br>""", ()),), [], ("y",), """x""", False),]'),
    ("component with a key and a fill", '<c-MyCard #c-key="k"><c-fill name="a">x</c-fill></c-MyCard>',
     '[ComponentNode(source, (0, 59,), (), [FillNode(source, (21, 48,), (StaticHtmlAttr(source, (29, 37,), """name""", '
     '"""a""", ()),), ["""x""",], (), ()),], ("k",), """mycard""", True, '
     'ExprHtmlAttr(source, (10, 20,), """#c-key""", """k""", ("k",))),]'),
    ("fill bindings", '<c-x><c-fill name="s" data="d"/><c-fill name="t" data="{ a, b as c, **more }">{{ c }}</c-fill></c-x>',
     '[ComponentNode(source, (0, 100,), (), [FillNode(source, (5, 32,), (StaticHtmlAttr(source, (13, 21,), """name""", '
     '"""s""", ()), StaticHtmlAttr(source, (22, 30,), """data""", """d""", ()),), [], (), ("d",)), '
     'FillNode(source, (32, 94,), (StaticHtmlAttr(source, (40, 48,), """name""", """t""", ()), '
     'StaticHtmlAttr(source, (49, 77,), """data""", FillDataBinding((("a", "a",), ("b", "c",),), "more"), ()),), '
     '[ExprNode(source, (78, 85,), """c """, ("c",)),], (), ("a", "c", "more",)),], (), """x""", True),]'),
    ("slot", '<c-slot name="s">d</c-slot>',
     '[SlotNode(source, (0, 27,), (StaticHtmlAttr(source, (8, 16,), """name""", """s""", ()),), ["""d""",], (), ()),]'),
    ("c-for attribute", '<ul><li c-for="x in xs">{{ x }}</li></ul>',
     '["""<ul>""", ForNode(source, (((4, 36,), (ExprHtmlAttr(source, (8, 23,), """each""", """x in xs""", ("xs",)),), '
     '["""<li>""", ExprNode(source, (24, 31,), """x """, ("x",)), """</li>""",], ("x",),),), ("xs",)), """</ul>""",]'),
    ("c-if and c-for on one element", '<div c-if="a" c-for="x in xs">{{ x }}</div>',
     '[IfNode(source, (((0, 43,), (ExprHtmlAttr(source, (5, 13,), """cond""", """a""", ("a",)),), [ForNode(source, '
     '(((0, 43,), (ExprHtmlAttr(source, (14, 29,), """each""", """x in xs""", ("xs",)),), ["""<div>""", '
     'ExprNode(source, (30, 37,), """x """, ("x",)), """</div>""",], ("x",),),), ("xs",)),], (),),), ("xs", "a",)),]'),
    # Comments split the whitespace into runs of texts: each run is gathered whole,
    # and the run after the last member stays in the output.
    ("chain across template comments", '<p c-if="a">A</p>\n{# c #}\n<p c-else>B</p>\n{# d #}\n<b>x</b>',
     '[IfNode(source, (((0, 17,), (ExprHtmlAttr(source, (3, 11,), """cond""", """a""", ("a",)),), ["""<p>A</p>""",], (),), '
     '((26, 41,), (), ["""<p>B</p>""",], (),),), ("a",)), """\n\n<b>x</b>""",]'),
    ("if, elif, else", '<c-if cond="a">A</c-if>\n<c-elif cond="b">B</c-elif>\n<c-else>C</c-else>  <p>z</p>',
     '[IfNode(source, (((0, 23,), (ExprHtmlAttr(source, (6, 14,), """cond""", """a""", ("a",)),), ["""A""",], (),), '
     '((24, 51,), (ExprHtmlAttr(source, (32, 40,), """cond""", """b""", ("b",)),), ["""B""",], (),), '
     '((52, 70,), (), ["""C""",], (),),), ("a", "b",)), """  <p>z</p>""",]'),
    ("static condition", '<c-if cond="">x</c-if>',
     '[IfNode(source, (((0, 22,), (StaticHtmlAttr(source, (6, 13,), """cond""", True, ()),), ["""x""",], (),),), ()),]'),
    ("for and empty", '<c-for each="x in xs">{{ x }}</c-for><c-empty>none</c-empty>',
     '[ForNode(source, (((0, 37,), (ExprHtmlAttr(source, (7, 21,), """each""", """x in xs""", ("xs",)),), '
     '[ExprNode(source, (22, 29,), """x """, ("x",)),], ("x",),), ((37, 60,), (), ["""none""",], (),),), ("xs",)),]'),
    ("c-element", '<c-element is="div" id="a">x</c-element><c-element is="br">\n</c-element>'
                  '<c-element c-is="t">x</c-element>',
     r'["""<div id=\"a\">x</div><br/>""", ComponentNode(source, (72, 105,), (ExprHtmlAttr(source, (83, 91,), '
     r'"""c-is""", """t""", ("t",)),), ["""x""",], ("t",), """element""", False),]'),
    ("c-component and c-raw", '<c-component is="Card" title="x"/><c-raw>{{ x }} <b></c-raw>',
     '[ComponentNode(source, (0, 34,), (StaticHtmlAttr(source, (23, 32,), """title""", """x""", ()),), [], (), '
     '"""card""", False), """{{ x }} <b>""",]'),
    # Fallback names are not checked by the parser; they reach the code as data.
    ("fallback name with quotes", r"""<c-x><c-fill name="s" fallback='a", evil(), "b\'>x</c-fill></c-x>""",
     r'[ComponentNode(source, (0, 65,), (), [FillNode(source, (5, 59,), (StaticHtmlAttr(source, (13, 21,), """name""", '
     r'"""s""", ()), StaticHtmlAttr(source, (22, 48,), """fallback""", """a\", evil(), \"b\\""", ()),), ["""x""",], (), '
     r'("a\", evil(), \"b\\",)),], (), """x""", True),]'),
    # What the parser never builds: values without their written form, template values without a value.
    ("value without its written form", [node("p", [attr("t", 'a"b', written=False)], [])],
     '["""<p t=\\"a&quot;b\\"></p>""",]'),
    ("template value absent or too short", [node("c-x", [attr("b", "<>", K.Template), attr("c", kind=K.Template)])],
     '[ComponentNode(source, (0, 5,), (TemplateHtmlAttr(source, (0, 1,), """b""", """<>""", ()), '
     'TemplateHtmlAttr(source, (0, 1,), """c""", """""", ()),), [], (), """x""", False),]'),
]


def tree_of(text_or_elements):
    """Template text is parsed; a list of elements is a tree built by hand."""
    if isinstance(text_or_elements, str):
        return tp.parse_template(text_or_elements)
    return template(*text_or_elements)


@pytest.mark.parametrize("tree,expected", [pytest.param(t, s, id=i) for i, t, s in SOURCES])
def test_generated_source(tree, expected):
    source = tp.compile_template(tree_of(tree))
    assert body_line(source) == expected
    run(source)


ERRORS = [
    ("bad element name", '<c-element is="my tag">x</c-element>', SyntaxError,
     '<c-element>: "my tag" is not a valid HTML tag name'),
    ("void with children", '<c-element is="br">x</c-element>', SyntaxError,
     "<c-element>: void element 'br' cannot have children"),
    ("is and c-is", [node("c-element", [attr("is", "p"), attr("c-is", "x", K.Expression)])], SyntaxError,
     "<c-element> accepts either 'is' or 'c-is', not both"),
    ("error in a body keeps its kind", [node("c-x", [], [node("c-component", [attr("is", "a"), attr("c-is", "b")])])],
     SyntaxError, "<c-component> accepts either 'is' or 'c-is', not both"),
    ("escaped element name", [node("c-element", [attr("is", 'a"\n')])], SyntaxError,
     '<c-element>: "a\\"\\n" is not a valid HTML tag name'),
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
@pytest.mark.parametrize("tree,exc,message", [pytest.param(e, x, m, id=i) for i, e, x, m in ERRORS])
def test_compile_errors(tree, exc, message, lang):
    # The compiler runs first: its error wins over the backend's.
    with pytest.raises(exc) as info:
        tp.compile_template(tree_of(tree), lang=lang)
    assert type(info.value) is exc and str(info.value) == "Compile error: " + message


# ---- nesting -----------------------------------------------------------------------------

LEAF = node("p", [attr("c", "", K.Template, pattern=binding(fields=[("a", "b")]))])
NESTINGS = [
    ("components", lambda n: nested(n, lambda inner: node("c-x", [], [inner]), LEAF)),
    ("slots", lambda n: nested(n, lambda inner: node("c-slot", [attr("name", "s")], [inner]), LEAF)),
    ("if attributes", lambda n: nested(n, lambda inner: node("p", [attr("c-if", "a", K.Expression)], [inner]), LEAF)),
    ("dynamic elements in components", lambda n: nested(
        n, lambda inner: node("c-x", [], [node("p", [attr("a", "b", K.Expression)], [inner])]), LEAF)),
    ("parsed components", lambda n: tp.parse_template("<c-x>" * n + "{{ x }}" + "</c-x>" * n)),
    ("parsed loops", lambda n: tp.parse_template(
        "".join(f'<p c-for="x{i} in xs">' for i in range(n)) + "<a c-b='{{ x0 }}'/>" + "</p>" * n)),
]


@pytest.mark.parametrize("make", [pytest.param(m, id=i) for i, m in NESTINGS])
def test_nesting_bound(make):
    depth = 1
    while True:
        try:
            source = tp.compile_template(make(depth))
        except ValueError as error:
            assert "nested too deeply" in str(error)
            break
        run(source)  # compiles right up to the bound
        depth += 1
    assert depth > 20
    with pytest.raises(ValueError, match="nested too deeply"):
        tp.compile_template(make(500))


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


@pytest.mark.parametrize("text,read,expected", [
    # The parser does not check fallback names: they must reach the code as data.
    *[(f"<c-x><c-fill name='s' fallback='{name}'>x</c-fill></c-x>", lambda body: body[0].args[3][0].args[5],
       (unicodedata.normalize("NFKC", name),)) for name in ['a＂b', 'a\\', 'x"), evil("', 'a\nb', 'a\x00b', 'a\rb', '＼']],
    ("<c-x><c-fill name='s' data='{ ﬁ, **ｒest }'>x</c-fill></c-x>", lambda body: body[0].args[3][0].args[2][1].args[3],
     RUNTIME["FillDataBinding"]((("ﬁ", "fi"),), "rest")),
])
def test_parsed_names_stay_data(text, read, expected):
    assert read(run(compile_text(text))) == expected


# Random markup of plain elements, text and expressions, written the way the
# compiler writes it back: double or single quotes, void elements closed.
TEXT = st.text(st.sampled_from("ab é☃.,;:!?'\"()-\n\t"), min_size=1, max_size=8)
EXPRESSION = st.sampled_from(["x", "user", "item_2", "ñame"]).map(lambda name: "{{ " + name + " }}")
ATTRIBUTES = st.lists(st.tuples(st.sampled_from(["class", "id", "title", "data-x"]),
                                st.text(st.sampled_from("ab é-_:;"), min_size=1, max_size=6), st.sampled_from("\"'")),
                      max_size=3, unique_by=lambda a: a[0])


def element(children):
    return st.builds(lambda tag, attrs, body: f"<{tag}{''.join(f' {k}={q}{v}{q}' for k, v, q in attrs)}>"
                                              f"{''.join(body)}</{tag}>",
                     st.sampled_from(["div", "p", "span", "li"]), ATTRIBUTES, st.lists(children, max_size=4))


MARKUP = st.lists(st.recursive(st.one_of(TEXT, EXPRESSION, st.just("<br/>")), element, max_leaves=20),
                  max_size=6).map("".join)


@settings(max_examples=200, deadline=None)
@given(MARKUP)
def test_parsed_markup_comes_back_in_order(text):
    body = run(compile_text(text))
    assert not any(isinstance(a, str) and isinstance(b, str) for a, b in zip(body, body[1:]))
    pieces = []
    for piece in body:
        if not isinstance(piece, str):
            assert type(piece) is RUNTIME["ExprNode"]
            name = piece.args[2].strip()
            start, end = piece.args[1]
            assert text.encode()[start:end].decode() == "{{ " + name + " }}" and piece.args[3] == (name,)
            piece = "{{ " + name + " }}"
        pieces.append(piece)
    assert "".join(pieces) == text


def test_template_unchanged_and_compiles_again():
    t = template(node("c-x", [attr("c-if", "a", K.Expression, ["a"])], [text("x")], used=["a"]))
    before = repr(t)
    first = tp.compile_template(t)
    assert repr(t) == before and tp.compile_template(t) == first


# ---- deep trees: a parsed tree compiles as the same tree built by hand ---------------------
# A parse shares each level's lists with the levels around it; a tree rebuilt
# from its fields holds lists of its own at every level, which the compiler
# reads one by one.

def rebuilt(tree):
    def element(e):
        v = e._0
        if isinstance(v, tp.Node.WithBody):
            v = tp.Node.WithBody(v.start_tag, v.end_tag, rebuilt(v.body), list(v.used_variables),
                                 list(v.introduced_variables), list(v.comments), v.contains_fills)
        elif isinstance(v, tp.Node.SelfClosing):
            v = tp.Node.SelfClosing(v.start_tag, list(v.used_variables), list(v.introduced_variables),
                                    list(v.comments), v.contains_fills)
        else:
            return e
        return tp.TemplateElement.Node(v)
    return tp.Template([element(e) for e in tree.elements], list(tree.comments), list(tree.used_variables),
                       list(tree.slots))


# Levels that move an attribute out, loop, call a component or fill a slot; {u}
# keeps loop names apart.
LEVELS = [('<div c-if="a">', "</div>"), ('<p c-for="x{u} in xs" c-if="k" c-t="x{u}">', "</p>"),
          ('<c-for each="y{u}, z{u} in q">', "</c-for>"), ('<c-card c-if="w" c-t="x + ﬁle">', "</c-card>"),
          ('<c-slot name="s" c-if="k">', "</c-slot>"), ('<c-x><c-fill name="f" data="{{ b as ﬁ{u} }}">', "</c-fill></c-x>"),
          ('<c-element is="span" c-if="e">', "</c-element>"), ('<c-component is="Card" c-for="v{u} in vs">', "</c-component>"),
          ('<li c-if="x" c-for="ﬁle{u} in files">', "</li>"), ('<c-if cond="fi">', "</c-if><c-else>{{ ﬁ }}</c-else>"),
          # "ﬁle0" left out by a loop or a binding over "file0".
          ('<c-for each="file{u}, t{u} in fs">{{{{ ﬁle{u} + t{u} }}}}', "{{ fi }}</c-for>"),
          ('<c-x><c-fill name="g" data="{{ d as file{u} }}">{{{{ ﬁle{u} }}}}', "{{ file }}</c-fill></c-x>")]
LEAVES = st.sampled_from(["{{ x }}", "{{ ﬁle + file }}", "{{ fi }}", "t ", '<i c-if="i">{{ i }}</i>']).map(
    lambda leaf: lambda u: leaf)


def level(children):
    return st.builds(lambda kind, body: lambda u: LEVELS[kind][0].format(u=next(u)) + "".join(c(u) for c in body)
                     + LEVELS[kind][1], st.integers(0, len(LEVELS) - 1), st.lists(children, min_size=1, max_size=3))


DEEP = st.builds(lambda tree, uses: (tree, uses), st.recursive(LEAVES, level, max_leaves=40), st.sampled_from([1, 40]))


@settings(max_examples=150, deadline=None)
@given(DEEP)
def test_parsed_deep_tree_compiles_as_built_by_hand(case):
    make, uses = case
    # More than a few uses under a loop make its list leave names out rather than be written out.
    text = make(iter(range(10**6))).replace("{{ x }}", "{{ x }}" * uses)
    tree = tp.parse_template(text)
    assert tp.compile_template(tree) == tp.compile_template(rebuilt(tree))
