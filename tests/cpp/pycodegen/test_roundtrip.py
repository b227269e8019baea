"""Round trip of the expression printer, judged by CPython's own parser.

Each expression is parsed by our parser and printed by our printer (the
pycodegen_roundtrip tool); CPython's ast.parse of the printed text must give
the same ast.dump as of the original. The corpus is every expression of the
standard library (bench/extract_stdlib_exprs.py). A second set of tests feeds
the printer trees that CPython built (pycodegen_print_cpython_tree), so the
printer is judged apart from our parser.

The tools are found through LUMRA_ROUNDTRIP_TOOL and
LUMRA_PRINT_CPYTHON_TREE_TOOL (set by CTest), else in build/*/.
"""
import ast
import collections
import glob
import os
import subprocess
import sys
import warnings

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "tools"))
import cpython_tree  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
CORPUS = os.path.join(ROOT, "build", "corpus", "stdlib_exprs.txt")
EXTRACT = os.path.join(ROOT, "bench", "extract_stdlib_exprs.py")


def find_tool():
    tool = os.environ.get("LUMRA_ROUNDTRIP_TOOL")
    if tool:
        return tool
    found = sorted(glob.glob(os.path.join(ROOT, "build", "*", "tests", "cpp", "pycodegen", "pycodegen_roundtrip")),
                   key=os.path.getmtime)
    if not found:
        pytest.fail("pycodegen_roundtrip not built: cmake --build <dir> --target pycodegen_roundtrip")
    return found[-1]


def run_tool(texts):
    data = "\0".join(texts).encode("utf-8", "surrogatepass")
    out = subprocess.run([find_tool()], input=data, stdout=subprocess.PIPE, check=True).stdout
    results, pos = [], 0
    while pos < len(out):
        eol = out.index(b"\n", pos)
        status, length = out[pos:eol].decode().split(" ")
        body = out[eol + 1:eol + 1 + int(length)]
        pos = eol + 1 + int(length)
        results.append((status, body.decode("utf-8", "surrogateescape")))
    assert len(results) == len(texts)
    return results


