"""The lists that every level of a parsed tree holds of its descendants, at
every level, against a reading of the tree from its leaves.

Used variables: a body lists its pieces' in order; a node lists its body's,
then its attributes', leaving out the names it introduces (NFKC) from its body
and from the attributes that see its loop variables. Comments: a body lists
its pieces'; a node its body's, its end tag's, its attributes', then its start
tag's (without a body: its start tag's, then its attributes'). Slots: a body
lists its nodes'; a <c-slot> its own name, then its body's."""

import re
import unicodedata

from hypothesis import given, settings, strategies as st

from lumra_core._rust import template_parser as tp

CONTROL_FLOW = {"c-if", "c-elif", "c-else", "c-for", "c-empty"}
NODES = (tp.Node.WithBody, tp.Node.SelfClosing)


def nfkc(name):
    return unicodedata.normalize("NFKC", name)


def key(token):
    return (token.content, token.start_index, token.end_index, token.line_col)


def expected_body(template):
    used, comments, slots = [], [], []
    for element in template.elements:
        value = element._0
        if isinstance(value, tp.Expr):
            used += value.used_variables
            comments += [c.token for c in value.comments]
        elif isinstance(value, NODES):
            node_used, node_comments, node_slots = expected_node(value)
            used += node_used
            comments += node_comments
            slots += node_slots
        elif value.token.content.startswith("<!--"):
            comments.append(value.token)
    return used, comments, slots


def expected_node(node):
    tag = node.start_tag
    left_out = {nfkc(t.content) for t in node.introduced_variables}
    has_body = isinstance(node, tp.Node.WithBody)
    body_used, body_comments, body_slots = expected_body(node.body) if has_body else ([], [], [])
    used = [t for t in body_used if nfkc(t.content) not in left_out]
    loop_on_element = bool(left_out) and tag.name.content not in ("c-for", "c-fill") and any(
        a.key.content == "c-for" for a in tag.attrs)
    for attr in tag.attrs:
        sees_loop = loop_on_element and attr.key.content not in CONTROL_FLOW
        used += [t for t in attr.used_variables if not (sees_loop and nfkc(t.content) in left_out)]
    attr_comments = [c.token for a in tag.attrs for c in a.comments]
    own_comments = [c.token for c in tag.comments]
    if has_body:
        comments = body_comments + [c.token for c in node.end_tag.comments] + attr_comments + own_comments
    else:
        comments = own_comments + attr_comments
    own_slots = [a.inner_value for a in tag.attrs if a.key.content == "name"] if tag.name.content == "c-slot" else []
    return used, comments, own_slots + body_slots


def keys(tokens):
    return [key(t) for t in tokens]


def check(template):
    used, comments, slots = expected_body(template)
    assert keys(template.used_variables) == keys(used)
    assert keys(c.token for c in template.comments) == keys(comments)
    assert keys(s.token for s in template.slots) == keys(slots)
    for element in template.elements:
        node = element._0
        if isinstance(node, NODES):
            used, comments, _ = expected_node(node)
            assert keys(node.used_variables) == keys(used)
            assert keys(c.token for c in node.comments) == keys(comments)
            if isinstance(node, tp.Node.WithBody):
                check(node.body)


# Loops at depth d bind v<d> (one spelled with a ligature, which NFKC folds),
# some with u<d>_0, u<d>_1, ... too: more names than a short read walks, and
# bound again by their siblings. Uses read names bound around them or free
# names, so no binding is refused.
def loop_name(depth):
    return "\ufb01x" if depth == 2 else f"v{depth}"


def use_name(depth, draw, wide=()):
    bound = ["fix" if d == 2 else f"v{d}" for d in range(depth)]
    bound += [f"u{d}_{i}" for d in wide for i in (0, 17)]
    return draw(st.sampled_from(bound + ["a", "b"]))


# The names of a loop or fill at this depth, and the depths whose names the
# body inside it sees.
def loop_names(depth, draw, wide):
    if draw(st.sampled_from([False, False, True])):
        return ", ".join([loop_name(depth)] + [f"u{depth}_{i}" for i in range(18)]), wide + (depth,)
    return loop_name(depth), wide


