#!/usr/bin/env python3
"""Fills a folder with renamed copies of installed faces, a font set of the
font-list benchmark's own that no other program sees.

usage: make_font_set.py OUTPUT_DIR COUNT SOURCE...

Face i is a copy of SOURCE[i % len(SOURCE)] named "Bench Face NNN" in
English and "基准字体NNN" in Simplified Chinese.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "tests", "app", "fonts"))
from rename_face import main as rename  # noqa: E402


def make(output_dir, count, sources):
    os.makedirs(output_dir, exist_ok=True)
    for i in range(count):
        output = os.path.join(output_dir, f"bench-face-{i:03d}.ttf")
        if not os.path.exists(output):
            rename(sources[i % len(sources)], output, f"Bench Face {i:03d}", f"基准字体{i:03d}")


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    make(sys.argv[1], int(sys.argv[2]), sys.argv[3:])
