#!/usr/bin/env python3
"""Fills translations into translations/zh.ts.

Input lines (file or stdin): context<TAB>source<TAB>translation, with \\n for
a line break inside a text. Entries of zh.ts that match context and source get
the translation and lose their "unfinished" mark. Prints what is still
unfinished afterwards.
"""
import sys
import xml.etree.ElementTree as ET

TS = "translations/zh.ts"


def unescape(text):
    return text.replace("\\n", "\n").replace("\\t", "\t")


def main():
    source = open(sys.argv[1], encoding="utf-8") if len(sys.argv) > 1 else sys.stdin
    table = {}
    for line in source:
        line = line.rstrip("\n")
        if not line.strip() or line.startswith("#"):
            continue
        parts = line.split("\t")
        if len(parts) != 3:
            print("skipped (need 3 fields):", line, file=sys.stderr)
            continue
        table[(parts[0], unescape(parts[1]))] = unescape(parts[2])

    tree = ET.parse(TS)
    filled = 0
    missing = []
    for context in tree.getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            src = message.findtext("source")
            tr = message.find("translation")
            key = (name, src)
            if key in table:
                tr.text = table[key]
                tr.attrib.pop("type", None)
                filled += 1
            elif tr.get("type") == "unfinished":
                missing.append(key)
    ET.indent(tree, "    ")
    with open(TS, "wb") as out:
        out.write(b'<?xml version="1.0" encoding="utf-8"?>\n<!DOCTYPE TS>\n')
        tree.write(out, encoding="utf-8", xml_declaration=False)
        out.write(b"\n")
    print(f"filled {filled}; unfinished {len(missing)}")
    for name, src in missing:
        print(f"  {name}\t{src!r}")


if __name__ == "__main__":
    main()
