"""\\N{...} takes exactly the names and aliases of CPython 3.12's unicodedata
(Unicode 15.0), in any ASCII case but the CJK unified ideographs' and Hangul
syllables' (capitals only, as CPython has it), and every name costs what any
other does.

data/name_aliases.txt is Unicode 15.0's NameAliases.txt. ICU derives names
for Tangut ideographs that CPython does not have: they are unknown names."""

import ast
import unicodedata
from itertools import chain
from pathlib import Path

import pytest

from lumra_core._rust import safe_eval as se
from lumra_core._rust import template_parser as tp

from timing import best_times

NAMED = {c: name for c in range(0x110000) if (name := unicodedata.name(chr(c), None))}
NAMES = list(NAMED.values())
ALIASES = [line.split(";")[1] for line in (Path(__file__).parent / "data" / "name_aliases.txt").read_text().splitlines()
           if not line.startswith("#")]
TANGUT = [f"TANGUT IDEOGRAPH-{c:X}" for c in chain(range(0x17000, 0x187F8), range(0x18D00, 0x18D09))]
# Families named by a prefix and the code point in hex; ICU derives them all.
HEX_FAMILIES = ["CJK UNIFIED IDEOGRAPH-", "CJK COMPATIBILITY IDEOGRAPH-", "NUSHU CHARACTER-",
                "KHITAN SMALL SCRIPT CHARACTER-"]


def escapes(names):
    return "".join(f"\\N{{{name}}}" for name in names)


def decode(names):
    return ast.literal_eval(se.safe_eval(f"'{escapes(names)}'"))


def assert_unknown(name):
    with pytest.raises(SyntaxError) as refused:
        se.safe_eval(f"'\\N{{{name}}}'")
    assert str(refused.value) == f"Parse error: Got unexpected unicode at byte range 4..{4 + len(name)}: '{name}'"


def test_the_names_are_unicode_15s():
    assert unicodedata.unidata_version == "15.0.0"
    assert len(NAMES) == 143041 and len(ALIASES) == 473


def cpython_lookup(name):
    try:
        return unicodedata.lookup(name)
    except KeyError:
        return None


@pytest.mark.parametrize("case", [str.upper, str.lower])
def test_every_name_and_alias_decodes_as_cpython_decodes_it(case):
    names = [case(name) for name in NAMES + ALIASES]
    expected = {name: cpython_lookup(name) for name in names}
    known = [name for name in names if expected[name] is not None]
    decoded = decode(known)
    assert len(decoded) == len(known)
    wrong = [(name, decoded[i]) for i, name in enumerate(known) if decoded[i] != expected[name]]
    assert wrong == []
    # CPython refuses the computed families' names in small letters alone.
    unknown = [name for name in names if expected[name] is None]
    assert all(name.startswith(("cjk unified ideograph-", "hangul syllable ")) for name in unknown)
    computed = sum(name.startswith(("CJK UNIFIED IDEOGRAPH-", "HANGUL SYLLABLE ")) for name in NAMES)
    assert len(unknown) == (0 if case is str.upper else computed)
    accepted = []
    for name in unknown:
        try:
            se.safe_eval(f"'\\N{{{name}}}'")
            accepted.append(name)
        except SyntaxError:
            pass
    assert accepted == []


def test_tangut_ideographs_are_unknown_names():
    assert len(TANGUT) == 6145
    for name in TANGUT:
        with pytest.raises(KeyError):
            unicodedata.lookup(name)
        assert_unknown(name)


@pytest.mark.parametrize("prefix", HEX_FAMILIES)
def test_hex_named_families_end_where_cpythons_do(prefix):
    """Each code point near the ends of a family's runs is named by the family
    exactly when CPython names it so."""
    members = {c for c, name in NAMED.items() if name == f"{prefix}{c:04X}"}
    ends = [c for c in members if c - 1 not in members or c + 1 not in members]
    near = sorted({n for end in ends for n in range(end - 24, end + 25)})
    named = [c for c in near if c in members]
    assert decode([f"{prefix}{c:04X}" for c in named]) == "".join(map(chr, named))
    for c in near:
        if c not in named:
            assert_unknown(f"{prefix}{c:04X}")


CONTROL = "LATIN SMALL LETTER A"
SLOW = ["LF", "BOM", "VARIATION SELECTOR-256", "TAG LATIN SMALL LETTER Z", "LATIN CAPITAL LETTER GHA"]


def same_size_control(text, escape=f"\\N{{{CONTROL}}}"):
    return (escape * (len(text) // len(escape))).ljust(len(text), "a")


def one_string(name):
    body = escapes([name] * 4000)
    return f"'{body}'", f"'{same_size_control(body)}'"


def literals(name):
    hostile = " ".join([f'"{escapes([name])}"'] * 400)
    control = f'"{escapes([CONTROL])}" '
    return hostile, (control * (len(hostile) // len(control))).ljust(len(hostile))


# name: (hostile, control) expressions of the same size
INPUTS = {**{f"4,000 \\N{{{name}}}": one_string(name) for name in SLOW},
          "400 literals of an unknown name": literals("ZZ")}
OPERATIONS = {"safe_eval": se.safe_eval, "template": lambda expr: tp.parse_template(f"{{{{ {expr} }}}}")}


@pytest.mark.parametrize("operation", OPERATIONS)
@pytest.mark.parametrize("family", INPUTS)
def test_names_cost_what_a_common_name_costs(family, operation):
    call = OPERATIONS[operation]
    hostile, control = INPUTS[family]
    assert len(hostile) == len(control)
    call(control)  # the first name builds the index
    slow, common = best_times(call, hostile, control)
    # A quarter of a millisecond absorbs the timer's noise on calls this short.
    assert slow <= 3 * common + 0.00025, f"{slow:.5f} s against {common:.5f} s"
