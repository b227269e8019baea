"""The syntax-tree classes of template_parser: construction, conversion errors,
repr and debug form, equality, fresh copies, variants and deep trees."""

import collections.abc
import gc
import re
import unicodedata

import pytest
from hypothesis import given, settings, strategies as st

from lumra_core._rust import template_parser as tp

Token = tp.Token
Comment = tp.Comment
HtmlAttrKind = tp.HtmlAttrKind
FillDataField = tp.FillDataField
FillDataPattern = tp.FillDataPattern
HtmlAttr = tp.HtmlAttr
HtmlStartTag = tp.HtmlStartTag
HtmlEndTag = tp.HtmlEndTag
Expr = tp.Expr
Text = tp.Text
Node = tp.Node
TemplateElement = tp.TemplateElement
StaticNamedSlot = tp.StaticNamedSlot
Template = tp.Template
Node_WithBody = Node.WithBody
Node_SelfClosing = Node.SelfClosing
TemplateElement_Node = TemplateElement.Node
TemplateElement_Expr = TemplateElement.Expr
TemplateElement_Text = TemplateElement.Text


def tok(content="x", start=0, end=1, line=1, col=1):
    return Token(content, start, end, (line, col))


def dbg(content, start, end, line, col):
    """Debug form of a token whose content needs no escaping."""
    return (
        f'Token {{ content: "{content}", start_index: {start}, end_index: {end}, '
        f"line_col: ({line}, {col}) }}"
    )


def start_tag(name="div", attrs=(), self_closing=False):
    return HtmlStartTag(tok(f"<{name}>", 0, len(name) + 2), tok(name, 1, len(name) + 1, 1, 2),
                        list(attrs), self_closing, [])


def end_tag(name="div"):
    return HtmlEndTag(tok(f"</{name}>", 0, len(name) + 3), tok(name, 2, len(name) + 2, 1, 3), [])


def empty_template():
    return Template([], [], [], [])


def with_body(name="div", body=None, contains_fills=False):
    return Node_WithBody(start_tag(name), end_tag(name), body or empty_template(), [], [], [],
                         contains_fills)


class FakeNumpyBool:
    """Stands in for numpy.bool_, which is recognised by module and name."""

    def __init__(self, value):
        self.value = value

    def __bool__(self):
        return self.value


FakeNumpyBool.__module__ = "numpy"
FakeNumpyBool.__name__ = "bool_"
FakeNumpyBool.__qualname__ = "bool_"


# ---- class protocol ------------------------------------------------------------

VALUE_CLASSES = [Token, Comment, FillDataField, FillDataPattern, HtmlAttr, HtmlStartTag, HtmlEndTag,
                 Expr, Text, StaticNamedSlot, Template]

TEXT_SIGNATURES = [
    (Token, "(content, start_index, end_index, line_col)"),
    (Comment, "(token, value)"),
    (FillDataField, "(source, target)"),
    (FillDataPattern, "(token, whole, fields, rest)"),
    (HtmlAttr, "(token, key, value, inner_value, quote_char, kind, comments, used_variables, "
               "fill_data_pattern=None)"),
    (HtmlStartTag, "(token, name, attrs, is_self_closing, comments)"),
    (HtmlEndTag, "(token, name, comments)"),
    (Expr, "(token, value, used_variables, comments)"),
    (Text, "(token)"),
    (Node_WithBody, "(start_tag, end_tag, body, used_variables, introduced_variables, comments, "
                    "contains_fills)"),
    (Node_SelfClosing, "(start_tag, used_variables, introduced_variables, comments, contains_fills)"),
    (TemplateElement_Node, "(_0)"),
    (TemplateElement_Expr, "(_0)"),
    (TemplateElement_Text, "(_0)"),
    (StaticNamedSlot, "(token, required)"),
    (Template, "(elements, comments, used_variables, slots)"),
]


@pytest.mark.parametrize(("cls", "signature"), TEXT_SIGNATURES, ids=lambda v: getattr(v, "__name__", ""))
def test_class_names_and_text_signatures(cls, signature):
    assert cls.__module__ == "builtins"
    assert repr(cls) == f"<class 'builtins.{cls.__name__}'>"
    assert cls.__text_signature__ == signature


def test_variant_classes_are_reached_through_their_base():
    assert Node_WithBody.__name__ == "Node_WithBody"
    assert Node_SelfClosing.__qualname__ == "Node_SelfClosing"
    assert [c.__name__ for c in (TemplateElement_Node, TemplateElement_Expr, TemplateElement_Text)] == [
        "TemplateElement_Node", "TemplateElement_Expr", "TemplateElement_Text"]
    for variant in (Node_WithBody, Node_SelfClosing):
        assert variant.__base__ is Node
    for variant in (TemplateElement_Node, TemplateElement_Expr, TemplateElement_Text):
        assert variant.__base__ is TemplateElement
    for name in ("Node_WithBody", "Node_SelfClosing", "TemplateElement_Text"):
        assert not hasattr(tp, name)
    assert Node_WithBody.__doc__ in (None, "")
    assert Node.__text_signature__ is None
    assert Node.__doc__.startswith("Represents a node in the template tree (AST version)\n\nA node can be:")
    assert TemplateElement.__doc__ == "Represents a single element in a template"
    assert Template.__doc__ == "Represents a complete parsed template"


@pytest.mark.parametrize("cls", [Node, TemplateElement, HtmlAttrKind], ids=lambda c: c.__name__)
def test_classes_without_constructor_cannot_be_instantiated(cls):
    with pytest.raises(TypeError, match=re.escape(f"cannot create 'builtins.{cls.__name__}' instances")):
        cls()


@pytest.mark.parametrize("cls", VALUE_CLASSES + [HtmlAttrKind, Node_WithBody, Node_SelfClosing,
                                                 TemplateElement_Text], ids=lambda c: c.__name__)
def test_only_the_sum_types_can_be_subclassed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_sum_type_subclasses_cannot_make_instances():
    for base in (Node, TemplateElement):
        sub = type("Sub", (base,), {})
        with pytest.raises(TypeError):
            sub()
        with pytest.raises(TypeError):
            object.__new__(sub)


def test_attributes_are_read_only_and_instances_have_no_dict():
    t = tok()
    with pytest.raises(AttributeError):
        t.content = "y"
    with pytest.raises(AttributeError):
        t.other = 1
    with pytest.raises(AttributeError):
        with_body().body = empty_template()
    assert not hasattr(t, "__dict__")


# ---- worked reprs ----------------------------------------------------------------

