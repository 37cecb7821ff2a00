"""Reference and memory leak check of the tarnwhisk module.

Every entry point (constructor with each option, every error path of the options, the
three methods with good and bad arguments, the three batch methods on lists and on Arrow
columns when pyarrow is installed, with good and bad arguments and workers, every Match
getter and repr, the Match and ArrowColumn constructors, ArrowColumn's exports) runs N
times (default 100,000) after a warm-up; the constructions of the
default filter, which cost milliseconds each, run N / 20 times. A leaked reference shows
in three ways, all checked per entry point:

- the reference counts of the objects passed in (texts, option dicts, word lists,
  the filter, the types) must come back exactly;
- the number of objects the interpreter's allocator holds (sys.getallocatedblocks)
  must not grow with N;
- the resident set must not grow by more than a small allowance (the core allocates
  with C++ new, which the interpreter cannot see).

    python tools/refleak.py [N]       (needs the module importable, e.g. PYTHONPATH)

Exits 1 and names the entry point on any leak.
"""

import gc
import os
import sys

import tarnwhisk

N = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
WARMUP = 2_000
PAGE = os.sysconf("SC_PAGE_SIZE")
# Growth allowed independently of N: allocator pools, interned strings, free lists.
BLOCK_SLACK = 200
RSS_SLACK = 2 * 1024 * 1024


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def word(text, category="mild", severity=1, strict=False):
    return {"word": text, "category": category, "severity": severity, "strict": strict}


TEXT = "Oh d4rn, what the H E C K is this darning\u00e9 f\u200bu\u200bc\u200bk \U0001F600 "
WORDS = [word("darn"), word("heck", "slur", 3, True), word("\u00e9t\u00e9", "slang", 255)]
FULL = {
    "without_bundled": True,
    "languages": ["en", "fr"],
    "normalization": "aggressive",
    "match_mode": "substring",
    "censor_style": "first_last",
    "mask_char": "\u2588",
    "add_words": WORDS,
    "remove_words": ["heck"],
    "allowlist": ["darning"],
}
SMALL = {"without_bundled": True, "add_words": WORDS}


class Weird:
    """A value of no accepted type whose str() raises."""

    def __str__(self):
        raise RuntimeError("no str")


BAD_OPTIONS = [
    {"languages": ["EN"]},
    {"languages": ["en", 5]},
    {"languages": "en"},
    {"normalization": "extreme"},
    {"normalization": 1},
    {"match_mode": "regex"},
    {"censor_style": "bleep"},
    {"mask_char": ""},
    {"mask_char": "ab"},
    {"mask_char": 42},
    {"add_words": [word("x", "nasty")]},
    {"add_words": [word("x", severity=300)]},
    {"add_words": [word("x", severity=-1)]},
    {"add_words": [word("x\ud800")]},
    {"add_words": [{"word": "x"}]},
    {"add_words": ["x"]},
    {"add_words": [word(Weird())]},
    {"remove_words": [b"x"]},
    {"allowlist": [None]},
    {"without_bundled": "yes"},
    {"without_bundled": True},
    [],
    "options",
]
# Options that are accepted and build the default filter (the built-in English list),
# which costs milliseconds: these run N // 20 times.
DEFAULT_BUILDS = [None, {}, {"unknown_key": 1}, {1: 2}]


