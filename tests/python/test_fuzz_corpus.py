"""The compiler harness's seed templates through parse_template and
compile_template: each is refused with a parse or compile error, or compiles
to source that CPython compiles and runs, building a body whose expression
nodes point at their own `{{ ... }}` in the template.

LUMRA_FUZZ_CORPUS (directories separated by os.pathsep) adds the inputs of
other corpora, e.g. what a long fuzz run collected; structured inputs (first
byte 0xFF) and byte strings that are not UTF-8 are not templates and are
skipped.
"""

import os
import pathlib

import pytest

from lumra_core._rust import template_parser as tp

SEEDS = pathlib.Path(__file__).resolve().parents[2] / "fuzz" / "corpus" / "template_compiler"
RUNTIME_CLASSES = ["ExprNode", "StaticHtmlAttr", "ExprHtmlAttr", "TemplateHtmlAttr", "FillDataBinding",
                   "ElementAttrsNode", "ComponentNode", "SlotNode", "FillNode", "IfNode", "ForNode"]


class Call:
    def __init__(self, *args):
        self.args = args


RUNTIME = {name: type(name, (Call,), {}) for name in RUNTIME_CLASSES}


def templates(directories):
    for directory in directories:
        for path in sorted(pathlib.Path(directory).iterdir()):
            data = path.read_bytes()
            if data[:1] == b"\xff":
                continue
            try:
                yield path, data.decode("utf-8")
            except UnicodeDecodeError:
                continue


def expr_nodes(value):
    """Every ExprNode the body holds, at any depth."""
    pending = [value]
    while pending:
        item = pending.pop()
        if isinstance(item, RUNTIME["ExprNode"]):
            yield item
        if isinstance(item, Call):
            pending.extend(item.args)
        elif isinstance(item, (list, tuple)):
            pending.extend(item)


def outcome(text):
    """'parse error', 'compile error', or the body the generated source builds."""
    try:
        tree = tp.parse_template(text)
    except (SyntaxError, ValueError) as error:
        assert str(error).startswith("Parse error: "), error
        return "parse error"
    try:
        source = tp.compile_template(tree)
    except (SyntaxError, ValueError) as error:
        assert str(error).startswith("Compile error: "), error
        return "compile error"
    namespace = dict(RUNTIME, source="<source>")
    exec(compile(source, "<generated>", "exec"), namespace)
    return namespace["generate_template"]()


def check_corpus(directories):
    outcomes = []
    for path, text in templates(directories):
        body = outcome(text)
        outcomes.append(body)
        if isinstance(body, str):
            continue
        data = text.encode()
        for node in expr_nodes(body):
            start, end = node.args[1]
            written = data[start:end].decode()
            # Keys are written as expressions too; every other expression node is a `{{ ... }}`.
            if written.startswith("{{"):
                assert written.endswith("}}") and node.args[2] in written, (path, written)
    return outcomes


def test_seed_templates_compile_or_are_refused():
    outcomes = check_corpus([SEEDS])
    refusals = [o for o in outcomes if isinstance(o, str)]
    # The seeds are mostly valid pages; a few are refused on purpose.
    assert len(outcomes) - len(refusals) >= 7 and set(refusals) == {"parse error", "compile error"}


@pytest.mark.skipif(not os.environ.get("LUMRA_FUZZ_CORPUS"), reason="LUMRA_FUZZ_CORPUS not set")
def test_collected_corpus():
    check_corpus(os.environ["LUMRA_FUZZ_CORPUS"].split(os.pathsep))
