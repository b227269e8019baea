"""Names chosen to collide in a hash cost what other names cost.

data/colliding_names.txt holds 3,000 identifiers of 24 characters that share
one value of libstdc++'s std::hash<std::string_view> (fixed seed; the last
8 bytes of each were solved for, see bench/colliding_names.cpp). Under that
hash every table keyed by them scans all the others; under the core's keyed
hash they are names like any other. Each operation below is timed on them and
on random names of the same length and alphabet."""

import random
import string
import time
from pathlib import Path

import pytest

from lumra_core._rust import safe_eval as se
from lumra_core._rust import template_parser as tp

COLLIDING = (Path(__file__).parent / "data" / "colliding_names.txt").read_text().split()
MASK = (1 << 64) - 1


def libstdcxx_hash(name):
    """std::hash<std::string_view> of libstdc++ on 64-bit targets."""
    mul = 0xC6A4A7935BD1E995
    data = name.encode()
    shift_mix = lambda v: v ^ (v >> 47)  # noqa: E731
    h = 0xC70F6907 ^ (len(data) * mul & MASK)
    whole = len(data) & ~7
    for i in range(0, whole, 8):
        h = ((h ^ (shift_mix(int.from_bytes(data[i:i + 8], "little") * mul & MASK) * mul & MASK)) * mul) & MASK
    if len(data) & 7:
        h = ((h ^ int.from_bytes(data[whole:], "little")) * mul) & MASK
    return shift_mix(shift_mix(h) * mul & MASK)


def random_names(count, length):
    rng = random.Random(61)
    tail = string.ascii_letters + string.digits + "_"
    names = set()
    while len(names) < count:
        names.add(rng.choice(string.ascii_letters) + "".join(rng.choice(tail) for _ in range(length - 1)))
    return sorted(names)


def loop(names, uses=1):
    return f'<c-for each="{", ".join(names)} in xs">' + f"{{{{ {names[0]} }}}}" * uses + "</c-for>"


# name: names -> (set-up run untimed before each call, the timed call on its result)
OPERATIONS = {
    "parse a loop's targets": lambda names: (lambda: loop(names), tp.parse_template),
    "parse a fill's data names": lambda names: (
        lambda: f'<c-card><c-fill name="s" data="{{ {", ".join(names)} }}">{{{{ {names[0]} }}}}</c-fill></c-card>',
        tp.parse_template),
    "parse static attribute names": lambda names: (
        lambda: "<p " + " ".join(f'{n}="v"' for n in names) + "></p>", tp.parse_template),
    "compile a loop's targets": lambda names: (lambda: tp.parse_template(loop(names)), tp.compile_template),
    "compile names read in one c-x value": lambda names: (
        lambda: tp.parse_template(f'<p c-x="f({", ".join(names)})"></p>'), tp.compile_template),
    # More than 64 uses: the first read files the loop's names in a table.
    "first read under a loop in a c-if": lambda names: (
        lambda: tp.parse_template(f'<c-if cond="c">{loop(names, 100)}</c-if>'), lambda tree: tree.used_variables),
    "safe_eval, lambda parameters": lambda names: (lambda: f"lambda {', '.join(names)}: 0", se.safe_eval),
    "safe_eval, keyword arguments": lambda names: (lambda: "f(" + ", ".join(f"{n}=1" for n in names) + ")",
                                                   se.safe_eval),
}


def best_times(operation, *kinds, repeat=5):
    """Best time of the operation on each list of names, the lists taking
    turns so that a burst of load on the machine falls on both."""
    prepared = [operation(names) for names in kinds]
    best = [float("inf")] * len(kinds)
    for _ in range(repeat):
        for i, (setup, call) in enumerate(prepared):
            argument = setup()
            start = time.perf_counter()
            call(argument)
            best[i] = min(best[i], time.perf_counter() - start)
    return best


def test_the_names_collide_under_a_fixed_seed_hash():
    assert len(set(COLLIDING)) == len(COLLIDING) == 3000
    assert {len(n) for n in COLLIDING} == {24}
    assert len({libstdcxx_hash(n) for n in COLLIDING}) == 1


@pytest.mark.parametrize("name", OPERATIONS)
def test_colliding_names_cost_what_random_names_cost(name):
    operation = OPERATIONS[name]
    others = random_names(len(COLLIDING), 24)
    # Both kinds must take the same path: a refusal would time nothing.
    for names in (COLLIDING[:3], others[:3]):
        setup, call = operation(names)
        call(setup())
    colliding, random_ = best_times(operation, COLLIDING, others)
    # A quarter of a millisecond absorbs the timer's noise on calls this short.
    assert colliding <= 3 * random_ + 0.00025, f"{colliding:.5f} s against {random_:.5f} s"
