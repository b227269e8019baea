#!/usr/bin/env python3
"""Write string_literals.bin: string, bytes and field-free f-string literals
with the values CPython gives them.

Literals: every prefix and quote style over bodies with escapes, then the
literals of the standard-library corpus (build/corpus, see
bench/extract_stdlib_exprs.py). Records (each field followed by a NUL byte):
the literal's source text, then its value (UTF-8 text for str, the raw bytes
for bytes). Only literals with a backslash or a non-ASCII character are kept
(the others decode trivially), and only those whose value has no NUL byte
(the record separator), no lone surrogate and no CR. Run from the repository root:

    python tests/cpp/pyexpr/data/make_string_literals.py
"""

import ast
import io
import sys
import tokenize
import warnings
from pathlib import Path

ROOT = Path(__file__).resolve().parents[4]
CORPUS = ROOT / "build" / "corpus" / "stdlib_exprs.txt"
OUTPUT = Path(__file__).resolve().parent / "string_literals.bin"
LIMIT = 3000

PREFIXES = ["", "u", "U", "r", "R", "b", "B", "br", "Br", "bR", "BR", "rb", "rB", "Rb", "RB",
            "f", "F", "rf", "rF", "Rf", "RF", "fr", "Fr", "fR", "FR"]
QUOTES = ["'", '"', "'" * 3, '"' * 3]
BODIES = [
    r"a\nb\tc", r"\x41\101\u00e9\U0001F600\N{BULLET}", "\u00e9t\u00e9", r"\\", r"\'\"",
    "line\\\ncont", r"\q\d\w+\.", r"\777\012\12", "{{}}", "a{{b}}c",
    r"\N{LATIN SMALL LETTER A}\N{bullet}", r"\a\b\f\v\r", r"\x7f\xff\x80", r"\{{x", "tail\\\\",
]


def synthetic():
    """Every prefix with every quote style over bodies with escapes."""
    for prefix in PREFIXES:
        for quote in QUOTES:
            for body in BODIES:
                yield prefix + quote + body + quote


def literals(expr: str):
    source = "(\n" + expr + "\n)"
    try:
        tokens = list(tokenize.generate_tokens(io.StringIO(source).readline))
    except (tokenize.TokenError, SyntaxError):
        return
    lines = source.splitlines(keepends=True)
    offsets = [0]
    for line in lines:
        offsets.append(offsets[-1] + len(line))

    def pos(rc):
        return offsets[rc[0] - 1] + rc[1]

    i = 0
    while i < len(tokens):
        tok = tokens[i]
        if tok.type == tokenize.STRING:
            yield tok.string
        elif tok.type == tokenize.FSTRING_START:
            j = i + 1
            plain = True
            while j < len(tokens) and tokens[j].type != tokenize.FSTRING_END:
                if tokens[j].type != tokenize.FSTRING_MIDDLE:
                    plain = False
                j += 1
            if plain and j < len(tokens):
                yield source[pos(tok.start):pos(tokens[j].end)]
            i = j
        i += 1


def value_of(text: str):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        node = ast.parse(text, mode="eval").body
    if isinstance(node, ast.Constant):
        return node.value
    if isinstance(node, ast.JoinedStr) and all(isinstance(p, ast.Constant) for p in node.values):
        return "".join(p.value for p in node.values)
    return None


def main() -> int:
    records = CORPUS.read_bytes().split(b"\0")[:-1] if CORPUS.exists() else []

    def candidates():
        yield from synthetic()
        for record in records:
            yield from literals(record.decode("utf-8"))

    seen = set()
    out = bytearray()
    count = 0
    for text in candidates():
        if count >= LIMIT:
            break
        if text in seen or not ("\\" in text or not text.isascii()):
            continue
        seen.add(text)
        try:
            value = value_of(text)
        except (SyntaxError, ValueError):
            continue
        if isinstance(value, str):
            try:
                data = value.encode("utf-8")
            except UnicodeEncodeError:
                continue
        elif isinstance(value, bytes):
            data = value
        else:
            continue
        # CPython turns CRLF in source into LF before lexing; the lexer keeps
        # source text as it is, so literals holding a CR are not comparable.
        if b"\0" in data or "\0" in text or "\r" in text:
            continue
        out += text.encode("utf-8") + b"\0" + data + b"\0"
        count += 1
    OUTPUT.write_bytes(bytes(out))
    print(f"wrote {count} literals ({len(out)} bytes) to {OUTPUT}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
