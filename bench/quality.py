#!/usr/bin/env python3
"""Detection quality: what the filter finds, and what it flags that it should not.

Every normalisation level and match mode meets three kinds of text:

- Disguises. Every built-in word of every language, disguised in the ways writers
  disguise words (the families below), alone, inside ordinary sentences of its language
  and with punctuation around it. An item is found when a hit of the language's filter
  overlaps the disguised word. Recall per family, language and context.
- Innocent text. Debian's word lists for English, French, German and Spanish, less every
  listed word, every listed word or phrase written without its spaces and punctuation
  ("sonsofbitches") and every word that begins with a listed word of four or more
  letters (those are not innocent), and a hand-made table of traps. Every flagged word
  is a false hit, and every one is listed.
- Real text. Debian's fortune cookies, one distinct non-empty line as the unit (a line
  is short enough to read in a list of changes). Only flag rates: the lines are not
  labelled, and some packages are meant to offend. A flagged line is listed and stored
  by its file and line number, with its first hit and ten characters either side.

Before and after a change:

    python3 bench/quality.py --save before.json      # old build installed
    python3 bench/quality.py --compare before.json   # new build installed

The second run writes bench/QUALITY.md with a count of the changes and prints every
changed item (disguises found or lost, words, traps and fortune lines newly flagged or
no longer flagged) on standard output. `--compare OLD.json NEW.json` compares two saved
runs without running anything. Data: `bash tools/install-quality-data.sh`.

The items a configuration misses, to find their causes (a slice writes no report):

    python3 bench/quality.py --misses thorough/word_boundary --families separated \
        --langs es,hi --no-wordlists --no-fortunes

Each level claims to undo some families (see CLAIMS); recall is reported for every
level and family alike, with the claimed ones marked. A level that the installed module
refuses ("thorough" before it exists) is left out; its columns appear once it accepts it.

The built-in words are read from the table sources core/src/data/*.cpp (their rows are
plain {"text", category, severity, strict} initialisers), merged as the library merges
them: base rows, then override rows, one entry per ASCII-lower-cased text. Every random
choice is seeded from the word, family and variant, so the corpus is the same on every
run and adding a family does not reshuffle the others. Only the public API
is used: Tarnwhisk(options).find and contains_profanity, one text per call.
"""

from __future__ import annotations

import argparse
import base64
import json
import random
import re
import shlex
import subprocess
import sys
import time
import unicodedata
from collections import Counter, defaultdict
from dataclasses import dataclass
from importlib import metadata
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DATA = ROOT / "bench" / "quality"
LANGS = ("en", "es", "hi", "fr", "de")
LEVELS = ("none", "basic", "aggressive", "thorough")
MODES = ("word_boundary", "substring")
SEED = "quality-1"
FORMAT = 1

# ---------------------------------------------------------------------------------------
# The built-in words

ROW = re.compile(r'\{"((?:[^"\\]|\\.)*)",\s*\w+,\s*\d+,\s*(?:true|false)\}')


def ascii_lower(text: str) -> str:
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


def builtin_words(root: Path = ROOT) -> dict[str, list[str]]:
    """Each language's built-in words as stored, in table order: base rows, then the
    override rows; a later row of the same ASCII-lower-cased text replaces an earlier
    one in its place."""
    words = {}
    for lang in LANGS:
        path = root / "core" / "src" / "data" / f"{lang}.cpp"
        src = path.read_text(encoding="utf-8")
        merged: dict[str, str] = {}
        for array in ("kBase", "kOverrides"):
            body = re.search(array + r"\[\]\s*=\s*\{(.*?)\n\};", src, re.S)
            if body is None:
                if array == "kBase":
                    raise SystemExit(f"{path}: no table kBase")
                continue
            for text in ROW.findall(body.group(1)):
                if re.search(r'\\[^"\\]', text):
                    raise SystemExit(f"{path}: escape sequence in {text!r}; only \\\" and "
                                     "\\\\ are read")
                text = re.sub(r"\\(.)", r"\1", text)
                merged[ascii_lower(text)] = text
        if not merged:
            raise SystemExit(f"{path}: no rows found in kBase")
        words[lang] = list(merged.values())
    return words


# ---------------------------------------------------------------------------------------
# Substitution tables: hand-written ones from bench/quality/, and what Unicode data gives


def read_tsv(name: str, columns: int) -> list[list[str]]:
    rows = []
    path = DATA / name
    for n, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        cells = line.split("\t")
        if len(cells) != columns:
            raise SystemExit(f"{path}:{n}: {len(cells)} tab-separated columns, expected {columns}")
        rows.append(cells)
    return rows


def named_chars(codes: str, name: str, where: str) -> list[str]:
    """The characters of "0041" or "0041..005A", after checking the first one's name."""
    first, _, last = codes.partition("..")
    lo, hi = int(first, 16), int(last or first, 16)
    actual = unicodedata.name(chr(lo), "(no name)")
    if actual != name:
        raise SystemExit(f"{where}: U+{lo:04X} is {actual}, not {name}")
    return [chr(c) for c in range(lo, hi + 1)]


STYLE_NAME = re.compile(
    r"(FULLWIDTH LATIN|MATHEMATICAL [A-Z -]+?) (SMALL|CAPITAL)(?: LETTER)? ([A-Z])")


def letter_styles() -> dict[str, dict[str, str]]:
    """Full-width and mathematical letters by their Unicode names: style -> letter (in
    either case) -> character. Styles with holes (script, fraktur, ...) lack letters."""
    styles: dict[str, dict[str, str]] = defaultdict(dict)
    for cp in [*range(0xFF21, 0xFF5B), *range(0x1D400, 0x1D6A4)]:
        match = STYLE_NAME.fullmatch(unicodedata.name(chr(cp), ""))
        if match:
            style, case, letter = match.groups()
            styles[style][letter if case == "CAPITAL" else letter.lower()] = chr(cp)
    return dict(styles)


def accented_letters() -> dict[str, list[str]]:
    """Precomposed small Latin letters (Latin-1 and Latin Extended-A) whose canonical
    decomposition is an ASCII letter and combining marks: letter -> those letters."""
    accents: dict[str, list[str]] = defaultdict(list)
    for cp in range(0xE0, 0x180):
        parts = unicodedata.normalize("NFD", chr(cp))
        if len(parts) > 1 and "a" <= parts[0] <= "z" and all(map(unicodedata.combining, parts[1:])):
            accents[parts[0]].append(chr(cp))
    return dict(accents)


@dataclass
class Tables:
    leet: dict[str, list[str]]          # letter -> common substitutes
    ambiguous: dict[str, list[str]]     # letter -> ambiguous substitutes
    lookalikes: dict[str, list[str]]    # letter -> characters of other scripts
    invisible: dict[str, list[list[str]]]  # "basic"/"more" -> groups of characters
    separators: list[str]
    masks: list[str]
    sentences: dict[str, list[str]]     # lang -> frames with "{}"
    traps: list[tuple[str, str, str]]   # (lang, kind, text)
    styles: dict[str, dict[str, str]]
    accents: dict[str, list[str]]

    def invisible_chars(self) -> set[str]:
        return {c for groups in self.invisible.values() for group in groups for c in group}


