"""Seeded inputs for the side-by-side comparison: chat messages and one long document.

Every filter in the comparison must see exactly the same text, and a rerun next month must
see it again, so everything here is drawn from one `random.Random(seed)`. Innocent words come
from Debian's wamerican list; profanity comes from the short list below (the filter under test
has no API that exposes its own words, and the peers must get the same words anyway). A share
of the profane words is disguised the way people disguise them in chat, and each message
carries a label so that the comparison can also say what each filter caught.
"""

from __future__ import annotations

import random
import re
from dataclasses import dataclass
from typing import Optional

DICT_PATH = "/usr/share/dict/american-english"
DEFAULT_SEED = 20240607

# Common English swearing: ordinary profanity, no slurs. The benchmark only needs words that
# every filter is likely to know, with a realistic spread of lengths.
SWEAR_WORDS: tuple[str, ...] = (
    "arse", "arsehole", "ass", "asshole", "bastard", "bellend", "bitch", "bitches",
    "bloody", "bollocks", "bugger", "bullshit", "cock", "crap", "cunt", "damn",
    "dammit", "dick", "dickhead", "douche", "douchebag", "dumbass", "fuck", "fucked",
    "fucker", "fucking", "goddamn", "jackass", "motherfucker", "piss", "pissed", "prick",
    "shit", "shithead", "shitty", "slut", "tits", "tosser", "twat", "wanker", "whore",
)

# Dictionary words that a profanity list may fairly hold although the list above does not
# ('bitching', 'masturbate', slurs): kept out of innocent text, by root or as whole words,
# so that a hit on clean text is a real false positive. Words that are also innocent
# ('chink', 'rimming', 'cum', 'boner') stay: they are where word lists trip.
_VULGAR_ROOTS: tuple[str, ...] = (
    "bitch", "bullshit", "cocksuck", "cunnilingus", "cunt", "dildo", "fag", "fellat", "fuck",
    "horni", "horny", "masturbat", "nigg", "orgasm", "penis", "porn", "pussies", "pussy",
    "scumbag", "shit", "slut", "trollop", "twat", "vagina", "wank", "wetback", "whor",
)
_VULGAR_WORDS = frozenset(("dyke", "gook", "milf", "rape", "retard"))
_SUFFIXES = ("ing", "ers", "ed", "es", "er", "s", "y")

DISGUISES: tuple[str, ...] = ("leet", "lookalike", "zero_width", "stretched", "separated")

_LEET = {"a": "4@", "e": "3", "i": "1!", "o": "0", "s": "5$", "t": "7", "l": "1"}
# Cyrillic and Greek letters that render like Latin ones.
_LOOKALIKE = {
    "a": "\u0430", "c": "\u0441", "e": "\u0435", "i": "\u0456", "k": "\u03ba",
    "o": "\u043e\u03bf", "p": "\u0440", "s": "\u0455", "x": "\u0445", "y": "\u0443",
}
_ZERO_WIDTH = ("\u200b", "\u200c", "\u200d", "\u2060", "\ufeff")
_SEPARATORS = (".", " ", "-", "_", "*")
_PUNCT = (".", ".", "!", "?", "", "...", " lol", " :)")


@dataclass(frozen=True)
class Message:
    text: str
    profane: bool
    disguise: Optional[str]  # one of DISGUISES, or None for plain profanity and clean text


def innocent_words(path: str = DICT_PATH) -> list[str]:
    """Plain lower-case dictionary words of 2 to 12 letters, minus the swear words, their
    inflections (the dictionary has 'damned', 'pricks'...) and other vulgar words, so that
    an innocent message is innocent by construction. Words that merely contain a swear word
    ('assassin', 'cockpit', 'scrapbook') stay: they are the traps a filter must avoid."""
    banned = set(SWEAR_WORDS) | _VULGAR_WORDS
    pattern = re.compile(r"[a-z]{2,12}")
    words = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            w = line.strip()
            if not pattern.fullmatch(w):
                continue
            stems = {w} | {w[: -len(x)] for x in _SUFFIXES if w.endswith(x)}
            if stems & banned or w.startswith(_VULGAR_ROOTS):
                continue
            words.append(w)
    return sorted(set(words))


def disguise(word: str, kind: str, rng: random.Random) -> str:
    """Returns `word` disguised in the manner `kind`; falls back to stretching when the
    word has no letter that the manner can replace."""
    if kind in ("leet", "lookalike"):
        table = _LEET if kind == "leet" else _LOOKALIKE
        spots = [i for i, ch in enumerate(word) if ch in table]
        if not spots:
            return disguise(word, "stretched", rng)
        chars = list(word)
        for i in rng.sample(spots, k=min(len(spots), rng.randint(1, 2))):
            chars[i] = rng.choice(table[chars[i]])
        return "".join(chars)
    if kind == "zero_width":
        zw = rng.choice(_ZERO_WIDTH)
        cut = rng.randint(1, len(word) - 1)
        return word[:cut] + zw + word[cut:]
    if kind == "stretched":
        i = rng.randrange(len(word))
        return word[:i] + word[i] * rng.randint(3, 6) + word[i + 1:]
    if kind == "separated":
        return rng.choice(_SEPARATORS).join(word)
    raise ValueError(f"unknown disguise: {kind}")


