"""parse_template end to end: the tree, its positions, where comments are
filed, and the messages of the element stack."""

import re
import unicodedata

import pytest

from lumra_core._rust import template_parser as tp


def parse(source, **kwargs):
    return tp.parse_template(source, **kwargs)


def failure(source, **kwargs):
    with pytest.raises((SyntaxError, ValueError)) as info:
        parse(source, **kwargs)
    return type(info.value), str(info.value)


def tok(token):
    return (token.content, token.start_index, token.end_index, *token.line_col)


def outline(template):
    """Elements as nested tuples: ("text", content), ("expr", value),
    (name, [body]) for an element with a body, (name + "/",) without one."""
    out = []
    for element in template.elements:
        item = element[0]
        if isinstance(item, tp.Text):
            out.append(("text", item.token.content))
        elif isinstance(item, tp.Expr):
            out.append(("expr", item.value.content))
        elif isinstance(item, tp.Node.WithBody):
            out.append((item.start_tag.name.content, outline(item.body)))
        else:
            out.append((item.start_tag.name.content + "/",))
    return out


def kind(attr):
    """HtmlAttr has no `kind` attribute; the kind shows in its repr."""
    return re.search(r"kind=(\w+)", repr(attr)).group(1)


def first_node(template):
    return template.elements[0][0]


def assert_positioned(source, line, col, marked, message):
    """parse_template raises SyntaxError laid out at `marked`, the text that
    starts at line:col (a position when empty), with `message`."""
    kind, text = failure(source)
    assert kind is SyntaxError
    source_line = source.split("\n")[line - 1].rstrip("\r")
    assert source_line[col - 1:col - 1 + len(marked)] == marked, "the table's own position"
    caret = "^---" if not marked else "^" if len(marked) == 1 else "^" + "-" * (len(marked) - 2) + "^"
    assert text == (f"Parse error:  --> {line}:{col}\n  |\n{line} | {source_line}\n"
                    f"  | {' ' * (col - 1)}{caret}\n  |\n  = {message}")


class TestTree:
    @pytest.mark.parametrize("source,expected", [
        ("", []),
        ("hi", [("text", "hi")]),
        ("<div>a<span>b</span></div>c", [("div", [("text", "a"), ("span", [("text", "b")])]), ("text", "c")]),
        # Void elements need no end tag; the name is compared exactly.
        ("<br><img src=x>", [("br/",), ("img/",)]),
        ("<BR></BR>", [("BR", [])]),
        ("<div/><c-card />", [("div/",), ("c-card/",)]),
        ("<!DOCTYPE html><?xml v?>", [("text", "<!DOCTYPE html>"), ("text", "<?xml v?>")]),
        ("<!-- a -->", [("text", "<!-- a -->")]),
        # Raw content is one text, never parsed.
        ("<c-raw><p>{{ x }}</c-raw>", [("c-raw", [("text", "<p>{{ x }}")])]),
        # Template comments produce no element.
        ("a{# b #}c", [("text", "a"), ("text", "c")]),
    ])
    def test_elements(self, source, expected):
        assert outline(parse(source)) == expected

    def test_void_and_self_closing_nodes(self):
        br, slash = (e[0] for e in parse("<br><br/>").elements)
        assert type(br) is tp.Node.SelfClosing and not br.start_tag.is_self_closing
        assert type(slash) is tp.Node.SelfClosing and slash.start_tag.is_self_closing

    def test_attributes_static(self):
        attrs = first_node(parse("<p class=\"a b\" data-x='1' hidden n=v></p>")).start_tag.attrs
        table = [(a.key.content, a.value and a.value.content, a.inner_value and a.inner_value.content,
                  a.quote_char, kind(a)) for a in attrs]
        assert table == [("class", '"a b"', "a b", '"', "Static"), ("data-x", "'1'", "1", "'", "Static"),
                         ("hidden", None, None, None, "Static"), ("n", "v", "v", None, "Static")]


class TestPositions:
    # The property test below checks every token of random trees; these are
    # the long line and the spellings it does not generate.
    @pytest.mark.parametrize("source,pick,expected", [
        ("日本" * 5000 + "<p x='é'></p>", lambda t: t.elements[1][0].start_tag.attrs[0].inner_value,
         ("é", 30006, 30008, 1, 10007)),
        ("a\r<b></b>", lambda t: t.elements[1][0].start_tag.token, ("<b>", 2, 5, 1, 3)),
        ("{##}", lambda t: t.comments[0].value, ("", 2, 2, 1, 3)),
    ])
    def test_token(self, source, pick, expected):
        assert tok(pick(parse(source))) == expected