def load_tables() -> Tables:
    leet: dict[str, dict[str, list[str]]] = {"common": defaultdict(list),
                                             "ambiguous": defaultdict(list)}
    for letter, sub, kind in read_tsv("leetspeak.tsv", 3):
        if kind not in leet:
            raise SystemExit(f"leetspeak.tsv: kind {kind!r} is neither common nor ambiguous")
        leet[kind][letter].append(sub)
    lookalikes: dict[str, list[str]] = defaultdict(list)
    for letter, code, name in read_tsv("lookalikes.tsv", 3):
        lookalikes[letter] += named_chars(code, name, "lookalikes.tsv")
    invisible: dict[str, list[list[str]]] = {"basic": [], "nbsp": [], "more": []}
    for which, code, name in read_tsv("invisible.tsv", 3):
        invisible[which].append(named_chars(code, name, "invisible.tsv"))
    symbols: dict[str, list[str]] = {"separator": [], "mask": []}
    for use, code, name in read_tsv("symbols.tsv", 3):
        symbols[use] += named_chars(code, name, "symbols.tsv")
    sentences: dict[str, list[str]] = defaultdict(list)
    for lang, frame in read_tsv("sentences.tsv", 2):
        if frame.count("{}") != 1:
            raise SystemExit(f"sentences.tsv: {frame!r} needs exactly one {{}}")
        sentences[lang].append(frame)
    traps = [(lang, kind, text) for lang, kind, text in read_tsv("traps.tsv", 3)]
    return Tables(dict(leet["common"]), dict(leet["ambiguous"]), dict(lookalikes), invisible,
                  symbols["separator"], symbols["mask"], dict(sentences), traps,
                  letter_styles(), accented_letters())


# ---------------------------------------------------------------------------------------
# Disguise families. Each generator takes the plain (lower-case) word and returns its
# variants. A phrase is disguised word by word: substitutions reach every letter of
# every word, insertions (invisible characters, separators, stretched letters) go inside
# the words and never replace the space between them, and a mask goes into the
# phrase's longest word.


def each_word(phrase: str, fn) -> str:
    return " ".join(fn(word) for word in phrase.split(" "))


def substitute(text: str, table: dict[str, list[str]], rng: random.Random,
               every: bool) -> str | None:
    """Replace one character (or each one) that the table knows by a random substitute."""
    spots = [i for i, c in enumerate(text) if c in table]
    if not spots:
        return None
    chars = list(text)
    for i in spots if every else [rng.choice(spots)]:
        chars[i] = rng.choice(table[chars[i]])
    return "".join(chars)


def inner_gaps(text: str) -> list[int]:
    """Positions between two characters of one word."""
    return [i for i in range(1, len(text)) if text[i - 1] != " " and text[i] != " "]


def insert_at(text: str, gaps, make) -> str:
    gaps = set(gaps)
    return "".join((make() if i in gaps else "") + c for i, c in enumerate(text))


def runs(text: str) -> list[tuple[int, int]]:
    """(start, length) of each run of equal characters."""
    out, i = [], 0
    while i < len(text):
        j = i
        while j < len(text) and text[j] == text[i]:
            j += 1
        out.append((i, j - i))
        i = j
    return out


def stretch(text: str, counts: dict[int, int]) -> str:
    return "".join(c * counts.get(i, 1) for i, c in enumerate(text))


def styled(text: str, style: dict[str, str]) -> str:
    return "".join(style.get(c, c) if c.isascii() else c for c in text)


def strip_accents(text: str) -> str:
    bare = "".join(c for c in unicodedata.normalize("NFD", text) if not unicodedata.combining(c))
    bare = unicodedata.normalize("NFC", bare)
    return bare.replace("ß", "ss").replace("œ", "oe").replace("æ", "ae")


def v_plain(w, rng, t):
    return [w]


def v_case(w, rng, t):
    mixed = "".join(c.upper() if c.isascii() and rng.random() < 0.5 else c for c in w)
    return ["".join(c.upper() if c.isascii() else c for c in w),
            each_word(w, lambda x: x[:1].upper() + x[1:] if x[:1].isascii() else x), mixed]


def v_width(w, rng, t):
    letters = {c for c in w if c.isascii() and c.isalpha()}
    math = [s for s in sorted(t.styles)
            if s.startswith("MATHEMATICAL") and letters <= t.styles[s].keys()]
    mixed = "".join(rng.choice([s[c] for s in t.styles.values() if c in s]) if c in letters else c
                    for c in w)
    return [styled(w, t.styles["FULLWIDTH LATIN"]), styled(w, t.styles[rng.choice(math)]), mixed]


def v_lookalike(w, rng, t):
    return [substitute(w, t.lookalikes, rng, False), substitute(w, t.lookalikes, rng, True)]


def v_leet(w, rng, t):
    return [substitute(w, t.leet, rng, False), substitute(w, t.leet, rng, True)]


def invisible_variants(w, rng, groups):
    make = lambda: rng.choice(rng.choice(groups))
    gaps = inner_gaps(w)
    return [insert_at(w, [rng.choice(gaps)], make), insert_at(w, gaps, make)] if gaps else []


def v_invisible(w, rng, t):
    return invisible_variants(w, rng, t.invisible["basic"])


def v_nbsp(w, rng, t):
    return invisible_variants(w, rng, t.invisible["nbsp"])


def v_invisible_more(w, rng, t):
    return invisible_variants(w, rng, t.invisible["more"])


def v_stretched(w, rng, t):
    """Stretch letters that stand alone (not doubled): 'fuuuuck'."""
    single = [i for i, n in runs(w) if n == 1 and w[i].isalpha()]
    if not single:
        return []
    last = [i for i in single if i + 1 == len(w) or w[i + 1] == " "]
    return [stretch(w, {rng.choice(single): rng.randint(3, 6)}),
            stretch(w, {i: rng.randint(3, 6) for i in last}) if last else None,
            stretch(w, {i: rng.randint(3, 5) for i in single})]


def v_doubled(w, rng, t):
    """Stretch a doubled letter: 'asss', 'pisssss', 'helllll'."""
    double = [i for i, n in runs(w) if n == 2 and w[i].isalpha()]
    if not double:
        return []
    return [stretch(w, {rng.choice(double): 2}),
            stretch(w, {rng.choice(double): rng.randint(4, 7)})]


def separate(w, sep):
    return each_word(w, sep.join)


def v_separated(w, rng, t):
    others = [s for s in t.separators if s not in ". "]
    return [separate(w, "."), separate(w, " "), separate(w, rng.choice(others)), separate(w, ". ")]


def v_diacritics(w, rng, t):
    out = []
    spots = [i for i, c in enumerate(w) if c in t.accents]
    if spots:
        i, j = rng.choice(spots), rng.choice(spots)
        out.append(w[:i] + rng.choice(t.accents[w[i]]) + w[i + 1:])
        out.append(w[:j] + unicodedata.normalize("NFD", rng.choice(t.accents[w[j]])) + w[j + 1:])
    if not w.isascii():
        out.append(unicodedata.normalize("NFD", w))
        out.append(strip_accents(w))
        out.append("".join(c if c == "ß" else c.upper() for c in w))
    return out


def v_masked(w, rng, t):
    """Letters inside the word (never the first or last) replaced by a mask: 'f*ck',
    'f**k', 'sh#t'."""
    parts = w.split(" ")
    k = max(range(len(parts)), key=lambda i: len(parts[i]))
    word = parts[k]
    inner = [i for i in range(1, len(word) - 1) if word[i].isalpha()]
    if not inner:
        return []

    def put(i, j, mask):
        parts2 = list(parts)
        parts2[k] = word[:i] + mask * (j - i) + word[j:]
        return " ".join(parts2)

    i = rng.choice(inner)
    out = [put(i, i + 1, "*")]
    if len(inner) >= 2:
        a = rng.randrange(len(inner) - 1)
        out.append(put(inner[a], inner[rng.randrange(a + 1, len(inner))] + 1, "*"))
    i = rng.choice(inner)
    out.append(put(i, i + 1, rng.choice([m for m in t.masks if m != "*"])))
    return out