K = Token("a", 1, 2, (1, 2))
HI = Token("Hi", 0, 2, (1, 1))
FOO = Token("foo", 14, 17, (1, 15))
X = Token("x", 3, 4, (1, 4))
BR_TAG = HtmlStartTag(Token("<br/>", 0, 5, (1, 1)), Token("br", 1, 3, (1, 2)), [], True, [])
BR_DBG = (f'HtmlStartTag {{ token: {dbg("<br/>", 0, 5, 1, 1)}, name: {dbg("br", 1, 3, 1, 2)}, '
          "attrs: [], is_self_closing: true, comments: [] }")
ATTR_V = Token("b", 7, 8, (1, 8))
ATTR = HtmlAttr(Token("a=b", 5, 8, (1, 6)), Token("a", 5, 6, (1, 6)), ATTR_V, ATTR_V, None,
                HtmlAttrKind.Static, [], [])

REPR_CASES = [
    (Token("abc", 0, 3, (1, 1)), "Token(content='abc', start_index=0, end_index=3, line_col=(1, 1))"),
    (Token("it's", 4, 8, (1, 5)), "Token(content='it's', start_index=4, end_index=8, line_col=(1, 5))"),
    (Token("a\n\"b\\", 0, 5, (2, 7)), "Token(content='a\n\"b\\', start_index=0, end_index=5, line_col=(2, 7))"),
    (Comment(Token("{# hi #}", 0, 8, (1, 1)), Token(" hi ", 2, 6, (1, 3))),
     f'Comment(token={dbg("{# hi #}", 0, 8, 1, 1)}, value={dbg(" hi ", 2, 6, 1, 3)})'),
    (FillDataField(K, K), f'FillDataField(source={dbg("a", 1, 2, 1, 2)}, target={dbg("a", 1, 2, 1, 2)})'),
    (FillDataPattern(Token("{ a }", 0, 5, (1, 1)), None, [], None),
     f'FillDataPattern(token={dbg("{ a }", 0, 5, 1, 1)}, whole=None, fields=[], rest=None)'),
    (FillDataPattern(Token("{ a }", 0, 5, (1, 1)), K, [FillDataField(K, K)], K),
     f'FillDataPattern(token={dbg("{ a }", 0, 5, 1, 1)}, whole=Some({dbg("a", 1, 2, 1, 2)}), '
     f'fields=[FillDataField {{ source: {dbg("a", 1, 2, 1, 2)}, target: {dbg("a", 1, 2, 1, 2)} }}], '
     f'rest=Some({dbg("a", 1, 2, 1, 2)}))'),
    (ATTR,
     f'HtmlAttr(token={dbg("a=b", 5, 8, 1, 6)}, key={dbg("a", 5, 6, 1, 6)}, '
     f'value=Some({dbg("b", 7, 8, 1, 8)}), inner_value=Some({dbg("b", 7, 8, 1, 8)}), quote_char=None, '
     "kind=Static, comments=[], used_variables=[], fill_data_pattern=None)"),
    (BR_TAG,
     f'HtmlStartTag(token={dbg("<br/>", 0, 5, 1, 1)}, name={dbg("br", 1, 3, 1, 2)}, attrs=[], '
     "is_self_closing=true, comments=[])"),
    (HtmlEndTag(Token("</div>", 10, 16, (2, 1)), Token("div", 12, 15, (2, 3)), []),
     f'HtmlEndTag(token={dbg("</div>", 10, 16, 2, 1)}, name={dbg("div", 12, 15, 2, 3)}, comments=[])'),
    (Text(Token("Hi\n", 0, 3, (1, 1))),
     'Text(token=Token { content: "Hi\\n", start_index: 0, end_index: 3, line_col: (1, 1) })'),
    (Expr(Token("{{ x }}", 0, 7, (1, 1)), X, [X], []),
     f'Expr(token={dbg("{{ x }}", 0, 7, 1, 1)}, value={dbg("x", 3, 4, 1, 4)}, '
     f'used_variables=[{dbg("x", 3, 4, 1, 4)}], comments=[])'),
    (TemplateElement_Text(Text(HI)), f'TemplateElement::Text(Text {{ token: {dbg("Hi", 0, 2, 1, 1)} }})'),
    (TemplateElement_Expr(Expr(HI, HI, [], [])),
     f'TemplateElement::Expr(Expr {{ token: {dbg("Hi", 0, 2, 1, 1)}, value: {dbg("Hi", 0, 2, 1, 1)}, '
     "used_variables: [], comments: [] })"),
    (Template([TemplateElement_Text(Text(HI))], [], [], [StaticNamedSlot(FOO, True)]),
     f'Template(elements=[Text(Text {{ token: {dbg("Hi", 0, 2, 1, 1)} }})], used_variables=[], '
     f'slots=[StaticNamedSlot {{ token: {dbg("foo", 14, 17, 1, 15)}, required: Some(true) }}])'),
    (StaticNamedSlot(FOO, None), f'StaticNamedSlot(token={dbg("foo", 14, 17, 1, 15)}, required=None)'),
    (StaticNamedSlot(FOO, False), f'StaticNamedSlot(token={dbg("foo", 14, 17, 1, 15)}, required=Some(false))'),
    (empty_template(), "Template(elements=[], used_variables=[], slots=[])"),
    (Node_SelfClosing(BR_TAG, [], [], [], False),
     f"Node::SelfClosing(start_tag={BR_DBG}, used_variables=[], introduced_variables=[], comments=[])"),
    (Node_WithBody(BR_TAG, HtmlEndTag(HI, HI, []), Template([], [Comment(HI, HI)], [X], []), [X], [K], [],
                   True),
     f'Node::WithBody(start_tag={BR_DBG}, end_tag=HtmlEndTag {{ token: {dbg("Hi", 0, 2, 1, 1)}, '
     f'name: {dbg("Hi", 0, 2, 1, 1)}, comments: [] }}, body=Template {{ elements: [], comments: '
     f'[Comment {{ token: {dbg("Hi", 0, 2, 1, 1)}, value: {dbg("Hi", 0, 2, 1, 1)} }}], '
     f'used_variables: [{dbg("x", 3, 4, 1, 4)}], slots: [] }}, used_variables=[{dbg("x", 3, 4, 1, 4)}], '
     f'introduced_variables=[{dbg("a", 1, 2, 1, 2)}], comments=[])'),
    (TemplateElement_Node(Node_SelfClosing(BR_TAG, [], [], [], True)),
     f"TemplateElement::Node(SelfClosing {{ start_tag: {BR_DBG}, used_variables: [], "
     "introduced_variables: [], comments: [], contains_fills: true })"),
    (Template([TemplateElement_Node(Node_SelfClosing(BR_TAG, [], [], [], False))], [], [], []),
     f"Template(elements=[Node(SelfClosing {{ start_tag: {BR_DBG}, used_variables: [], "
     "introduced_variables: [], comments: [], contains_fills: false })], used_variables=[], slots=[])"),
    (HtmlAttrKind.Static, "HtmlAttrKind::Static"),
    (HtmlAttrKind.Meta, "HtmlAttrKind::Meta"),
]