class TestComments:
    def test_between_elements_filed_at_top_in_source_order(self):
        t = parse("{# a #}<div>{# b #}<!-- h --></div>")
        assert [c.value.content for c in t.comments] == [" a ", " b ", " h "]
        div = first_node(t)
        # The HTML comment belongs to the div's body and so to the div; the
        # template comment between its children does not.
        assert [c.value.content for c in div.body.comments] == [" h "]
        assert [c.value.content for c in div.comments] == [" h "]

    @pytest.mark.parametrize("source,node_comments,tag_comments", [
        ("<div {# s #} a=1 {# t #}></div {# e #}>", [" e ", " s ", " t "], [" s ", " t "]),
        ("<br {# v #}>", [" v "], [" v "]),
        # A void element files its attributes' comments too, as the self-closing form does.
        ("<input {# v #} c-v='a # n'>", [" v ", " n"], [" v "]),
        ("<x-y {# w #}/>", [" w "], [" w "]),
        # A raw block skips validation; its tag comments still reach the tree.
        ("<c-raw {# r #}>z</c-raw {# q #}>", [" q ", " r "], [" r "]),
    ])
    def test_inside_tags(self, source, node_comments, tag_comments):
        t = parse(source)
        node = first_node(t)
        assert [c.value.content for c in node.comments] == node_comments
        assert [c.value.content for c in node.start_tag.comments] == tag_comments
        assert [c.value.content for c in t.comments] == node_comments


class TestStackErrors:
    @pytest.mark.parametrize("source,line,col,marked,message", [
        ("<div><span></div>", 1, 12, "</div>", "Mismatched tags: expected closing tag '</span>', found '</div>'"),
        ("<div></DIV>", 1, 6, "</DIV>", "Mismatched tags: expected closing tag '</div>', found '</DIV>'"),
        ("</p>", 1, 1, "</p>", "Unexpected closing tag '</p>': no matching opening tag"),
        ("<div><p>", 1, 6, "<p>", "Unclosed tag <p>: expected </p> before end of template"),
        ("ab\n  é<i>x", 2, 4, "<i>", "Unclosed tag <i>: expected </i> before end of template"),
        ("<BR>", 1, 1, "<BR>", "Unclosed tag <BR>: expected </BR> before end of template"),
        ("x\r\n</b>", 2, 1, "</b>", "Unexpected closing tag '</b>': no matching opening tag"),
        ("<c-raw/>", 1, 2, "c-raw",
         "Tag name 'c-raw' is reserved and cannot be used as a regular HTML tag. Use the special syntax instead."),
        ("<c-raw>", 1, 2, "c-raw",
         "Tag name 'c-raw' is reserved and cannot be used as a regular HTML tag. Use the special syntax instead."),
        ("<p></p x>", 1, 8, "x", "html_end_tag must not contain any attributes"),
        ("<div", 1, 5, "", "Failed to parse template: expected template_comment"),
    ])
    def test_rendered(self, source, line, col, marked, message):
        assert_positioned(source, line, col, marked, message)

    def test_depth_bound(self):
        deep = "<div>" * 512 + "</div>" * 512
        node = first_node(parse(deep))
        for _ in range(511):
            node = first_node(node.body)
        assert outline(node.body) == []
        # Void elements do not count; the 513th open element is refused at its start tag.
        kind, text = failure("<br>" * 600 + "<div>" * 512 + "\n<p>" + "</p>" + "</div>" * 512)
        assert kind is SyntaxError
        assert text.endswith("= Template nesting is too deep (more than 512 levels)")
        assert " --> 2:1\n" in text


