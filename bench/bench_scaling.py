"""Cost of every public function on hostile but legal input.

Templates and pages can come from people the application does not trust, so
every shape of input must cost time and memory linear in its size, whatever
the nesting or the length of one expression. Each family below grows one
dimension of an input (names in one expression, attributes on one element,
loop targets, caller rules, references in a page, the depth of two trees
compared, ...) and is timed at n, 2n and 4n. Each case runs in a child
process of its own, so its peak memory (ru_maxrss) is its own.

With --instructions, the families whose name holds the given text are also
counted in instructions by callgrind (valgrind), which the machine's load
does not change: a child that makes the call twice, less one that makes it
once. Linear is 2x per doubling; wall time also rises
once the working set outgrows the caches.

Target: every doubling costs at most 2.2x on a quiet machine. The nesting
families put the same uses (comments, slots) under 20 and under 200 levels:
memory at 200 levels must stay within 1.5x of memory at 20 (give or take a
few MB), which the last lines compare.

Usage: PYTHONPATH=build/<dir>/python python bench/bench_scaling.py [--scale K] [--only NAME] [--timeout S]
       [--processes P] [--instructions NAME [--no-times]]
"""

import argparse
import gc
import resource
import subprocess
import sys
import time

from callgrind import one_call_instructions


def expr_names(n):
    return "f(" + "a," * n + "a)"


def nested_loops(depth, uses):
    opens = "".join(f'<c-for each="v{i} in xs">' for i in range(depth))
    return opens + "{{ x }}" * uses + "</c-for>" * depth


def nested_loop_elements(depth, uses):
    opens = "".join(f'<div c-for="v{i} in xs">' for i in range(depth))
    return opens + "{{ x }}" * uses + "</div>" * depth


def nested_divs(depth, inner):
    return "<div>" * depth + inner + "</div>" * depth


def many_groups_rules(n):
    from lumra_core._rust import template_parser as tp
    return {"c-wide": tp.TagRules(allowed_attrs=[[f"a{i}", f"b{i}"] for i in range(n)])}


def many_slots_rules(n):
    from lumra_core._rust import template_parser as tp
    return {"c-wide": tp.TagRules(allowed_slots=[f"s{i}" for i in range(n)],
                                  slot_data_fields={f"s{i}": ["a", "b"] for i in range(n)})}


def references(n):
    return "x&a;" * n + "<b/>"


def references_tags_entities(n):
    return "<p>" + "a &amp; b &#38; <i>&lt;c&gt;</i> &nbsp; &x" * n + "</p>"


def comments_on_cr_lines(n):
    return "#a\r" * n + "x"