@pytest.mark.parametrize(("value", "expected"), REPR_CASES, ids=lambda v: type(v).__name__)
def test_repr(value, expected):
    assert repr(value) == expected


def test_nested_body_in_element_list_prints_in_full():
    inner = Template([TemplateElement_Text(Text(HI))], [Comment(HI, HI)], [], [])
    node = Node_WithBody(BR_TAG, HtmlEndTag(HI, HI, []), inner, [], [], [], False)
    text = repr(Template([TemplateElement_Node(node)], [], [], []))
    assert text.startswith(f"Template(elements=[Node(WithBody {{ start_tag: {BR_DBG}, end_tag: ")
    assert (f'body: Template {{ elements: [Text(Text {{ token: {dbg("Hi", 0, 2, 1, 1)} }})], '
            f'comments: [Comment {{ token: ') in text
    assert text.endswith(", introduced_variables: [], comments: [], contains_fills: false })], "
                         "used_variables=[], slots=[])")


@pytest.mark.parametrize(("kind", "number", "name"), [
    (HtmlAttrKind.Static, 0, "Static"), (HtmlAttrKind.Expression, 1, "Expression"),
    (HtmlAttrKind.Template, 2, "Template"), (HtmlAttrKind.Meta, 3, "Meta")])
def test_attr_kind_members(kind, number, name):
    assert int(kind) == number
    assert str(kind) == f"HtmlAttrKind::{name}"
    assert getattr(HtmlAttrKind, name) is kind
    assert kind == kind and kind != number
    assert hash(kind) == hash(getattr(HtmlAttrKind, name))
    attr = HtmlAttr(tok(), tok(), None, None, None, kind, [], [])
    assert f", kind={name}, " in repr(attr)
    assert not hasattr(attr, "kind")


# ---- debug form escaping ----------------------------------------------------------

STRING_ESCAPES = [
    ('say "hi"', r'say \"hi\"'),
    ("it's", "it's"),
    ("back\\slash", r"back\\slash"),
    ("tab\tcr\rlf\n", r"tab\tcr\rlf\n"),
    ("nul\0", r"nul\0"),
    ("\x01\x1b\x7f", r"\u{1}\u{1b}\u{7f}"),
    ("\x85\xa0", r"\u{85}\u{a0}"),           # C1 control, no-break space
    ("\xad\u200b\u200d", r"\u{ad}\u{200b}\u{200d}"),  # format characters
    ("\u2028\u2029\u3000", r"\u{2028}\u{2029}\u{3000}"),  # separators
    ("\ue000\U000f0000", r"\u{e000}\u{f0000}"),  # private use
    ("\u0378\U0010ffff", r"\u{378}\u{10ffff}"),  # unassigned
    ("e\u0301", r"e\u{301}"),                  # combining acute accent
    ("\u0301", r"\u{301}"),
    ("\u093f", "\u093f"),                     # spacing mark: printable, not an extender
    ("caf\xe9 \u4e2d \U0001f600 ~", "caf\xe9 \u4e2d \U0001f600 ~"),
]


@pytest.mark.parametrize(("content", "escaped"), STRING_ESCAPES)
def test_debug_form_escapes_text(content, escaped):
    t = Token(content, 0, 1, (1, 1))
    expected = f'Token {{ content: "{escaped}", start_index: 0, end_index: 1, line_col: (1, 1) }}'
    assert repr(Comment(t, t)) == f"Comment(token={expected}, value={expected})"
    # The top-level repr of a token shows the text unchanged.
    assert repr(t) == f"Token(content='{content}', start_index=0, end_index=1, line_col=(1, 1))"


# Grapheme_Extend = Mn + Me + Other_Grapheme_Extend (PropList.txt).
OTHER_GRAPHEME_EXTEND = {
    0x09BE, 0x09D7, 0x0B3E, 0x0B57, 0x0BBE, 0x0BD7, 0x0CC2, 0x0CD5, 0x0CD6, 0x0D3E, 0x0D57, 0x0DCF,
    0x0DDF, 0x1B35, 0x200C, 0x302E, 0x302F, 0xFF9E, 0xFF9F, 0x1133E, 0x11357, 0x114B0, 0x114BD,
    0x115AF, 0x11930, 0x1D165, *range(0x1D16E, 0x1D173), *range(0xE0020, 0xE0080),
}
NAMED_ESCAPES = {"\0": r"\0", "\t": r"\t", "\r": r"\r", "\n": r"\n", "\\": "\\\\", '"': '\\"'}


def oracle_escape(char):
    if char in NAMED_ESCAPES:
        return NAMED_ESCAPES[char]
    category = unicodedata.category(char)
    hidden = category in ("Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs") and char != " "
    if hidden or category in ("Mn", "Me") or ord(char) in OTHER_GRAPHEME_EXTEND:
        return f"\\u{{{ord(char):x}}}"
    return char


@pytest.mark.skipif(unicodedata.unidata_version != "15.0.0", reason="oracle tables are Unicode 15.0")
def test_debug_form_of_every_code_point_matches_the_unicode_database():
    chars = [chr(i) for i in range(0x110000) if not 0xD800 <= i <= 0xDFFF]
    text = repr(Text(Token("".join(chars), 0, 1, (1, 1))))
    head = 'Text(token=Token { content: "'
    tail = '", start_index: 0, end_index: 1, line_col: (1, 1) })'
    assert text.startswith(head) and text.endswith(tail)
    body = text[len(head):-len(tail)]
    expected = "".join(oracle_escape(c) for c in chars)
    if body != expected:
        pos = 0
        for c in chars:
            want = oracle_escape(c)
            assert body.startswith(want, pos), f"U+{ord(c):04X} ({unicodedata.category(c)}) should print as {want!r}"
            pos += len(want)


CHAR_ESCAPES = [
    ('"', "'\"'"),
    ("'", r"'\''"),
    ("\\", r"'\\'"),
    ("\n", r"'\n'"),
    ("\0", r"'\0'"),
    ("\x07", r"'\u{7}'"),
    ("\u0301", r"'\u{301}'"),
    ("\u200b", r"'\u{200b}'"),
    ("\xe9", "'\xe9'"),
    ("`", "'`'"),
]


@pytest.mark.parametrize(("char", "escaped"), CHAR_ESCAPES)
def test_debug_form_escapes_quote_char(char, escaped):
    attr = HtmlAttr(tok(), tok(), None, None, char, HtmlAttrKind.Static, [], [])
    assert f", quote_char=Some({escaped}), " in repr(attr)
    tag = HtmlStartTag(tok(), tok(), [attr], False, [])
    assert f", quote_char: Some({escaped}), " in repr(tag)
    assert attr.quote_char == char


