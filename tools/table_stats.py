#!/usr/bin/env python3
"""Summarises the built-in word tables (core/src/data/*.cpp) for whoever edits them.

Prints, per table, the figures that the data tests pin down (rows, phrases, non-ASCII
texts, strict rows, byte lengths, capitalised texts), then every word shared by two
languages, and warns about words that the matcher would see as one pattern (equal after
lower-casing and folding accents and leetspeak) and about texts whose edges would defeat
the whole-word test. Editing a table means re-running this and updating the tests.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
ROW = re.compile(r'\{"((?:[^"\\]|\\.)*)",\s*(\w+),\s*(\d+),\s*(true|false)\}')
TABLES = [("en", "kBase"), ("en", "kOverrides"), ("es", "kBase"), ("hi", "kBase"),
          ("fr", "kBase"), ("de", "kBase")]
ASCII_LOWER = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")
FOLD = str.maketrans({**{c: "a" for c in "àáâãäå"}, "ç": "c", **{c: "e" for c in "èéêë"},
                      **{c: "i" for c in "ìíîï"}, "ñ": "n", **{c: "o" for c in "òóôõö"},
                      **{c: "u" for c in "ùúûü"}, "0": "o", "1": "i", "3": "e", "4": "a",
                      "5": "s", "7": "t", "8": "b", "9": "g", "!": "i", "$": "s", "@": "a"})


def rows(lang, array):
    src = (ROOT / "core/src/data" / f"{lang}.cpp").read_text(encoding="utf-8")
    body = re.search(array + r"\[\]\s*=\s*\{(.*?)\n\};", src, re.S)
    if not body:
        sys.exit(f"{lang}.cpp: no table {array}")
    return [(t, c, int(s), f == "true") for t, c, s, f in ROW.findall(body.group(1))]


def folded(text):
    """Roughly what Basic normalisation does to a pattern: enough to spot collisions."""
    return re.sub(r"(.)\1\1+", r"\1", text.translate(ASCII_LOWER).translate(FOLD))


def main():
    lower = lambda t: t.translate(ASCII_LOWER)
    tables = {}
    print(f"{'table':14} rows space nonascii strict caps  bytes")
    for lang, array in TABLES:
        tr = rows(lang, array)
        tables[(lang, array)] = tr
        texts = [t for t, *_ in tr]
        lens = [len(t.encode()) for t in texts]
        print(f"{lang + '.' + array:14} {len(tr):4} {sum(' ' in t for t in texts):5} "
              f"{sum(not t.isascii() for t in texts):8} {sum(r[3] for r in tr):6} "
              f"{sum(t[:1].isupper() for t in texts):4}  {min(lens)}..{max(lens)}")
        seen = {}
        for t in texts:
            key = folded(t)
            if key in seen:
                print(f"  warning: {seen[key]!r} and {t!r} fold to the same pattern")
            seen[key] = t
            if re.search(r"^[^\w]|[^\w'.]$", t) or re.search(r"[A-Za-z][0-9]$", t):
                print(f"  warning: {t!r} has an edge the whole-word test may not see")
    bases = {lang: {lower(t): t for t, *_ in tr}
             for (lang, array), tr in tables.items() if array == "kBase"}
    overrides = {lower(t) for t, *_ in tables[("en", "kOverrides")]}
    langs = list(bases)
    same = differ = 0
    print("shared words:")
    for i, a in enumerate(langs):
        for b in langs[i + 1:]:
            for key in sorted(bases[a].keys() & bases[b].keys()):
                equal = bases[a][key] == bases[b][key]
                same += equal
                differ += not equal
                print(f"  {a}/{b}: {bases[a][key]!r} {bases[b][key]!r}")
    print(f"  {same} byte-equal, {differ} differing in case")
    for lang in langs[1:]:
        for key in overrides & bases[lang].keys():
            print(f"  warning: override word {key!r} also in {lang}")


if __name__ == "__main__":
    main()