KINDS = ["use", "many", "lots", "comment", "div", "if", "for", "for-attr", "fill", "slot"]


@st.composite
def body(draw, depth=0, wide=()):
    pieces = []
    for _ in range(draw(st.integers(0, 3))):
        kind = draw(st.sampled_from(KINDS if depth < 6 else ["use", "comment"]))
        name = use_name(depth, draw, wide)
        if kind == "use":
            pieces.append(f"{{{{ {name} + {use_name(depth, draw, wide)}  # c{depth}\n}}}}")
        elif kind == "many":
            # Long bodies are read through records, short ones written out.
            pieces.append(f"{{{{ {name} }}}}" * 20)
        elif kind == "lots":
            # Longer runs still, read through the store's index.
            pieces.append(f"{{{{ {name} }}}}{{{{ {use_name(depth, draw, wide)} }}}}" * 40)
        elif kind == "comment":
            pieces.append(f"<!-- at {depth} -->")
        elif kind == "div":
            pieces.append(f'<div {{# own #}} c-title="{name} # t\n">{draw(body(depth, wide))}</div {{# end #}}>')
        elif kind == "if":
            pieces.append(f'<c-if cond="{name}">{draw(body(depth, wide))}</c-if>')
        elif kind == "for":
            names, inner = loop_names(depth, draw, wide)
            pieces.append(f'<c-for each="{names} in {name}">{draw(body(depth + 1, inner))}</c-for>')
        elif kind == "for-attr":
            # Its other attributes see the loop variables; its own iterable does not.
            names, inner = loop_names(depth, draw, wide)
            attrs = "".join(f' c-x{i}="{use_name(depth + 1, draw, inner)}"' for i in range(draw(st.integers(1, 3))))
            pieces.append(f'<p c-for="{names} in {name}"{attrs}>{draw(body(depth + 1, inner))}</p>')
        elif kind == "fill":
            names, inner = loop_names(depth, draw, wide)
            pieces.append(f'<c-card><c-fill name="s" data="{{ {names} }}">{draw(body(depth + 1, inner))}'
                          f'</c-fill></c-card>')
        elif draw(st.booleans()):
            pieces.append(f'<c-slot name="s{depth}" {{# own #}}/>')
        else:
            pieces.append(f'<c-slot name="t{depth}">{draw(body(depth, wide))}</c-slot>')
    return "".join(pieces)


@settings(max_examples=300, deadline=None)
@given(body())
def test_every_list_reads_as_its_pieces(text):
    check(tp.parse_template(text))


def same_tree(a, b):
    """Equality read level by level from Python, every list whole."""
    if (a.used_variables, a.comments, a.slots) != (b.used_variables, b.comments, b.slots):
        return False
    if len(a.elements) != len(b.elements):
        return False
    for x, y in zip(a.elements, b.elements):
        x, y = x._0, y._0
        if type(x) is not type(y):
            return False
        if not isinstance(x, NODES):
            if x != y:
                return False
            continue
        fields = ["start_tag", "used_variables", "introduced_variables", "comments", "contains_fills"]
        if isinstance(x, tp.Node.WithBody):
            fields.append("end_tag")
            if not same_tree(x.body, y.body):
                return False
        if any(getattr(x, f) != getattr(y, f) for f in fields):
            return False
    return True


@settings(max_examples=100, deadline=None)
@given(body(), st.data())
def test_equality_agrees_with_reading_every_level(text, data):
    tree = tp.parse_template(text)
    assert tree == tp.parse_template(text)
    # One free name read as another, or one comment's text changed, somewhere.
    spots = [m.start(1) for m in re.finditer(r"(?<![\w-])([ab])(?:\b|t )", text)]
    if spots:
        i = data.draw(st.sampled_from(spots))
        other = text[:i] + ("b" if text[i] == "a" else "a") + text[i + 1:]
        other_tree = tp.parse_template(other)
        assert (tree == other_tree) == same_tree(tree, other_tree) == (other == text)
    # Lists written from Python compare by their items.
    rebuilt = tp.Template(tree.elements, tree.comments, tree.used_variables, tree.slots)
    assert rebuilt == tree and same_tree(rebuilt, tree)