# name: (what runs, input of n, base n, user rules of n or None)
# What runs: "parse", "compile", "equal" (two trees parsed apart), "first read"
# (the top list of a fresh parse), "transform"
# (transform_html), "mark" (mark_html), "safe_eval".
FAMILIES = {
    "names in {{ }}, one line": ("parse", lambda n: "{{ " + expr_names(n) + " }}", 16384, None),
    "names in {{ }}, long non-ASCII line": ("parse", lambda n: '{{ f("é",' + "a," * n + "\na) }}", 16384, None),
    "names in c-if": ("parse", lambda n: '<p c-if="' + " and ".join(["a"] * n) + '">x</p>', 16384, None),
    "names in c-for iterable": ("parse", lambda n: '<p c-for="x in ' + expr_names(n) + '">{{ x }}</p>', 16384, None),
    "names in a c-* value": ("parse", lambda n: '<p c-title="' + expr_names(n) + '"></p>', 16384, None),
    "names in a nested template": ("parse", lambda n: "<c-card c-head='<b>{{ " + expr_names(n) + " }}</b>'/>",
                                   16384, None),
    "static attributes on one element": ("parse", lambda n: "<p " + " ".join(f'a{i}="v"' for i in range(n)) + "></p>",
                                         8192, None),
    "c-* attributes on one element": ("parse", lambda n: "<p " + " ".join(f'c-a{i}="x{i}"' for i in range(n)) + "></p>",
                                      8192, None),
    "c-for targets": ("parse", lambda n: '<c-for each="' + ", ".join(f"t{i}" for i in range(n)) + ' in xs">{{ t0 }}</c-for>',
                      8192, None),
    "c-fill data names": ("parse", lambda n: '<c-card><c-fill name="s" data="{ ' + ", ".join(f"d{i}" for i in range(n))
                          + ' }">{{ d0 }}</c-fill></c-card>', 8192, None),
    "c-for targets and nested bindings": (
        "parse", lambda n: '<p c-for="' + ", ".join(f"t{i}" for i in range(n)) + ' in xs" c-tpl=\'<c-for each="'
        + ", ".join(f"u{i}" for i in range(n)) + ' in ys">{{ u0 }}</c-for>\'></p>', 4096, None),
    "caller rules, groups x attributes": ("parse", lambda n: "<c-wide " + " ".join(f"a{i}" for i in range(n)) + "/>",
                                          8192, many_groups_rules),
    "caller rules, slots x fills": ("parse", lambda n: "<c-wide>" + "".join(
        f'<c-fill name="s{i}" data="{{ a }}"></c-fill>' for i in range(n)) + "</c-wide>", 4096, many_slots_rules),
    "uses under 20 <c-for> scopes": ("parse", lambda n: nested_loops(20, n), 16384, None),
    "uses under 200 <c-for> scopes": ("parse", lambda n: nested_loops(200, n), 16384, None),
    "uses under 200 c-for elements": ("parse", lambda n: nested_loop_elements(200, n), 16384, None),
    "comments under 20 <div>s": ("parse", lambda n: nested_divs(20, "<!-- c -->{{ x # c\n}}" * n), 8192, None),
    "comments under 200 <div>s": ("parse", lambda n: nested_divs(200, "<!-- c -->{{ x # c\n}}" * n), 8192, None),
    "slots under 20 <div>s": ("parse", lambda n: nested_divs(20, '<c-slot name="s"/>' * n), 8192, None),
    "slots under 200 <div>s": ("parse", lambda n: nested_divs(200, '<c-slot name="s"/>' * n), 8192, None),
    # Compiled output nests brackets at most 190 deep: some 45 control-flow levels.
    "compile: uses under 40 <c-for> scopes": ("compile", lambda n: nested_loops(40, n), 16384, None),
    "compile: uses under 40 <c-if> scopes": (
        "compile", lambda n: '<c-if cond="c">' * 40 + "{{ x }}" * n + "</c-if>" * 40, 16384, None),
    "compile: names in {{ }}, one line": ("compile", lambda n: "{{ " + expr_names(n) + " }}", 16384, None),
    # At most 512 elements stay open: 4n = 8192 uses lie under 512 loops.
    "equality: n uses under n/16 <c-for>s": ("equal", lambda n: nested_loops(n // 16, n), 2048, None),
    "equality: n uses under n/16 c-for elements": ("equal", lambda n: nested_loop_elements(n // 16, n), 2048, None),
    "equality: comments under n/16 <div>s": ("equal", lambda n: nested_divs(n // 16, "<!-- c -->{{ x # c\n}}" * n),
                                             2048, None),
    "transform_html: text full of references": ("transform", references, 131072, None),
    "transform_html: references, tags, entities": ("transform", references_tags_entities, 16384, None),
    "mark_html: text full of references": ("mark", references, 131072, None),
    "mark_html: references, tags, entities": ("mark", references_tags_entities, 16384, None),
    "safe_eval: comments on CR-ended lines": ("safe_eval", comments_on_cr_lines, 32768, None),
}


# ---- compiling under deep nesting ------------------------------------------------------
# n uses of {{ x }} under n/400 levels of one kind of nesting, capped at the 45
# levels that the compiled output's bracket bound allows: the compile must cost
# the tree plus its output, whatever the depth.
COMPILE_LEVELS_CAP = 45
COMPILE_NESTINGS = {
    "<div c-if>s": ('<div c-if="c">', "</div>"),
    "<c-for>s": ('<c-for each="v{i} in xs">', "</c-for>"),
    "components": ("<c-card>", "</c-card>"),
    "slots": ('<c-slot name="s">', "</c-slot>"),
    "mixed levels": (('<div c-if="c{i}">', '<c-for each="v{i} in xs">', "<c-card>", '<c-slot name="s">'),
                     ("</div>", "</c-for>", "</c-card>", "</c-slot>")),
}


def nested_compile_levels(kind, depth, uses):
    opens, closes = COMPILE_NESTINGS[kind]
    if isinstance(opens, str):
        opens, closes = (opens,), (closes,)
    head = "".join(opens[i % len(opens)].format(i=i) for i in range(depth))
    tail = "".join(closes[i % len(closes)] for i in reversed(range(depth)))
    return head + "{{ x }}" * uses + tail


def compile_level_families():
    return {f"compile: n uses under n/400 {kind}": (
        "compile", lambda n, kind=kind: nested_compile_levels(kind, min(COMPILE_LEVELS_CAP, n // 400), n), 4096, None)
        for kind in COMPILE_NESTINGS}


# The compile's peak memory for the same uses under 45 and under 5 levels: the
# deep one must stay within 1.5x of the shallow one (give or take a few MB).
COMPILE_MEMORY_USES = 200_000


def compile_memory_child(depth):
    from lumra_core._rust import template_parser as tp
    tree = tp.parse_template('<div c-if="c">' * depth + "{{ x }}" * COMPILE_MEMORY_USES + "</div>" * depth)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    tp.compile_template(tree)
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"{before:.1f} {after:.1f}")


def compile_memory_check():
    peaks = {}
    for depth in (45, 5):
        out = subprocess.run([sys.executable, __file__, "--compile-memory-child", str(depth)], capture_output=True,
                             text=True, check=True)
        before, after = map(float, out.stdout.split())
        peaks[depth] = after
        print(f"compile of {COMPILE_MEMORY_USES:,} uses under {depth:2} <div c-if>s: peak {after:.1f} MB "
              f"({after - before:+.1f} MB over the parsed tree)")
    print(f"peak memory of the compile: 45 levels {peaks[45]:.1f} MB, 5 levels {peaks[5]:.1f} MB: "
          f"{peaks[45] / peaks[5]:.2f}x (target <= 1.5x, give or take a few MB)")


FAMILIES.update(compile_level_families())
# ---- end of compiling under deep nesting ------------------------------------------------


# ---- Lists of deep trees: unequal trees, reads at every level -----------------
# A loop or a fill leaves its own names out of the used variables of every
# level around it. These families put n uses of such a name under n/200
# <div>s: two trees that differ only in that name ("unequal", compared with
# ==), and reads of every level's lists ("levels") or of the whole repr.


def hidden_loop(name):
    return lambda n: nested_divs(n // 200, f'<c-for each="{name} in xs">' + "{{ %s }}" % name * n + "</c-for>")


def hidden_fill(name):
    return lambda n: nested_divs(n // 200, f'<c-card><c-fill name="s" data="{{ {name} }}">' + "{{ %s }}" % name * n
                                 + "</c-fill></c-card>")


DEEP_LIST_FAMILIES = {
    "hidden difference: loop name under n/200 <div>s": (
        "unequal", lambda n: (hidden_loop("x")(n), hidden_loop("y")(n)), 8192, None),
    "hidden difference: fill binding under n/200 <div>s": (
        "unequal", lambda n: (hidden_fill("x")(n), hidden_fill("y")(n)), 8192, None),
    "reads at every level: lists under n/200 <div>s": ("levels", hidden_loop("x"), 8192, None),
    "reads at every level: repr under n/200 <div>s": ("repr", hidden_loop("x"), 8192, None),
}
FAMILIES.update(DEEP_LIST_FAMILIES)


# A loop over a literal, or a fill binding, adds a record to the store at each
# level but no used name, so each level's run stays short while the records
# nested in it grow with the depth: a read must still cost what it returns.
def literal_loops(inner):
    return lambda n: ("".join(f'<c-for each="i{k} in [1, 2]">' for k in range(n)) + inner(n)
                      + "</c-for>" * n)


def nested_fills(n):
    return "".join(f'<c-Card><c-fill name="f" data="d{k}">' for k in range(n)) + "{{ a }}" + \
        "</c-fill></c-Card>" * n


RECORD_FAMILIES = {
    "records: levels of n literal loops around {{ a }}": ("levels", literal_loops(lambda n: "{{ a }}"), 100, None),
    "records: repr of n literal loops around {{ a }}": ("repr", literal_loops(lambda n: "{{ a }}"), 100, None),
    "records: levels of n nested fills around {{ a }}": ("levels", nested_fills, 60, None),
    "records: parse n literal loops around their last name": (
        "parse", literal_loops(lambda n: "{{ i%d }}" % (n - 1)), 100, None),
    # Compiled output nests brackets at most 190 deep: some 45 loops.
    "records: 100 compiles of n literal loops around {{ a }}": (
        "compiles", literal_loops(lambda n: "{{ a }}"), 11, None),
}
FAMILIES.update(RECORD_FAMILIES)


# A loop or a fill that binds many names: every walk over the store's records
# must pay each set of names once, however many levels read through it or how
# many of its attributes see the names (an element loop files a record per
# attribute, each leaving out all its names). 33 uses keep the body's record.
def bound_names(prefix, n):
    return ", ".join(f"{prefix}{i}" for i in range(n))


def divs_around_many_targets(n):
    return nested_divs(n // 64, f'<c-for each="{bound_names("t", n)} in xs">' + "{{ a }}" * 33 + "</c-for>")


def divs_around_many_fill_names(n):
    return nested_divs(n // 64, '<c-card><c-fill name="s" data="{ ' + bound_names("d", n) + ' }">' + "{{ a }}" * 33
                       + "</c-fill></c-card>")


def element_loop_many_attributes(n):
    return ('<li c-for="' + bound_names("t", n) + ' in xs" ' + " ".join(f'c-a{i}="a"' for i in range(n)) + ">"
            + "{{ a }}" * 33 + "</li>")


NAME_SET_FAMILIES = {
    "name sets: levels under n/64 <div>s, loop of n targets": ("levels", divs_around_many_targets, 4096, None),
    "name sets: repr under n/64 <div>s, loop of n targets": ("repr", divs_around_many_targets, 4096, None),
    "name sets: levels under n/64 <div>s, fill of n names": ("levels", divs_around_many_fill_names, 4096, None),
    "name sets: parse, element loop of n targets, n attributes": ("parse", element_loop_many_attributes, 2000, None),
    "name sets: first read, element loop of n targets, n attributes": (
        "first read", element_loop_many_attributes, 2000, None),
    "name sets: compile, element loop of n targets, n attributes": (
        "compile", element_loop_many_attributes, 2000, None),
}
FAMILIES.update(NAME_SET_FAMILIES)


def prepare_deep_lists(what, made):
    """Input and call of the families above: the call compares two trees that
    differ, reads every level's used_variables, comments and slots, or
    prints the repr."""
    from lumra_core._rust import template_parser as tp
    if what == "unequal":
        a, b = tp.parse_template(made[0]), tp.parse_template(made[1])

        def call(fresh):
            assert not a == b
        return made[0], call
    tree = tp.parse_template(made)
    if what == "repr":
        def call(fresh):
            repr(tree)
        return made, call
    levels, pending = [], [tree]
    while pending:
        body = pending.pop()
        levels.append(body)
        for element in body.elements:
            if isinstance(element._0, (tp.Node.WithBody, tp.Node.SelfClosing)):
                levels.append(element._0)
                if isinstance(element._0, tp.Node.WithBody):
                    pending.append(element._0.body)

    def call(fresh):
        for level in levels:
            level.used_variables, level.comments
            if isinstance(level, tp.Template):
                level.slots
    return made, call


DEEP_LIST_KINDS = ("unequal", "levels", "repr")
# ---- end of the lists of deep trees -------------------------------------------

STEPS = (1, 2, 4)


def prepare(name, n):
    """The input of size n and the call to measure, which takes a fresh copy
    of the text: a str caches its UTF-8 form, and a caller hands over a new one."""
    from lumra_core._rust import html_transform, safe_eval, template_parser as tp
    what, make, _, rules_of = FAMILIES[name]
    if what in DEEP_LIST_KINDS:
        return prepare_deep_lists(what, make(n))
    text = make(n)
    rules = rules_of(n) if rules_of else None
    if what in ("parse", "compile"):
        def call(fresh):
            tree = tp.parse_template(fresh, user_rules=rules)
            if what == "compile":
                tp.compile_template(tree)
    elif what == "compiles":
        tree = tp.parse_template(text)

        def call(fresh):
            for _ in range(100):
                tp.compile_template(tree)
    elif what == "first read":
        # A fresh tree for each call: only a store's first long read walks it.
        trees = [tp.parse_template(text) for _ in range(9)]

        def call(fresh):
            trees.pop().used_variables
    elif what == "equal":
        a, b = tp.parse_template(text), tp.parse_template(text[:1] + text[1:])

        def call(fresh):
            assert a == b
    elif what == "transform":
        def call(fresh):
            html_transform.transform_html(fresh, ["data-r"], ["data-a"])
    elif what == "mark":
        def call(fresh):
            html_transform.mark_html(fresh, ["data-r"], "c-id")
    else:
        def call(fresh):
            safe_eval.safe_eval(fresh)
    return text, call


def child(name, n):
    text, call = prepare(name, n)

    def once():
        fresh = text[:1] + text[1:]
        t0 = time.perf_counter()
        call(fresh)
        return time.perf_counter() - t0

    # A first call maps the memory that the timed calls reuse, as on a
    # server that renders page after page; then the best of a few, fewer
    # when one call is slow.
    first = once()
    best = min(once() for _ in range(7 if first < 0.2 else 2))
    rss_mb = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"{best:.6f} {rss_mb:.1f} {len(text.encode())}")


def instructions_child(name, n, calls):
    text, call = prepare(name, n)
    # The collector runs when allocations say so, which would put a pass in
    # one child's count and not the other's.
    gc.disable()
    # Both children copy the text alike; only the calls differ.
    copies = [text[:1] + text[1:] for _ in range(2)]
    for fresh in copies[:calls]:
        call(fresh)


def count_instructions(name, n):
    """Instructions of one call after a warm one."""
    return one_call_instructions([__file__, "--instructions-child", name, n], f"{name} at n={n}")


def run_case(name, n, timeout, processes):
    """Best time and largest peak over a few child processes: a process can
    land on slower memory as a whole, which repeats within it do not undo."""
    runs = []
    for _ in range(processes):
        try:
            out = subprocess.run([sys.executable, __file__, "--child", name, str(n)], capture_output=True, text=True,
                                 timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        if out.returncode != 0:
            sys.exit(f"{name} at n={n} failed:\n{out.stderr}")
        seconds, rss, size = out.stdout.split()
        runs.append((float(seconds), float(rss), int(size)))
        if float(seconds) > timeout / 4:
            break  # slow enough to be measured once
    return min(r[0] for r in runs), max(r[1] for r in runs), runs[0][2]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--child", nargs=2, metavar=("NAME", "N"), help=argparse.SUPPRESS)
    ap.add_argument("--scale", type=float, default=1.0, help="multiply every base n by this")
    ap.add_argument("--only", help="run only the families whose name contains this text")
    ap.add_argument("--timeout", type=float, default=120.0, help="seconds allowed to one case")
    ap.add_argument("--processes", type=int, default=3, help="child processes per case (best time is kept)")
    ap.add_argument("--instructions", metavar="NAME",
                    help="also count instructions (callgrind) for the families whose name contains this text")
    ap.add_argument("--no-times", action="store_true", help="count instructions only")
    ap.add_argument("--instructions-child", nargs=3, help=argparse.SUPPRESS)
    ap.add_argument("--compile-memory", action="store_true",
                    help="only compare the compile's peak memory under 45 and under 5 levels")
    ap.add_argument("--compile-memory-child", type=int, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        child(args.child[0], int(args.child[1]))
        return
    if args.instructions_child:
        name, n, calls = args.instructions_child
        instructions_child(name, int(n), int(calls))
        return
    if args.compile_memory_child:
        compile_memory_child(args.compile_memory_child)
        return
    if args.compile_memory:
        compile_memory_check()
        return

    print(f"{'family':44} {'n':>7} {'bytes':>9} {'time':>10} {'ratio':>6} {'peak MB':>8}")
    worst = 0.0
    peaks = {}
    for name, (_, _, base, _) in FAMILIES.items():
        if args.no_times or (args.only and args.only not in name):
            continue
        previous = None
        for step in STEPS:
            n = max(1, int(base * args.scale)) * step
            got = run_case(name, n, args.timeout, args.processes)
            if got is None:
                print(f"{name:44} {n:>7} {'':>9} {'> ' + str(int(args.timeout)) + ' s':>10}")
                worst = float("inf")
                break
            seconds, rss, size = got
            ratio = seconds / previous if previous else None
            if ratio:
                worst = max(worst, ratio)
            print(f"{name:44} {n:>7} {size:>9} {seconds * 1e3:>8.2f}ms {ratio or 0:>6.2f} {rss:>8.1f}")
            previous = seconds
            peaks[name] = rss
    print(f"\nworst ratio per doubling: {worst:.2f} (target <= 2.2)")
    if args.instructions is not None:
        print(f"\n{'family':44} {'n':>7} {'instructions':>14} {'ratio':>6}")
        for name, (_, _, base, _) in FAMILIES.items():
            if args.instructions not in name or (args.only and args.only not in name):
                continue
            previous = None
            for step in STEPS:
                n = max(1, int(base * args.scale)) * step
                count = count_instructions(name, n)
                ratio = count / previous if previous else 0
                print(f"{name:44} {n:>7} {count:>14,} {ratio:>6.2f}")
                previous = count
    for what, low_name, high_name in (("uses", "uses under 20 <c-for> scopes", "uses under 200 <c-for> scopes"),
                                      ("comments", "comments under 20 <div>s", "comments under 200 <div>s"),
                                      ("slots", "slots under 20 <div>s", "slots under 200 <div>s")):
        low, high = peaks.get(low_name), peaks.get(high_name)
        if low and high:
            print(f"peak memory at 4n {what}: 200 levels {high:.1f} MB, 20 levels {low:.1f} MB: "
                  f"{high / low:.2f}x (target <= 1.5x, give or take a few MB)")
    if not args.no_times and (not args.only or any(args.only in name for name in compile_level_families())):
        compile_memory_check()


if __name__ == "__main__":
    main()
