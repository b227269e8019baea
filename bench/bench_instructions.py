"""Instructions of one call on the page benchmarks' inputs, for one or more
builds in the same run.

Wall time on a shared machine moves by more than a small change does;
callgrind's count of instructions does not. For each workload, a child that
makes the call twice less one that makes it once gives the cost of one warm
call. A fixed PYTHONHASHSEED keeps the interpreter's own work (and the core's
hash key) the same in every child.

  - parse_template on bench_parse_template's 1 MB page
  - parse_template + compile_template on bench_pipeline's 100 KB page
  - safe_eval over the first 30,000 texts of the standard-library corpus

Usage: python bench/bench_instructions.py [BUILD_DIR ...]   (each holding python/lumra_core; by default the
       lumra_core found on PYTHONPATH)
"""

import argparse
import gc
import os
import sys
from pathlib import Path

from callgrind import one_call_instructions

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))


def workload(name):
    """The input of a workload and the call to count on it."""
    from lumra_core._rust import safe_eval, template_parser as tp
    if name == "parse, 1 MB page":
        from bench_parse_template import make_template
        return make_template(1_000_000, dynamic=True), tp.parse_template
    if name == "parse + compile, 100 KB page":
        from bench_pipeline import make_page
        return make_page(100_000)[0], lambda text: tp.compile_template(tp.parse_template(text))
    if name == "safe_eval, 30,000 corpus texts":
        from bench_safe_eval import DEFAULT_CORPUS, load_corpus

        def run(texts):
            for text in texts:
                try:
                    safe_eval.safe_eval(text)
                except SyntaxError:
                    pass
        return load_corpus(DEFAULT_CORPUS)[:30000], run
    raise SystemExit(f"unknown workload {name!r}")


WORKLOADS = ("parse, 1 MB page", "parse + compile, 100 KB page", "safe_eval, 30,000 corpus texts")


def child(name, calls):
    made, call = workload(name)
    gc.disable()
    for _ in range(calls):
        call(made)


def count(build, name):
    env = {**os.environ, "PYTHONHASHSEED": "0"}
    if build:
        env["PYTHONPATH"] = str(Path(build).resolve() / "python")
    return one_call_instructions([__file__, "--child", name], f"{name} on {build}", env=env)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("builds", nargs="*")
    ap.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        return child(args.child[0], int(args.child[1]))
    builds = args.builds or [None]
    print(f"{'workload':34}" + "".join(f"{Path(b).name if b else 'instructions':>16}" for b in builds) + "  change")
    for name in WORKLOADS:
        counts = [count(b, name) for b in builds]
        change = f"  {100 * (counts[-1] - counts[0]) / counts[0]:+.2f}%" if len(counts) > 1 else ""
        print(f"{name:34}" + "".join(f"{c:>16,}" for c in counts) + change, flush=True)


if __name__ == "__main__":
    main()