def swallow(call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except Exception:  # every error path is an entry point here
        pass


def entry_points(f, small, hits):
    m = hits[0]
    points = [
        ("Tarnwhisk(small)", lambda: tarnwhisk.Tarnwhisk(SMALL)),
        ("Tarnwhisk(every option)", lambda: tarnwhisk.Tarnwhisk(FULL)),
        ("Tarnwhisk(options=...)", lambda: tarnwhisk.Tarnwhisk(options=SMALL)),
        ("Tarnwhisk({}, {}) TypeError", lambda: swallow(tarnwhisk.Tarnwhisk, {}, {})),
        ("Tarnwhisk(bad=) TypeError", lambda: swallow(tarnwhisk.Tarnwhisk, bad=1)),
        ("find", lambda: f.find(TEXT)),
        ("find(text=)", lambda: f.find(text=TEXT)),
        ("censor", lambda: f.censor(TEXT)),
        ("censor(small)", lambda: small.censor(TEXT)),
        ("contains_profanity", lambda: f.contains_profanity(TEXT)),
        ("contains_profanity(clean)", lambda: f.contains_profanity("clean")),
        ("Match() TypeError", lambda: swallow(tarnwhisk.Match)),
        ("Match.repr", lambda: repr(m)),
        ("Match setattr error", lambda: swallow(setattr, m, "start", 1)),
    ]
    for name in ("word_id", "start", "end", "normalized_start", "normalized_end", "category", "severity"):
        points.append((f"Match.{name}", lambda name=name: getattr(m, name)))
    for meth in ("find", "censor", "contains_profanity"):
        call = getattr(f, meth)
        for label, args, kwargs in [
            ("bytes", (b"x",), {}),
            ("surrogate", ("\ud800",), {}),
            ("no args", (), {}),
            ("two args", ("a", "b"), {}),
            ("bad kwarg", (), {"bad": 1}),
            ("text twice", ("a",), {"text": "b"}),
            ("None", (None,), {}),
        ]:
            points.append((f"{meth}({label}) error", lambda c=call, a=args, k=kwargs: swallow(c, *a, **k)))
    points += batch_entry_points(f)
    points += stream_entry_points(f)
    for k, options in enumerate(BAD_OPTIONS):
        points.append((f"Tarnwhisk(bad options #{k}: {options!r:.40}) error",
                       lambda o=options: swallow(tarnwhisk.Tarnwhisk, o)))
    for options in DEFAULT_BUILDS:
        points.append((f"Tarnwhisk({options!r}) default build", lambda o=options: tarnwhisk.Tarnwhisk(o), 20))
    return points


BATCH = [TEXT, "clean", "", "caf\u00e9 d4rn", "x" * 40]
LONG = TEXT * 1000  # past the size above which a call releases the lock


def arrow_inputs():
    """Arrow columns of every layout, when pyarrow is there to make them."""
    try:
        import pyarrow as pa
    except ImportError:
        return {}
    rows = BATCH + [None]
    return {
        "string": pa.array(rows),
        "large_string sliced": pa.array(rows, type=pa.large_string()).slice(1, 4),
        "string_view": pa.array(rows, type=pa.string_view()),
        "chunked": pa.chunked_array([pa.array(rows), pa.array(rows[:2])]),
    }


ARROW = arrow_inputs()


def batch_entry_points(f):
    points = [("find(long text)", lambda: f.find(LONG), 100),
              ("censor(long text)", lambda: f.censor(LONG), 100)]
    for meth in ("find_batch", "censor_batch", "contains_profanity_batch"):
        call = getattr(f, meth)
        points.append((f"{meth}(list)", lambda c=call: c(BATCH)))
        points.append((f"{meth}(list, workers=2)", lambda c=call: c(BATCH * 50, workers=2), 50))
        points.append((f"{meth}(long texts, workers=-1)", lambda c=call: c([LONG, TEXT], workers=-1), 100))
        for name, column in ARROW.items():
            points.append((f"{meth}({name})", lambda c=call, a=column: c(a)))
        for label, args, kwargs in [
            ("None element", (["a", None],), {}),
            ("bytes element", (["a", b"b"],), {}),
            ("surrogate", (["\ud800"],), {}),
            ("str", ("abc",), {}),
            ("generator", ((t for t in BATCH),), {}),
            ("workers=0", (BATCH,), {"workers": 0}),
            ("workers=1.5", (BATCH,), {"workers": 1.5}),
            ("positional workers", (BATCH, 2), {}),
        ]:
            points.append((f"{meth}({label}) error", lambda c=call, a=args, k=kwargs: swallow(c, *a, **k)))
    if ARROW:
        column = f.censor_batch(ARROW["string"])
        points += [
            ("ArrowColumn.__arrow_c_array__", lambda: column.__arrow_c_array__()),
            ("ArrowColumn.__arrow_c_stream__", lambda: column.__arrow_c_stream__()),
            ("ArrowColumn repr, len", lambda: (repr(column), len(column))),
            ("ArrowColumn() TypeError", lambda: swallow(tarnwhisk.ArrowColumn)),
        ]
    return points


def measure(call, n, watched):
    """Calls `call` n times; returns the watched objects whose reference count changed,
    and the growth of the allocator's blocks and of the resident set."""
    gc.collect()
    refs = [sys.getrefcount(o) for o in watched]
    blocks = sys.getallocatedblocks()
    mem = rss()
    for _ in range(n):
        call()
    gc.collect()
    after = [sys.getrefcount(o) for o in watched]
    changed = [i for i in range(len(watched)) if after[i] != refs[i]]
    return changed, sys.getallocatedblocks() - blocks, rss() - mem


def _streamed(f, chunks, censor=True):
    s = f.stream(censor=censor)
    for chunk in chunks:
        s.feed(chunk)
    return s.finish()


def _fed_after_finish(f):
    s = f.stream()
    s.finish()
    swallow(s.feed, "x")


STREAM_CHUNKS = [TEXT[:7], TEXT[7:30], "", TEXT[30:], "caf\u00e9 d4rn"]


def stream_entry_points(f):
    s = f.stream()
    points = [
        ("stream().feed x5, finish", lambda: _streamed(f, STREAM_CHUNKS)),
        ("stream(censor=False).feed x5, finish", lambda: _streamed(f, STREAM_CHUNKS, censor=False)),
        ("stream().feed(long chunk), finish", lambda: _streamed(f, [LONG]), 100),
        ("stream, unfinished, dropped", lambda: f.stream().feed(TEXT)),
        ("stream.feed after finish ValueError", lambda: _fed_after_finish(f)),
        ("TextStream() TypeError", lambda: swallow(tarnwhisk.TextStream)),
        ("stream(censor='yes') TypeError", lambda: swallow(f.stream, censor="yes")),
        ("stream(True) TypeError", lambda: swallow(f.stream, True)),
        ("word", lambda: f.word(0)),
        ("word(out of range) IndexError", lambda: swallow(f.word, 10**6)),
        ("word('x') TypeError", lambda: swallow(f.word, "x")),
    ]
    for label, args, kwargs in [
        ("bytes", (b"x",), {}),
        ("surrogate", ("\ud800",), {}),
        ("no args", (), {}),
        ("None", (None,), {}),
        ("bad kwarg", (), {"bad": 1}),
    ]:
        points.append((f"stream.feed({label}) error", lambda a=args, k=kwargs: swallow(s.feed, *a, **k)))
    return points


def main():
    f = tarnwhisk.Tarnwhisk(FULL)
    small = tarnwhisk.Tarnwhisk(SMALL)
    hits = f.find(TEXT)
    assert hits, "the check needs a text with hits"
    watched = [TEXT, FULL, SMALL, WORDS, f, small, hits[0], tarnwhisk.Tarnwhisk, tarnwhisk.Match,
               tarnwhisk.ArrowColumn, BATCH, LONG, *BATCH, *ARROW.values(),
               FULL["add_words"][0], FULL["languages"], FULL["mask_char"]] + BAD_OPTIONS + DEFAULT_BUILDS[1:]
    failures = []
    for name, call, *divisor in entry_points(f, small, hits):
        n = N // (divisor[0] if divisor else 1)
        for _ in range(min(WARMUP, n)):
            call()
        changed, grown_blocks, grown_rss = measure(call, n, watched)
        # A leak grows with every call, so it shows again in a second round; growth that
        # does not come back was a cache filling up (an allocator pool, a type cache of a
        # library we were handed objects of), not ours to keep.
        if not changed and (grown_blocks > BLOCK_SLACK or grown_rss > RSS_SLACK):
            changed, grown_blocks, grown_rss = measure(call, n, watched)
        bad = changed or grown_blocks > BLOCK_SLACK or grown_rss > RSS_SLACK
        if bad:
            failures.append(name)
        print(f"{'LEAK' if bad else 'ok  '} {name:60.60} calls={n} blocks{grown_blocks:+d} "
              f"rss{grown_rss / 1024:+.0f}KiB{' refcounts changed: ' + str(changed) if changed else ''}",
              flush=True)
    if failures:
        print(f"{len(failures)} entry points leak: {failures}")
        return 1
    print("no leak in any entry point")
    return 0


if __name__ == "__main__":
    sys.exit(main())