class TestExpressions:
    @pytest.mark.parametrize("source,value,used", [
        # The expression text runs from its first character, trailing blanks included.
        ("{{ x }}", ("x ", 3, 5, 1, 4), [("x", 3, 4, 1, 4)]),
        # Lines after the first keep their own columns.
        ("{{ a +\n b }}", ("a +\n b ", 3, 10, 1, 4), [("a", 3, 4, 1, 4), ("b", 8, 9, 2, 2)]),
        ("\n\n\n\n         {{ a +\n b }}", ("a +\n b ", 16, 23, 5, 13), [("a", 16, 17, 5, 13), ("b", 21, 22, 6, 2)]),
    ])
    def test_value_and_variables(self, source, value, used):
        t = parse(source)
        expr = t.elements[-1][0]
        assert tok(expr.value) == value
        assert [tok(v) for v in t.used_variables] == used

    def test_comment_inside_expression(self):
        t = parse("<p>{{ x # note\n }}</p>")
        expr = first_node(t).body.elements[0][0]
        assert [(tok(c.token), tok(c.value)) for c in expr.comments] == [
            (("# note", 8, 14, 1, 9), (" note", 9, 14, 1, 10))]
        # Filed on the body, the node and the top level as well.
        assert [c.value.content for c in t.comments] == [" note"]
        assert [c.value.content for c in first_node(t).comments] == [" note"]

    @pytest.mark.parametrize("source,lang,line,col,underline,message", [
        ("{{ x + }}", None, 1, 4, "^--^", "Failed to parse expression: Parse error: Expected an expression at byte range 5..6"),
        ("{{ x }}", "go", 1, 4, "^^", "Failed to parse expression: Go expression parsing is not yet implemented. "
                                     "Expressions use Expr or CEL-Go syntax, not raw Go code."),
    ])
    def test_errors_on_the_expression_text(self, source, lang, line, col, underline, message):
        kind, text = failure(source, lang=lang)
        assert kind is SyntaxError
        assert f" --> {line}:{col}\n" in text
        assert text.splitlines()[3] == "  | " + " " * (col - 1) + underline
        assert text.endswith("= " + message)


def attrs_of(source):
    return first_node(parse(source)).start_tag.attrs


class TestAttributeKinds:
    # Positions: the property test below checks every token.
    @pytest.mark.parametrize("attr,kind_name,used", [
        ('class="a {{ b }}"', "Static", []),
        ("c-if='x > 1'", "Expression", ["x"]),
        ("c-title=y.z", "Expression", ["y"]),
        ('#c-key="item.id"', "Meta", ["item"]),
        ("#c-ignore", "Meta", []),
        # Markup values are templates; the test trims blanks.
        ('c-x="<br>"', "Template", []),
        ('c-x=" <img/> "', "Template", []),
        ('c-x="<p>{{ q }}</p>"', "Template", ["q"]),
        ('c-x="<>text {{ r }}</>"', "Template", ["r"]),
        ('c-x="<c-raw>{{ s }}</c-raw>"', "Template", []),
        # Markup that does not end as markup is an expression (here a set of sets).
        ('c-x="{{ t }}"', "Expression", ["t"]),
    ])
    def test_kinds(self, attr, kind_name, used):
        (a,) = attrs_of(f"<div {attr}></div>")
        assert kind(a) == kind_name
        assert [v.content for v in a.used_variables] == used

    def test_bare_markers(self):
        t = parse("<p c-if='a'></p><i c-else></i><b c-for='x in xs'></b><u c-empty></u>")
        markers = [e[0].start_tag.attrs[0] for e in t.elements[1::2]]
        assert [(a.key.content, a.value, kind(a)) for a in markers] == [("c-else", None, "Expression"),
                                                                        ("c-empty", None, "Expression")]

    def test_nested_template_comments_and_slots(self):
        t = parse('<c-card c-x="<c-slot name=\'s\'>{# n #}</c-slot>"></c-card>')
        (a,) = first_node(t).start_tag.attrs
        assert [c.value.content for c in a.comments] == [" n "]
        assert [(tok(s.token), s.required) for s in t.slots] == [(("s", 27, 28, 1, 28), False)]

    @pytest.mark.parametrize("source,line,col,marked,message", [
        ('<p c-else="x"></p>', 1, 4, 'c-else="x"', "'c-else' takes no value. Write it as a bare control-flow marker."),
        ("<p c-empty='1'></p>", 1, 4, "c-empty='1'", "'c-empty' takes no value. Write it as a bare control-flow marker."),
        ("<p #c-key></p>", 1, 4, "#c-key",
         "'#c-key' must have an expression value whose result is the node's key, e.g. #c-key=\"item.id\"."),
        ("<p #c-key='  '></p>", 1, 4, "#c-key='  '",
         "'#c-key' must have an expression value whose result is the node's key, e.g. #c-key=\"item.id\"."),
        ("<p #c-ignore=yes></p>", 1, 4, "#c-ignore=yes",
         "'#c-ignore' takes no value. Write the bare marker ('#c-ignore') to opt this element and its subtree "
         "out of morphing."),
        ("<p #c-other=1></p>", 1, 4, "#c-other",
         "Unknown '#c-*' attribute '#c-other'. The '#c-*' channel is reserved for framework metadata about the "
         "node, and has exactly two members: '#c-key' and '#c-ignore'."),
        ('<p c-if="<br>"></p>', 1, 4, 'c-if="<br>"',
         "'c-if' condition must be an expression; template values are not allowed."),
        ('<p c-elif=" <>a</>"></p>', 1, 4, 'c-elif=" <>a</>"',
         "'c-elif' condition must be an expression; template values are not allowed."),
        ("<p c-for='<>a</>'></p>", 1, 4, "c-for='<>a</>'",
         "'c-for' must contain a for-loop clause expression; template values are not allowed."),
        ('<p c-x="<p>hi"></p>', 1, 9, "<p>hi",
         "Failed to parse expression: Parse error: Expected an expression at byte range 0..1: '<'"),
        # Errors inside nested templates lie on the whole input, also two levels deep.
        ("<a c-x='\n  <b c-y=\"<i>{{ z + }}</i>\"></b>'></a>", 2, 17, "z + ",
         "Failed to parse expression: Parse error: Expected an expression at byte range 5..6"),
        ("<a\n c-x='<><b></>'></a>", 2, 9, "<b>", "Unclosed tag <b>: expected </b> before end of template"),
        ("<a\n c-x='<b></i>'></a>", 2, 10, "</i>", "Mismatched tags: expected closing tag '</b>', found '</i>'"),
        ("<a\n c-x='<><b x=\"</>'></a>", 2, 14, "",
         "Failed to parse template: expected double_quoted_value, single_quoted_value, or unquoted_value"),
    ])
    def test_errors(self, source, line, col, marked, message):
        assert_positioned(source, line, col, marked, message)



