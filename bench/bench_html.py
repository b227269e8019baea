"""Throughput of transform_html and mark_html on generated page-like HTML.

mark_html is compared with html.encode("utf-8") on the same text (one pass
that copies every byte), transform_html with a pure-Python
html.parser.HTMLParser pass over the same text. Run with the built module on
PYTHONPATH, e.g. PYTHONPATH=build/bench/python python bench/bench_html.py.
"""

import random
import sys
import time
from html.parser import HTMLParser

from lumra_core._rust import html_transform

WORDS = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor "
         "incididunt ut labore et dolore magna aliqua").split()
NON_ASCII = ["café", "naïve", "Zürich", "—", "…", "€5", "日本語"]
# Words that keep a page in one str kind: Latin-1, or UCS-4 with an emoji.
LATIN_1 = ["café", "naïve", "Zürich", "½", "«»"]
UCS_4 = NON_ASCII + ["👍", "🎉"]


def make_page(target_bytes, non_ascii, seed=7):
    rng = random.Random(seed)
    if isinstance(non_ascii, list):
        words = WORDS + non_ascii
    else:
        words = WORDS + (NON_ASCII if non_ascii else [])
    out = ["<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Bench</title>"
           "<style>.card{color:red}</style></head><body>"]
    size = 0
    n = 0
    while size < target_bytes:
        n += 1
        words_in = " ".join(rng.choice(words) for _ in range(rng.randint(3, 14)))
        block = (
            f'<div class="card card-{n % 7}" data-id="{n}" data-v-1a2b="">'
            f'<h2 class="title">{words_in.title()}</h2>'
            f'<p>{words_in} <a href="/items/{n}?ref=list&amp;page=2" title="Item {n}">more</a></p>'
            f'<ul class="tags">' + "".join(f"<li>{rng.choice(words)}</li>" for _ in range(rng.randint(1, 4))) + "</ul>"
            f'<img src="/img/{n}.png" alt="picture {n}"><br>'
            + (f'<template c-render-id="c{n}"></template>' if n % 5 == 0 else "")
            + ("<!-- separator -->" if n % 11 == 0 else "")
            + (f'<script>window.items.push({{id: {n}, ok: a < b}});</script>' if n % 13 == 0 else "")
            + "</div>\n"
        )
        out.append(block)
        size += len(block.encode())
    out.append("</body></html>\n")
    return "".join(out)


def best_of(fn, text, repeat):
    """Best time of fn(copy) over fresh copies of `text`: a str caches its
    UTF-8 form once asked for it, and a real caller hands over a new string."""
    best = float("inf")
    for _ in range(repeat):
        fresh = text[:1] + text[1:]
        t0 = time.perf_counter()
        fn(fresh)
        best = min(best, time.perf_counter() - t0)
    return best


class PassParser(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=False)
        self.tags = 0

    def handle_starttag(self, tag, attrs):
        self.tags += 1

    def handle_startendtag(self, tag, attrs):
        self.tags += 1


def html_parser_pass(text):
    p = PassParser()
    p.feed(text)
    p.close()
    return p.tags


def main():
    size = int(float(sys.argv[1]) * 1e6) if len(sys.argv) > 1 else 4_000_000
    for non_ascii in (False, True):
        page = make_page(size, non_ascii)
        mb = len(page.encode()) / 1e6
        label = "with non-ASCII text" if non_ascii else "ASCII only"
        t_encode = best_of(lambda s: s.encode("utf-8"), page, 40)
        t_mark = best_of(lambda s: html_transform.mark_html(s, ["data-cid-c1"], "c-render-id"), page, 40)
        t_transform = best_of(
            lambda s: html_transform.transform_html(
                s, ["data-root"], ["data-v-1a2b"],
                track_added_attributes_for_tags_with_this_attribute="data-id"), page, 20)
        t_parser = best_of(html_parser_pass, page, 3)
        print(f"{label}: {mb:.2f} MB")
        print(f"  encode('utf-8')  {t_encode * 1e3:8.2f} ms  {mb / t_encode:8.0f} MB/s")
        print(f"  mark_html        {t_mark * 1e3:8.2f} ms  {mb / t_mark:8.0f} MB/s"
              f"   ratio to encode {t_mark / t_encode:.2f}x (target <= 2x)")
        print(f"  HTMLParser pass  {t_parser * 1e3:8.2f} ms  {mb / t_parser:8.0f} MB/s")
        print(f"  transform_html   {t_transform * 1e3:8.2f} ms  {mb / t_transform:8.0f} MB/s"
              f"   speed-up over HTMLParser {t_parser / t_transform:.0f}x (target >= 30x)")
    # mark_html reads each str kind in place; the page above is UCS-2.
    for label, words in (("Latin-1 str", LATIN_1), ("UCS-4 str", UCS_4)):
        page = make_page(size, words)
        mb = len(page.encode()) / 1e6
        t_encode = best_of(lambda s: s.encode("utf-8"), page, 40)
        t_mark = best_of(lambda s: html_transform.mark_html(s, ["data-cid-c1"], "c-render-id"), page, 40)
        print(f"{label}: {mb:.2f} MB")
        print(f"  encode('utf-8')  {t_encode * 1e3:8.2f} ms  {mb / t_encode:8.0f} MB/s")
        print(f"  mark_html        {t_mark * 1e3:8.2f} ms  {mb / t_mark:8.0f} MB/s"
              f"   ratio to encode {t_mark / t_encode:.2f}x")


if __name__ == "__main__":
    main()
