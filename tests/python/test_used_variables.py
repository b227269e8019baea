"""Used-variable lists of parsed trees, at every level, against a reading of the
tree from its leaves: a body lists its pieces' variables in order; a node lists
its body's, then its attributes', leaving out the names it introduces (NFKC)
from its body and from the attributes that see its loop variables."""

import unicodedata

from hypothesis import given, settings, strategies as st

from lumra_core._rust import template_parser as tp

CONTROL_FLOW = {"c-if", "c-elif", "c-else", "c-for", "c-empty"}


def nfkc(name):
    return unicodedata.normalize("NFKC", name)


def key(token):
    return (token.content, token.start_index, token.end_index, token.line_col)


def expected_body(template):
    out = []
    for element in template.elements:
        value = element._0
        if isinstance(value, tp.Expr):
            out += value.used_variables
        elif isinstance(value, (tp.Node.WithBody, tp.Node.SelfClosing)):
            out += expected_node(value)
    return out


def expected_node(node):
    tag = node.start_tag
    left_out = {nfkc(t.content) for t in node.introduced_variables}
    body = expected_body(node.body) if isinstance(node, tp.Node.WithBody) else []
    out = [t for t in body if nfkc(t.content) not in left_out]
    loop_on_element = bool(left_out) and tag.name.content not in ("c-for", "c-fill") and any(
        a.key.content == "c-for" for a in tag.attrs)
    for attr in tag.attrs:
        sees_loop = loop_on_element and attr.key.content not in CONTROL_FLOW
        out += [t for t in attr.used_variables if not (sees_loop and nfkc(t.content) in left_out)]
    return out


def check(template):
    assert [key(t) for t in template.used_variables] == [key(t) for t in expected_body(template)]
    for element in template.elements:
        node = element._0
        if isinstance(node, (tp.Node.WithBody, tp.Node.SelfClosing)):
            assert [key(t) for t in node.used_variables] == [key(t) for t in expected_node(node)]
            if isinstance(node, tp.Node.WithBody):
                check(node.body)


# Loops at depth d bind v<d> (one spelled with a ligature, which NFKC folds);
# uses read names bound around them or free names, so no binding is refused.
def loop_name(depth):
    return "\ufb01x" if depth == 2 else f"v{depth}"


def use_name(depth, draw):
    bound = ["fix" if d == 2 else f"v{d}" for d in range(depth)]
    return draw(st.sampled_from(bound + ["a", "b"]))


@st.composite
def body(draw, depth=0):
    pieces = []
    for _ in range(draw(st.integers(0, 3))):
        kind = draw(st.sampled_from(["use", "many", "div", "if", "for", "for-attr", "fill"] if depth < 6 else ["use"]))
        name = use_name(depth, draw)
        if kind == "use":
            pieces.append(f"{{{{ {name} + {use_name(depth, draw)} }}}}")
        elif kind == "many":
            # Long bodies are read through records, short ones written out.
            pieces.append(f"{{{{ {name} }}}}" * 20)
        elif kind == "div":
            pieces.append(f'<div c-title="{name}">{draw(body(depth))}</div>')
        elif kind == "if":
            pieces.append(f'<c-if cond="{name}">{draw(body(depth))}</c-if>')
        elif kind == "for":
            pieces.append(f'<c-for each="{loop_name(depth)} in {name}">{draw(body(depth + 1))}</c-for>')
        elif kind == "for-attr":
            # Its other attributes see the loop variable; its own iterable does not.
            inner = use_name(depth + 1, draw)
            pieces.append(f'<p c-for="{loop_name(depth)} in {name}" c-x="{inner}">{draw(body(depth + 1))}</p>')
        else:
            pieces.append(f'<c-card><c-fill name="s" data="{loop_name(depth)}">{draw(body(depth + 1))}'
                          f'</c-fill></c-card>')
    return "".join(pieces)


@settings(max_examples=300, deadline=None)
@given(body())
def test_every_list_reads_as_its_pieces(text):
    check(tp.parse_template(text))


def test_deep_loop_scopes():
    depth = 150
    text = "".join(f'<c-for each="v{i} in xs">' for i in range(depth)) + "{{ x + v0 }}" * 50 + "</c-for>" * depth
    tree = tp.parse_template(text)
    check(tree)
    assert [t.content for t in tree.used_variables] == ["x"] * 50 + ["xs"] * depth
    assert tree == tp.parse_template(text)
