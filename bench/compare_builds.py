#!/usr/bin/env python3
"""Two builds' C++ benchmarks against each other, their runs interleaved.

Runs filter_bench, normalize_bench and matcher_bench of an old and a new build directory
in turns, --rounds times (the order of old and new alternating from round to round, so
that a change in the machine's load touches both alike), and prints for every benchmark
both have the ratio new / old of the median CPU time, slowest last.

    python3 bench/compare_builds.py OLD_BUILD/bench NEW_BUILD/bench [--rounds 5] [--min-time 0.2]

(build the old tree with e.g. `git worktree add /tmp/old REV` and
`cmake -S /tmp/old -B /tmp/old/build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWHISK_BUILD_BENCH=ON`.)
"""

from __future__ import annotations

import argparse
import collections
import json
import statistics
import subprocess

BENCHES = ("filter_bench", "normalize_bench", "matcher_bench")


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("old")
    p.add_argument("new")
    p.add_argument("--rounds", type=int, default=5)
    p.add_argument("--min-time", default="0.2", help="seconds per benchmark and run")
    # The literal allowlist is a slow baseline of its own, not a figure of either build.
    p.add_argument("--filter", default="-(AllowlistLiteral)")
    args = p.parse_args()
    times: dict[tuple[str, str], dict[str, list[float]]] = collections.defaultdict(lambda: {"old": [], "new": []})
    for r in range(args.rounds):
        sides = [("old", args.old), ("new", args.new)]
        for bench in BENCHES:
            for side, directory in sides if r % 2 == 0 else sides[::-1]:
                out = subprocess.run([f"{directory}/{bench}", "--benchmark_format=json",
                                      f"--benchmark_min_time={args.min_time}", f"--benchmark_filter={args.filter}"],
                                     capture_output=True, text=True, check=True).stdout
                for b in json.loads(out)["benchmarks"]:
                    times[(bench, b["name"])][side].append(b["cpu_time"])
    rows = sorted((statistics.median(t["new"]) / statistics.median(t["old"]), bench, name)
                  for (bench, name), t in times.items() if t["old"] and t["new"])
    print(f"new / old, median CPU time of {args.rounds} interleaved runs")
    for ratio, bench, name in rows:
        print(f"{ratio:6.3f}  {bench:16} {name}")


if __name__ == "__main__":
    main()
