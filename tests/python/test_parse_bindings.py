"""parse_template on the bindings of special tags: the variables that <c-for>,
c-for, <c-if>/<c-elif> and <c-fill> introduce or read, with their positions,
the refusals, other languages, and fill names that must reach generated code
unchanged."""

import unicodedata

import pytest

from lumra_core._rust import template_parser as tp


def first_node(template, *path):
    """The node at `path` (element indexes, one per body level)."""
    node = template.elements[path[0] if path else 0]._0
    for index in path[1:]:
        node = node.body.elements[index]._0
    return node


def toks(tokens):
    return [(t.content, t.start_index, tuple(t.line_col)) for t in tokens]


def attr(node, key):
    return next(a for a in node.start_tag.attrs if a.key.content == key)


@pytest.mark.parametrize("source, path, introduced, key, used", [
    ('<c-for each="item in items">{{ item }}</c-for>', (0,),
     [("item", 13, (1, 14))], "each", [("items", 21, (1, 22))]),
    ('<ul>\n  <c-for each="k, (a, *r) in\n rows">x</c-for></ul>', (0, 1),
     [("k", 20, (2, 16)), ("a", 24, (2, 20)), ("r", 28, (2, 24))], "each", [("rows", 35, (3, 2))]),
    ('<li c-for="x in xs">{{ x }}</li>', (0,), [("x", 11, (1, 12))], "c-for", [("xs", 16, (1, 17))]),
    ('<c-if cond="x > 0">a</c-if>', (0,), [], "cond", [("x", 12, (1, 13))]),
    ('<c-MyComp><c-fill name="s" data="{ a, b as c, **rest }">{{ a }}</c-fill></c-MyComp>', (0, 0),
     [("a", 35, (1, 36)), ("c", 43, (1, 44)), ("rest", 48, (1, 49))], "data", []),
    ('<c-MyComp>\n<c-fill name="s" fallback="fb" data="{\n  x }"></c-fill></c-MyComp>', (0, 1),
     [("fb", 38, (2, 28)), ("x", 52, (3, 3))], "data", []),
    ('<c-MyComp><c-fill c-bind="b" data="d" fallback="fb"></c-fill></c-MyComp>', (0, 0),
     [("d", 35, (1, 36)), ("fb", 48, (1, 49))], "data", []),
])
def test_introduced_and_read_variables(source, path, introduced, key, used):
    node = first_node(tp.parse_template(source), *path)
    assert toks(node.introduced_variables) == introduced
    a = attr(node, key)
    assert toks(a.used_variables) == used
    if key != "data":
        assert "kind=Expression" in repr(a)


def test_fill_data_pattern():
    node = first_node(tp.parse_template(
        '<c-MyComp><c-fill name="s" data="{ a, b as c, **rest }"></c-fill></c-MyComp>'), 0, 0)
    pattern = attr(node, "data").fill_data_pattern
    assert pattern.whole is None and pattern.rest.content == "rest"
    assert [(f.source.content, f.target.content) for f in pattern.fields] == [("a", "a"), ("b", "c")]
    assert pattern.token.content == "{ a, b as c, **rest }"


SPREAD = ("'c-bind' is not supported directly on '<{}>'. Put the spread on an element or component inside it, "
          "or write control flow on the spread host (for example, '<div c-if=\"...\" c-bind=\"...\">').")


FILL = '<c-MyComp><c-fill name="s" data="{}"></c-fill></c-MyComp>'


@pytest.mark.parametrize("source, lang, where, message", [
    ('<c-for each="a, a in pairs"></c-for>', None, "1:17",
     "Cannot define variable 'a' more than once in a '<c-for>' clause. Use a distinct name for each loop target."),
    (FILL.format("{ a as x, b as x }"), None, "1:49",
     "Cannot define variable 'x' more than once in a <c-fill> data binding."),
    (FILL.format("{ a, a as b }"), None, "1:39",
     "Cannot read slot-data field 'a' more than once in a <c-fill> data binding."),
    (FILL.format("None"), None, "1:34", "<c-fill> data bindings require valid Python identifiers, got None."),
    (FILL.format("{ a as class }"), None, "1:41", "<c-fill> data bindings require valid Python identifiers, got class."),
    (FILL.format("{ x.y }"), None, "1:34", "Invalid <c-fill> data binding. Use a variable name or one-level "
     "destructuring such as '{ root_attrs, table_attrs as inner_table_attrs, **rest }'."),
    ('<c-for></c-for>', None, "1:1", "Tag '<c-for>' must have an 'each' attribute."),
    ('<c-if cond="x" c-bind="attrs">a</c-if>', None, "1:16", SPREAD.format("c-if")),
    ('<c-for each="x in xs"></c-for>', "php", "1:14",
     "Failed to parse 'each' attribute: PHP foreach loop variable extraction is not yet implemented"),
    ('<c-for each="x in xs"></c-for>', "go", "1:14", "Failed to parse 'each' attribute: Go for-loop variable "
     "extraction is not yet implemented. Expressions use Expr or CEL-Go syntax, not raw Go code."),
    ('<c-if cond="x">a</c-if>', "php", "1:13",
     "Failed to parse expression: PHP expression parsing is not yet implemented"),
    # The identifier check stays with Python whatever the language.
    (FILL.format("True"), "go", "1:34", "<c-fill> data bindings require valid Python identifiers, got True."),
])
def test_refusals(source, lang, where, message):
    with pytest.raises(SyntaxError) as info:
        tp.parse_template(source, lang)
    assert f" --> {where}\n" in str(info.value) and str(info.value).endswith(message), str(info.value)


# Fill names that reach the compiler's generated source (kept for its injection
# tests): the tree carries them as written, and the generated code, run, gives
# them back (NFKC, as the compiler writes introduced names).
FILL_NAMES = [
    ("fallback='a\"b'", 'a"b'),
    ('fallback="a\\"', "a\\"),
    ('fallback="a\'\'\'b\\n"', "a'''b\\n"),
    ('fallback="a\nb"', "a\nb"),
    ('fallback="\uff58"', "\uff58"),
    ('fallback="\x00"', "\x00"),
    ('data="\uff46\uff4f\uff4f"', "\uff46\uff4f\uff4f"),
    ('data="{ x as \u00e9\u0301 }"', "\u00e9\u0301"),
]
RUNTIME = ("ExprNode", "StaticHtmlAttr", "ExprHtmlAttr", "TemplateHtmlAttr", "FillDataBinding", "ElementAttrsNode",
           "ComponentNode", "SlotNode", "FillNode", "IfNode", "ForNode")


class Call:
    def __init__(self, *args):
        self.args = args


def strings(value):
    if isinstance(value, str):
        yield value
    elif isinstance(value, (tuple, list, Call)):
        for item in value.args if isinstance(value, Call) else value:
            yield from strings(item)


@pytest.mark.parametrize("attribute, name", FILL_NAMES)
def test_fill_names_reach_the_generated_code_unchanged(attribute, name):
    template = tp.parse_template(f'<c-MyComp><c-fill name="s" {attribute}>x</c-fill></c-MyComp>')
    assert [t.content for t in first_node(template, 0, 0).introduced_variables] == [name]
    namespace = dict.fromkeys(RUNTIME, Call) | {"source": "<source>"}
    exec(compile(tp.compile_template(template), "<template>", "exec"), namespace)
    assert unicodedata.normalize("NFKC", name) in set(strings(namespace["generate_template"]()))
