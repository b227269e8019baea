#!/usr/bin/env python3
"""Write number_literals.txt: number literals with the values CPython gives them.

One literal per line: the token text, a tab, then the value: `int <decimal>`,
`float <float.hex()>` or `complex <imag float.hex()>`. The literals are the
unique NUMBER tokens of the standard-library corpus (build/corpus, see
bench/extract_stdlib_exprs.py) followed by hand-picked edge cases. Run from
the repository root:

    python tests/cpp/pyexpr/data/make_number_literals.py
"""

import io
import sys
import tokenize
from pathlib import Path

ROOT = Path(__file__).resolve().parents[4]
CORPUS = ROOT / "build" / "corpus" / "stdlib_exprs.txt"
OUTPUT = Path(__file__).resolve().parent / "number_literals.txt"

EDGE_CASES = [
    "0", "00", "0_0", "1_000", "0x_ff", "0XFF", "0o777", "0b1010", "18446744073709551615",
    "18446744073709551616", "0xFFFFFFFFFFFFFFFF", "0x1_0000_0000_0000_0000", "0o7777777777777777777777777",
    "1e400", "1e-400", "4.9e-324", "3e-324", "2e-324", "2.2250738585072014e-308", "1.7976931348623157e308",
    "1.7976931348623159e308", "1.7976931348623158e308", "0.1", ".5", "1.", "1.e5", "1_0.2_5e1_0", "1E+5",
    "1e-05", "123456789012345678901234567890.5", "0.000000000000000000000000000001", "2j", "1.5J", "1e400j",
    "09.5", "09j", "0e0", "0.0", "9007199254740993", "9007199254740993.0",
]


def numbers(expr: str):
    try:
        for tok in tokenize.generate_tokens(io.StringIO("(\n" + expr + "\n)").readline):
            if tok.type == tokenize.NUMBER:
                yield tok.string
    except (tokenize.TokenError, SyntaxError):
        return


def describe(text: str) -> str:
    value = eval(text)  # a number literal only
    if isinstance(value, int):
        return f"int {value}"
    if isinstance(value, float):
        return f"float {value.hex()}"
    return f"complex {value.imag.hex()}"


def main() -> int:
    seen = []
    known = set()
    if CORPUS.exists():
        for record in CORPUS.read_bytes().split(b"\0")[:-1]:
            for text in numbers(record.decode("utf-8")):
                if text not in known:
                    known.add(text)
                    seen.append(text)
    for text in EDGE_CASES:
        if text not in known:
            known.add(text)
            seen.append(text)
    lines = [f"{text}\t{describe(text)}" for text in seen]
    OUTPUT.write_text("\n".join(lines) + "\n")
    print(f"wrote {len(lines)} number literals to {OUTPUT}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
