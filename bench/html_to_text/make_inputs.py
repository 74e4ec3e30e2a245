#!/usr/bin/env python3
"""Writes the benchmark inputs into the folder given as argument:
ordinary mails (the newsletter fixture's article block repeated, with line
breaks) of 100 KB, 1 MB and 5 MB, and the worst case of the same sizes: one
line holding thousands of links, half of them without a closing tag."""
import pathlib
import sys

SIZES = {"100k": 100_000, "1m": 1_000_000, "5m": 5_000_000}


def ordinary(n):
    src = pathlib.Path(__file__).resolve().parents[2] / "tests/data/html_to_text/newsletter.html"
    html = src.read_text(encoding="utf-8")
    start = html.index('<table width="600"', html.index("<body"))
    block = html[start:html.index("<hr>", start) + 5]
    head = html[:start]
    parts = [head]
    size = len(head)
    while size < n:
        parts.append(block)
        size += len(block)
    return "".join(parts) + "</body></html>\n"


def links_one_line(n):
    parts = ["<html><body>"]
    size = 0
    i = 0
    while size < n:
        if i % 2:
            piece = f'<a href="https://example.com/item/{i}">Item {i}</a> &amp; '
        else:
            piece = f'<a href="http://example.com/open/{i}"><b>open {i}</b> '
        parts.append(piece)
        size += len(piece)
        i += 1
    return "".join(parts) + "</body></html>"


def main():
    out = pathlib.Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, n in SIZES.items():
        (out / f"ordinary_{name}.html").write_text(ordinary(n), encoding="utf-8")
        (out / f"links_{name}.html").write_text(links_one_line(n), encoding="utf-8")


if __name__ == "__main__":
    main()