def cpython_dump(text):
    """ast.dump of the text alone, else of the text in the parentheses the
    sandbox rewriter puts around it; None when CPython refuses both. Empty
    literal parts of f-strings are left out (see dump_without_fstring_kinds)."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for candidate in (text, "(\n" + text + "\n)"):
            try:
                return dump_without_fstring_kinds(ast.parse(candidate, mode="eval"), drop_kinds=False)
            except (SyntaxError, ValueError, MemoryError, RecursionError):
                continue
    return None


def check(texts):
    """Returns (figures, failures) for a list of expression texts."""
    figures = collections.Counter()
    failures = []
    for text, (status, body) in zip(texts, run_tool(texts)):
        original = cpython_dump(text)
        if original is None:
            figures["not python"] += 1
            continue
        if status == "PARSE":
            figures["refused by our parser"] += 1
            failures.append(("parser refused", text, body))
            continue
        if status != "OK":
            figures[status] += 1
            failures.append((status, text, body))
            continue
        if cpython_dump(body) != original:
            figures["different tree"] += 1
            failures.append(("different tree", text, body))
            continue
        figures["same tree"] += 1
    return figures, failures


def describe(figures, failures, limit=40):
    lines = [f"{k}: {v}" for k, v in sorted(figures.items())]
    for kind, text, body in failures[:limit]:
        lines.append(f"[{kind}] {text!r} -> {body!r}")
    return "\n".join(lines)


EXAMPLES = [
    "a+b", "a - (b - c)", "(a - b) - c", "a ** b ** c", "(a ** b) ** c", "-1 ** 2", "(-1) ** 2",
    "2 ** -x", "-(x ** 2)", "not not x", "--x", "~-+x", "(not a) == b", "a < b <= c", "a < (b < c)",
    "a and b or c", "a and (b or c)", "(a and b) and c", "a and (b and c)", "(x := 1)", "f((x := 1))",
    "f(x := 1)", "x[y := 1]", "(x := (y := 1))", "f(lambda: 1)", "(lambda: 1) + 2", "lambda: (x := 1)",
    "lambda: (1, 2)", "lambda: lambda: 1", "a if b else (c if d else e)", "(a if b else c) if d else e",
    "a if (b if c else d) else e", "(lambda: 1) if x else y", "x if y else lambda: 1",
    "lambda a, /, b=1, *c, d, **e: 0", "lambda *, k: 0", "lambda x=(1, 2): x", "lambda x=lambda: 1: 0",
    "lambda a, b=2, /: 0", "lambda *a, **k: (a, k)", "1 .real", "1.5.real", "2j.imag", "(1).bit_length()",
    "0x10", "1_000", "0b1010", "0o17", "123456789012345678901234567890", "0xFFFFFFFFFFFFFFFFFFFF",
    "1e16", "1e15", "0.0001", "0.00001", "1e309", "1e400j", "2.5", "3.0", "1e22", "0.9999999999999999",
    "1e-7j", "1e20j", "1j", "0j", "0.0", "5e-324", "1.7976931348623157e308", "3.14159265358979j",
    "{**a, 'b': 1}", "{}", "{1, *x}", "[1, *x]", "(1,)", "()", "1, 2", "x[a, b]", "x[:]", "x[::2]",
    "x[1:2, ::3]", "x[*a]", "x[*a, b]", "f((a, b))", "f(*a, k=1, **b)", "f(k=1, *a)", "f(**a, k=1)",
    "f(x for x in y)", "f((x for x in y), k=1)", "f((a, b) for a in y)", "[x for x in y if p if q]",
    "[x async for x in y for z in x]", "[x for x in (a if b else c)]", "[x for x in a or b]",
    "[a for a, b in y]", "{k: v for k, v in d}", "{x for x in y}", "(x for x in y)",
    "[(lambda: x) for x in y]", "[x for x in y if (lambda: x)]", "[(y := x) for x in z]",
    "(await x).y", "await x ** 2", "-await x", "(yield)", "(yield x)", "(yield from x)", "*a, b",
    "'my_var'", "\"it's\"", "'a\\'b\"c'", "\"x\"", "u\"x\"", "R\"\\d\"", "r'\\''", "'a\\nb'",
    "'''a\nb'''", "r'''a\nb'''", "'\\x00\\x7f'", "'\\u200b'", "'\u00e9'", "'\\U0010ffff'", "'\\N{BULLET}'",
    "b'\\xff'", "rb'\\d'", "B'x'", "Rb'x'", "b'it\\'s'", "'a' 'b'", "'a' r'b' u'c'", "b'a' b'b'",
    "'\\t\\r\\\\'", "'\\a\\b\\f\\v'", "'\u00a0\u2028\ue000'", "\"\"\"it's \"quoted\" \"\"\"",
    "f'{x!r:>{w}}'", "f'{x=}'", "f'{ x = }'", "f'{x=!r:10}'", "f'{a+b=}'", "f'{{}}'", "f'{ {1: 2} }'",
    "f'it\\'s {x}'", "f'{(lambda: 1)}'", "f'{x if y else (lambda: 1)}'", "f'{f(lambda: 1)}'",
    "f'{(y := 1)}'", "f'{a, b}'", "f'{x:{y}=}'", "f'{x:{{}}}'", "rf'\\d{x}'", "Rf'{x}\\{{'",
    "f'a' 'b' f'{c}'", "'a' f'{b}'", "f'{\"a\"}'", "f\"{'\\n'.join(x)}\"", "f'''{x}\n'''",
    "f'{x!s}{y!a}'", "f'{f\"{x}\"}'", "f'{x:>10}'", "f'{x:{w}.{p}}'", "f'{3:x}'", "f'{a[1:2]}'",
    "f'{x!r}' f'{y}'", "f'\\N{BULLET} {x}'", "f'{x}\\\\N{{y}}'", "x.y.z(a)[b].c", "....__class__",
    "True, False, None, ...", "a @ b // c % d", "a << b & c | d ^ e", "x[lambda: 1:2]",
    "{lambda: 1: 2}", "a if b else c, d", "(a, b) if c else d", "not (a if b else c)", "-x.y",
    "(-x).y", "(a + b)[c]", "(a, b)[0]", "[a, b][0]", "'abc'[0]", "f()()()", "x[0][1](2)",
    "(x := (1, 2))", "(x := (yield))", "(x := lambda: 1)", "x[(a, b):c]", "x[a:b, (c, d):e]",
    "x[::(1,)]", "f'{x!r:{(a, b)}}'",
]


def test_examples_round_trip():
    figures, failures = check(EXAMPLES)
    assert figures["not python"] == 0, describe(figures, failures)
    assert not failures, describe(figures, failures)


def load_corpus():
    """The standard-library corpus of bench/extract_stdlib_exprs.py, made first when missing."""
    if not os.path.exists(CORPUS):
        subprocess.run([sys.executable, EXTRACT], check=True, cwd=ROOT)
    with open(CORPUS, "rb") as f:
        data = f.read().decode("utf-8", "surrogatepass")
    return [t for t in data.split("\0") if t]


def holds_lone_surrogate(text):
    """True when CPython reads a string constant with a lone surrogate (such as
    "\\ud800") out of the text. Our parser decodes those escapes to U+FFFD, so
    its tree differs from CPython's before anything is printed."""
    for candidate in (text, "(\n" + text + "\n)"):
        try:
            tree = ast.parse(candidate, mode="eval")
            break
        except SyntaxError:
            continue
    else:
        return False
    return any(isinstance(n, ast.Constant) and isinstance(n.value, str)
               and any(0xD800 <= ord(c) <= 0xDFFF for c in n.value) for n in ast.walk(tree))