def v_ambiguous(w, rng, t):
    one = substitute(w, t.ambiguous, rng, False)
    mixed = substitute(one, t.leet, rng, True) if one else None
    return [one, substitute(w, t.ambiguous, rng, True), mixed]


# The basic level's families in the order in which combinations apply them: stretching
# first (it needs the letters), invisible characters last (they go between anything).
COMBINABLE = ("stretched", "leet", "lookalike", "case", "width", "invisible")


def combine(w, rng, t, families):
    for key in COMBINABLE:
        if key in families:
            options = [v for v in FAMILIES[key].make(w, rng, t) if v and v != w]
            if options:
                w = rng.choice(options)
    return w


def v_combined(w, rng, t):
    return [combine(w, rng, t, rng.sample(COMBINABLE, n)) for n in (2, 2, 3)]


def v_combined_separated(w, rng, t):
    out = []
    for n in (1, 2):
        mixed = combine(w, rng, t, rng.sample(("leet", "lookalike", "case", "width"), n))
        out.append(separate(mixed, rng.choice(t.separators)))
    return out


@dataclass(frozen=True)
class Family:
    key: str
    title: str
    make: object
    rule: str


FAMILIES = {f.key: f for f in (
    Family("plain", "plain", v_plain, "the word in lower case"),
    Family("case", "case", v_case,
           "ASCII letters in capitals, first letter capital, random mix "
           "(accented capitals: see diacritics)"),
    Family("width", "full-width & math", v_width,
           "full-width letters, one mathematical style, a random style per letter "
           "(from Unicode names)"),
    Family("lookalike", "look-alikes", v_lookalike,
           "one letter, then every letter that has one, from lookalikes.tsv"),
    Family("leet", "leetspeak", v_leet,
           "one letter, then every letter that has one, common rows of leetspeak.tsv"),
    Family("invisible", "invisible (15)", v_invisible,
           "one character of the basic set at a random place inside the word, "
           "then one in every gap"),
    Family("nbsp", "no-break spaces (3)", v_nbsp,
           'as "invisible (15)" with the no-break spaces of set "nbsp" in invisible.tsv '
           "(removed at basic; spaces between words at thorough)"),
    Family("stretched", "stretched", v_stretched,
           "a random single letter, the last letter, every single letter, repeated 3 to 6 times"),
    Family("separated", "separated letters", v_separated,
           'letters split by ".", " ", a random separator of symbols.tsv, ". "'),
    Family("combined", "combinations", v_combined,
           "two, two and three of the basic families above, one variant of each, applied in turn"),
    Family("combined_separated", "combinations + separated", v_combined_separated,
           "one or two of case, leetspeak, look-alikes, full-width, then separated letters"),
    Family("diacritics", "diacritics", v_diacritics,
           "an accent added (precomposed, then decomposed; accented letters from Unicode data); "
           "for words with accents: decomposed, stripped (ß as ss), in capitals (ß kept)"),
    Family("masked", "masked letters", v_masked,
           'one inner letter as "*", a stretch of inner letters as "*" each, '
           "one inner letter as another mask"),
    Family("ambiguous", "ambiguous leetspeak", v_ambiguous,
           "one letter, every letter, one letter plus common leetspeak, "
           "ambiguous rows of leetspeak.tsv"),
    Family("doubled", "stretched double letter", v_doubled,
           "a doubled letter repeated 3 times, then 4 to 7 times (words without one: none)"),
    Family("invisible_more", "invisible (more)", v_invisible_more,
           'as "invisible (15)" with the characters of set "more" in invisible.tsv'),
)}

BASIC_CLAIM = {"plain", "case", "width", "lookalike", "leet", "invisible", "nbsp", "stretched", "combined"}
CLAIMS = {
    "none": {"plain"},
    "basic": BASIC_CLAIM,
    "aggressive": BASIC_CLAIM | {"separated", "combined_separated"},
    "thorough": set(FAMILIES) - {"nbsp"},
}

ALONE = "{}"
PUNCTUATION = ("{}!", "{}?", "{}.", "{},", '"{}"', "'{}'", "«{}»", "¡{}!", "¿{}?", "{}...",
               "({})")
SENTENCES_PER_VARIANT = 2


def context_kind(template: str) -> str:
    return "alone" if template == ALONE else "punct" if template in PUNCTUATION else "sentence"


@dataclass
class Corpus:
    variants: list[tuple[str, str, str, str]]  # (lang, word as stored, family, text)
    contexts: list[str]                        # templates with "{}"
    always: list[int]                          # contexts of every variant
    variant_contexts: list[list[int]]          # per variant, its other contexts
    items: list[tuple[int, int, str, int, int]]  # (variant, context, text, byte start, byte end)


def make_corpus(words: dict[str, list[str]], t: Tables, families=None) -> Corpus:
    contexts = [ALONE, *PUNCTUATION, *(f for lang in LANGS for f in t.sentences.get(lang, []))]
    index = {c: i for i, c in enumerate(contexts)}
    corpus = Corpus([], contexts, [index[c] for c in (ALONE, *PUNCTUATION)], [], [])
    for lang, texts in words.items():
        frames = t.sentences.get(lang, [])
        for word in texts:
            plain = word.lower()
            for key in families or FAMILIES:
                rng = random.Random(f"{SEED}|{lang}|{word}|{key}")
                seen = set()
                for text in FAMILIES[key].make(plain, rng, t):
                    if not text or text in seen or (text == plain and key != "plain"):
                        continue
                    seen.add(text)
                    pick = random.Random(f"{SEED}|{lang}|{word}|{key}|{text}")
                    sentences = pick.sample(frames, min(SENTENCES_PER_VARIANT, len(frames)))
                    v = len(corpus.variants)
                    corpus.variants.append((lang, word, key, text))
                    corpus.variant_contexts.append([index[c] for c in sentences])
                    for c in (ALONE, *PUNCTUATION, *sentences):
                        before = c.index("{}")
                        start = len(c[:before].encode())
                        corpus.items.append((v, index[c], c.replace("{}", text),
                                             start, start + len(text.encode())))
    return corpus


# ---------------------------------------------------------------------------------------
# Running the filters


def config_name(level: str, mode: str) -> str:
    return f"{level}/{mode}"


def available_levels(module) -> list[str]:
    """The levels this build accepts; "thorough" is tried, not assumed."""
    levels = []
    for level in LEVELS:
        try:
            module.Tarnwhisk({"normalization": level})
        except ValueError:
            continue
        levels.append(level)
    return levels


class Filters:
    """One filter per language, level and mode, built on first use."""

    def __init__(self, module):
        self.module, self.cache = module, {}

    def __call__(self, lang: str, config: str):
        key = (lang, config)
        if key not in self.cache:
            level, mode = config.split("/")
            self.cache[key] = self.module.Tarnwhisk(
                {"languages": [lang], "normalization": level, "match_mode": mode})
        return self.cache[key]