TAKEN = ("Cannot define variable '{}' in {} - variable name is already taken. Variable shadowing is not allowed, "
         "use a different name.")


class TestScopes:
    @pytest.mark.parametrize("source,used", [
        ("{{ x }}{{ x }}", ["x", "x"]),
        # A loop's body reads its variable without needing it from the context.
        ('<c-for each="item in items">{{ item }}{{ other }}</c-for>', ["other", "items"]),
        ('<c-for each="\ufb01le in files">{{ file }}</c-for>', ["files"]),
        # A loop on an element: its other attributes may read the loop variable.
        ('<ul><li c-for="x in xs" c-class="x.cls" c-title="y">{{ x }}</li></ul>', ["xs", "y"]),
        # Sibling bindings may reuse a name.
        ('<c-for each="x in a"></c-for><c-for each="x in b"></c-for>', ["a", "b"]),
    ])
    def test_used_variables(self, source, used):
        t = parse(source)
        assert [v.content for v in t.used_variables] == used

    @pytest.mark.parametrize("source,col,marked,message", [
        ('<c-card><c-fill name="s" data="d" fallback="d"></c-fill></c-card>', 45, "d",
         "Cannot define variable 'd' more than once in tag '<c-fill>'. Use a distinct name for each binding."),
        ('{{ item }}<c-for each="item in items"></c-for>', 24, "item", TAKEN.format("item", "tag '<c-for>'")),
        ('{{ file }}<c-for each="\ufb01le in fs"></c-for>', 24, "\ufb01le", TAKEN.format("file", "tag '<c-for>'")),
        ('<c-for each="x in a"><c-for each="x in b"></c-for></c-for>', 35, "x", TAKEN.format("x", "tag '<c-for>'")),
        # The same name in the loop's own control flow is in use.
        ("<li c-for=\"x in xs\" c-if='x'></li>", 12, "x", TAKEN.format("x", "tag '<li>'")),
        # Templates nested in attribute values may not shadow either.
        ("<c-for each=\"item in items\"><c-card c-x='<c-for each=\"item in xs\"></c-for>'></c-card></c-for>",
         55, "item", TAKEN.format("item", "nested template attribute")),
        ("<li c-for=\"x in xs\" c-y='<c-for each=\"x in z\"></c-for>'></li>", 39, "x",
         TAKEN.format("x", "nested template attribute")),
    ])
    def test_shadowing(self, source, col, marked, message):
        assert_positioned(source, 1, col, marked, message)


# ---- random trees: every token is a piece of the input, every list of used variables follows its rule ----

from hypothesis import given, settings, strategies as st  # noqa: E402