# ---- conversion errors ------------------------------------------------------------

T = tok()
C = Comment(T, T)
ST = start_tag()
ET = end_tag()
BODY = empty_template()


def gen_of(*items):
    return (i for i in items)


CONVERSION_ERRORS = [
    # Token
    (lambda: Token(1, 0, 1, (1, 1)), TypeError, "argument 'content': 'int' object cannot be cast as 'str'"),
    (lambda: Token("x", 0, 1, [1, 1]), TypeError, "argument 'line_col': 'list' object cannot be cast as 'tuple'"),
    (lambda: Token("x", 0, 1, (1, 1, 1)), ValueError, "expected tuple of length 2, but got tuple of length 3"),
    (lambda: Token("x", 1.0, 1, (1, 1)), TypeError, "argument 'start_index': "),
    (lambda: Token("x", 0, "1", (1, 1)), TypeError, "argument 'end_index': "),
    (lambda: Token("x", 0, 1, (1, None)), TypeError, "argument 'line_col': "),
    (lambda: Token("x", 0, 1, (1, 1), 5), TypeError,
     "Token.__new__() takes 4 positional arguments but 5 were given"),
    (lambda: Token("x", 0, 1), TypeError, "Token.__new__() missing 1 required positional argument: 'line_col'"),
    (lambda: Token("x", 0, 1, (1, 1), colour=1), TypeError,
     "Token.__new__() got an unexpected keyword argument 'colour'"),
    # Comment, FillDataField
    (lambda: Comment("a", T), TypeError, "argument 'token': 'str' object cannot be cast as 'Token'"),
    (lambda: Comment(T, None), TypeError, "argument 'value': 'NoneType' object cannot be cast as 'Token'"),
    (lambda: FillDataField(T, Text(T)), TypeError, "argument 'target': 'Text' object cannot be cast as 'Token'"),
    # FillDataPattern
    (lambda: FillDataPattern(T, None, "ab", None), TypeError, "argument 'fields': Can't extract `str` to `Vec`"),
    (lambda: FillDataPattern(T, None, {1, 2}, None), TypeError,
     "argument 'fields': 'set' object cannot be cast as 'Sequence'"),
    (lambda: FillDataPattern(T, None, gen_of(), None), TypeError,
     "argument 'fields': 'generator' object cannot be cast as 'Sequence'"),
    (lambda: FillDataPattern(T, None, {}, None), TypeError,
     "argument 'fields': 'dict' object cannot be cast as 'Sequence'"),
    (lambda: FillDataPattern(T, None, [T], None), TypeError,
     "argument 'fields': 'Token' object cannot be cast as 'FillDataField'"),
    (lambda: FillDataPattern(T, None, []), TypeError,
     "FillDataPattern.__new__() missing 1 required positional argument: 'rest'"),
    (lambda: FillDataPattern(T, "w", [], None), TypeError,
     "argument 'whole': 'str' object cannot be cast as 'Token'"),
    (lambda: FillDataPattern(T, None, [], 0), TypeError, "argument 'rest': 'int' object cannot be cast as 'Token'"),
    # HtmlAttr
    (lambda: HtmlAttr(T, T, None, None, "", HtmlAttrKind.Static, [], []), ValueError,
     "expected a string of length 1"),
    (lambda: HtmlAttr(T, T, None, None, "ab", HtmlAttrKind.Static, [], []), ValueError,
     "expected a string of length 1"),
    (lambda: HtmlAttr(T, T, None, None, 34, HtmlAttrKind.Static, [], []), TypeError,
     "argument 'quote_char': 'int' object cannot be cast as 'str'"),
    (lambda: HtmlAttr(T, T, None, None, None, 0, [], []), TypeError,
     "argument 'kind': 'int' object cannot be cast as 'HtmlAttrKind'"),
    (lambda: HtmlAttr(T, T, None, None, None, HtmlAttrKind.Meta, [T], []), TypeError,
     "argument 'comments': 'Token' object cannot be cast as 'Comment'"),
    (lambda: HtmlAttr(T, T, None, None, None, HtmlAttrKind.Meta, [], "x"), TypeError,
     "argument 'used_variables': Can't extract `str` to `Vec`"),
    (lambda: HtmlAttr(T, T, None, None, None, HtmlAttrKind.Meta, [], [], T), TypeError,
     "argument 'fill_data_pattern': 'Token' object cannot be cast as 'FillDataPattern'"),
    (lambda: HtmlAttr(T, T, "v", None, None, HtmlAttrKind.Meta, [], []), TypeError,
     "argument 'value': 'str' object cannot be cast as 'Token'"),
    # HtmlStartTag, HtmlEndTag, Expr, Text
    (lambda: HtmlStartTag(T, T, [], 1, []), TypeError,
     "argument 'is_self_closing': 'int' object cannot be cast as 'bool'"),
    (lambda: HtmlStartTag(T, T, [], None, []), TypeError,
     "argument 'is_self_closing': 'NoneType' object cannot be cast as 'bool'"),
    (lambda: HtmlStartTag(T, T, "a", False, []), TypeError, "argument 'attrs': Can't extract `str` to `Vec`"),
    (lambda: HtmlStartTag(T, T, [C], False, []), TypeError,
     "argument 'attrs': 'Comment' object cannot be cast as 'HtmlAttr'"),
    (lambda: HtmlEndTag(T, "div", []), TypeError, "argument 'name': 'str' object cannot be cast as 'Token'"),
    (lambda: Expr(T, X, "x", []), TypeError, "argument 'used_variables': Can't extract `str` to `Vec`"),
    (lambda: Expr(T, X, [X], [X]), TypeError, "argument 'comments': 'Token' object cannot be cast as 'Comment'"),
    (lambda: Text(token="x"), TypeError, "argument 'token': 'str' object cannot be cast as 'Token'"),
    (lambda: Text(T, token=T), TypeError, "Text.__new__() got multiple values for argument 'token'"),
    # Nodes
    (lambda: Node_SelfClosing(ST, [], [], [], 1), TypeError,
     "argument 'contains_fills': 'int' object cannot be cast as 'bool'"),
    (lambda: Node_SelfClosing(ST, [], [], [], None), TypeError,
     "argument 'contains_fills': 'NoneType' object cannot be cast as 'bool'"),
    (lambda: Node_SelfClosing(ET, [], [], [], False), TypeError,
     "argument 'start_tag': 'HtmlEndTag' object cannot be cast as 'HtmlStartTag'"),
    (lambda: Node_WithBody(ST, None, BODY, [], [], [], False), TypeError,
     "argument 'end_tag': 'NoneType' object cannot be cast as 'HtmlEndTag'"),
    (lambda: Node_WithBody(ST, ET, "x", [], [], [], False), TypeError,
     "argument 'body': 'str' object cannot be cast as 'Template'"),
    (lambda: Node_WithBody(ST, ET, BODY, [], [C], [], False), TypeError,
     "argument 'introduced_variables': 'Comment' object cannot be cast as 'Token'"),
    (lambda: Node_WithBody(ST, ET, BODY, [], [], [], False, 1), TypeError,
     "Node_WithBody.__new__() takes 7 positional arguments but 8 were given"),
    (lambda: Node_SelfClosing(ST), TypeError,
     "Node_SelfClosing.__new__() missing 4 required positional arguments: 'used_variables', "
     "'introduced_variables', 'comments', and 'contains_fills'"),
    # Elements, slots, templates
    (lambda: TemplateElement_Node(Text(T)), TypeError, "argument '_0': 'Text' object cannot be cast as 'Node'"),
    (lambda: TemplateElement_Expr(T), TypeError, "argument '_0': 'Token' object cannot be cast as 'Expr'"),
    (lambda: TemplateElement_Text(_0=None), TypeError, "argument '_0': 'NoneType' object cannot be cast as 'Text'"),
    (lambda: TemplateElement_Text(), TypeError,
     "TemplateElement_Text.__new__() missing 1 required positional argument: '_0'"),
    (lambda: StaticNamedSlot(T, 1), TypeError, "argument 'required': 'int' object cannot be cast as 'bool'"),
    (lambda: StaticNamedSlot(T), TypeError,
     "StaticNamedSlot.__new__() missing 1 required positional argument: 'required'"),
    (lambda: Template([Text(T)], [], [], []), TypeError,
     "argument 'elements': 'Text' object cannot be cast as 'TemplateElement'"),
    (lambda: Template("e", [], [], []), TypeError, "argument 'elements': Can't extract `str` to `Vec`"),
    (lambda: Template(5, [], [], []), TypeError, "argument 'elements': 'int' object cannot be cast as 'Sequence'"),
    (lambda: Template([], [], [], [T]), TypeError, "argument 'slots': 'Token' object cannot be cast as 'StaticNamedSlot'"),
    (lambda: Template([], [], [], "s"), TypeError, "argument 'slots': Can't extract `str` to `Vec`"),
    (lambda: Template([], [], [C], []), TypeError,
     "argument 'used_variables': 'Comment' object cannot be cast as 'Token'"),
]