def test_stdlib_corpus_round_trip():
    texts = load_corpus()
    figures, failures = check(texts)
    surrogates = [f for f in failures if f[0] == "different tree" and holds_lone_surrogate(f[1])]
    failures = [f for f in failures if f not in surrogates]
    checked = sum(v for k, v in figures.items() if k != "not python")
    same = figures["same tree"]
    print(f"\nround trip: {same}/{checked} expressions give the same tree "
          f"({100.0 * same / max(checked, 1):.3f}%); {len(surrogates)} differ only by lone surrogates "
          f"that the parser reads as U+FFFD\n" + describe(figures, failures, limit=0))
    assert checked > 100000
    assert not failures, describe(figures, failures)


# ---------------------------------------------------------------------------
# The printer alone, on trees that CPython builds (tools/cpython_tree.py turns
# them into ours): independent of our parser, so any difference is the printer's.

def find_printer():
    tool = os.environ.get("LUMRA_PRINT_CPYTHON_TREE_TOOL")
    if tool:
        return tool
    found = sorted(glob.glob(os.path.join(ROOT, "build", "*", "tests", "cpp", "pycodegen",
                                          "pycodegen_print_cpython_tree")), key=os.path.getmtime)
    if not found:
        pytest.fail("pycodegen_print_cpython_tree not built")
    return found[-1]


def print_cpython_trees(nodes):
    data = b"".join(cpython_tree.serialise(n) + b"\n" for n in nodes)
    out = subprocess.run([find_printer()], input=data, stdout=subprocess.PIPE, check=True).stdout
    results, pos = [], 0
    while pos < len(out):
        eol = out.index(b"\n", pos)
        status, length = out[pos:eol].decode().split(" ")
        results.append((status, out[eol + 1:eol + 1 + int(length)].decode("utf-8")))
        pos = eol + 1 + int(length)
    assert len(results) == len(nodes)
    return results


def dump_without_fstring_kinds(node, drop_kinds=True):
    """ast.dump, except for two marks that CPython leaves on f-strings and
    that depend on how the source was written, not on the value: the 'u' kind
    of literal parts when a u-string is joined on, and the empty parts
    around a format spec written "{{...}}" (a field whose expression begins
    with a brace)."""
    for sub in ast.walk(node):
        if isinstance(sub, ast.JoinedStr):
            sub.values = [v for v in sub.values if not (isinstance(v, ast.Constant) and v.value == "")]
            for value in sub.values:
                if drop_kinds and isinstance(value, ast.Constant):
                    value.kind = None
    return ast.dump(node)


def tree_failures(nodes):
    failures = []
    for node, (status, text) in zip(nodes, print_cpython_trees(nodes)):
        want = dump_without_fstring_kinds(node)
        got = None
        if status == "OK":
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                for candidate in (text, "(\n" + text + "\n)"):
                    try:
                        got = dump_without_fstring_kinds(ast.parse(candidate, mode="eval").body)
                        break
                    except SyntaxError:
                        continue
        if got != want:
            failures.append((status, ast.unparse(node), text))
    return failures


