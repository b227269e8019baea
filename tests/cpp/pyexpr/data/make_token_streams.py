#!/usr/bin/env python3
"""Write token_streams.bin: expressions of the standard-library corpus with the
token stream CPython's tokenize module gives them, in the lexer's kind names.

Records (each followed by a NUL byte): the source text (an expression wrapped
as "(\\n" + text + "\\n)"), then its tokens as `Kind@start..end` separated by
spaces, with byte offsets. Expressions with f-strings are left out (tokenize
splits them differently). Kind names and spellings are read from
src/pyexpr/token_kind.cpp. Run from the repository root after
bench/extract_stdlib_exprs.py:

    python tests/cpp/pyexpr/data/make_token_streams.py
"""

import io
import keyword
import re
import sys
import tokenize
from pathlib import Path

ROOT = Path(__file__).resolve().parents[4]
CORPUS = ROOT / "build" / "corpus" / "stdlib_exprs.txt"
KINDS = ROOT / "src" / "pyexpr" / "token_kind.cpp"
OUTPUT = Path(__file__).resolve().parent / "token_streams.bin"
STEP = 150  # every STEP-th expression of the corpus (shorter than MAX_LEN bytes)
MAX_LEN = 400


def spelling_table() -> dict[str, str]:
    table = {}
    for name, spelling in re.findall(r'\{"(\w+)", "[^"]*", "([^"]*)"\}', KINDS.read_text()):
        if spelling:
            table[spelling] = name
    return table


def stream(source: str, spellings: dict[str, str]) -> str | None:
    data = source.encode("utf-8")
    lines = source.splitlines(keepends=True)
    line_bytes = [0]
    for line in lines:
        line_bytes.append(line_bytes[-1] + len(line.encode("utf-8")))

    def offset(rc):
        row, col = rc
        if row - 1 >= len(lines):
            return len(data)
        return line_bytes[row - 1] + len(lines[row - 1][:col].encode("utf-8"))

    out = []
    try:
        for tok in tokenize.generate_tokens(io.StringIO(source).readline):
            t = tok.type
            if t in (tokenize.FSTRING_START, tokenize.FSTRING_MIDDLE, tokenize.FSTRING_END, tokenize.ERRORTOKEN):
                return None
            if t == tokenize.NAME:
                kind = spellings.get(tok.string, "Name") if (keyword.iskeyword(tok.string) or keyword.issoftkeyword(tok.string)) else "Name"
                if tok.string == "_":
                    kind = "Name"
            elif t == tokenize.NUMBER:
                s = tok.string.lower()
                if s.endswith("j"):
                    kind = "Complex"
                elif not s.startswith(("0x", "0o", "0b")) and ("." in s or "e" in s):
                    kind = "Float"
                else:
                    kind = "Int"
            elif t == tokenize.STRING:
                kind = "String"
            elif t == tokenize.OP:
                kind = spellings[tok.string]
            elif t == tokenize.NEWLINE:
                kind = "Newline"
            elif t == tokenize.NL:
                kind = "NonLogicalNewline"
            elif t == tokenize.COMMENT:
                kind = "Comment"
            elif t == tokenize.INDENT:
                kind = "Indent"
            elif t == tokenize.DEDENT:
                kind = "Dedent"
            elif t == tokenize.ENDMARKER:
                kind = "EndOfFile"
            else:
                return None
            out.append(f"{kind}@{offset(tok.start)}..{offset(tok.end)}")
    except (tokenize.TokenError, SyntaxError, KeyError):
        return None
    return " ".join(out)


def main() -> int:
    spellings = spelling_table()
    records = CORPUS.read_bytes().split(b"\0")[:-1]
    out = bytearray()
    count = 0
    for record in records[::STEP]:
        if len(record) > MAX_LEN:
            continue
        source = "(\n" + record.decode("utf-8") + "\n)"
        tokens = stream(source, spellings)
        if tokens is None:
            continue
        out += source.encode("utf-8") + b"\0" + tokens.encode("utf-8") + b"\0"
        count += 1
    OUTPUT.write_bytes(bytes(out))
    print(f"wrote {count} token streams ({len(out)} bytes) to {OUTPUT}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