def test_deep_nesting():
    depth = 150
    for tag, end in (('<c-for each="v{i} in xs">', "</c-for>"), ("<div>", "</div>")):
        inner = "{{ x + v0 # c\n }}<!-- h --><c-slot name=\"s\"/>" * 50
        text = "".join(tag.format(i=i) for i in range(depth)) + inner + end * depth
        tree = tp.parse_template(text) if "c-for" in tag else tp.parse_template(text.replace("v0", "y"))
        check(tree)
        assert len(tree.comments) == 100 and len(tree.slots) == 50
    loops = tp.parse_template("".join(f'<c-for each="v{i} in xs">' for i in range(depth))
                              + "{{ x + v0 }}" * 50 + "</c-for>" * depth)
    assert [t.content for t in loops.used_variables] == ["x"] * 50 + ["xs"] * depth


def rebuilt(template):
    """The tree again with every level's used variables computed above from
    its pieces, as lists written from Python (comments and slots, which no
    level leaves out, as read)."""
    elements = []
    for element in template.elements:
        node = element._0
        if not isinstance(node, NODES):
            elements.append(element)
            continue
        used = expected_node(node)[0]
        if isinstance(node, tp.Node.WithBody):
            node = tp.Node.WithBody(node.start_tag, node.end_tag, rebuilt(node.body), used,
                                    node.introduced_variables, node.comments, node.contains_fills)
        else:
            node = tp.Node.SelfClosing(node.start_tag, used, node.introduced_variables, node.comments,
                                       node.contains_fills)
        elements.append(tp.TemplateElement.Node(node))
    return tp.Template(elements, template.comments, expected_body(template)[0], template.slots)


@settings(max_examples=150, deadline=None)
@given(body(), st.data())
def test_repr_and_equality_agree_with_lists_computed_from_the_pieces(text, data):
    tree = tp.parse_template(text)
    reference = rebuilt(tree)
    # Read twice: the second long read of a store goes through its index.
    for _ in range(2):
        assert repr(tree) == repr(reference)
        assert tree == reference and reference == tree
    spots = [m.start(1) for m in re.finditer(r"(?<![\w-])([ab])(?:\b|t )", text)]
    if spots:
        i = data.draw(st.sampled_from(spots))
        other = tp.parse_template(text[:i] + ("b" if text[i] == "a" else "a") + text[i + 1:])
        assert (tree == other) == (reference == rebuilt(other)) == (other == tree)


def test_deep_trees_read_as_their_pieces_at_every_level():
    uses = "{{ x }}{{ v3 }}" * 100
    for open_tag, close_tag in (('<c-for each="v{i} in xs">', "</c-for>"), ('<p c-for="v{i} in xs" c-t="v{i}">', "</p>"),
                                ('<c-card><c-fill name="s" data="{{ v{i} }}">', "</c-fill></c-card>")):
        depth = 60
        text = "".join("<div>" + open_tag.format(i=i) for i in range(depth)) + uses + (close_tag + "</div>") * depth
        tree = tp.parse_template(text)
        for _ in range(2):
            check(tree)
        assert repr(tree) == repr(rebuilt(tree))
        other = tp.parse_template(text.replace("v3 in", "w3 in").replace("{ v3 }", "{ w3 }").replace('"v3"', '"w3"'))
        assert tree != other and rebuilt(tree) != rebuilt(other)
    # Loops over literals around two uses: short runs under hundreds of records.
    text = "".join(f'<c-for each="v{i} in [1, 2]">' for i in range(300)) + "{{ x }}{{ v3 }}" + "</c-for>" * 300
    tree = tp.parse_template(text)
    for _ in range(2):
        check(tree)
    assert repr(tree) == repr(rebuilt(tree))