class RandomExpressions:
    """Random expressions written with parentheses around every compound part,
    so CPython reads them unambiguously; the printer must drop what is not needed."""

    NAMES = ["a", "b", "c", "x", "y"]
    ATOMS = ["a", "b", "x", "1", "0", "2.5", "1e16", "1e-05", "3j", "True", "None", "...", "0x10", "10**30",
             "'s'", "b'\\x00'", "u'u'", "r'\\d'", "'''t\\n'''"]
    CHARS = ["a", " ", "'", '"', "\\\\", "\\n", "\\t", "\\x00", "\\x7f", "é", "\\u200b", "\\U0010ffff", "😀",
             "\\xa0", "{{", "}}", "\\N{BULLET}"]
    BINOPS = ["+", "-", "*", "@", "/", "%", "**", "<<", ">>", "|", "^", "&", "//"]
    CMPOPS = ["==", "!=", "<", "<=", ">", ">=", "is", "is not", "in", "not in"]

    def __init__(self, seed):
        import random
        self.rng = random.Random(seed)

    def string_body(self):
        return "".join(self.rng.choice(self.CHARS) for _ in range(self.rng.randrange(0, 5)))

    def string(self):
        quote = self.rng.choice(["'", '"'])
        prefix = self.rng.choice(["", "", "u", "b"])
        body = self.string_body().replace(quote, "\\" + quote)
        if prefix == "b":
            body = "".join(ch if ord(ch) < 128 else "\\xff" for ch in body).replace("\\u200b", "").replace(
                "\\U0010ffff", "").replace("\\N{BULLET}", "")
        return prefix + quote + body.replace("{{", "{").replace("}}", "}") + quote

    def fstring(self, depth):
        quote = self.rng.choice(["'", '"'])
        parts = []
        for _ in range(self.rng.randrange(1, 4)):
            if self.rng.random() < 0.5:
                parts.append(self.string_body().replace(quote, "\\" + quote))
            else:
                field = self.expr(depth + 1)
                if self.rng.random() < 0.3:
                    field += "!" + self.rng.choice("rsa")
                if self.rng.random() < 0.3:
                    field += ":" + self.rng.choice([">10", "{" + self.expr(depth + 1) + "}", "x"])
                parts.append("{" + ("(" + field + ")" if field.startswith("{") else field) + "}")
        return "f" + quote + "".join(parts) + quote

    def comprehension(self, depth):
        text = ""
        for _ in range(self.rng.randrange(1, 3)):
            target = self.rng.choice(["x", "(x, y)", "x, y"])
            text += f" for {target} in {self.expr(depth + 1)}"
            for _ in range(self.rng.randrange(0, 2)):
                text += f" if {self.expr(depth + 1)}"
        return text

    def args(self, depth):
        items = [self.expr(depth + 1) for _ in range(self.rng.randrange(0, 3))]
        if self.rng.random() < 0.3:
            items.append("*" + self.expr(depth + 1))
        if self.rng.random() < 0.3:
            items.append("k=" + self.expr(depth + 1))
        if self.rng.random() < 0.2:
            items.append("**" + self.expr(depth + 1))
        return ", ".join(items)

    def subscript_key(self, depth):
        def bound():
            return self.expr(depth + 1) if self.rng.random() < 0.6 else ""
        keys = []
        for _ in range(self.rng.randrange(1, 3)):
            keys.append(self.rng.choice([self.expr(depth + 1), f"{bound()}:{bound()}",
                                         f"{bound()}:{bound()}:{bound()}"]))
        return ", ".join(keys)

    def lambda_params(self, depth):
        return self.rng.choice(["", "a", "a, b=" + self.expr(depth + 1), "*args", "a, /, b, *, c",
                                "*, k=" + self.expr(depth + 1), "**kw", "a, *b, c, **d"])

    def expr(self, depth=0):
        r = self.rng
        if depth > 4 or r.random() < 0.25:
            if r.random() < 0.15:
                return self.string()
            return r.choice(self.ATOMS)
        d = depth + 1
        form = r.randrange(26)
        e = self.expr
        if form == 0:
            return f"({e(d)} {r.choice(self.BINOPS)} {e(d)})"
        if form == 1:
            return f"({r.choice(['-', '+', '~', 'not '])}{e(d)})"
        if form == 2:
            return "(" + f" {r.choice(['and', 'or'])} ".join(e(d) for _ in range(r.randrange(2, 4))) + ")"
        if form == 3:
            return "(" + e(d) + "".join(f" {r.choice(self.CMPOPS)} {e(d)}" for _ in range(r.randrange(1, 3))) + ")"
        if form == 4:
            return f"({e(d)} if {e(d)} else {e(d)})"
        if form == 5:
            return f"(lambda {self.lambda_params(d)}: {e(d)})"
        if form == 6:
            return f"({r.choice(self.NAMES)} := {e(d)})"
        if form == 7:
            return f"(yield {e(d)})" if r.random() < 0.5 else r.choice(["(yield)", f"(yield from {e(d)})"])
        if form == 8:
            return f"(await {e(d)})"
        if form == 9:
            return r.choice([f"({e(d)},)", f"({e(d)}, {e(d)})", "()", f"(*{e(d)}, {e(d)})"])
        if form == 10:
            return "[" + ", ".join(e(d) for _ in range(r.randrange(0, 3))) + "]"
        if form == 11:
            return "{" + ", ".join(e(d) for _ in range(r.randrange(1, 3))) + "}"
        if form == 12:
            return "{" + ", ".join(r.choice([f"{e(d)}: {e(d)}", f"**{e(d)}"]) for _ in range(r.randrange(0, 3))) + "}"
        if form == 13:
            return f"{e(d)}[{self.subscript_key(d)}]"
        if form == 14:
            return f"{e(d)}.{r.choice(['real', 'y', 'imag'])}"
        if form == 15:
            return f"{e(d)}({self.args(d)})"
        if form == 16:
            return f"[{e(d)}{self.comprehension(d)}]"
        if form == 17:
            return f"({e(d)}{self.comprehension(d)})"
        if form == 18:
            return f"{{{e(d)}: {e(d)}{self.comprehension(d)}}}"
        if form == 19:
            return f"f({e(d)}{self.comprehension(d)})"
        if form == 20:
            return self.fstring(d)
        if form == 21:
            return f"({e(d)} ** {e(d)})"
        if form == 22:
            return f"(-{e(d)} ** {e(d)})"
        if form == 23:
            return f"{{{e(d)}{self.comprehension(d)}}}"
        if form == 24:
            return f"[*{e(d)}, {e(d)}]"
        return self.string() + " " + self.string() if r.random() < 0.5 else self.fstring(d) + " " + self.string()


