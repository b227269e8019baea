"""Differential check of the C++ expression parser against CPython's own `ast`.

Both sides are turned into one canonical shape (nested JSON lists: kind, start
byte, end byte, fields) and compared node by node.  The C++ side is written by
the `ParserDifferential.DumpCorpus` test of `test_pyexpr` (run in dump mode
through environment variables); the CPython side comes from `ast.parse(...,
mode="eval")` with its line/column positions turned into byte offsets.

Known, accepted differences (counted apart, not as disagreements):
  * lone surrogates: CPython keeps "\\ud800" as a surrogate, the C++ parser
    stores U+FFFD;
  * t-strings do not exist in CPython 3.12 (such inputs are rejected there and
    so never compared).

Run directly: python tests/python/pyexpr_differential.py [corpus-file]
(test_pyexpr_differential.py runs it under pytest).
"""
from __future__ import annotations

import ast
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import warnings

ROOT = pathlib.Path(__file__).resolve().parents[2]


# ---------------------------------------------------------------- positions

class Positions:
    """Turns CPython's (line, UTF-8 column) pairs into byte offsets."""

    def __init__(self, source: str):
        data = source.encode("utf-8", "surrogatepass")
        self.starts = [0]
        i = 0
        n = len(data)
        while i < n:
            c = data[i]
            if c == 0x0A:
                self.starts.append(i + 1)
            elif c == 0x0D:
                if i + 1 < n and data[i + 1] == 0x0A:
                    i += 1
                self.starts.append(i + 1)
            i += 1

    def offset(self, line: int, col: int) -> int:
        return self.starts[line - 1] + col

    def range(self, node) -> tuple[int, int]:
        return (self.offset(node.lineno, node.col_offset),
                self.offset(node.end_lineno, node.end_col_offset))


def _text(value: str) -> str:
    return value


# ------------------------------------------------------ CPython -> canonical

class FromCPython:
    def __init__(self, source: str):
        self.pos = Positions(source)
        self.source = source

    def r(self, node):
        s, e = self.pos.range(node)
        return [s, e]

    def opt(self, node):
        return None if node is None else self.expr(node)

    def exprs(self, nodes):
        return [self.expr(n) for n in nodes]

    def ctx(self, ctx):
        return type(ctx).__name__

    def comps(self, generators):
        return [[self.expr(g.target), self.expr(g.iter), self.exprs(g.ifs), int(bool(g.is_async))]
                for g in generators]

    def joined(self, values):
        out = []
        for v in values:
            if isinstance(v, ast.Constant):
                out.append(["Str", _text(v.value)])
            else:
                spec = None
                if v.format_spec is not None:
                    spec = ["JoinedStr", self.joined(v.format_spec.values)]
                out.append(["FormattedValue", *self.r(v), self.expr(v.value), v.conversion, spec])
        return merge_literals(out)

    def arg(self, a, default):
        return ["arg", _text(a.arg), *self.r(a), None if default is None else self.expr(default)]

    def params(self, args: ast.arguments):
        positional = args.posonlyargs + args.args
        defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
        posonly = [self.arg(a, d) for a, d in zip(args.posonlyargs, defaults)]
        plain = [self.arg(a, d) for a, d in zip(args.args, defaults[len(args.posonlyargs):])]
        kwonly = [self.arg(a, d) for a, d in zip(args.kwonlyargs, args.kw_defaults)]
        vararg = None if args.vararg is None else self.arg(args.vararg, None)
        kwarg = None if args.kwarg is None else self.arg(args.kwarg, None)
        return [posonly, plain, vararg, kwonly, kwarg]

    def expr(self, n):
        k = type(n).__name__
        r = self.r(n)
        if k == "BoolOp":
            return [k, *r, type(n.op).__name__, self.exprs(n.values)]
        if k == "NamedExpr":
            return [k, *r, self.expr(n.target), self.expr(n.value)]
        if k == "BinOp":
            return [k, *r, self.expr(n.left), type(n.op).__name__, self.expr(n.right)]
        if k == "UnaryOp":
            return [k, *r, type(n.op).__name__, self.expr(n.operand)]
        if k == "Lambda":
            return [k, *r, self.params(n.args), self.expr(n.body)]
        if k == "IfExp":
            return [k, *r, self.expr(n.test), self.expr(n.body), self.expr(n.orelse)]
        if k == "Dict":
            return [k, *r, [[self.opt(a), self.expr(b)] for a, b in zip(n.keys, n.values)]]
        if k == "Set":
            return [k, *r, self.exprs(n.elts)]
        if k in ("ListComp", "SetComp", "GeneratorExp"):
            return [k, *r, self.expr(n.elt), self.comps(n.generators)]
        if k == "DictComp":
            return [k, *r, self.expr(n.key), self.expr(n.value), self.comps(n.generators)]
        if k in ("Await", "YieldFrom"):
            return [k, *r, self.expr(n.value)]
        if k == "Yield":
            return [k, *r, self.opt(n.value)]
        if k == "Compare":
            return [k, *r, self.expr(n.left), [type(o).__name__ for o in n.ops], self.exprs(n.comparators)]
        if k == "Call":
            kws = [["keyword", *self.r(kw), None if kw.arg is None else _text(kw.arg), self.expr(kw.value)]
                   for kw in n.keywords]
            return [k, *r, self.expr(n.func), self.exprs(n.args), kws]
        if k == "JoinedStr":
            return [k, *r, self.joined(n.values)]
        if k == "Constant":
            v = n.value
            if v is True or v is False or v is None or v is Ellipsis:
                return [k, *r, repr(v), None]
            if isinstance(v, str):
                return [k, *r, "str", v]
            if isinstance(v, bytes):
                return [k, *r, "bytes", v.hex()]
            if isinstance(v, int):
                return [k, *r, "int", str(v)]
            if isinstance(v, float):
                return [k, *r, "float", v.hex()]
            if isinstance(v, complex):
                return [k, *r, "complex", v.imag.hex()]
            raise TypeError(f"unexpected constant {v!r}")
        if k == "Attribute":
            return [k, *r, self.expr(n.value), _text(n.attr), self.ctx(n.ctx)]
        if k == "Subscript":
            return [k, *r, self.expr(n.value), self.expr(n.slice), self.ctx(n.ctx)]
        if k == "Starred":
            return [k, *r, self.expr(n.value), self.ctx(n.ctx)]
        if k == "Name":
            return [k, *r, _text(n.id), self.ctx(n.ctx)]
        if k in ("List", "Tuple"):
            return [k, *r, self.exprs(n.elts), self.ctx(n.ctx)]
        if k == "Slice":
            return [k, *r, self.opt(n.lower), self.opt(n.upper), self.opt(n.step)]
        raise TypeError(f"unexpected node {k}")


