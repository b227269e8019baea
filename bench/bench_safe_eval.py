"""safe_eval over the standard-library expression corpus, against CPython.

Compares, in the same run and over the same expressions:
  - safe_eval(src)                                  (parse, rewrite, print)
  - ast.unparse(ast.parse(src, mode="eval"))        (CPython's parse and print)
  - compile(src, "<e>", "eval", ast.PyCF_ONLY_AST)  (CPython's parse alone)

Targets: safe_eval at least 10 times faster than the parse-and-print, and under
a quarter of the time of the parse alone.

Usage: PYTHONPATH=build/<dir>/python python bench/bench_safe_eval.py [--corpus PATH] [--repeat N]
"""

import argparse
import ast
import os
import subprocess
import sys
import time
import warnings
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_CORPUS = ROOT / "build" / "corpus" / "stdlib_exprs.txt"


def load_corpus(path):
    if not path.exists():
        extractor = ROOT / "bench" / "extract_stdlib_exprs.py"
        if not extractor.exists():
            sys.exit(f"no corpus at {path} and no {extractor} to make one")
        subprocess.run([sys.executable, str(extractor), "--output", str(path)], check=True)
    records = path.read_bytes().split(b"\0")
    return [r.decode("utf-8") for r in records if r]


def best_of(repeat, fn, items):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        for item in items:
            fn(item)
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--corpus", type=Path, default=Path(os.environ.get("LUMRA_EXPR_CORPUS", DEFAULT_CORPUS)))
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    from lumra_core._rust import safe_eval as safe_eval_module

    safe_eval = safe_eval_module.safe_eval

    corpus = load_corpus(args.corpus)
    # The same expressions for all three: those both sides accept. A text that
    # spans lines may need parentheses to stand alone; CPython gets it wrapped
    # as safe_eval wraps it internally.
    warnings.simplefilter("ignore", SyntaxWarning)
    exprs = []
    cpython_exprs = []
    refused = 0
    for src in corpus:
        try:
            safe_eval(src)
        except SyntaxError:
            refused += 1
            continue
        for text in (src, "(\n" + src + "\n)"):
            try:
                compile(text, "<e>", "eval", ast.PyCF_ONLY_AST)
            except SyntaxError:
                continue
            exprs.append(src)
            cpython_exprs.append(text)
            break
        else:
            refused += 1
    total_bytes = sum(len(s.encode()) for s in exprs)

    def cpython_roundtrip(src):
        return ast.unparse(ast.parse(src, mode="eval"))

    def cpython_parse(src):
        return compile(src, "<e>", "eval", ast.PyCF_ONLY_AST)

    t_safe = best_of(args.repeat, safe_eval, exprs)
    t_unparse = best_of(args.repeat, cpython_roundtrip, cpython_exprs)
    t_parse = best_of(args.repeat, cpython_parse, cpython_exprs)

    n = len(exprs)
    print(f"corpus: {len(corpus)} expressions, {n} measured ({refused} refused by either side), {total_bytes} bytes")
    for label, t in [
        ("safe_eval(src)", t_safe),
        ("ast.unparse(ast.parse(src, mode='eval'))", t_unparse),
        ("compile(src, '<e>', 'eval', ast.PyCF_ONLY_AST)", t_parse),
    ]:
        print(f"  {label:<48} {t * 1e3:9.1f} ms  {t / n * 1e9:8.0f} ns/expr  {total_bytes / t / 1e6:7.1f} MB/s")
    print(f"  safe_eval is {t_unparse / t_safe:.1f}x faster than ast.unparse(ast.parse()) (target >= 10x)")
    print(f"  safe_eval takes {t_safe / t_parse:.3f} of the time of compile(PyCF_ONLY_AST) (target < 0.25)")


if __name__ == "__main__":
    main()