@pytest.mark.parametrize(("make", "exc", "message"), CONVERSION_ERRORS)
def test_conversion_errors(make, exc, message):
    with pytest.raises(exc) as info:
        make()
    assert type(info.value) is exc
    assert str(info.value).startswith(message)
    if message.endswith(": "):
        assert len(str(info.value)) > len(message)


@pytest.mark.parametrize("make", [
    lambda: Token("x", -1, 1, (1, 1)),
    lambda: Token("x", 0, 2**64, (1, 1)),
    lambda: Token("x", 0, 1, (-1, 1)),
])
def test_integer_overflow_is_not_prefixed(make):
    with pytest.raises(OverflowError) as info:
        make()
    assert "argument" not in str(info.value)


def test_lone_surrogates_raise_unicode_errors_unprefixed():
    with pytest.raises(UnicodeEncodeError):
        Token("a\ud800", 0, 1, (1, 1))
    with pytest.raises(UnicodeEncodeError):
        HtmlAttr(T, T, None, None, "\udc00", HtmlAttrKind.Static, [], [])


# Texts come back as equal strs of the same kind, whatever their widest
# character: long texts are decoded by the module's own path, short ones by
# CPython's. Each alphabet keeps the widest character in one str kind.
@settings(max_examples=400)
@given(st.sampled_from([(0, 0x7F), (0, 0xFF), (0x80, 0xFF), (0, 0xFFFF), (0, 0x10FFFF)]).flatmap(
    lambda bounds: st.lists(st.sampled_from(["plain text ", "\n"])
                            | st.characters(min_codepoint=bounds[0], max_codepoint=bounds[1],
                                            exclude_categories=["Cs"]), max_size=120).map("".join)))
def test_texts_round_trip_through_tokens(text):
    content = Token(text, 0, 0, (1, 1)).content
    assert content == text
    assert content.isascii() == text.isascii()
    assert hash(content) == hash(text)


def test_first_failing_argument_is_reported():
    with pytest.raises(TypeError, match="^argument 'token': "):
        HtmlStartTag(1, 2, "x", 3, None)


def test_accepted_conversions():
    class Index:
        def __index__(self):
            return 7

    t = Token("x", True, False, (Index(), 2))
    assert (t.start_index, t.end_index, t.line_col) == (1, 0, (7, 2))
    assert Token(content="x", start_index=0, end_index=1, line_col=(1, 1)) == Token("x", 0, 1, (1, 1))
    assert Token("x", 0, 2**64 - 1, (1, 1)).end_index == 2**64 - 1

    class StrSub(str):
        pass

    assert Token(StrSub("sub"), 0, 1, (1, 1)).content == "sub"
    p = FillDataPattern(T, None, (), None)
    assert p.fields == [] and type(p.fields) is list
    tag = HtmlStartTag(T, T, (ATTR,), False, ())
    assert tag.attrs == [ATTR] and type(tag.attrs) is list
    e = Expr(T, X, (X,), ())
    assert e.used_variables == [X] and e.comments == []
    assert HtmlAttr(T, T, None, None, None, HtmlAttrKind.Static, [], []) == \
        HtmlAttr(T, T, None, None, None, HtmlAttrKind.Static, [], [], None)
    assert HtmlAttr(T, T, None, None, None, HtmlAttrKind.Static, [], [], fill_data_pattern=None).fill_data_pattern is None
    assert Template(range(0), [], [], []) == empty_template()


def test_numpy_style_booleans_are_accepted_where_bools_are():
    assert Node_SelfClosing(ST, [], [], [], FakeNumpyBool(True)).contains_fills is True
    assert StaticNamedSlot(T, FakeNumpyBool(False)).required is False
    assert HtmlStartTag(T, T, [], FakeNumpyBool(True), []).is_self_closing is True

    class NotNumpy(FakeNumpyBool):
        pass

    NotNumpy.__module__ = "mymodule"
    NotNumpy.__qualname__ = "NotNumpy"
    with pytest.raises(TypeError, match="^argument 'required': 'NotNumpy' object cannot be cast as 'bool'$"):
        StaticNamedSlot(T, NotNumpy(True))


