#!/usr/bin/env python3
"""Extract the Python expressions of the standard library into a corpus file.

Every .py file under the standard library directory of the running
interpreter's base installation (site-packages excluded) is parsed with the
`ast` module. Each expression node that stands directly in a statement (or in
a statement part such as arguments, keywords, except handlers, with items or
match cases), i.e. whose parent is not itself an expression, contributes its
source text (as `ast.get_source_segment` gives it). Nested sub-expressions are not
emitted separately: they are part of their top-level expression.

Output format: UTF-8 records, each followed by one NUL byte. A record is one
expression's source text exactly as written, which may span several lines
(parse such text wrapped as "(\\n" + text + "\\n)", as the expression
rewriter does). Only texts that CPython parses in that wrapping are kept.
Order is deterministic: files sorted by relative path, expressions in source
order; with --unique (the default) a text is kept at its first occurrence.

Usage:
    python bench/extract_stdlib_exprs.py [--output build/corpus/stdlib_exprs.txt]
        [--stdlib DIR] [--all] [--limit N]

Reading the corpus:
    records = open(path, "rb").read().split(b"\\0")[:-1]
    texts = [r.decode("utf-8") for r in records]
"""

from __future__ import annotations

import argparse
import ast
import os
import sys
import warnings
from pathlib import Path
from typing import Iterator

REPO_ROOT = Path(__file__).resolve().parent.parent
DEFAULT_OUTPUT = REPO_ROOT / "build" / "corpus" / "stdlib_exprs.txt"


def default_stdlib_dir() -> Path:
    version = f"python{sys.version_info.major}.{sys.version_info.minor}"
    return Path(sys.base_prefix) / "lib" / version


def python_files(stdlib: Path) -> list[Path]:
    files = []
    for root, dirs, names in os.walk(stdlib):
        dirs[:] = sorted(d for d in dirs if d not in ("site-packages", "__pycache__"))
        for name in names:
            if name.endswith(".py"):
                files.append(Path(root) / name)
    return sorted(files, key=lambda p: p.relative_to(stdlib).as_posix())


def top_level_exprs(node: ast.AST) -> Iterator[ast.expr]:
    """Expressions whose parent is not an expression, in source (field) order."""
    for _field, value in ast.iter_fields(node):
        children = value if isinstance(value, list) else [value]
        for child in children:
            if isinstance(child, ast.expr):
                yield child
            elif isinstance(child, ast.AST):
                yield from top_level_exprs(child)


def line_starts(data: bytes) -> list[int]:
    """Byte offset of each line; CRLF, LF and CR end a line (as ast counts them)."""
    starts = [0]
    i = 0
    n = len(data)
    while i < n:
        c = data[i]
        if c == 0x0D:
            i += 2 if i + 1 < n and data[i + 1] == 0x0A else 1
            starts.append(i)
        elif c == 0x0A:
            i += 1
            starts.append(i)
        else:
            nl = data.find(b"\n", i)
            cr = data.find(b"\r", i)
            hits = [h for h in (nl, cr) if h >= 0]
            if not hits:
                break
            i = min(hits)
    return starts


def segment(data: bytes, starts: list[int], node: ast.expr) -> str | None:
    """Source text of a node, like ast.get_source_segment but without re-splitting the file."""
    if node.end_lineno is None or node.end_col_offset is None:
        return None
    begin = starts[node.lineno - 1] + node.col_offset
    end = starts[node.end_lineno - 1] + node.end_col_offset
    try:
        return data[begin:end].decode("utf-8")
    except UnicodeDecodeError:
        return None


def parses_wrapped(text: str) -> bool:
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            ast.parse("(\n" + text + "\n)", mode="eval")
        return True
    except (SyntaxError, ValueError, RecursionError, MemoryError):
        return False


def extract(stdlib: Path, unique: bool, limit: int | None) -> Iterator[str]:
    seen: set[str] = set()
    count = 0
    for path in python_files(stdlib):
        try:
            source = path.read_text(encoding="utf-8")
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                tree = ast.parse(source, filename=str(path))
        except (SyntaxError, UnicodeDecodeError, ValueError, RecursionError, MemoryError):
            continue  # test data with deliberate errors, other encodings, ...
        data = source.encode("utf-8")
        starts = line_starts(data)
        for expr in top_level_exprs(tree):
            text = segment(data, starts, expr)
            if not text or "\0" in text:
                continue
            if unique:
                if text in seen:
                    continue
                seen.add(text)
            if not parses_wrapped(text):
                continue
            yield text
            count += 1
            if limit is not None and count >= limit:
                return


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--output", type=Path, default=DEFAULT_OUTPUT, help="corpus file to write")
    parser.add_argument("--stdlib", type=Path, default=None, help="standard library directory to scan")
    parser.add_argument("--all", action="store_true", help="keep repeated texts (default: first occurrence only)")
    parser.add_argument("--limit", type=int, default=None, help="stop after this many records")
    args = parser.parse_args(argv)

    stdlib = args.stdlib or default_stdlib_dir()
    if not stdlib.is_dir():
        print(f"standard library directory not found: {stdlib}", file=sys.stderr)
        return 1
    args.output.parent.mkdir(parents=True, exist_ok=True)
    tmp = args.output.with_suffix(args.output.suffix + ".tmp")
    records = 0
    size = 0
    with open(tmp, "wb") as out:
        for text in extract(stdlib, unique=not args.all, limit=args.limit):
            data = text.encode("utf-8")
            out.write(data)
            out.write(b"\0")
            records += 1
            size += len(data)
    tmp.replace(args.output)
    print(f"wrote {records} expressions ({size} bytes) from {stdlib} to {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
