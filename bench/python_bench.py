#!/usr/bin/env python3
"""Per-call cost from Python of find, censor and contains_profanity, and how much of it
is spent outside the core.

Setting: the default filter (English list, basic normalisation, word boundary) and one
chat message of exactly 100 ASCII bytes with one hit, plus the same length without a hit.
Each figure is the median over --repeat timeit repetitions of --number calls each,
divided by --number; timeit calls the bound method directly (`find(msg)`), so the
figures include only the call itself and timeit's loop. The statements take turns
within every repetition, so that a change in the machine's load during the run
touches all of them alike and the ratios stay fair.

Time outside the core, measured in the same run:
  fixed   = contains_profanity("") on a filter of one word (argument binding, self
            check, UTF-8 view of the text, the result object, plus the core's own
            small fixed cost for an empty text, so this errs on the high side; on the
            default filter the core's fixed cost grows with its word list and is
            reported separately as contains_profanity('') [default])
  matches = find(msg) - contains_profanity(msg) (both run the same core work, since
            contains_profanity runs the whole of find in the core; they differ only in
            building the list and the Match objects)
  outside(contains_profanity) = fixed
  outside(find)               = fixed + matches
  outside(censor)             = censor("") on the one-word filter
The binding takes the UTF-8 of a short str without copying it (for ASCII text it is the
str's own storage), so no encoding term is added; msg.encode() is shown for scale.
The share reported is outside / total. Targets: find and contains_profanity at most
1 us per call; share outside the core at most 30%.

Then one long document (--doc-mb, default 10; 0 skips it), the comparison's seeded
prose with about one word in 250 profane: find and contains_profanity on it as generated
(a few disguises make it non-ASCII, so the binding encodes it to UTF-8) and on its
ASCII-only form (whose storage the binding reads in place), each beside doc.encode() and,
when pyahocorasick is installed, the comparison's afternoon-made Aho-Corasick find, timed
in turn in the same run (median of --doc-repeat). Target: find at least 500 MB/s.

    python3 bench/python_bench.py [--number 20000] [--repeat 31] [--doc-mb 10] [--doc-repeat 7]
"""

from __future__ import annotations

import argparse
import gc
import statistics
import sys
import time
import timeit
from pathlib import Path

import tarnwhisk

HERE = Path(__file__).resolve().parent

HIT = "hey guys, just got back from the game and honestly that was damn impressive, see you all tmrw ok"
CLEAN = "hey guys, just got back from the game and honestly that was very impressive, see you all tmrw ok"


def per_call(stmts: dict, namespace: dict, number: int, repeat: int) -> dict:
    """Median seconds per call of each statement, the statements timed in turn."""
    timers = {name: timeit.Timer(stmt, globals=namespace) for name, stmt in stmts.items()}
    samples: dict = {name: [] for name in stmts}
    for _ in range(repeat):
        for name, timer in timers.items():
            samples[name].append(timer.timeit(number) / number)
    return {name: statistics.median(values) for name, values in samples.items()}


