#!/usr/bin/env python3
"""The peer of the page clean-up benchmark: a plain lxml walk of a page.

Usage: lxml_walk.py PAGE ITERATIONS
Parses the UTF-8 page with lxml.html, finds the lyrics box and joins its
text, ITERATIONS times, and prints the CPU time of one round in
microseconds (process time, so it is comparable to the C++ side's) and the
length of the text it found.
"""
import sys
import time

import lxml.html


def walk(data):
    root = lxml.html.fromstring(data)
    boxes = root.find_class("lyricbox")
    if not boxes:
        return ""
    return "\n".join(t for t in boxes[0].itertext())


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    rounds = int(sys.argv[2])
    text = walk(data)  # warm-up: imports, first allocations
    start = time.process_time()
    for _ in range(rounds):
        text = walk(data)
    used = time.process_time() - start
    print(f"{used * 1e6 / rounds:.1f} {len(text)}")


if __name__ == "__main__":
    main()