def test_sequences_that_change_while_read():
    class Shrinking(collections.abc.Sequence):
        """Yields tokens made on the fly and empties its backing list while read."""

        def __init__(self):
            self.items = [tok(str(i)) for i in range(5)]

        def __len__(self):
            raise RuntimeError("length is ignored")

        def __getitem__(self, i):
            item = self.items[i]
            self.items = self.items[:i + 1]
            gc.collect()
            return item

        def __iter__(self):
            for i in range(3):
                yield tok(f"made{i}")
                gc.collect()

    e = Expr(T, X, Shrinking(), [])
    assert [t.content for t in e.used_variables] == ["made0", "made1", "made2"]

    items = [FillDataField(tok(str(i)), tok(str(i))) for i in range(4)]

    class Mutating(list):
        def __iter__(self):
            for item in list.__iter__(self):
                self.clear()
                yield item

    p = FillDataPattern(T, None, Mutating(items), None)
    assert len(p.fields) == 1

    class Failing(collections.abc.Sequence):
        def __len__(self):
            return 1

        def __getitem__(self, i):
            raise TypeError("broken item")

    with pytest.raises(TypeError, match="^argument 'comments': broken item$"):
        Template([], Failing(), [], [])

    class FailingValue(Failing):
        def __getitem__(self, i):
            raise ValueError("not prefixed")

    with pytest.raises(ValueError, match="^not prefixed$"):
        Template([], FailingValue(), [], [])


# ---- equality ---------------------------------------------------------------------

def test_value_equality_protocol():
    a, b = Token("a", 0, 1, (1, 1)), Token("a", 0, 1, (1, 1))
    assert a == b and not (a != b)
    assert (a == "a") is False and (a != "a") is True
    with pytest.raises(TypeError):
        a < b  # noqa: B015
    for value in (a, C, Text(a), empty_template(), StaticNamedSlot(a, None), ATTR):
        with pytest.raises(TypeError):
            hash(value)
    with pytest.raises(TypeError):
        {Text(a)}  # noqa: B018


def make_variants():
    """Pairs of values of one class that differ in exactly one field."""
    t1, t2 = tok("a"), tok("a", 0, 1, 1, 2)
    kind = HtmlAttrKind.Static
    fields = [FillDataField(t1, t1), FillDataField(t2, t1)]
    return [
        (Token("a", 0, 1, (1, 1)), Token("a", 0, 1, (1, 2))),
        (Token("a", 0, 1, (1, 1)), Token("a", 0, 2, (1, 1))),
        (Token("a", 0, 1, (1, 1)), Token("b", 0, 1, (1, 1))),
        (Comment(t1, t1), Comment(t1, t2)),
        (FillDataField(t1, t1), FillDataField(t2, t1)),
        (FillDataPattern(t1, None, [], None), FillDataPattern(t1, None, [], t1)),
        (FillDataPattern(t1, None, fields, None), FillDataPattern(t1, None, fields[::-1], None)),
        (FillDataPattern(t1, t1, [], None), FillDataPattern(t1, None, [], None)),
        (HtmlAttr(t1, t1, None, None, None, kind, [], []),
         HtmlAttr(t1, t1, None, None, None, HtmlAttrKind.Expression, [], [])),
        (HtmlAttr(t1, t1, None, None, '"', kind, [], []), HtmlAttr(t1, t1, None, None, "'", kind, [], [])),
        (HtmlAttr(t1, t1, t1, None, None, kind, [], []), HtmlAttr(t1, t1, None, t1, None, kind, [], [])),
        (HtmlAttr(t1, t1, None, None, None, kind, [], [], FillDataPattern(t1, None, [], None)),
         HtmlAttr(t1, t1, None, None, None, kind, [], [])),
        (HtmlStartTag(t1, t1, [ATTR, HtmlAttr(t1, t1, None, None, None, kind, [], [])], False, []),
         HtmlStartTag(t1, t1, [HtmlAttr(t1, t1, None, None, None, kind, [], []), ATTR], False, [])),
        (HtmlStartTag(t1, t1, [], False, []), HtmlStartTag(t1, t1, [], True, [])),
        (HtmlEndTag(t1, t1, []), HtmlEndTag(t1, t1, [Comment(t1, t1)])),
        (Text(Token("a", 0, 1, (1, 1))), Text(Token("a", 0, 2, (1, 1)))),
        (Expr(t1, t1, [t1, t2], []), Expr(t1, t1, [t2, t1], [])),
        (StaticNamedSlot(t1, None), StaticNamedSlot(t1, False)),
        (StaticNamedSlot(t1, True), StaticNamedSlot(t1, False)),
        (Template([], [C], [], []), Template([], [], [], [])),
        (Template([], [], [t1], []), Template([], [], [], [])),
        (Template([], [], [], [StaticNamedSlot(t1, None)]), Template([], [], [], [])),
        (Template([TemplateElement_Text(Text(t1))], [], [], []),
         Template([TemplateElement_Expr(Expr(t1, t1, [], []))], [], [], [])),
        (Template([TemplateElement_Node(with_body("div"))], [], [], []),
         Template([TemplateElement_Node(with_body("div", contains_fills=True))], [], [], [])),
        (Template([TemplateElement_Node(with_body("div"))], [], [], []),
         Template([TemplateElement_Node(Node_SelfClosing(start_tag("div"), [], [], [], False))], [], [], [])),
        (Template([TemplateElement_Node(with_body("div", Template([], [C], [], [])))], [], [], []),
         Template([TemplateElement_Node(with_body("div"))], [], [], [])),
        (Template([TemplateElement_Node(Node_WithBody(ST, ET, BODY, [t1], [], [], False))], [], [], []),
         Template([TemplateElement_Node(Node_WithBody(ST, ET, BODY, [], [t1], [], False))], [], [], [])),
    ]


VARIANT_COUNT = len(make_variants())


@pytest.mark.parametrize("index", range(VARIANT_COUNT))
def test_values_differing_in_one_field_are_unequal(index):
    left, right = make_variants()[index]
    assert left != right and right != left
    assert not (left == right)
    # The same values built again are equal (value equality, not identity).
    again_left, again_right = make_variants()[index]
    assert left == again_left and right == again_right
    assert not (left != again_left)


def test_reprs_that_hide_a_field_still_compare_it():
    a, b = Template([], [C], [], []), Template([], [], [], [])
    assert repr(a) == repr(b) and a != b
    n1, n2 = with_body("p"), with_body("p", contains_fills=True)
    assert repr(n1) == repr(n2)
    e1, e2 = TemplateElement_Node(n1), TemplateElement_Node(n2)
    assert repr(e1) != repr(e2)
    assert Template([e1], [], [], []) != Template([e2], [], [], [])


def test_nodes_and_elements_compare_by_identity():
    n = with_body("div")
    m = with_body("div")
    assert n == n and n != m and hash(n) == hash(n)
    e = TemplateElement_Node(n)
    assert e != TemplateElement_Node(n) and hash(e) is not None
    # Inside templates the same nodes compare by value.
    assert Template([TemplateElement_Node(n)], [], [], []) == Template([TemplateElement_Node(m)], [], [], [])


