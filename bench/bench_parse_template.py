"""parse_template on generated page templates, against html.parser.

In the same run and over the same text, compares
  - template_parser.parse_template(text)
  - html.parser.HTMLParser().feed(text)   (the standard library's pure-Python scanner)
on a ~1 MB and a ~2 MB template, best of several repeats each.

Targets: parse_template at least 10 times faster than html.parser, and twice
the input costing at most 2.2 times the time.

The templates are realistic pages: components with fills, loops and
conditions, expressions in text and attributes, template and HTML comments,
void elements and non-ASCII text. The cards come in sections of a few each;
every section loops over its own collection under its own names, and the
fields a card reads vary from card to card, so expression texts repeat as
they do on real pages and not throughout the page. `--same-names` gives every
card the same expressions (one loop over the whole page). `--markup-only`
drops the expressions and dynamic attributes, which measures the parser
without the expression backend.

Usage: PYTHONPATH=build/<dir>/python python bench/bench_parse_template.py [--size MB] [--repeat N]
       [--same-names | --markup-only]
"""

import argparse
import random
import sys
from html.parser import HTMLParser

from bench_html import best_of  # best time over fresh copies of the text

WORDS = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor "
         "incididunt ut labore et dolore magna aliqua café naïve Zürich — 日本語").split()


# Names a section may loop over, and the fields its cards read.
NOUNS = ("item product article user order event post photo review ticket invoice song album "
         "course lesson task project comment message offer").split()
FIELDS = ("title name label heading caption summary excerpt teaser description intro").split()
STATES = "state status phase stage".split()


class Names:
    """The names one section's cards use: its loop variable, collection and
    the fields they read."""

    def __init__(self, rng, section, same):
        if same:
            self.var, self.coll, self.tags, self.tag = "item", "items", "tags", "tag"
            self.fields = ["title"]
            self.state, self.summary, self.alt, self.enabled = "state", "summary", "alt", "enabled"
            return
        noun = rng.choice(NOUNS)
        self.var = f"{noun}{section}" if rng.random() < 0.5 else noun
        self.coll = f"{noun}s_{section}"
        self.tags = rng.choice(("tags", "labels", "topics", "categories"))
        self.tag = self.tags[:-1] if self.tags != "categories" else "category"
        self.fields = rng.sample(FIELDS, 3)
        self.state = rng.choice(STATES)
        self.summary = rng.choice(("summary", "body", "text", "description"))
        self.alt = rng.choice(("alt", "alt_text", "caption"))
        self.enabled = rng.choice(("enabled", "active", "visible", "available"))


def card(rng, n, dynamic, names=None):
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
    v, t = names.var, names.tag
    field = rng.choice(names.fields)
    return (
        f'  <article class="card card-{n % 7}" #c-key="{v}.id" c-data-state="{v}.{names.state} or \'idle\'">\n'
        f'    <h2 class="title" c-title="{v}.{field} | upper">{{{{ {v}.{field} }}}}</h2>\n'
        f'    <p>{words} {{{{ {v}.{names.summary}[:80] }}}} <a c-href="url(\'{names.var}\', {v}.id)" title="Item {n}">more</a></p>\n'
        f'    {{# card {n} #}}\n'
        f'    <c-if cond="{v}.{names.tags}">\n'
        f'      <ul class="tags"><li c-for="{t} in {v}.{names.tags}" c-class="{t}.cls">{{{{ {t}.name }}}}</li></ul>\n'
        f'    </c-if>\n'
        f'    <c-else><p class="empty">{words}</p></c-else>\n'
        f'    <img src="/img/{n}.png" c-alt="{v}.{names.alt} # describes the picture"><br>\n'
        + ("    <!-- separator -->\n" if n % 11 == 0 else "")
        + f'    <c-Button c-label="_(\'More\')" size="sm" c-disabled="not {v}.{names.enabled}" />\n'
        "  </article>\n"
    )


def make_template(target_bytes, dynamic, same_names=False, seed=7):
    """Cards in sections of 4 to 12 under one layout; the nesting depth stays
    the same as the page grows."""
    rng = random.Random(seed)
    head = '<!DOCTYPE html>\n<c-layout title="Bench">\n<c-fill name="content">\n'
    tail = "</c-fill>\n</c-layout>\n"
    out = [head]
    size = len(head.encode()) + len(tail.encode())
    n = 0
    section = 0
    while size < target_bytes:
        section += 1
        names = Names(rng, section, same_names) if dynamic else None
        block = [f'<section class="list" id="s{section}">\n']
        if dynamic:
            block.append(f'<c-for each="{names.var} in {names.coll}">\n')
        for _ in range(rng.randint(4, 12)):
            n += 1
            block.append(card(rng, n, dynamic, names))
        if dynamic:
            block.append("</c-for>\n")
        block.append("</section>\n")
        text = "".join(block)
        out.append(text)
        size += len(text.encode())
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
    kind = ap.add_mutually_exclusive_group()
    kind.add_argument("--same-names", action="store_true", help="every card reads the same expressions")
    kind.add_argument("--markup-only", action="store_true")
    args = ap.parse_args()

    from lumra_core._rust import template_parser

    dynamic = not args.markup_only
    times = {}
    for factor in (1, 2):
        text = make_template(int(args.size * factor * 1e6), dynamic, args.same_names)
        mb = len(text.encode()) / 1e6
        template_parser.parse_template(text)  # fails loudly if the template is refused
        t_parse = best_of(template_parser.parse_template, text, args.repeat)
        t_html = best_of(html_parser_pass, text, max(2, args.repeat // 3))
        times[factor] = t_parse
        label = "markup only" if args.markup_only else "same expressions" if args.same_names else "with expressions"
        print(f"{label}, {mb:.2f} MB")
        print(f"  parse_template   {t_parse * 1e3:8.2f} ms  {mb / t_parse:8.1f} MB/s")
        print(f"  html.parser      {t_html * 1e3:8.2f} ms  {mb / t_html:8.1f} MB/s")
        print(f"  speed-up over html.parser {t_html / t_parse:.1f}x (target >= 10x)")
    print(f"2x the input costs {times[2] / times[1]:.2f}x the time (target <= 2.2x)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
