"""parse_template end to end: the tree, its positions, where comments are
filed, and the messages of the element stack."""

import re

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


def rendered(line, col, source_line, underline, message):
    return f"Parse error:  --> {line}:{col}\n  |\n{line} | {source_line}\n  | {underline}\n  |\n  = {message}"


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
    @pytest.mark.parametrize("source,pick,expected", [
        # Columns count characters, offsets bytes.
        ("éb<i></i>", lambda t: t.elements[1][0].start_tag.name, ("i", 4, 5, 1, 4)),
        ("日本" * 5000 + "<p x='é'></p>", lambda t: t.elements[1][0].start_tag.attrs[0].inner_value,
         ("é", 30006, 30008, 1, 10007)),
        # Only LF ends a line: CRLF moves to the next line, a lone CR is a character.
        ("a\r\n<b></b>", lambda t: t.elements[1][0].start_tag.token, ("<b>", 3, 6, 2, 1)),
        ("a\r<b></b>", lambda t: t.elements[1][0].start_tag.token, ("<b>", 2, 5, 1, 3)),
        ("<p\n  title='x'></p>", lambda t: first_node(t).start_tag.attrs[0].inner_value, ("x", 12, 13, 2, 10)),
        ("<p>\n\tz</p>", lambda t: first_node(t).body.elements[0][0].token, ("\n\tz", 3, 6, 1, 4)),
        ("{#é#}", lambda t: t.comments[0].value, ("é", 2, 4, 1, 3)),
        ("{##}", lambda t: t.comments[0].value, ("", 2, 2, 1, 3)),
        ("x\n<!--\nc-->", lambda t: t.comments[0].value, ("\nc", 6, 8, 2, 5)),
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

    def test_comment_tokens(self):
        c = parse("<p {# n #}></p>").elements[0][0].start_tag.comments[0]
        assert tok(c.token) == ("{# n #}", 3, 10, 1, 4)
        assert tok(c.value) == (" n ", 5, 8, 1, 6)


class TestStackErrors:
    @pytest.mark.parametrize("source,line,col,source_line,underline,message", [
        ("<div><span></div>", 1, 12, "<div><span></div>", "           ^----^",
         "Mismatched tags: expected closing tag '</span>', found '</div>'"),
        ("<div></DIV>", 1, 6, "<div></DIV>", "     ^----^", "Mismatched tags: expected closing tag '</div>', found '</DIV>'"),
        ("</p>", 1, 1, "</p>", "^--^", "Unexpected closing tag '</p>': no matching opening tag"),
        ("<div><p>", 1, 6, "<div><p>", "     ^-^", "Unclosed tag <p>: expected </p> before end of template"),
        ("ab\n  é<i>x", 2, 4, "  é<i>x", "   ^-^", "Unclosed tag <i>: expected </i> before end of template"),
        ("<BR>", 1, 1, "<BR>", "^--^", "Unclosed tag <BR>: expected </BR> before end of template"),
        ("x\r\n</b>", 2, 1, "</b>", "^--^", "Unexpected closing tag '</b>': no matching opening tag"),
        ("<c-raw/>", 1, 2, "<c-raw/>", " ^---^",
         "Tag name 'c-raw' is reserved and cannot be used as a regular HTML tag. Use the special syntax instead."),
        ("<c-raw>", 1, 2, "<c-raw>", " ^---^",
         "Tag name 'c-raw' is reserved and cannot be used as a regular HTML tag. Use the special syntax instead."),
        ("<p></p x>", 1, 8, "<p></p x>", "       ^", "html_end_tag must not contain any attributes"),
        ("<div", 1, 5, "<div", "    ^---", "Failed to parse template: expected template_comment"),
    ])
    def test_rendered(self, source, line, col, source_line, underline, message):
        assert failure(source) == (SyntaxError, rendered(line, col, source_line, underline, message))

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

    def test_deep_input_fails_cleanly(self):
        kind, text = failure("<a>" * 100_000)
        assert kind is SyntaxError and "more than 512 levels" in text
