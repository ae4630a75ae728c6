#!/usr/bin/env python3
"""Writes a copy of a TrueType face under new names, for tests that need a
face whose family has an English and a Simplified Chinese name.

usage: rename_face.py SOURCE OUTPUT ENGLISH CHINESE

SOURCE may be a collection (.ttc); its first face is taken. Every family,
full and PostScript name is replaced, so that nothing of the old names is
left for fontconfig to list.
"""
import sys

from fontTools.ttLib import TTCollection, TTFont

WINDOWS, UNICODE_BMP = 3, 1
MAC, ROMAN = 1, 0
EN_US, ZH_CN = 0x0409, 0x0804
FAMILY, SUBFAMILY, FULL_NAME, POSTSCRIPT = 1, 2, 4, 6


def load_first_face(path):
    if path.endswith(".ttc"):
        return TTCollection(path).fonts[0]
    return TTFont(path)


def main(source, output, english, chinese):
    face = load_first_face(source)
    names = face["name"]
    names.names = []
    postscript = "".join(ch for ch in english if ch.isalnum())
    for platform, encoding, language in ((MAC, ROMAN, 0), (WINDOWS, UNICODE_BMP, EN_US)):
        for name_id, text in ((FAMILY, english), (SUBFAMILY, "Regular"),
                              (FULL_NAME, english), (POSTSCRIPT, postscript)):
            names.setName(text, name_id, platform, encoding, language)
    for name_id in (FAMILY, FULL_NAME):
        names.setName(chinese, name_id, WINDOWS, UNICODE_BMP, ZH_CN)
    face.save(output)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