# ---- fresh copies -----------------------------------------------------------------

def test_getters_return_fresh_equal_objects():
    t = Token("x", 0, 1, (1, 1))
    assert t.line_col is not t.line_col and t.line_col == t.line_col
    c = Comment(t, t)
    assert c.token is not c.token and c.token == c.token
    e = Expr(t, t, [t], [c])
    assert e.used_variables is not e.used_variables and e.used_variables == e.used_variables
    node = with_body("div", Template([TemplateElement_Text(Text(t))], [], [], []))
    assert node.body is not node.body and node.body == node.body
    tmpl = Template([TemplateElement_Node(node)], [], [], [])
    assert tmpl.elements != tmpl.elements  # element objects compare by identity
    assert Template(tmpl.elements, [], [], []) == Template(tmpl.elements, [], [], [])
    assert Template(tmpl.elements, [], [], []) == tmpl


def test_changing_a_returned_object_leaves_the_instance():
    tag = HtmlStartTag(T, T, [ATTR], False, [])
    attrs = tag.attrs
    attrs.clear()
    assert tag.attrs == [ATTR]
    p = FillDataPattern(T, None, [FillDataField(T, T)], None)
    p.fields.append(FillDataField(X, X))
    assert len(p.fields) == 1
    source = [Comment(T, T)]
    end = HtmlEndTag(T, T, source)
    source.append(Comment(X, X))
    assert len(end.comments) == 1


def test_subtrees_read_from_a_tree_are_independent_copies():
    leaf = Template([TemplateElement_Text(Text(HI))], [], [], [])
    root = Template([TemplateElement_Node(with_body("div", leaf))], [], [], [])
    element = root.elements[0]
    node = element._0
    assert type(node) is Node_WithBody and node.name == "div"
    assert type(node.body.elements[0]._0) is Text
    assert node.body == leaf
    assert element[0] is not element._0


# ---- variants, matching and indexing --------------------------------------------------

def test_template_element_indexing():
    e = TemplateElement_Expr(Expr(T, X, [], []))
    assert len(e) == 1
    assert e[0] == e._0 == Expr(T, X, [], [])
    assert isinstance(e, TemplateElement)
    with pytest.raises(IndexError, match="^tuple index out of range$"):
        e[1]
    with pytest.raises(OverflowError):
        e[-1]
    with pytest.raises(TypeError, match="^argument 'idx': "):
        e["0"]
    tx = Text(HI)
    assert TemplateElement_Text(tx)[0] == tx
    # A 1-tuple iterates and unpacks to its one item.
    assert list(e) == [Expr(T, X, [], [])]
    (only,) = TemplateElement_Text(tx)
    assert only == tx
    assert tuple(TemplateElement_Node(with_body()))[0].name == "div"
    assert type(TemplateElement_Node(with_body())[0]) is Node_WithBody


def test_match_statements_on_variants():
    st = BR_TAG
    n = Node_SelfClosing(st, [X], [K], [C], True)
    match n:
        case Node.WithBody():
            pytest.fail("matched the wrong variant")
        case Node.SelfClosing(tag, used, introduced, comments, fills):
            assert (tag, used, introduced, comments, fills) == (st, [X], [K], [C], True)
    w = Node_WithBody(st, ET, BODY, [], [], [], False)
    match w:
        case Node_WithBody(start_tag=s, end_tag=e, body=b, contains_fills=False):
            assert (s, e, b) == (st, ET, BODY)
        case _:
            pytest.fail("no match")
    elements = [TemplateElement_Text(Text(HI)), TemplateElement_Expr(Expr(T, X, [], [])),
                TemplateElement_Node(n)]
    seen = []
    for element in elements:
        match element:
            case TemplateElement.Text(inner):
                seen.append(("text", inner))
            case TemplateElement.Expr(Expr(value=v)):
                seen.append(("expr", v))
            case TemplateElement.Node(Node.SelfClosing() as node):
                seen.append(("node", node.name))
    assert seen == [("text", Text(HI)), ("expr", X), ("node", "br")]
    assert Node_SelfClosing.__match_args__ == ("start_tag", "used_variables", "introduced_variables",
                                               "comments", "contains_fills")
    assert Node_WithBody.__match_args__[:3] == ("start_tag", "end_tag", "body")
    assert TemplateElement_Expr.__match_args__ == ("_0",)


def test_node_name_and_variant_attributes():
    n = Node_WithBody(start_tag("div"), end_tag("span"), BODY, [], [], [], False)
    assert n.name == "div"
    sc = Node_SelfClosing(BR_TAG, [], [], [], False)
    assert sc.name == "br" and isinstance(sc, Node)
    assert type(sc) is Node.SelfClosing
    for missing in ("end_tag", "body"):
        with pytest.raises(AttributeError):
            getattr(sc, missing)
    assert StaticNamedSlot(T, None).required is None
    assert StaticNamedSlot(T, True).required is True


def test_class_switched_between_variants_reads_the_value_it_holds():
    # Both variant classes share one layout, so Python allows assigning
    # __class__ across them; reading must still follow the value held.
    sc = Node_SelfClosing(BR_TAG, [X], [], [], True)
    sc.__class__ = Node_WithBody
    for missing in ("end_tag", "body"):
        with pytest.raises(AttributeError, match=f"^a self-closing node has no attribute '{missing}'$"):
            getattr(sc, missing)
    assert (sc.name, sc.used_variables, sc.contains_fills) == ("br", [X], True)
    assert repr(sc).startswith("Node::SelfClosing(")
    wb = Node_WithBody(start_tag("div"), end_tag("div"), BODY, [], [], [], False)
    wb.__class__ = Node_SelfClosing
    assert repr(wb).startswith("Node::WithBody(")
    e = TemplateElement_Text(Text(HI))
    e.__class__ = TemplateElement_Node
    assert e[0] == Text(HI) and e._0 == Text(HI)


# ---- deep trees -------------------------------------------------------------------

DEPTH = 100_000


def build_deep(depth, leaf_text="leaf"):
    st, et = start_tag("div"), end_tag("div")
    body = Template([TemplateElement_Text(Text(tok(leaf_text)))], [], [], [])
    for _ in range(depth):
        node = Node_WithBody(st, et, body, [], [], [], False)
        body = Template([TemplateElement_Node(node)], [], [], [])
    return body


