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

    python3 bench/python_bench.py [--number 20000] [--repeat 31]
"""

from __future__ import annotations

import argparse
import statistics
import sys
import timeit

import tarnwhisk

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


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--number", type=int, default=20000, help="calls per repetition")
    p.add_argument("--repeat", type=int, default=31, help="repetitions (the median is reported)")
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
    return 0


if __name__ == "__main__":
    sys.exit(main())