def _cased(word: str, rng: random.Random) -> str:
    r = rng.random()
    if r < 0.08:
        return word.upper()
    if r < 0.25:
        return word.capitalize()
    return word


def _profane_token(rng: random.Random, disguised_share: float) -> tuple[str, Optional[str]]:
    word = rng.choice(SWEAR_WORDS)
    if rng.random() < disguised_share:
        kind = rng.choice(DISGUISES)
        return disguise(word, kind, rng), kind
    return _cased(word, rng), None


def _nbytes(s: str) -> int:
    return len(s.encode("utf-8"))


def chat_messages(
    n: int = 10_000,
    seed: int = DEFAULT_SEED,
    min_bytes: int = 20,
    max_bytes: int = 200,
    profane_share: float = 0.15,
    disguised_share: float = 0.4,
    words: Optional[list[str]] = None,
) -> list[Message]:
    """`n` chat messages whose UTF-8 length is uniform in [min_bytes, max_bytes].
    `profane_share` of them carry one swear word, and `disguised_share`
    of those have it disguised."""
    rng = random.Random(seed)
    vocab = words if words is not None else innocent_words()
    short = [w for w in vocab if len(w) <= 3]
    out = []
    for _ in range(n):
        target = rng.randint(min_bytes, max_bytes)
        profane = rng.random() < profane_share
        tokens: list[str] = []
        kind: Optional[str] = None
        if profane:
            tok, kind = _profane_token(rng, disguised_share)
            tokens.append(tok)
        budget = target - sum(_nbytes(t) + 1 for t in tokens)
        misses = 0
        while misses < 4:
            w = rng.choice(vocab)
            if _nbytes(w) + 1 > budget:
                misses += 1
                continue
            tokens.append(w)
            budget -= _nbytes(w) + 1
        if profane and len(tokens) > 1:
            # Move the swear word to a random position (it was added first so that it fits).
            tok = tokens.pop(0)
            tokens.insert(rng.randrange(len(tokens) + 1), tok)
        text = " ".join(tokens)
        if tokens and not profane:
            text = _cased(tokens[0], rng) + text[len(tokens[0]):]
        while _nbytes(text) < min_bytes:
            text += " " + rng.choice(short)
        while _nbytes(text) > max_bytes:  # a short-word pad overshot: trim clean letters
            text = text[:-1]
        p = rng.choice(_PUNCT)
        if _nbytes(text + p) <= max_bytes:
            text += p
        out.append(Message(text, profane, kind))
    return out


def fixed_messages(n: int = 10_000, size: int = 100, seed: int = DEFAULT_SEED + 1,
                   words: Optional[list[str]] = None) -> list[str]:
    """`n` messages of exactly `size` bytes each (same mix as chat_messages), for
    per-call latency figures."""
    msgs = chat_messages(n, seed, min_bytes=size, max_bytes=size, words=words)
    return [m.text.encode("utf-8").ljust(size, b".")[:size].decode("utf-8", "ignore")
            for m in msgs]


def document(
    size_bytes: int = 10 * 1024 * 1024,
    seed: int = DEFAULT_SEED + 2,
    profane_per_word: float = 0.004,
    disguised_share: float = 0.4,
    words: Optional[list[str]] = None,
) -> str:
    """One document of at least `size_bytes` UTF-8 bytes (cut at a line end just past
    it): paragraphs of sentences, with about one word in 250 profane."""
    rng = random.Random(seed)
    vocab = words if words is not None else innocent_words()
    lines: list[str] = []
    total = 0
    while total < size_bytes:
        sentences = []
        for _ in range(rng.randint(2, 8)):
            toks = []
            for _ in range(rng.randint(4, 22)):
                if rng.random() < profane_per_word:
                    toks.append(_profane_token(rng, disguised_share)[0])
                else:
                    toks.append(rng.choice(vocab))
            toks[0] = toks[0].capitalize()
            sentences.append(" ".join(toks) + rng.choice(".....?!"))
        line = " ".join(sentences) + "\n"
        lines.append(line)
        total += _nbytes(line)
    return "".join(lines)


def head(text: str, nbytes: int) -> str:
    """The prefix of `text` that ends at the last line end at or before `nbytes` bytes
    (for slow filters that get a smaller document)."""
    raw = text.encode("utf-8")
    if nbytes >= len(raw):
        return text
    cut = raw.rfind(b"\n", 0, nbytes)
    return raw[: cut + 1 if cut > 0 else nbytes].decode("utf-8", "ignore")