def run_disguises(corpus: Corpus, filters: Filters, configs: list[str]) -> dict[str, str]:
    """Per configuration, a bit per item (base64): 1 when a hit overlaps the word."""
    found = {}
    langs = [corpus.variants[v][0] for v, *_ in corpus.items]
    for config in configs:
        bits = bytearray((len(corpus.items) + 7) // 8)
        for n, (_, _, text, start, end) in enumerate(corpus.items):
            for hit in filters(langs[n], config).find(text):
                if hit.start < end and hit.end > start:
                    bits[n >> 3] |= 1 << (n & 7)
                    break
        found[config] = base64.b64encode(bytes(bits)).decode()
    return found


def bit(bits: bytes, n: int) -> bool:
    return bool(bits[n >> 3] >> (n & 7) & 1)


def hit_key(flt, text: str) -> str:
    """What the filter matched in the text, lower-cased: how flagged words are grouped."""
    raw = text.encode()
    return "+".join(raw[h.start:h.end].decode(errors="replace").lower() for h in flt.find(text))


WORDLISTS = (("wamerican-huge", "en", "/usr/share/dict/american-english-huge"),
             ("wfrench", "fr", "/usr/share/dict/french"),
             ("wngerman", "de", "/usr/share/dict/ngerman"),
             ("wspanish", "es", "/usr/share/dict/spanish"))
FORTUNES = (("fortunes", "en"), ("fortunes-min", "en"), ("fortunes-es", "es"),
            ("fortunes-es-off", "es"), ("fortunes-de", "de"))
FORTUNE_DIR = "/usr/share/games/fortunes/"


def deb_version(package: str) -> str | None:
    try:
        out = subprocess.run(["dpkg-query", "-W", "-f=${Status}\t${Version}", package],
                             capture_output=True, text=True, check=False)
    except OSError:
        return None
    status, _, version = out.stdout.partition("\t")
    return version if out.returncode == 0 and status.endswith(" installed") else None


def without_separators(text: str) -> str:
    """text less its spaces and punctuation: a phrase or a hyphenated word written as one
    word ("sons of bitches": "sonsofbitches")."""
    return "".join(c for c in text if unicodedata.category(c)[0] not in "ZP")


def innocent(words, listed) -> tuple[list[str], int]:
    """The dictionary words that are neither listed words, nor a listed word or phrase
    written without its spaces and punctuation, nor begin with a listed word of four or
    more letters, in lower case; repeats dropped, order kept. Also returns how many were
    taken out."""
    lowered = {w.lower() for w in listed}
    prefixes = {w for w in lowered if len(w) >= 4}
    lowered |= {without_separators(w) for w in lowered}
    longest = max(map(len, prefixes), default=0)
    kept, seen, excluded = [], set(), 0
    for word in words:
        if word in seen:
            continue
        seen.add(word)
        low = word.lower()
        if low in lowered or any(low[:k] in prefixes for k in range(4, min(len(low), longest) + 1)):
            excluded += 1
        else:
            kept.append(word)
    return kept, excluded


def flag_texts(texts, flt_of, configs) -> dict:
    """The texts flagged under each configuration, stored compactly: every flagged text
    once, and per configuration [index, what matched] pairs."""
    index: dict[str, int] = {}
    flagged = {}
    for config in configs:
        flt = flt_of(config)
        flagged[config] = [[index.setdefault(t, len(index)), hit_key(flt, t)]
                           for t in texts if flt.contains_profanity(t)]
    return {"texts": list(index), "flagged": flagged}


def flagged(part: dict, config: str) -> dict[str, str]:
    """{text: what matched} of one word list or fortune package under one configuration."""
    return {part["texts"][i]: key for i, key in part["flagged"][config]}


def run_wordlists(words, filters, configs, langs, limit=None) -> dict:
    """words: every built-in word of each language (a slice of the disguises does not
    make the others innocent)."""
    out = {}
    for package, lang, path in WORDLISTS:
        if lang not in langs:
            continue
        version = deb_version(package)
        if not Path(path).is_file():
            out[package] = {"lang": lang, "missing": True}
            continue
        entries = Path(path).read_text(encoding="utf-8", errors="replace").split("\n")
        entries = [e.strip() for e in entries if e.strip()]
        if limit:
            entries = entries[:limit]
        kept, excluded = innocent(entries, words[lang])
        out[package] = {"lang": lang, "version": version, "path": path, "words": len(entries),
                        "excluded": excluded, "tested": len(kept),
                        **flag_texts(kept, lambda c: filters(lang, c), configs)}
    return out


def run_traps(traps, filters, configs) -> dict:
    hits = {}
    for config in configs:
        hits[config] = []
        for n, (lang, _, text) in enumerate(traps):
            flt = filters(lang, config)
            if flt.contains_profanity(text):
                hits[config].append([n, hit_key(flt, text)])
    return {"rows": [list(r) for r in traps], "flagged": hits}


def rot13(text: str) -> str:
    return text.translate(str.maketrans(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz",
        "NOPQRSTUVWXYZABCDEFGHIJKLMnopqrstuvwxyzabcdefghijklm"))


def fortune_files(package: str) -> list[str]:
    """The package's cookie files. The offensive files under off/ are stored in rot13;
    fortunes-es ships a copy of fortunes-es-off's files under es/off/, left out there."""
    try:
        out = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True, check=False)
    except OSError:
        return []
    files = []
    for line in out.stdout.splitlines():
        path = Path(line)
        rel = line[len(FORTUNE_DIR):] if line.startswith(FORTUNE_DIR) else None
        if rel is None or path.is_symlink() or not path.is_file() or path.suffix in (".dat", ".u8"):
            continue
        if package == "fortunes-es" and "off" in Path(rel).parts:
            continue
        files.append(line)
    return sorted(files)


def fortune_lines(files: list[str], limit=None, origins: dict | None = None) -> list[str]:
    """The distinct non-empty lines of the files, in order; `origins` (if given) gets for
    each line where it first stands ("path/below/the/fortune/dir:line number")."""
    lines, seen = [], set()
    for name in files:
        raw = Path(name).read_bytes()
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError:
            text = raw.decode("latin-1")
        if name[len(FORTUNE_DIR):].split("/")[0] == "off":
            text = rot13(text)
        for number, line in enumerate(text.splitlines(), 1):
            line = line.strip()
            if line and line != "%" and line not in seen:
                seen.add(line)
                lines.append(line)
                if origins is not None:
                    origins[line] = f"{name[len(FORTUNE_DIR):]}:{number}"
    return lines[:limit] if limit else lines


def quote(line: str, origin: str, flt, width: int = 10) -> str:
    """A flagged fortune line as it is stored and shown: where it stands, then the first
    hit with `width` characters either side. The cookies are Debian's text: the report
    shows what was matched and points to the rest rather than reprinting every line."""
    hits = flt.find(line)
    raw = line.encode()
    start = len(raw[:hits[0].start].decode(errors="replace")) if hits else 0
    end = len(raw[:hits[0].end].decode(errors="replace")) if hits else 0
    a, b = max(0, start - width), min(len(line), end + width)
    return f"{origin} {'…' if a else ''}{line[a:b]}{'…' if b < len(line) else ''}"


def run_fortunes(filters, configs, langs, limit=None) -> dict:
    out = {}
    for package, lang in FORTUNES:
        if lang not in langs:
            continue
        files = fortune_files(package)
        if not files:
            out[package] = {"lang": lang, "missing": True}
            continue
        origins: dict[str, str] = {}
        lines = fortune_lines(files, limit, origins)
        part = flag_texts(lines, lambda c: filters(lang, c), configs)
        # Each flagged line quoted around its first hit in the first configuration that
        # flags it (the configurations come in a fixed order).
        quoted: dict[int, str] = {}
        for config in configs:
            for i, _ in part["flagged"][config]:
                if i not in quoted:
                    text = part["texts"][i]
                    quoted[i] = quote(text, origins[text], filters(lang, config))
        part["texts"] = [quoted[i] for i in range(len(part["texts"]))]
        out[package] = {"lang": lang, "version": deb_version(package), "files": len(files),
                        "lines": len(lines), **part}
    return out


