#!/usr/bin/env python3
"""Per-call cost from Python of find, censor and contains_profanity, and how much of it
is spent outside the core.

Setting: the default filter (English list, basic normalisation, word boundary) and one
chat message of exactly 100 ASCII bytes with one hit, plus the same length without a hit.
Each figure is the median over --repeat timeit repetitions of --number calls each,
divided by --number; timeit calls the bound method directly (`find(msg)`, names
resolved once), so the figures include only the call itself and timeit's loop.

Time outside the core, measured in the same run:
  fixed   = contains_profanity("")  (argument binding, self check, UTF-8 conversion,
            the result object; the core has nothing to do on an empty text)
  utf8    = msg.encode() - "".encode() (the interpreter's UTF-8 copy of the 100 bytes,
            which the binding asks for as well)
  matches = find(msg) - contains_profanity(msg) (both run the same core work, since
            contains_profanity runs the whole of find in the core; they differ only in
            building the list and the Match objects)
  outside(contains_profanity) = fixed + utf8
  outside(find)               = fixed + utf8 + matches
  outside(censor)             = censor("") + utf8
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


def per_call(stmt: str, namespace: dict, number: int, repeat: int) -> float:
    times = timeit.repeat(stmt, globals=namespace, number=number, repeat=repeat)
    return statistics.median(times) / number


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--number", type=int, default=20000, help="calls per repetition")
    p.add_argument("--repeat", type=int, default=31, help="repetitions (the median is reported)")
    args = p.parse_args()

    msg = HIT + "." * (100 - len(HIT))
    clean = CLEAN + "." * (100 - len(CLEAN))
    assert len(msg.encode()) == 100 and len(clean.encode()) == 100
    f = tarnwhisk.Tarnwhisk()
    ns = {"find": f.find, "censor": f.censor, "cp": f.contains_profanity, "msg": msg,
          "clean": clean, "empty": ""}
    if not f.contains_profanity(msg):
        print("note: the default list does not catch 'damn' in this build; the message has no hit",
              file=sys.stderr)

    def t(stmt: str) -> float:
        return per_call(stmt, ns, args.number, args.repeat)

    r = {
        "find(msg)": t("find(msg)"),
        "censor(msg)": t("censor(msg)"),
        "contains_profanity(msg)": t("cp(msg)"),
        "find(clean)": t("find(clean)"),
        "censor(clean)": t("censor(clean)"),
        "contains_profanity(clean)": t("cp(clean)"),
        "contains_profanity('')": t("cp(empty)"),
        "censor('')": t("censor(empty)"),
        "msg.encode()": t("msg.encode()"),
        "''.encode()": t("empty.encode()"),
        "pass": t("pass"),
    }
    utf8 = max(0.0, r["msg.encode()"] - r["''.encode()"])
    fixed = r["contains_profanity('')"]

    print(f"python {sys.version.split()[0]}, {args.repeat} x {args.number} calls, median per call")
    print(f"{'call':32} {'ns/call':>9}")
    for name, value in r.items():
        print(f"{name:32} {value * 1e9:9.1f}")
    print()
    print(f"{'method on 100-byte message':32} {'total ns':>9} {'outside ns':>11} {'share':>7} {'target':>8}")
    for label, text in [("hit", "msg"), ("clean", "clean")]:
        total_find = r[f"find({text})"]
        total_cp = r[f"contains_profanity({text})"]
        total_censor = r[f"censor({text})"]
        matches = max(0.0, total_find - total_cp)
        rows = [
            ("find", total_find, fixed + utf8 + matches, "<=1us"),
            ("contains_profanity", total_cp, fixed + utf8, "<=1us"),
            ("censor", total_censor, r["censor('')"] + utf8, ""),
        ]
        for name, total, outside, target in rows:
            share = outside / total
            print(f"{name + ' (' + label + ')':32} {total * 1e9:9.1f} {outside * 1e9:11.1f} "
                  f"{share:7.1%} {target:>8}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