def merge_literals(elements):
    """Joins adjacent literal pieces and drops empty ones (CPython's layout)."""
    out = []
    for el in elements:
        if el[0] == "Str":
            if el[1] == "":
                continue
            if out and out[-1][0] == "Str":
                out[-1] = ["Str", out[-1][1] + el[1]]
                continue
        out.append(el)
    return out


def normalize(node):
    """Canonical form of the C++ dump: numbers by value, f-string pieces merged."""
    if isinstance(node, list):
        if node and node[0] == "Constant" and len(node) == 5:
            kind, value = node[3], node[4]
            if kind == "int":
                text = value.replace("_", "")
                return [*node[:4], str(int(text, 0) if text[:2].lower() in ("0x", "0o", "0b") else int(text))]
            if kind == "float":
                return [*node[:4], float(value).hex()]
            if kind == "complex":
                return [*node[:4], float(value).hex()]
        if node and node[0] in ("JoinedStr",):
            node = list(node)
            node[-1] = merge_literals([normalize(e) for e in node[-1]])
            return node
        return [normalize(x) for x in node]
    return node


# ------------------------------------------------------------------ running

def find_test_binary() -> pathlib.Path | None:
    explicit = os.environ.get("LUMRA_PYEXPR_TEST_BIN")
    if explicit:
        return pathlib.Path(explicit)
    def sanitized(binary: pathlib.Path) -> bool:
        cache = binary.parents[3] / "CMakeCache.txt"
        return cache.exists() and "LUMRA_SANITIZE:BOOL=ON" in cache.read_text(errors="replace")

    # The newest build, preferring one without sanitizers (they are slow here).
    candidates = sorted(ROOT.glob("build/*/tests/cpp/pyexpr/test_pyexpr"),
                        key=lambda p: (not sanitized(p), p.stat().st_mtime), reverse=True)
    return candidates[0] if candidates else None


def run_cpp_dump(binary: pathlib.Path, sources: list[str]) -> list:
    """Parses every source with the C++ parser; one JSON value per source."""
    with tempfile.TemporaryDirectory() as tmp:
        corpus = pathlib.Path(tmp, "corpus.txt")
        dump = pathlib.Path(tmp, "dump.jsonl")
        corpus.write_bytes(b"\0".join(s.encode("utf-8", "surrogatepass") for s in sources))
        env = dict(os.environ, LUMRA_PYEXPR_CORPUS=str(corpus), LUMRA_PYEXPR_DUMP=str(dump))
        subprocess.run([str(binary), "--gtest_filter=ParserDifferential.DumpCorpus"],
                       env=env, check=True, stdout=subprocess.DEVNULL)
        return [json.loads(line) for line in dump.read_text(encoding="utf-8").split("\n") if line]


