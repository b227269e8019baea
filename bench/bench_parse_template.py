"""parse_template on generated page templates, against html.parser.

In the same run and over the same text, compares
  - template_parser.parse_template(text)
  - html.parser.HTMLParser().feed(text)   (the standard library's pure-Python scanner)
on a ~1 MB and a ~2 MB template, best of several repeats each.

Targets: parse_template at least 10 times faster than html.parser, and twice
the input costing at most 2.2 times the time.

The templates are realistic pages: components with fills, loops and
conditions, expressions in text and attributes, template and HTML comments,
void elements and non-ASCII text. `--markup-only` drops the expressions and
dynamic attributes, which measures the parser without the expression backend.

Usage: PYTHONPATH=build/<dir>/python python bench/bench_parse_template.py [--size MB] [--repeat N] [--markup-only]
"""

import argparse
import random
import sys
from html.parser import HTMLParser

from bench_html import best_of  # best time over fresh copies of the text

WORDS = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor "
         "incididunt ut labore et dolore magna aliqua café naïve Zürich — 日本語").split()


def card(rng, n, dynamic):
    words = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 16)))
    if not dynamic:
        return (
            f'  <article class="card card-{n % 7}" data-id="{n}">\n'
            f'    <h2 class="title">{words.title()}</h2>\n'
            f'    <p>{words} <a href="/items/{n}?page=2" title="Item {n}">more</a></p>\n'
            f'    {{# card {n} #}}\n'
            f'    <ul class="tags">' + "".join(f"<li>{rng.choice(WORDS)}</li>" for _ in range(rng.randint(1, 4)))
            + "</ul>\n"
            f'    <img src="/img/{n}.png" alt="picture {n}"><br>\n'
            + ("    <!-- separator -->\n" if n % 11 == 0 else "")
            + f'    <c-Button label="More" size="sm" />\n'
            "  </article>\n"
        )
    return (
        f'  <article class="card card-{n % 7}" #c-key="item.id" c-data-state="item.state or \'idle\'">\n'
        f'    <h2 class="title" c-title="item.title | upper">{{{{ item.title }}}}</h2>\n'
        f'    <p>{words} {{{{ item.summary[:80] }}}} <a c-href="url(\'item\', item.id)" title="Item {n}">more</a></p>\n'
        f'    {{# card {n} #}}\n'
        f'    <c-if cond="item.tags">\n'
        f'      <ul class="tags"><li c-for="tag in item.tags" c-class="tag.cls">{{{{ tag.name }}}}</li></ul>\n'
        f'    </c-if>\n'
        f'    <c-else><p class="empty">{words}</p></c-else>\n'
        f'    <img src="/img/{n}.png" c-alt="item.alt # describes the picture"><br>\n'
        + ("    <!-- separator -->\n" if n % 11 == 0 else "")
        + f'    <c-Button c-label="_(\'More\')" size="sm" c-disabled="not item.enabled" />\n'
        "  </article>\n"
    )


def make_template(target_bytes, dynamic, seed=7):
    rng = random.Random(seed)
    head = ('<!DOCTYPE html>\n<c-layout title="Bench">\n<c-fill name="content">\n<section class="list">\n'
            + ('<c-for each="item in items">\n' if dynamic else ""))
    tail = ("</c-for>\n" if dynamic else "") + "</section>\n</c-fill>\n</c-layout>\n"
    out = [head]
    size = len(head.encode()) + len(tail.encode())
    n = 0
    while size < target_bytes:
        n += 1
        block = card(rng, n, dynamic)
        out.append(block)
        size += len(block.encode())
    out.append(tail)
    return "".join(out)


def html_parser_pass(text):
    # The plain scanner, without handlers of our own that would slow it down.
    parser = HTMLParser(convert_charrefs=False)
    parser.feed(text)
    parser.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--size", type=float, default=1.0, help="size of the smaller template in MB (default 1)")
    ap.add_argument("--repeat", type=int, default=7)
    ap.add_argument("--markup-only", action="store_true")
    args = ap.parse_args()

    from lumra_core._rust import template_parser

    dynamic = not args.markup_only
    times = {}
    for factor in (1, 2):
        text = make_template(int(args.size * factor * 1e6), dynamic)
        mb = len(text.encode()) / 1e6
        template_parser.parse_template(text)  # fails loudly if the template is refused
        t_parse = best_of(template_parser.parse_template, text, args.repeat)
        t_html = best_of(html_parser_pass, text, max(2, args.repeat // 3))
        times[factor] = t_parse
        print(f"{'markup only' if args.markup_only else 'with expressions'}, {mb:.2f} MB")
        print(f"  parse_template   {t_parse * 1e3:8.2f} ms  {mb / t_parse:8.1f} MB/s")
        print(f"  html.parser      {t_html * 1e3:8.2f} ms  {mb / t_html:8.1f} MB/s")
        print(f"  speed-up over html.parser {t_html / t_parse:.1f}x (target >= 10x)")
    print(f"2x the input costs {times[2] / times[1]:.2f}x the time (target <= 2.2x)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