def document_rates(f, doc_mb: float, repeat: int) -> None:
    """MB/s of find and contains_profanity on one long document, beside baselines timed
    in turn within the same repetitions."""
    sys.path.insert(0, str(HERE))
    import messages as M  # noqa: E402 - the comparison's seeded generator

    doc = M.document(int(doc_mb * 1024 * 1024), seed=M.DEFAULT_SEED + 2, words=M.innocent_words())
    plain = doc.encode("ascii", "ignore").decode("ascii")
    calls = {
        "find(doc)": (f.find, doc),
        "contains_profanity(doc)": (f.contains_profanity, doc),
        "doc.encode()": (str.encode, doc),
        "find(ascii doc)": (f.find, plain),
        "ascii doc.encode()": (str.encode, plain),
    }
    try:
        import compare  # noqa: E402
        aho = compare.AhoBaseline(M.SWEAR_WORDS)
        calls["DIY pyahocorasick find(doc)"] = (aho.find, doc)
    except ImportError as e:
        print(f"note: no pyahocorasick baseline ({e})", file=sys.stderr)
    samples: dict = {name: [] for name in calls}
    for _ in range(repeat):
        for name, (fn, text) in calls.items():
            gc.collect()
            gc.disable()
            t0 = time.perf_counter()
            fn(text)
            samples[name].append(time.perf_counter() - t0)
            gc.enable()
    mb = {name: len(text.encode("utf-8")) / (1024 * 1024) for name, (_, text) in calls.items()}
    print()
    print(f"document of {mb['find(doc)']:.1f} MB ({sum(ord(c) > 127 for c in doc):,} non-ASCII "
          f"characters), median of {repeat}")
    print(f"{'call':36} {'ms':>9} {'MB/s':>9}")
    for name, values in samples.items():
        t = statistics.median(values)
        print(f"{name:36} {t * 1e3:9.1f} {mb[name] / t:9.0f}")


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--number", type=int, default=20000, help="calls per repetition")
    p.add_argument("--repeat", type=int, default=31, help="repetitions (the median is reported)")
    p.add_argument("--doc-mb", type=float, default=10, help="document size in MB (0: skip)")
    p.add_argument("--doc-repeat", type=int, default=7, help="document repetitions")
    args = p.parse_args()

    msg = HIT + "." * (100 - len(HIT))
    clean = CLEAN + "." * (100 - len(CLEAN))
    assert len(msg.encode()) == 100 and len(clean.encode()) == 100
    f = tarnwhisk.Tarnwhisk()
    tiny = tarnwhisk.Tarnwhisk({"without_bundled": True, "add_words": [
        {"word": "damn", "category": "mild", "severity": 1, "strict": False}]})
    ns = {"find": f.find, "censor": f.censor, "cp": f.contains_profanity, "msg": msg,
          "clean": clean, "empty": "", "tiny_cp": tiny.contains_profanity,
          "tiny_censor": tiny.censor}
    if not f.contains_profanity(msg):
        print("note: the default list does not catch 'damn' in this build; the message has no hit",
              file=sys.stderr)

    r = per_call({
        "find(msg)": "find(msg)",
        "censor(msg)": "censor(msg)",
        "contains_profanity(msg)": "cp(msg)",
        "find(clean)": "find(clean)",
        "censor(clean)": "censor(clean)",
        "contains_profanity(clean)": "cp(clean)",
        "contains_profanity('') [default]": "cp(empty)",
        "contains_profanity('') [one word]": "tiny_cp(empty)",
        "censor('') [one word]": "tiny_censor(empty)",
        "msg.encode()": "msg.encode()",
        "''.encode()": "empty.encode()",
        "pass": "pass",
    }, ns, args.number, args.repeat)
    fixed = r["contains_profanity('') [one word]"]

    print(f"python {sys.version.split()[0]}, {args.repeat} x {args.number} calls, median per call")
    print(f"{'call':36} {'ns/call':>9}")
    for name, value in r.items():
        print(f"{name:36} {value * 1e9:9.1f}")
    print()
    print(f"{'method on 100-byte message':32} {'total ns':>9} {'outside ns':>11} {'share':>7} {'target':>8}")
    for label, text in [("hit", "msg"), ("clean", "clean")]:
        total_find = r[f"find({text})"]
        total_cp = r[f"contains_profanity({text})"]
        total_censor = r[f"censor({text})"]
        matches = max(0.0, total_find - total_cp)
        rows = [
            ("find", total_find, fixed + matches, "<=1us"),
            ("contains_profanity", total_cp, fixed, "<=1us"),
            ("censor", total_censor, r["censor('') [one word]"], ""),
        ]
        for name, total, outside, target in rows:
            share = outside / total
            print(f"{name + ' (' + label + ')':32} {total * 1e9:9.1f} {outside * 1e9:11.1f} "
                  f"{share:7.1%} {target:>8}")
    if args.doc_mb > 0:
        document_rates(f, args.doc_mb, args.doc_repeat)
    return 0


if __name__ == "__main__":
    sys.exit(main())