TEXTS = st.sampled_from(["a", "é b", "\n", "\r\n", "日本", " ", "x\ty", "<3", "}"])
EXPRS = st.sampled_from(["{{ x }}", "{{a+b}}", "{{ f(é_1) # c\n }}", "{{ a +\n  b }}", "{{ 'é' }}"])
COMMENTS = st.sampled_from(["{# n #}", "{##}", "<!-- h\n -->", "<!DOCTYPE html>"])
ATTRS = st.sampled_from(["", " class='a b'", " c-for='v in vs' c-title='v'", ' c-if="x > 1"', "\n  title=t", " #c-key='k.id'", " c-else",
                         ' c-x="<>é {{ y }}</>"', " c-x='\n <i c-y=\"<b>{{ z }}</b>\">{{ w }}</i>'",
                         " {# t #} data-a=1"])
NAMES = st.sampled_from(["div", "p", "c-card", "span"])


def element(children):
    return st.one_of(
        st.builds(lambda n, a, body: f"<{n}{a}>{body}</{n}>", NAMES, ATTRS, children),
        st.builds(lambda n, a: f"<{n}{a}/>", NAMES, ATTRS),
        st.builds(lambda a: f"<br{a}>", ATTRS),
        st.just("<c-raw {# r #}><p>{{ raw }}</c-raw>"),
        st.builds(lambda body: f"<c-for each='item in items'>{body}{{{{ item }}}}</c-for>", children),
    )


TEMPLATES = st.recursive(st.one_of(TEXTS, EXPRS, COMMENTS),
                         lambda children: st.lists(st.one_of(children, element(children)), max_size=4).map("".join),
                         max_leaves=12)


CONTROL_FLOW = {"c-if", "c-elif", "c-else", "c-for", "c-empty"}


def nfkc(token):
    return unicodedata.normalize("NFKC", token.content)


def check_used_variables(template):
    """Recomputes the used variables of every body and node by their rule and
    compares; returns the template's list."""
    out = []
    for element in template.elements:
        item = element[0]
        if isinstance(item, tp.Expr):
            out += item.used_variables
        elif not isinstance(item, tp.Text):
            bound = {nfkc(t) for t in item.introduced_variables}
            own = []
            if isinstance(item, tp.Node.WithBody):
                own = [t for t in check_used_variables(item.body) if nfkc(t) not in bound]
            tag = item.start_tag
            loop = bound and tag.name.content not in ("c-for", "c-fill") and any(
                a.key.content == "c-for" for a in tag.attrs)
            for a in tag.attrs:
                keep_loop_names = not loop or a.key.content in CONTROL_FLOW
                own += [t for t in a.used_variables if keep_loop_names or nfkc(t) not in bound]
            assert item.used_variables == own
            out += own
    assert template.used_variables == out
    return out


def tokens_of(value):
    """Every Token reachable from a tree value, except slot names (a default
    slot is named by a token of its own)."""
    out = []
    if isinstance(value, tp.Token):
        return [value]
    if isinstance(value, (list, tuple)):
        for item in value:
            out += tokens_of(item)
        return out
    if isinstance(value, tp.StaticNamedSlot) or value is None or isinstance(value, (str, bool, int)):
        return out
    for name in dir(value):
        if (name.startswith("_") and name != "_0") or name in ("slots", "quote_char", "kind", "contains_fills", "is_self_closing",
                                             "required", "WithBody", "SelfClosing", "Node", "Expr", "Text"):
            continue
        out += tokens_of(getattr(value, name))
    return out


# Arbitrary text over the characters that matter to the grammar.
NOISE = st.text(alphabet="<>/{}#=\"' \n\r!?-abcé_:.$@()[]", max_size=60).map(lambda t: t.replace("c", "c-"))


@settings(max_examples=400, deadline=None)
@given(st.one_of(TEMPLATES, NOISE))
def test_tokens_are_pieces_of_the_input(source):
    try:
        tree = parse(source)
    except (SyntaxError, ValueError) as e:
        assert str(e).startswith("Parse error: ")
        return
    check_used_variables(tree)
    data = source.encode()
    for token in tokens_of(tree):
        piece = data[token.start_index:token.end_index].decode()
        assert token.content == piece, (source, token)
        before = data[:token.start_index].decode()
        line = before.count("\n") + 1
        column = len(before) - (before.rfind("\n") + 1) + 1
        assert token.line_col == (line, column), (source, token)