def random_expression_nodes(count, seed):
    gen = RandomExpressions(seed)
    nodes = []
    while len(nodes) < count:
        text = gen.expr()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                nodes.append(ast.parse(text, mode="eval").body)
            except (SyntaxError, ValueError):
                continue
    return nodes


def test_random_cpython_trees_print_back():
    nodes = random_expression_nodes(20000, seed=12)
    failures = tree_failures(nodes)
    assert not failures, "\n".join(f"[{s}] {u!r} -> {t!r}" for s, u, t in failures[:30])


def stdlib_expression_nodes():
    """Every outermost expression of the standard library's modules that can
    stand alone (no assignment targets, no bare starred items)."""
    import sysconfig
    stdlib = sysconfig.get_paths()["stdlib"]
    nodes = []
    for dirpath, dirs, files in os.walk(stdlib):
        dirs[:] = sorted(d for d in dirs if d not in ("site-packages", "__pycache__"))
        for name in sorted(files):
            if not name.endswith(".py"):
                continue
            try:
                with open(os.path.join(dirpath, name), encoding="utf-8") as f:
                    source = f.read()
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    module = ast.parse(source)
            except (SyntaxError, UnicodeDecodeError, ValueError):
                continue
            for parent in ast.walk(module):
                if isinstance(parent, ast.expr):
                    continue
                for child in ast.iter_child_nodes(parent):
                    if (isinstance(child, ast.expr) and not isinstance(child, ast.Starred)
                            and not isinstance(getattr(child, "ctx", None), (ast.Store, ast.Del))):
                        nodes.append(child)
    return nodes


def test_stdlib_cpython_trees_print_back():
    nodes = stdlib_expression_nodes()
    failures = tree_failures(nodes)
    print(f"\nCPython trees of the standard library: {len(nodes) - len(failures)}/{len(nodes)} print back")
    assert len(nodes) > 100000
    assert not failures, "\n".join(f"[{s}] {u!r} -> {t!r}" for s, u, t in failures[:30])