def test_deep_tree_built_from_python():
    a = build_deep(DEPTH)
    b = build_deep(DEPTH)
    c = build_deep(DEPTH, leaf_text="other")
    assert a == b
    assert a != c

    text = repr(a)
    assert text.startswith("Template(elements=[Node(WithBody { start_tag: HtmlStartTag { ")
    assert text.count("body: Template { elements: [") == DEPTH
    assert text.endswith("], used_variables=[], slots=[])")
    assert '"leaf"' in text

    # Copies made by constructors and getters.
    copy = Template(a.elements, a.comments, a.used_variables, a.slots)
    assert copy == a
    inner = a.elements[0]._0.body
    assert inner == build_deep(DEPTH - 1)
    node = TemplateElement_Node(a.elements[0]._0)
    assert repr(node).count("WithBody {") == DEPTH

    del a, b, c, copy, inner, node
    gc.collect()


def build_shared(depth, leaf_text="leaf"):
    """Each level holds two nodes copied from one, so their bodies are one
    shared value: 2**depth paths through `depth` distinct bodies."""
    st, et = start_tag("div"), end_tag("div")
    body = Template([TemplateElement_Text(Text(tok(leaf_text)))], [], [], [])
    for _ in range(depth):
        element = TemplateElement_Node(Node_WithBody(st, et, body, [], [], [], False))
        body = Template([element, element], [], [], [])
    return body


def test_deep_tree_sharing_bodies():
    a = build_shared(DEPTH)
    # Equality visits each pair of shared bodies once, not once per path.
    assert a == build_shared(DEPTH)
    assert a != build_shared(DEPTH, leaf_text="other")
    assert a.elements[1]._0.body == a.elements[0]._0.body
    assert repr(build_shared(3)).count('"leaf"') == 8
    # Releasing must not recurse once per level.
    del a
    gc.collect()


# ---- round trips through getters and constructors ----------------------------------

u64 = st.integers(min_value=0, max_value=2**64 - 1)
chars = st.characters(codec="utf-8")  # no lone surrogates
tokens = st.builds(Token, st.text(chars, max_size=6), u64, u64, st.tuples(u64, u64))
comments = st.builds(Comment, tokens, tokens)
opt_tokens = st.none() | tokens
patterns = st.builds(FillDataPattern, tokens, opt_tokens,
                     st.lists(st.builds(FillDataField, tokens, tokens), max_size=2), opt_tokens)
attrs = st.builds(HtmlAttr, tokens, tokens, opt_tokens, opt_tokens, st.none() | chars,
                  st.sampled_from([HtmlAttrKind.Static, HtmlAttrKind.Expression, HtmlAttrKind.Template,
                                   HtmlAttrKind.Meta]),
                  st.lists(comments, max_size=2), st.lists(tokens, max_size=2), st.none() | patterns)
start_tags = st.builds(HtmlStartTag, tokens, tokens, st.lists(attrs, max_size=2), st.booleans(),
                       st.lists(comments, max_size=1))
end_tags = st.builds(HtmlEndTag, tokens, tokens, st.lists(comments, max_size=1))
slots = st.builds(StaticNamedSlot, tokens, st.none() | st.booleans())
leaf_elements = st.one_of(
    st.builds(lambda t: TemplateElement_Text(Text(t)), tokens),
    st.builds(lambda t, v, u, c: TemplateElement_Expr(Expr(t, v, u, c)), tokens, tokens,
              st.lists(tokens, max_size=2), st.lists(comments, max_size=1)),
    st.builds(lambda s, u, i, c, f: TemplateElement_Node(Node_SelfClosing(s, u, i, c, f)), start_tags,
              st.lists(tokens, max_size=1), st.lists(tokens, max_size=1), st.lists(comments, max_size=1),
              st.booleans()),
)


def templates_of(elements):
    return st.builds(Template, st.lists(elements, max_size=3), st.lists(comments, max_size=1),
                     st.lists(tokens, max_size=1), st.lists(slots, max_size=1))


trees = templates_of(st.recursive(
    leaf_elements,
    lambda children: st.builds(
        lambda s, e, b, u, i, c, f: TemplateElement_Node(Node_WithBody(s, e, b, u, i, c, f)), start_tags,
        end_tags, templates_of(children), st.lists(tokens, max_size=1), st.lists(tokens, max_size=1),
        st.lists(comments, max_size=1), st.booleans()),
    max_leaves=8))


def rebuild(value):
    """A new object made from what the getters return, all the way down."""
    if isinstance(value, list):
        return [rebuild(v) for v in value]
    if value is None or isinstance(value, (str, int, tuple, HtmlAttrKind)):
        return value
    if isinstance(value, TemplateElement):
        return type(value)(rebuild(value._0))
    if isinstance(value, HtmlAttr):
        # `kind` has no attribute; it shows in the repr (token texts here are too short to fake it).
        kind = next(k for k in (HtmlAttrKind.Static, HtmlAttrKind.Expression, HtmlAttrKind.Template,
                                HtmlAttrKind.Meta) if f", kind={repr(k).split('::')[1]}, " in repr(value))
        return HtmlAttr(rebuild(value.token), rebuild(value.key), rebuild(value.value),
                        rebuild(value.inner_value), value.quote_char, kind, rebuild(value.comments),
                        rebuild(value.used_variables), rebuild(value.fill_data_pattern))
    cls = type(value)
    names = [n.split("=")[0] for n in cls.__text_signature__.strip("()").split(", ")]
    return cls(*[rebuild(getattr(value, n)) for n in names])


@settings(max_examples=150, deadline=None)
@given(trees)
def test_getters_and_constructors_round_trip(tree):
    copy = rebuild(tree)
    assert copy == tree and copy is not tree
    assert repr(copy) == repr(tree)
    assert Template(tree.elements, tree.comments, tree.used_variables, tree.slots) == tree


@settings(max_examples=100, deadline=None)
@given(trees, st.data())
def test_changing_any_comment_list_breaks_equality(tree, data):
    # Walk to a random template of the tree and give it one more comment.
    path = []
    node = tree
    while True:
        bodies = [i for i, e in enumerate(node.elements) if type(e._0) is Node_WithBody]
        if not bodies or data.draw(st.booleans()):
            break
        i = data.draw(st.sampled_from(bodies))
        path.append(i)
        node = node.elements[i]._0.body

    def changed(template, rest):
        if not rest:
            extra = Comment(Token("new", 0, 3, (1, 1)), Token("new", 0, 3, (1, 1)))
            return Template(template.elements, template.comments + [extra], template.used_variables,
                            template.slots)
        elements = template.elements
        n = elements[rest[0]]._0
        body = changed(n.body, rest[1:])
        elements[rest[0]] = TemplateElement_Node(Node_WithBody(
            n.start_tag, n.end_tag, body, n.used_variables, n.introduced_variables, n.comments,
            n.contains_fills))
        return Template(elements, template.comments, template.used_variables, template.slots)

    other = changed(tree, path)
    assert other != tree
    assert changed(tree, path) == other
