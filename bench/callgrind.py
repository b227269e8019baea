"""Instructions of one call, counted by callgrind (valgrind).

A child that makes the call twice, less one that makes it once: start-up,
imports and the first call's warming cancel out. Unless the caller says
otherwise, a fixed hash seed keeps the interpreter's own work the same in both.
"""

from __future__ import annotations

import os
import re
import subprocess
import sys


def one_call_instructions(child_args, what, env=None, timeout=None):
    """Runs `python *child_args CALLS` under callgrind for CALLS 1 and 2 and
    returns the difference, or None when a child outlives `timeout`."""
    if env is None:
        env = {**os.environ, "PYTHONHASHSEED": "0"}
    totals = []
    for calls in (1, 2):
        try:
            out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable,
                                  *map(str, child_args), str(calls)],
                                 capture_output=True, text=True, timeout=timeout, env=env)
        except subprocess.TimeoutExpired:
            return None
        if out.returncode != 0:
            sys.exit(f"callgrind of {what} failed:\n{out.stderr[-2000:]}")
        totals.append(int(re.search(r"Collected : (\d+)", out.stderr).group(1)))
    return totals[1] - totals[0]
