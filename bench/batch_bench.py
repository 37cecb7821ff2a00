#!/usr/bin/env python3
"""Batch methods against a Python loop, on a list and through Arrow, on one worker and on
every core; two Python threads on long texts against one; how soon a signal's handler
runs during a batch.

Setting: the default filter and --messages chat messages (the comparison's seeded
generator: 20 to 200 bytes, 15% with a swear word, some disguised; --distinct of them,
repeated to the count). Each figure is the median of --repeat runs; the runs of one
table take turns within every repetition, so that a change in the machine's load touches
all of them alike and the ratios of one run stay fair.

  loop             [f.censor(t) for t in texts]
  list, 1 worker   f.censor_batch(texts)
  arrow, 1 worker  f.censor_batch(column)      column = pyarrow.array(texts), made once
  list / arrow, all cores: the same with workers=-1

Targets on 2 cores: one worker >= 1.15 x the loop on a list and >= 1.3 x through Arrow;
all cores >= 1.7 x one worker through Arrow and >= 1.4 x on a list. Two threads calling
find on long texts >= 1.7 x one thread.

    pip install -r bench/requirements-batch.txt
    python3 bench/batch_bench.py [--messages 1000000] [--distinct 200000] [--repeat 5]
                                 [--methods censor,contains_profanity,find] [--long-mb 32]
"""

from __future__ import annotations

import argparse
import gc
import os
import signal
import statistics
import sys
import threading
import time
from pathlib import Path

import tarnwhisk

HERE = Path(__file__).resolve().parent


def timed(fn) -> float:
    gc.collect()
    gc.disable()
    try:
        t0 = time.perf_counter()
        fn()
        return time.perf_counter() - t0
    finally:
        gc.enable()


def medians(runs: dict, repeat: int) -> dict:
    samples: dict = {name: [] for name in runs}
    for _ in range(repeat):
        for name, fn in runs.items():
            samples[name].append(timed(fn))
    return {name: statistics.median(v) for name, v in samples.items()}


def batch_table(f, method: str, texts: list, column, repeat: int) -> dict:
    single = getattr(f, method)
    batch = getattr(f, method + "_batch")
    runs = {
        "loop": lambda: [single(t) for t in texts],
        "list, 1 worker": lambda: batch(texts),
        "list, all cores": lambda: batch(texts, workers=-1),
    }
    if column is not None:
        runs["arrow, 1 worker"] = lambda: batch(column)
        runs["arrow, all cores"] = lambda: batch(column, workers=-1)
    return medians(runs, repeat)


def two_threads(f, text: str, repeat: int) -> tuple[float, float]:
    def serial():
        f.find(text)
        f.find(text)

    def parallel():
        threads = [threading.Thread(target=f.find, args=(text,)) for _ in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    r = medians({"serial": serial, "parallel": parallel}, repeat)
    return r["serial"], r["parallel"]


def signal_latency(call) -> tuple[float, bool]:
    """Seconds from SIGINT (sent by another thread a third into the call) to the
    handler's exception, and whether that came well before the call's normal end."""
    whole = timed(call)
    delay = whole / 3

    class Stop(Exception):
        pass

    def handler(signum, frame):
        raise Stop()

    sent = []

    def send():
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    old = signal.signal(signal.SIGINT, handler)
    try:
        timer = threading.Timer(delay, send)
        timer.start()
        start = time.perf_counter()
        try:
            call()
            while True:
                time.sleep(0.001)
        except Stop:
            caught = time.perf_counter()
            return caught - sent[0], caught - start < 0.8 * whole
    finally:
        signal.signal(signal.SIGINT, old)


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--messages", type=int, default=1_000_000)
    p.add_argument("--distinct", type=int, default=200_000)
    p.add_argument("--repeat", type=int, default=5)
    p.add_argument("--methods", default="censor,contains_profanity,find")
    p.add_argument("--long-mb", type=float, default=32, help="long text for the two-thread run (0: skip)")
    args = p.parse_args()

    sys.path.insert(0, str(HERE))
    import messages as M  # noqa: E402 - the comparison's seeded generator

    distinct = [m.text for m in M.chat_messages(min(args.distinct, args.messages))]
    texts = (distinct * (args.messages // len(distinct) + 1))[: args.messages]
    try:
        import pyarrow as pa
        column = pa.array(texts)
    except ImportError:
        print("note: no pyarrow, no Arrow runs", file=sys.stderr)
        column = None
    f = tarnwhisk.Tarnwhisk()
    mb = sum(len(t.encode()) for t in distinct) * len(texts) / len(distinct) / 1e6
    print(f"python {sys.version.split()[0]}, {len(os.sched_getaffinity(0))} cores, {len(texts):,} messages "
          f"({mb:.0f} MB), median of {args.repeat}")

    targets = {"list, 1 worker": ("loop", 1.15), "arrow, 1 worker": ("loop", 1.3),
               "arrow, all cores": ("arrow, 1 worker", 1.7), "list, all cores": ("list, 1 worker", 1.4)}
    for method in args.methods.split(","):
        r = batch_table(f, method, texts, column, args.repeat)
        print()
        print(f"{method:30} {'s':>8} {'ns/msg':>8} {'x loop':>8}   target")
        for name, t in r.items():
            ref, want = targets.get(name, (None, None))
            target = f"{t and r[ref] / t:.2f} x {ref} (>= {want})" if ref and ref in r else ""
            print(f"{name:30} {t:8.3f} {t / len(texts) * 1e9:8.0f} {r['loop'] / t:8.2f}   {target}")

    if args.long_mb > 0:
        doc = M.document(int(args.long_mb * 1024 * 1024), seed=M.DEFAULT_SEED + 2, words=M.innocent_words())
        doc = doc.encode("ascii", "ignore").decode("ascii")
        serial, parallel = two_threads(f, doc, args.repeat)
        print()
        print(f"find on {args.long_mb:g} MB, twice: one thread {serial:.3f} s, two threads {parallel:.3f} s, "
              f"{serial / parallel:.2f} x (target >= 1.7)")

    print()
    calls = {f"censor_batch of {len(texts):,} messages, workers={w}":
             (lambda w=w: f.censor_batch(texts, workers=w)) for w in (1, -1)}
    if args.long_mb > 0:
        calls[f"find on {args.long_mb:g} MB"] = lambda: f.find(doc)
    for name, call in calls.items():
        runs = [signal_latency(call) for _ in range(3)]
        lat = statistics.median(r[0] for r in runs)
        cut = sum(r[1] for r in runs)
        print(f"SIGINT during {name}: handler's exception after {lat * 1e3:.1f} ms "
              f"({cut} of {len(runs)} calls cut short)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