def cpython_canonical(source: str):
    """The canonical tree of CPython, or None when CPython rejects the source."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            tree = ast.parse(source, mode="eval")
    except (SyntaxError, ValueError, MemoryError, RecursionError):
        return None
    return FromCPython(source).expr(tree.body)


def replace_surrogates(node):
    """CPython's tree with lone surrogates as U+FFFD, the C++ parser's choice."""
    if isinstance(node, list):
        return [replace_surrogates(x) for x in node]
    if isinstance(node, str):
        return "".join("\ufffd" if 0xD800 <= ord(c) <= 0xDFFF else c for c in node)
    return node


def strip_debug_comments(node):
    """Both trees with `# ...` comments removed from f-string literal pieces:
    CPython drops a comment from the text of a `{x = # comment\n}` field."""
    if isinstance(node, list):
        if len(node) == 2 and node[0] == "Str" and isinstance(node[1], str):
            return ["Str", re.sub(r"#[^\n]*", "", node[1])]
        return [strip_debug_comments(x) for x in node]
    return node


def known_difference(mine, theirs) -> str | None:
    if mine == replace_surrogates(theirs):
        return "lone surrogate escape (stored as U+FFFD here)"
    if strip_debug_comments(mine) == strip_debug_comments(theirs):
        return "comment inside a self-documenting f-string field"
    return None


def compare(sources: list[str], binary: pathlib.Path):
    """Returns (accepted, agreed, known differences by reason, disagreements)."""
    ours = run_cpp_dump(binary, sources)
    accepted = agreed = 0
    known: dict[str, int] = {}
    disagreements = []
    for source, mine in zip(sources, ours):
        theirs = cpython_canonical(source)
        if theirs is None:
            continue
        accepted += 1
        if mine.get("error") is None:
            tree = normalize(mine["tree"])
            if tree == theirs:
                agreed += 1
                continue
            reason = known_difference(tree, theirs)
            if reason is not None:
                known[reason] = known.get(reason, 0) + 1
                continue
        disagreements.append((source, mine, theirs))
    return accepted, agreed, known, disagreements


def summary(total, accepted, agreed, known, bad) -> str:
    known_total = sum(known.values())
    lines = [f"{total} expressions, {accepted} accepted by CPython: {agreed} agree exactly, "
             f"{known_total} differ only in known ways, {len(bad)} disagree "
             f"({100.0 * (agreed + known_total) / max(accepted, 1):.4f}% agreement)"]
    lines += [f"  known: {count} x {reason}" for reason, count in sorted(known.items())]
    return "\n".join(lines)


def load_corpus(path: pathlib.Path) -> list[str]:
    """Records separated by NUL bytes, each one expression's source text."""
    data = path.read_bytes().decode("utf-8", "surrogatepass")
    return [record for record in data.split("\0") if record.strip()]


def stdlib_expressions(limit_files: int | None = None) -> list[str]:
    """Fallback corpus: the source text of every outermost expression of the
    standard library (each statement's expressions, not their sub-expressions)."""
    import sysconfig
    root = pathlib.Path(sysconfig.get_paths()["stdlib"])
    files = sorted(p for p in root.rglob("*.py") if "site-packages" not in p.parts)
    if limit_files is not None:
        files = files[:limit_files]
    out = []
    for path in files:
        try:
            data = path.read_bytes()
            data.decode("utf-8")
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                tree = ast.parse(data)
        except (SyntaxError, ValueError):
            continue
        starts = [0]
        for i, byte in enumerate(data):
            if byte == 0x0A:
                starts.append(i + 1)
        for node in ast.walk(tree):
            if isinstance(node, ast.expr):
                continue
            for child in ast.iter_child_nodes(node):
                if isinstance(child, ast.expr) and child.end_lineno is not None:
                    begin = starts[child.lineno - 1] + child.col_offset
                    end = starts[child.end_lineno - 1] + child.end_col_offset
                    segment = data[begin:end]
                    if segment and b"\0" not in segment:
                        out.append(segment.decode("utf-8", "surrogatepass"))
    return out


def wrapped(texts: list[str]) -> list[str]:
    """Multi-line expression texts wrapped as the expression rewriter does."""
    return [f"(\n{t}\n)" if "\n" in t or "\r" in t else t for t in texts]


def main(argv: list[str]) -> int:
    binary = find_test_binary()
    if binary is None:
        print("no test_pyexpr binary found (set LUMRA_PYEXPR_TEST_BIN)", file=sys.stderr)
        return 2
    # A corpus file of bench/extract_stdlib_exprs.py, or the standard library directly.
    texts = load_corpus(pathlib.Path(argv[1])) if len(argv) > 1 else stdlib_expressions()
    sources = wrapped(texts)
    accepted, agreed, known, bad = compare(sources, binary)
    for source, mine, theirs in bad[:20]:
        print("SOURCE:", repr(source))
        print("  ours:   ", json.dumps(mine)[:600])
        print("  cpython:", json.dumps(theirs)[:600])
    print(summary(len(sources), accepted, agreed, known, bad))
    return 0 if not bad else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
