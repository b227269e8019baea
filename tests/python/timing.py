"""Timing for the cost tests, which hold a hostile input to a control of the
same size."""

import time


def best_times(call, *arguments, repeat=5):
    """Best time of call(argument) for each argument, the arguments taking
    turns so that a burst of load on the machine falls on all. A SyntaxError
    is an outcome like any other: the tests check that both take one path."""
    best = [float("inf")] * len(arguments)
    for _ in range(repeat):
        for i, argument in enumerate(arguments):
            start = time.perf_counter()
            try:
                call(argument)
            except SyntaxError:
                pass
            best[i] = min(best[i], time.perf_counter() - start)
    return best