def source_state() -> str:
    try:
        head = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"],
                              capture_output=True, text=True, check=True).stdout.strip()
        changed = subprocess.run(
            ["git", "-C", str(ROOT), "status", "--porcelain", "--", "core", "python/src"],
            capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return head + (" with uncommitted changes in core/ or python/src/" if changed else "")


def run_all(args, module) -> dict:
    tables = load_tables()
    every_word = builtin_words()
    langs = args.langs or list(LANGS)
    words = {lang: every_word[lang][:args.words] if args.words else every_word[lang]
             for lang in langs}
    families = args.families or list(FAMILIES)
    levels = available_levels(module)
    configs = [config_name(level, mode) for level in levels for mode in MODES]
    filters = Filters(module)
    timing = {}

    clock = time.perf_counter()
    corpus = make_corpus(words, tables, families)
    found = run_disguises(corpus, filters, configs)
    timing["disguises"] = time.perf_counter() - clock
    clock = time.perf_counter()
    traps = [r for r in tables.traps if r[0] in langs]
    run = {
        "format": FORMAT,
        "command": "python3 bench/quality.py " + " ".join(map(shlex.quote, args.argv)),
        "tarnwhisk": {"version": _module_version(), "source": source_state()},
        "levels": levels, "configs": configs, "families": families,
        "words": {lang: len(texts) for lang, texts in words.items()},
        "disguise": {"contexts": corpus.contexts,
                     "always": corpus.always,
                     "variants": [[*v, c]
                                  for v, c in zip(corpus.variants, corpus.variant_contexts)],
                     "found": found},
        "traps": run_traps(traps, filters, configs),
        "wordlists": {} if args.no_wordlists
        else run_wordlists(every_word, filters, configs, langs, args.limit),
    }
    timing["word lists and traps"] = time.perf_counter() - clock
    clock = time.perf_counter()
    run["fortunes"] = {} if args.no_fortunes else run_fortunes(filters, configs, langs, args.limit)
    timing["fortunes"] = time.perf_counter() - clock
    run["timing"] = timing
    return run


def _module_version() -> str:
    try:
        return metadata.version("tarnwhisk")
    except metadata.PackageNotFoundError:
        return "unknown"


# ---------------------------------------------------------------------------------------
# Reading a run: the items and the figures


def disguise_items(run: dict):
    """Yield (item number, lang, word, family, variant text, context template)."""
    d = run["disguise"]
    n = 0
    for lang, word, family, text, ctxs in d["variants"]:
        for c in d["always"] + ctxs:
            yield n, lang, word, family, text, d["contexts"][c]
            n += 1


def found_bits(run: dict) -> dict[str, bytes]:
    return {c: base64.b64decode(b) for c, b in run["disguise"]["found"].items()}


class Tally:
    """Found / total counters keyed by tuples."""

    def __init__(self):
        self.found, self.total = Counter(), Counter()

    def add(self, key, hit: bool):
        self.total[key] += 1
        self.found[key] += hit

    def rate(self, key) -> float | None:
        return self.found[key] / self.total[key] if self.total[key] else None


def disguise_tally(run: dict) -> Tally:
    """Keys: (config, family), (config, family, lang, kind), (config, "punct", template)."""
    tally = Tally()
    bits = found_bits(run)
    for n, lang, _, family, _, template in disguise_items(run):
        kind = context_kind(template)
        for config, b in bits.items():
            hit = bit(b, n)
            tally.add((config, family), hit)
            tally.add((config, family, lang, kind), hit)
            if family == "plain" and kind != "sentence":
                tally.add((config, "template", template), hit)
    return tally


def mean(values):
    values = [v for v in values if v is not None]
    return sum(values) / len(values) if values else None


def summary(run: dict, tally: Tally | None = None) -> dict[str, dict]:
    """Per configuration: recall over claimed and over all families (mean of the
    families' recalls), dictionary words flagged, traps flagged, fortune lines flagged."""
    tally = tally or disguise_tally(run)
    out = {}
    for config in run["configs"]:
        level = config.split("/")[0]
        fams = run["families"]
        lists = [w for w in run["wordlists"].values() if not w.get("missing")]
        forts = [f for f in run["fortunes"].values() if not f.get("missing")]
        out[config] = {
            "claimed": mean(tally.rate((config, f)) for f in fams if f in CLAIMS[level]),
            "all": mean(tally.rate((config, f)) for f in fams),
            "words": (sum(len(w["flagged"][config]) for w in lists),
                      sum(w["tested"] for w in lists)),
            "traps": (len(run["traps"]["flagged"][config]), len(run["traps"]["rows"])),
            "fortunes": (sum(len(f["flagged"][config]) for f in forts),
                         sum(f["lines"] for f in forts)),
        }
    return out


# ---------------------------------------------------------------------------------------
# Markdown


def pct(value) -> str:
    return "–" if value is None else f"{100 * value:.1f}"


def ratio(pair) -> str:
    n, total = pair
    return f"{n} / {total} ({100 * n / total:.2f} %)" if total else "–"


def short(config: str) -> str:
    level, mode = config.split("/")
    return f"{level} {'wb' if mode == 'word_boundary' else 'sub'}"


def escape(text: str, invisible=frozenset()) -> str:
    """Invisible and control characters as \\uXXXX."""
    out = []
    for c in text:
        if c in invisible or unicodedata.category(c) in ("Cc", "Cf", "Zl", "Zp", "Co", "Cn") \
                or (unicodedata.category(c) == "Zs" and c != " "):
            out.append(f"\\u{ord(c):04x}" if ord(c) < 0x10000 else f"\\U{ord(c):08x}")
        else:
            out.append(c)
    return "".join(out)


def show(text: str, invisible=frozenset()) -> str:
    """Text as a Markdown code span, escaped."""
    body = escape(text, invisible)
    fence = "``" if "`" in body else "`"
    pad = " " if body.startswith("`") or body.endswith("`") or body.strip() != body else ""
    return f"{fence}{pad}{body}{pad}{fence}"


def table(header: list[str], rows: list[list[str]]) -> list[str]:
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    # A bar ends a cell even inside a code span unless it is escaped.
    return lines + ["| " + " | ".join(cell.replace("|", "\\|") for cell in row) + " |"
                    for row in rows]


def summary_table(run: dict, summ: dict) -> list[str]:
    rows = []
    for config, s in summ.items():
        level, mode = config.split("/")
        rows.append([level, mode, pct(s["claimed"]), pct(s["all"]), ratio(s["words"]),
                     f"{s['traps'][0]} / {s['traps'][1]}", ratio(s["fortunes"])])
    return table(["level", "match mode", "recall, claimed families %", "recall, all families %",
                  "dictionary words flagged", "traps flagged", "fortune lines flagged"], rows)


def group_words(pairs) -> list[str]:
    """[(word, hit key)] as "**key** (n): word, word, ..." lines, largest group first."""
    groups = defaultdict(list)
    for word, key in pairs:
        groups[key].append(word)
    ordered = sorted(groups.items(), key=lambda kv: (-len(kv[1]), kv[0]))
    return [f"- **{escape(k) or '?'}** ({len(ws)}): " + ", ".join(ws) for k, ws in ordered]


def per_config(configs, items_of, render_items, title) -> list[str]:
    """Each configuration's items ({item: what matched}) under its own heading. One
    close to a configuration listed in full before it is given as the difference."""
    lines, full, done = [], [], []
    for config in configs:
        items = items_of(config)
        lines += [f"### {title}, {short(config)}: {len(items)}", ""]
        same = [c for c in done if items_of(c).keys() == items.keys()]
        base = same[0] if same else min(
            full, key=lambda c: len(items.keys() ^ items_of(c).keys()), default=None)
        done.append(config)
        if base is not None:
            before = items_of(base)
            added = {k: v for k, v in items.items() if k not in before}
            gone = {k: v for k, v in before.items() if k not in items}
            if len(added) + len(gone) < len(items):
                lines.append(f"As {short(base)}, "
                             + ("with these differences." if added or gone else "the same."))
                for label, part in (("also", added), ("not", gone)):
                    if part:
                        lines += ["", f"{label.capitalize()} ({len(part)}):", "",
                                  *render_items(part)]
                lines.append("")
                continue
        full.append(config)
        lines += (render_items(items) if items else ["None."]) + [""]
    return lines


def word_sections(run: dict, configs) -> list[str]:
    """Flagged dictionary words per list and configuration, grouped by what matched."""
    lines = []
    for package, w in run["wordlists"].items():
        if not w.get("missing"):
            lines += per_config(configs, lambda c: flagged(w, c),
                                lambda items: group_words(items.items()), package)
    return lines


def header(run: dict, changes: dict | None) -> list[str]:
    d = run["disguise"]
    texts = sum(len(d["always"]) + len(v[4]) for v in d["variants"])
    packages = [*run["wordlists"].items(), *run["fortunes"].items()]
    read = ", ".join(f"{p} {x['version']}" for p, x in packages if not x.get("missing"))
    out = ["# Detection quality", "",
           "Generated by `bench/quality.py`; do not edit, rerun it (see the end).", "",
           f"- Command: `{run['command']}`",
           f"- tarnwhisk {run['tarnwhisk']['version']}, "
           f"source tree at {run['tarnwhisk']['source']}",
           f"- Levels: {', '.join(run['levels'])}"
           + ("" if "thorough" in run["levels"] else ' (this build rejects "thorough")'),
           f"- Debian packages: {read or 'none read'}",
           f"- Corpus: {len(d['variants'])} disguised forms of {sum(run['words'].values())} words "
           f"in {texts} texts; {sum(w.get('tested', 0) for w in run['wordlists'].values())} "
           f"dictionary words; {len(run['traps']['rows'])} traps; "
           f"{sum(f.get('lines', 0) for f in run['fortunes'].values())} fortune lines"]
    missing = [p for p, x in packages if x.get("missing")]
    if missing:
        out.append(f"- Not installed, left out: {', '.join(missing)}")
    return out + (["", *changes_summary(changes)] if changes is not None else [])


def recall_sections(run: dict, tally: Tally) -> list[str]:
    configs = run["configs"]
    cols = [short(c) for c in configs]
    out = ["## Recall by disguise family", "",
           "Percent of items found, all languages and contexts; **bold**: the level claims to "
           "undo the family.", ""]
    rows = []
    for family in run["families"]:
        row = [FAMILIES[family].title, str(tally.total[(configs[0], family)])]
        for config in configs:
            cell = pct(tally.rate((config, family)))
            row.append(f"**{cell}**" if family in CLAIMS[config.split("/")[0]] else cell)
        rows.append(row)
    out += table(["family", "items", *cols], rows)
    out += ["", "## Recall by language and context", "",
            "Each cell: alone / in sentences / with punctuation, percent found.", ""]
    for config in configs:
        rows = [[FAMILIES[family].title,
                 *[" / ".join(pct(tally.rate((config, family, lang, kind)))
                              for kind in ("alone", "sentence", "punct")) for lang in run["words"]]]
                for family in run["families"]]
        out += [f"### {short(config)}", "", *table(["family", *run["words"]], rows), ""]
    if "plain" in run["families"]:
        out += ["## Punctuation next to a plain word", "",
                "The plain family alone and with each mark, all languages, percent found.", ""]
        rows = [[show(t.replace("{}", "W")),
                 *[pct(tally.rate((c, "template", t))) for c in configs]]
                for t in (ALONE, *PUNCTUATION) if tally.total[(configs[0], "template", t)]]
        out += table(["text", *cols], rows) + [""]
    return out


def innocent_section(run: dict, lists_name: str | None) -> list[str]:
    configs = run["configs"]
    out = ["## Innocent words from Debian word lists", "",
           "Flagged words, and the share of the words tested. Tested: the list less its listed "
           "words, the listed words and phrases written without their spaces and punctuation "
           "(\"sonsofbitches\") and the words that begin with a listed word of four or more "
           "letters (lower case). Hindi: Debian has no word list.", ""]
    rows = []
    for package, w in run["wordlists"].items():
        if w.get("missing"):
            rows.append([package, w["lang"], "not installed", "", "", *["" for _ in configs]])
            continue
        rows.append([package, w["lang"], str(w["words"]), str(w["excluded"]), str(w["tested"]),
                     *[f"{len(w['flagged'][c])} "
                       f"({100 * len(w['flagged'][c]) / max(w['tested'], 1):.2f} %)"
                       for c in configs]])
    out += table(["list", "lang", "words", "taken out", "tested", *map(short, configs)], rows)
    out += ["", "Flagged words under word_boundary, grouped by what was matched (lower case)."
            + (f" Substring mode: [{lists_name}]({lists_name})." if lists_name else ""), ""]
    return out + word_sections(run, [c for c in configs if c.endswith("word_boundary")])


def trap_section(run: dict) -> list[str]:
    configs = run["configs"]
    cols = [short(c) for c in configs]
    rows_t = run["traps"]["rows"]
    trapped = {c: dict((n, k) for n, k in run["traps"]["flagged"][c]) for c in configs}
    out = ["## Traps", "",
           "Hand-made (bench/quality/traps.tsv): none of these should be flagged. "
           "A cell shows what was matched.", ""]
    out += table(["lang", "kind", "text", *cols],
                 [[lang, kind, show(text),
                   *[show(trapped[c][n]) if n in trapped[c] else "" for c in configs]]
                  for n, (lang, kind, text) in enumerate(rows_t)])
    out += ["", "Flagged per kind:", ""]
    out += table(["kind", "rows", *cols],
                 [[k, str(sum(r[1] == k for r in rows_t)),
                   *[str(sum(rows_t[n][1] == k for n in trapped[c])) for c in configs]]
                  for k in sorted({r[1] for r in rows_t})])
    return out + [""]


def fortune_section(run: dict, lists_name: str | None) -> list[str]:
    configs = run["configs"]
    out = ["## Fortune cookies", "",
           "Share of distinct non-empty lines flagged (percent). The files under off/ are read "
           "through rot13, as stored; fortunes-es's copy of them under es/off/ is left out. "
           "Debian has no fortunes-fr.", ""]
    rows = []
    for package, f in run["fortunes"].items():
        if f.get("missing"):
            rows.append([package, f["lang"], "not installed", "", *["" for _ in configs]])
            continue
        rows.append([package, f["lang"], str(f["files"]), str(f["lines"]),
                     *[f"{100 * len(f['flagged'][c]) / max(f['lines'], 1):.2f}" for c in configs]])
    out += table(["package", "lang", "files", "lines", *map(short, configs)], rows)
    if lists_name:
        out += ["", f"Flagged lines: [{lists_name}]({lists_name})."]
    return out + [""]


def method_section() -> list[str]:
    out = ["## How the corpus is made", "",
           "Every built-in word (read from core/src/data/*.cpp, merged as the library merges "
           "them) in lower case, through each family; each variant alone, with each mark of the "
           "punctuation table and in two of its language's sentences (bench/quality/sentences.tsv, "
           "chosen per variant). A variant that equals the plain word is dropped. A phrase is "
           "disguised word by word: substitutions reach every letter, insertions go inside the "
           "words and keep the spaces between them, a mask goes into the longest word. Found: "
           "a hit of any listed word overlaps the disguised word. Every random choice is seeded "
           f"from the word, family and variant (seed `{SEED}`). Hand-written tables are in "
           "bench/quality/; full-width, mathematical and accented letters come from Unicode "
           "character data.", ""]
    out += table(["family", "claimed by", "variants"],
                 [[f.title, ", ".join(lv for lv in LEVELS if f.key in CLAIMS[lv]), f.rule]
                  for f in FAMILIES.values()])
    return out + ["", "Install the data: `sudo bash tools/install-quality-data.sh` (Debian "
                  "packages wamerican-huge, wfrench, wngerman, wspanish, fortunes, fortunes-es, "
                  "fortunes-es-off, fortunes-de). Rerun: `python3 bench/quality.py`; before and "
                  "after a change: `--save before.json`, then `--compare before.json`.", ""]


def render(run: dict, changes: dict | None = None,
           lists_name: str | None = None) -> tuple[str, str]:
    """QUALITY.md and the long lists that go next to it."""
    configs = run["configs"]
    tally = disguise_tally(run)
    invisible = load_tables().invisible_chars()
    out = header(run, changes)
    out += ["", "## Summary for the README", "",
            "Recall: mean over the disguise families of the share of disguised words found "
            "(every language, alone, in sentences and with punctuation). False hits: innocent "
            "dictionary words flagged, hand-made traps flagged, and the share of fortune-cookie "
            "lines flagged (some of those are meant to offend).", "",
            *summary_table(run, summary(run, tally)), ""]
    out += recall_sections(run, tally)
    out += innocent_section(run, lists_name)
    out += trap_section(run)
    out += fortune_section(run, lists_name)
    out += method_section()

    lists = ["# Detection quality: long lists", "",
             "Generated by `bench/quality.py` with [QUALITY.md](QUALITY.md); do not edit.", "",
             "## Dictionary words flagged in substring mode", ""]
    lists += word_sections(run, [c for c in configs if c.endswith("substring")])
    lists += ["## Fortune lines flagged", "",
              "Each line: the file and line number where it stands, its first hit with ten characters "
              "either side, then what was matched in it.", ""]
    for package, f in run["fortunes"].items():
        if not f.get("missing"):
            lists += per_config(
                configs, lambda c: flagged(f, c),
                lambda items: [f"- {show(t, invisible)} → {escape(k)}" for t, k in items.items()],
                f"{package} (of {f['lines']} lines)")
    lists += ["## Disguises missed alone, in the families each level adds to its claim", ""]
    lists += missed_lists(run, invisible)
    return "\n".join(out) + "\n", "\n".join(lists) + "\n"


def new_claims(level: str) -> list[str]:
    """The families a level claims that the level below it does not, in table order."""
    below = CLAIMS[LEVELS[LEVELS.index(level) - 1]] if level != LEVELS[0] else set()
    return [f for f in FAMILIES if f in CLAIMS[level] and f not in below]


def missed_lists(run: dict, invisible) -> list[str]:
    """Variants missed alone, in the families that each level adds to its claim."""
    bits = found_bits(run)
    missed = defaultdict(lambda: defaultdict(lambda: defaultdict(list)))
    for n, lang, word, family, text, template in disguise_items(run):
        if template != ALONE:
            continue
        for config, b in bits.items():
            if family in new_claims(config.split("/")[0]) and not bit(b, n):
                missed[config][family][f"{lang} {word}"].append(show(text, invisible))
    lines = []
    for config in run["configs"]:
        fams = missed[config]
        titles = ", ".join(FAMILIES[f].title for f in new_claims(config.split("/")[0]))
        count = sum(len(v) for f in fams.values() for v in f.values())
        lines += [f"### {short(config)}: {count} (families: {titles})", ""]
        for family, words in fams.items():
            lines += [f"- **{FAMILIES[family].title}**: "
                      + "; ".join(f"{w} {', '.join(vs)}" for w, vs in words.items())]
        lines.append("")
    return lines


# ---------------------------------------------------------------------------------------
# Before and after


def diff_runs(old: dict, new: dict) -> dict:
    """Everything that changed between two runs, per configuration both have."""
    configs = [c for c in new["configs"] if c in old["configs"]]
    ch = {"configs": configs, "summary": (summary(old), summary(new)), "disguise": {},
          "words": {}, "traps": {}, "fortunes": {}, "not_compared": Counter()}

    def keyed(run):
        bits = found_bits(run)
        return {(lang, word, family, text, tpl): {c: bit(b, n) for c, b in bits.items()}
                for n, lang, word, family, text, tpl in disguise_items(run)}

    before, after = keyed(old), keyed(new)
    ch["not_compared"]["disguise items only before"] = len(before.keys() - after.keys())
    ch["not_compared"]["disguise items only after"] = len(after.keys() - before.keys())
    for config in configs:
        gained, lost = [], []
        for key, flags in after.items():
            if key in before and flags[config] != before[key][config]:
                (gained if flags[config] else lost).append(key)
        ch["disguise"][config] = (gained, lost)

    def flip(a: set, b: set):
        return sorted(b - a), sorted(a - b)

    for package, w in new["wordlists"].items():
        o = old["wordlists"].get(package)
        if w.get("missing") or not o or o.get("missing"):
            continue
        if (o["version"], o["tested"]) != (w["version"], w["tested"]):
            ch["not_compared"][f"{package}: {o['version']} ({o['tested']} words) before, "
                               f"{w['version']} ({w['tested']}) after"] += 1
        for config in configs:
            ch["words"][(package, config)] = flip(set(flagged(o, config)), set(flagged(w, config)))
    old_rows = [tuple(r) for r in old["traps"]["rows"]]
    new_rows = [tuple(r) for r in new["traps"]["rows"]]
    for config in configs:
        a = {old_rows[n] for n, _ in old["traps"]["flagged"][config] if old_rows[n] in new_rows}
        b = {new_rows[n] for n, _ in new["traps"]["flagged"][config] if new_rows[n] in old_rows}
        ch["traps"][config] = flip(a, b)
    for package, f in new["fortunes"].items():
        o = old["fortunes"].get(package)
        if f.get("missing") or not o or o.get("missing"):
            continue
        for config in configs:
            # A line is known by where it stands; its quote may move with the first hit.
            a = {t.split(" ", 1)[0]: t for t in flagged(o, config)}
            b = {t.split(" ", 1)[0]: t for t in flagged(f, config)}
            ch["fortunes"][(package, config)] = (sorted(b[k] for k in b.keys() - a.keys()),
                                                 sorted(a[k] for k in a.keys() - b.keys()))
    return ch


def changes_summary(ch: dict) -> list[str]:
    rows = []
    for config in ch["configs"]:
        g, l = ch["disguise"][config]
        words = [v for (p, c), v in ch["words"].items() if c == config]
        forts = [v for (p, c), v in ch["fortunes"].items() if c == config]
        tg, tl = ch["traps"][config]
        rows.append([short(config), f"+{len(g)} / −{len(l)}",
                     f"+{sum(len(a) for a, _ in words)} / −{sum(len(b) for _, b in words)}",
                     f"+{len(tg)} / −{len(tl)}",
                     f"+{sum(len(a) for a, _ in forts)} / −{sum(len(b) for _, b in forts)}"])
    old, new = ch["summary"]
    lines = [f"## Changes against {ch.get('name', 'the saved run')}", "",
             "Disguised items newly found / lost; dictionary words, traps and fortune lines newly "
             "flagged / no longer flagged. Every item is printed on standard output by the run.",
             ""]
    lines += table(["config", "disguises found", "dictionary words", "traps", "fortune lines"],
                   rows)
    lines += ["", "Summary figures, before → after:", ""]
    rows = []
    for config in ch["configs"]:
        a, b = old[config], new[config]
        rows.append([short(config), f"{pct(a['claimed'])} → {pct(b['claimed'])}",
                     f"{pct(a['all'])} → {pct(b['all'])}", f"{a['words'][0]} → {b['words'][0]}",
                     f"{a['traps'][0]} → {b['traps'][0]}",
                     f"{a['fortunes'][0]} → {b['fortunes'][0]}"])
    lines += table(["config", "recall claimed %", "recall all %", "words flagged", "traps flagged",
                    "fortune lines flagged"], rows)
    skipped = [f"{k}: {v}" for k, v in ch["not_compared"].items() if v]
    if skipped:
        lines += ["", "Not compared: " + "; ".join(skipped)]
    return lines


def changes_full(ch: dict, invisible=frozenset()) -> str:
    lines = changes_summary(ch)
    for config in ch["configs"]:
        gained, lost = ch["disguise"][config]
        for label, keys in (("newly found", gained), ("lost", lost)):
            if not keys:
                continue
            lines += ["", f"### Disguises {label}, {short(config)}: {len(keys)}", ""]
            groups = defaultdict(list)
            for lang, word, family, text, tpl in keys:
                shown = show(tpl.replace("{}", text), invisible)
                groups[(family, tpl)].append(f"{lang} {word}: {shown}")
            for (family, tpl), items in sorted(groups.items()):
                title = FAMILIES[family].title if family in FAMILIES else family
                lines.append(f"- **{title}**, "
                             f"{show(tpl)} ({len(items)}): " + "; ".join(items))
    for title, part in (("Dictionary words", ch["words"]), ("Fortune lines", ch["fortunes"])):
        for (package, config), (gained, lost) in part.items():
            for label, items in (("newly flagged", gained), ("no longer flagged", lost)):
                if items:
                    lines += ["", f"### {title} {label}, {package}, {short(config)}: "
                              f"{len(items)}", ""]
                    lines += [f"- {show(t, invisible)}" for t in items]
    for config, (gained, lost) in ch["traps"].items():
        for label, items in (("newly flagged", gained), ("no longer flagged", lost)):
            if items:
                lines += ["", f"### Traps {label}, {short(config)}: {len(items)}", ""]
                lines += [f"- {lang} {kind}: {show(text)}" for lang, kind, text in items]
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------------------


def misses(run: dict, config: str, families=None, langs=None, invisible=frozenset()) -> list[str]:
    """The disguised variants that `config` missed in some context: per family and
    language, each variant once, with how many of its contexts missed it and one of them."""
    if config not in run["disguise"]["found"]:
        raise SystemExit(f"--misses: {config} is not in the run; choose from "
                         + ", ".join(run["disguise"]["found"]))
    bits = found_bits(run)[config]
    missed, total, example = Counter(), Counter(), {}
    for n, lang, word, family, text, template in disguise_items(run):
        if (families and family not in families) or (langs and lang not in langs):
            continue
        key = (family, lang, word, text)
        total[key] += 1
        if not bit(bits, n):
            missed[key] += 1
            example.setdefault(key, template)
    lines = [f"## Missed by {short(config)}: {len(missed)} variants, "
             f"{sum(missed.values())} of {sum(total.values())} items"]
    group = None
    for key in sorted(missed):
        family, lang, word, text = key
        if (family, lang) != group:
            group = (family, lang)
            title = FAMILIES[family].title if family in FAMILIES else family
            lines += ["", f"### {title}, {lang}"]
        lines.append(f"- {missed[key]}/{total[key]} {word}: {show(text, invisible)}"
                     + ("" if missed[key] == total[key] else
                        f" (e.g. {show(example[key].replace('{}', text), invisible)})"))
    return lines


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--out", help="report to write (default bench/QUALITY.md for a full run, "
                   "none for a slice); the long lists go next to it as <name>-lists.md")
    p.add_argument("--save", metavar="FILE.json", help="store the run for a later --compare")
    p.add_argument("--compare", nargs="+", metavar="FILE.json",
                   help="OLD: run now and compare with OLD; OLD NEW: compare two saved runs")
    p.add_argument("--langs", type=lambda s: s.split(","), help="slice: languages, e.g. en,de")
    p.add_argument("--families", type=lambda s: s.split(","), help="slice: disguise families")
    p.add_argument("--words", type=int, help="slice: first N built-in words of each language")
    p.add_argument("--limit", type=int,
                   help="slice: first N entries of each word list and fortune package")
    p.add_argument("--no-wordlists", action="store_true", help="skip the Debian word lists")
    p.add_argument("--no-fortunes", action="store_true", help="skip the fortune cookies")
    p.add_argument("--misses", metavar="LEVEL/MODE",
                   help="print the disguised variants this configuration missed (of --families "
                   "and --langs if given; of the run now, or of NEW with --compare OLD NEW), "
                   "e.g. --misses thorough/word_boundary --families separated --langs es")
    args = p.parse_args(argv)
    for name, allowed in (("langs", LANGS), ("families", FAMILIES)):
        bad = [v for v in getattr(args, name) or [] if v not in allowed]
        if bad:
            p.error(f"--{name}: unknown {', '.join(bad)}; choose from {', '.join(allowed)}")
    if args.compare and len(args.compare) > 2:
        p.error("--compare takes OLD.json, or OLD.json NEW.json")
    args.argv = list(argv)
    return args


def load_run(path: str) -> dict:
    try:
        run = json.loads(Path(path).read_text(encoding="utf-8"))
    except (OSError, ValueError) as e:
        raise SystemExit(f"{path}: cannot read a saved run: {e}")
    if run.get("format") != FORMAT:
        raise SystemExit(f"{path}: saved by another version of this tool "
                         f"(format {run.get('format')})")
    return run


def main(argv=None) -> int:
    argv = sys.argv[1:] if argv is None else argv
    args = parse_args(argv)
    sliced = any([args.langs, args.families, args.words, args.limit, args.no_wordlists,
                  args.no_fortunes])
    if args.compare and len(args.compare) == 2:
        run = load_run(args.compare[1])
        old = load_run(args.compare[0])
    else:
        import tarnwhisk
        old = load_run(args.compare[0]) if args.compare else None
        clock = time.perf_counter()
        run = run_all(args, tarnwhisk)
        print(f"ran in {time.perf_counter() - clock:.1f} s ("
              + ", ".join(f"{k} {v:.1f} s" for k, v in run["timing"].items()) + ")",
              file=sys.stderr)
    changes = None
    if old is not None:
        changes = diff_runs(old, run)
        changes["name"] = Path(args.compare[0]).name
        sys.stdout.write(changes_full(changes, load_tables().invisible_chars()))
    if args.misses:
        print("\n".join(misses(run, args.misses, args.families, args.langs,
                               load_tables().invisible_chars())))
    # A slice, or a comparison of two saved runs, writes no report unless asked to.
    offline = args.compare and len(args.compare) == 2
    out = args.out or (None if sliced or offline else str(ROOT / "bench" / "QUALITY.md"))
    if out:
        out = Path(out)
        lists = out.with_name(out.stem + "-lists.md")
        report, long_lists = render(run, changes, lists.name)
        out.parent.mkdir(parents=True, exist_ok=True)
        out.write_text(report, encoding="utf-8")
        lists.write_text(long_lists, encoding="utf-8")
        print(f"wrote {out} and {lists}", file=sys.stderr)
    elif old is None and not args.misses:
        print("\n".join(summary_table(run, summary(run))))
    if args.save:
        Path(args.save).parent.mkdir(parents=True, exist_ok=True)
        text = json.dumps(run, ensure_ascii=False, separators=(",", ":"))
        Path(args.save).write_text(text + "\n", encoding="utf-8")
        print(f"saved {args.save}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
