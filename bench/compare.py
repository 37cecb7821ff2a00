#!/usr/bin/env python3
"""Side-by-side speed of tarnwhisk and the profanity filters users weigh it against.

Every filter gets the same seeded inputs (bench/messages.py) through its own API, the
same work (contains_profanity and censor over 10,000 chat messages and over one 10 MB
document) and the same timing loop; the figures are medians of several repetitions and
every ratio is against tarnwhisk measured in the same run. A peer that cannot be imported
or built here is reported as unavailable with the reason instead of stopping the run.
Filters too slow for the whole input within the time budget are timed on a prefix and the
table says so; their rates are per message and per MB, so they extrapolate directly.

    pip install -r bench/requirements-compare.txt
    python3 bench/compare.py            # full run, ~10 minutes, writes bench/RESULTS.md
    python3 bench/compare.py --quick    # smoke run on small inputs, prints only
"""

from __future__ import annotations

import argparse
import collections
import gc
import importlib.metadata
import os
import platform
import statistics
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Optional

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import messages as M  # noqa: E402

MB = 1024 * 1024

# Distribution names whose versions the report lists.
DISTS = ("tarnwhisk", "pyahocorasick", "better-profanity", "glin-profanity",
         "alt-profanity-check", "scikit-learn")


# --------------------------------------------------------------------------- peers

@dataclass
class Peer:
    """One row of the comparison. `contains`/`censor` take one text; `contains_batch`,
    when set, replaces per-text calls for a peer whose API is batch-first."""
    name: str
    dist: str
    contains: Optional[Callable[[str], bool]] = None
    censor: Optional[Callable[[str], str]] = None
    contains_batch: Optional[Callable[[list], list]] = None
    setup: Callable[[], None] = lambda: None  # for peers that keep global state
    note: str = ""
    unavailable: str = ""


def _same_words_entries():
    return [{"word": w, "category": "strong", "severity": 2, "strict": False}
            for w in M.SWEAR_WORDS]


def tarnwhisk_peers() -> list[Peer]:
    try:
        import tarnwhisk
        variants = [
            ("tarnwhisk (defaults: en list, basic)", None),
            ("tarnwhisk, same words, basic",
             {"without_bundled": True, "add_words": _same_words_entries()}),
            ("tarnwhisk, same words, normalization none",
             {"without_bundled": True, "add_words": _same_words_entries(),
              "normalization": "none"}),
        ]
        peers = []
        for name, opts in variants:
            f = tarnwhisk.Tarnwhisk(opts)
            peers.append(Peer(name, "tarnwhisk", f.contains_profanity, f.censor))
        return peers
    except Exception as e:  # noqa: BLE001 - any failure means "not measurable here"
        return [Peer("tarnwhisk (defaults: en list, basic)", "tarnwhisk",
                     unavailable=_reason(e))]


class AhoBaseline:
    """What a developer writes in an afternoon: one Aho-Corasick automaton over the
    lower-cased text, leftmost-longest, whole words only, no other normalisation."""

    def __init__(self, words):
        import ahocorasick
        self.auto = ahocorasick.Automaton()
        for w in words:
            self.auto.add_word(w.lower(), len(w))
        self.auto.make_automaton()

    @staticmethod
    def _lower(text: str) -> str:
        low = text.lower()
        if len(low) != len(text):  # a few letters lower-case to two code points
            low = "".join(c if len(c.lower()) != 1 else c.lower() for c in text)
        return low

    def spans(self, text: str):
        low = self._lower(text)
        n = len(low)
        for end, length in self.auto.iter_long(low):
            start = end - length + 1
            if start > 0 and (low[start - 1].isalnum() or low[start - 1] == "_"):
                continue
            if end + 1 < n and (low[end + 1].isalnum() or low[end + 1] == "_"):
                continue
            yield start, end + 1

    def find(self, text: str) -> list:
        return list(self.spans(text))

    def contains(self, text: str) -> bool:
        return next(self.spans(text), None) is not None

    def censor(self, text: str) -> str:
        parts, last = [], 0
        for s, e in self.spans(text):
            parts.append(text[last:s])
            parts.append("*" * (e - s))
            last = e
        if not parts:
            return text
        parts.append(text[last:])
        return "".join(parts)


def aho_peer() -> Peer:
    name = "DIY pyahocorasick, same words, lower-case only"
    try:
        b = AhoBaseline(M.SWEAR_WORDS)
        return Peer(name, "pyahocorasick", b.contains, b.censor)
    except Exception as e:  # noqa: BLE001
        return Peer(name, "pyahocorasick", unavailable=_reason(e))


def better_profanity_peers() -> list[Peer]:
    try:
        from better_profanity import profanity
    except Exception as e:  # noqa: BLE001
        return [Peer("better_profanity (own list)", "better-profanity",
                     unavailable=_reason(e))]
    # The library keeps one global word set: each row reloads it before it is timed.
    return [
        Peer("better_profanity (own list)", "better-profanity",
             profanity.contains_profanity, profanity.censor,
             setup=lambda: profanity.load_censor_words()),
        Peer("better_profanity, same words", "better-profanity",
             profanity.contains_profanity, profanity.censor,
             setup=lambda: profanity.load_censor_words(list(M.SWEAR_WORDS))),
    ]


def glin_peers() -> list[Peer]:
    try:
        import glin_profanity as g
        peers = []
        for name, extra in (("glin-profanity (own en list)", {}),
                            ("glin-profanity, own list + same words",
                             {"custom_words": list(M.SWEAR_WORDS)})):
            # Result caching off: repetitions over the same texts would time the cache.
            f = g.Filter({"languages": ["english"], "cache_results": False,
                          "replace_with": "*", **extra})
            peers.append(Peer(
                name, "glin-profanity", f.is_profane,
                lambda t, f=f: f.check_profanity(t)["processed_text"] or t,
                note="censor replaces a whole hit with one '*'"))
        return peers
    except Exception as e:  # noqa: BLE001
        return [Peer("glin-profanity (own en list)", "glin-profanity",
                     unavailable=_reason(e))]


def alt_profanity_check_peer() -> Peer:
    name = "alt-profanity-check (trained model)"
    try:
        from profanity_check import predict
        predict(["warm up the model"])
        return Peer(name, "alt-profanity-check",
                    contains_batch=lambda texts: [bool(x) for x in predict(texts)],
                    note="classifies whole texts in one batched call; has no censor")
    except Exception as e:  # noqa: BLE001
        return Peer(name, "alt-profanity-check", unavailable=_reason(e))


def _reason(e: BaseException) -> str:
    text = f"{type(e).__name__}: {e}".splitlines()[0]
    return text[:160]


# --------------------------------------------------------------------------- timing

@dataclass
class Result:
    rate_items: float = 0.0   # messages per second
    rate_mb: float = 0.0      # MB per second
    items: int = 0            # messages timed (1 for the document)
    nbytes: int = 0           # bytes timed
    full: bool = True         # whole input, not a prefix
    error: str = ""


def _timed(fn, inputs) -> float:
    gc.collect()
    was = gc.isenabled()
    gc.disable()
    try:
        t0 = time.perf_counter()
        fn(inputs)
        return time.perf_counter() - t0
    finally:
        if was:
            gc.enable()


def _runner(peer: Peer, task: str):
    """The whole-batch function for `task`, or None when the peer has no such operation."""
    if task == "contains":
        if peer.contains_batch:
            return peer.contains_batch
        one = peer.contains
    else:
        one = peer.censor
    if one is None:
        return None
    return lambda texts: collections.deque(map(one, texts), maxlen=0)


@dataclass
class Workload:
    """Either the chat messages or the document, cut to the size a peer can afford."""
    name: str
    texts: list  # messages, or [document]
    is_doc: bool

    def take(self, nbytes_or_count: int) -> list:
        if self.is_doc:
            return [M.head(self.texts[0], nbytes_or_count)]
        return self.texts[:nbytes_or_count]

    def full_size(self) -> int:
        return len(self.texts[0].encode("utf-8")) if self.is_doc else len(self.texts)

    def min_size(self) -> int:
        return min(self.full_size(), 16 * 1024 if self.is_doc else 10)


def measure(run, work: Workload, reps: int, budget_s: float) -> Result:
    """Grows the input fourfold from a small prefix until one pass takes a quarter of the
    budget (these passes are the warm-up), then times the whole input, or the prefix that
    one repetition can afford within the budget."""
    full = work.full_size()
    size = work.min_size()
    while True:
        t = max(_timed(run, work.take(size)), 1e-6)
        if size >= full or t >= budget_s / 4:
            break
        size = min(full, size * 4)
    if size < full:
        size = min(full, max(size, int(size * budget_s / t)))
    inputs = work.take(size)
    times = [_timed(run, inputs) for _ in range(reps)]
    med = statistics.median(times)
    nbytes = sum(len(t.encode("utf-8")) for t in inputs)
    items = 1 if work.is_doc else len(inputs)
    return Result(items / med, nbytes / MB / med, items, nbytes, size >= full)


def detection(peer: Peer, msgs: list) -> Optional[dict]:
    """(flagged, seen) per label over `msgs`."""
    texts = [m.text for m in msgs]
    if peer.contains_batch:
        flags = peer.contains_batch(texts)
    elif peer.contains:
        flags = [peer.contains(t) for t in texts]
    else:
        return None
    hit = collections.Counter()
    seen = collections.Counter()
    for m, f in zip(msgs, flags):
        key = "clean" if not m.profane else (m.disguise or "plain")
        seen[key] += 1
        hit[key] += bool(f)
    return {k: (hit[k], seen[k]) for k in seen}


# --------------------------------------------------------------------------- extras

def per_call_us(fn, texts, reps) -> float:
    run = lambda ts: collections.deque(map(fn, ts), maxlen=0)  # noqa: E731
    _timed(run, texts)
    return statistics.median(_timed(run, texts) for _ in range(reps)) / len(texts) * 1e6


def extras(reps: int, fixed: list, doc: str) -> list[tuple[str, str, str]]:
    """tarnwhisk's own latency and throughput figures, each beside a baseline from
    this same run. Rows: (what, figure, baseline / target)."""
    rows = []
    floor = per_call_us(len, fixed, reps)
    aho = AhoBaseline(M.SWEAR_WORDS)
    aho_contains = per_call_us(aho.contains, fixed, reps)
    aho_find = per_call_us(aho.find, fixed, reps)
    doc_mb = len(doc.encode("utf-8")) / MB
    aho_doc = statistics.median(_timed(aho.find, doc) for _ in range(reps))
    try:
        import tarnwhisk
        filters = [("defaults", tarnwhisk.Tarnwhisk()),
                   ("same words", tarnwhisk.Tarnwhisk(
                       {"without_bundled": True, "add_words": _same_words_entries()}))]
    except Exception as e:  # noqa: BLE001
        return [("tarnwhisk", "unavailable", _reason(e))]
    size = round(statistics.mean(len(t.encode("utf-8")) for t in fixed))
    for label, f in filters:
        us = per_call_us(f.find, fixed, reps)
        rows.append((f"find per {size}-byte message, {label}", f"{us:.2f} µs",
                     f"target ≤ 1 µs; DIY find {aho_find:.2f} µs; `len()` call {floor:.2f} µs"))
        us = per_call_us(f.contains_profanity, fixed, reps)
        rows.append((f"contains_profanity per {size}-byte message, {label}", f"{us:.2f} µs",
                     f"target ≤ 1 µs; DIY contains {aho_contains:.2f} µs"))
        t = statistics.median(_timed(f.find, doc) for _ in range(reps))
        rows.append((f"find at basic on the {doc_mb:.0f} MB document, {label}",
                     f"{doc_mb / t:.0f} MB/s",
                     f"target ≥ 500 MB/s; DIY find {doc_mb / aho_doc:.0f} MB/s "
                     f"(tarnwhisk {aho_doc / t:.2f}× DIY)"))
    return rows


# --------------------------------------------------------------------------- report

def machine() -> str:
    model = "unknown CPU"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    usable = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else "?"
    return (f"{model}, {os.cpu_count()} cores ({usable} usable), "
            f"{platform.system()} {platform.release()}")


def versions() -> str:
    parts = [f"Python {platform.python_version()}"]
    for d in DISTS:
        try:
            parts.append(f"{d} {importlib.metadata.version(d)}")
        except importlib.metadata.PackageNotFoundError:
            parts.append(f"{d} not installed")
    return ", ".join(parts)


def _fmt_rate(x: float) -> str:
    if x >= 100:
        return f"{x:,.0f}"
    if x >= 1:
        return f"{x:.1f}"
    return f"{x:.3f}"


def _fmt_ratio(x: Optional[float]) -> str:
    if x is None:
        return "—"
    return f"{x:.2f}×" if x >= 0.1 else f"{x:.4f}×"


def render(args, peers, results, det, det_n, msgs_sample, extra_rows, msgs_meta, doc_mb,
           elapsed) -> str:
    out = []
    title = "Comparison with other Python profanity filters"
    out.append(f"# {title}{' (quick smoke run)' if args.quick else ''}\n")
    out.append("Written by `bench/compare.py`; do not edit by hand.\n")
    out.append(f"- Command: `{Path(sys.executable).name} {' '.join(sys.argv)}`")
    out.append(f"- Machine: {machine()}")
    out.append(f"- Versions: {versions()}")
    out.append(f"- Inputs (seed {args.seed}): {msgs_meta}; one document of {doc_mb:.1f} MB "
               f"(lines of prose, about 1 word in 250 profane, 40 % of those disguised)")
    out.append(f"- Each figure is the median of {args.reps} timed repetitions after "
               f"warm-up passes on growing prefixes; the run took {elapsed:.0f} s on a machine "
               f"shared with other work, so expect some noise")
    out.append("- `contains` on the document: both the DIY baseline and tarnwhisk (which "
               "reads a long text piece by piece when there is no allowlist) stop early once "
               "a hit is certain. At normalization none tarnwhisk folds no case, so "
               "capitalised words go unflagged.")
    out.append("- `vs tw` is the peer's speed divided by tarnwhisk's (defaults) on the same "
               "task: below 1 means slower than tarnwhisk. A `†` marks a peer timed on a "
               "prefix of the input (size in the last column); its rates extrapolate "
               "per message and per MB.\n")
    base = {k: v for k, v in results.items() if k[0] == peers[0].name}
    for work in ("messages", "document"):
        label = ("10,000 chat messages" if work == "messages" and not args.quick
                 else "chat messages" if work == "messages" else "the document")
        out.append(f"## {label}\n")
        if work == "messages":
            out.append("| filter | contains msg/s | MB/s | vs tw | censor msg/s | MB/s "
                       "| vs tw | timed on |")
            out.append("|---|---:|---:|---:|---:|---:|---:|---|")
        else:
            out.append("| filter | contains MB/s | vs tw | censor MB/s | vs tw | timed on |")
            out.append("|---|---:|---:|---:|---:|---|")
        for p in peers:
            if p.unavailable:
                cols = 7 if work == "messages" else 5
                out.append(f"| {p.name} | unavailable: {p.unavailable} |" + " |" * (cols - 1))
                continue
            cells, sizes, cut = [], [], False
            for task in ("contains", "censor"):
                r = results.get((p.name, work, task))
                b = base.get((peers[0].name, work, task))
                if r is None:
                    cells += (["n/a"] * (3 if work == "messages" else 2))
                    continue
                if r.error:
                    cells += ([f"failed: {r.error}"] + [""] * (2 if work == "messages" else 1))
                    continue
                ratio = r.rate_mb / b.rate_mb if b and not b.error and b.rate_mb else None
                if work == "messages":
                    cells += [_fmt_rate(r.rate_items), _fmt_rate(r.rate_mb), _fmt_ratio(ratio)]
                else:
                    cells += [_fmt_rate(r.rate_mb), _fmt_ratio(ratio)]
                cut |= not r.full
                sizes.append(f"{r.items:,} msgs" if work == "messages"
                             else f"{r.nbytes / MB:.2f} MB")
            timed_on = " / ".join(dict.fromkeys(sizes)) + (" †" if cut else "")
            name = p.name + (f" ({p.note})" if p.note else "")
            out.append(f"| {name} | " + " | ".join(cells) + f" | {timed_on} |")
        out.append("")

    out.append(f"## What each filter flagged among the first {det_n} messages\n")
    out.append("Share of messages flagged by `contains`, by what the generator put in them "
               "(`clean` should be 0 %, the rest 100 %); the header gives each group's size. "
               "tarnwhisk runs at its default level, basic, which leaves separated letters "
               "to the aggressive level.\n")
    counts = collections.Counter("clean" if not m.profane else (m.disguise or "plain")
                                 for m in msgs_sample)
    kinds = ["clean", "plain"] + list(M.DISGUISES)
    out.append("| filter | " + " | ".join(f"{k} ({counts[k]})" for k in kinds) + " |")
    out.append("|---|" + "---:|" * len(kinds))
    for p in peers:
        d = det.get(p.name)
        if not d:
            continue
        cells = []
        for k in kinds:
            h, n = d.get(k, (0, 0))
            cells.append(f"{100 * h / n:.1f} %" if n else "—")
        out.append(f"| {p.name} | " + " | ".join(cells) + " |")
    out.append("")

    out.append("## tarnwhisk alone: latency and raw scan speed\n")
    out.append("| measurement | figure | baseline in the same run / target |")
    out.append("|---|---:|---|")
    for row in extra_rows:
        out.append("| " + " | ".join(row) + " |")
    out.append("")
    return "\n".join(out)


# --------------------------------------------------------------------------- main

def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true",
                    help="small inputs, two repetitions, tight time budget; prints only")
    ap.add_argument("--reps", type=int, help="timed repetitions per figure (default 5, quick 2)")
    ap.add_argument("--budget", type=float,
                    help="seconds one repetition may take before a peer gets a prefix "
                         "(default 1.5, quick 0.1)")
    ap.add_argument("--seed", type=int, default=M.DEFAULT_SEED)
    ap.add_argument("--out", type=Path,
                    help="report file (default bench/RESULTS.md for a full run, none for --quick)")
    args = ap.parse_args(argv)
    args.reps = args.reps or (2 if args.quick else 5)
    budget = args.budget or (0.1 if args.quick else 1.5)
    out_path = args.out or (None if args.quick else HERE / "RESULTS.md")
    det_n = 100 if args.quick else 500

    started = time.perf_counter()
    n_msgs = 1_000 if args.quick else 10_000
    doc_bytes = (1 if args.quick else 10) * MB
    vocab = M.innocent_words()
    msgs = M.chat_messages(n_msgs, seed=args.seed, words=vocab)
    fixed = M.fixed_messages(2_000 if args.quick else 10_000, 100, seed=args.seed + 1,
                             words=vocab)
    doc = M.document(doc_bytes, seed=args.seed + 2, words=vocab)
    msg_bytes = sum(len(m.text.encode("utf-8")) for m in msgs)
    msgs_meta = (f"{len(msgs):,} chat messages of 20 to 200 bytes ({msg_bytes / MB:.2f} MB; "
                 f"{sum(m.profane for m in msgs):,} profane, "
                 f"{sum(m.disguise is not None for m in msgs):,} of them disguised)")
    works = {"messages": Workload("messages", [m.text for m in msgs], False),
             "document": Workload("document", [doc], True)}

    peers = (tarnwhisk_peers() + [aho_peer()] + better_profanity_peers() + glin_peers()
             + [alt_profanity_check_peer()])
    results: dict = {}
    det: dict = {}
    for p in peers:
        if p.unavailable:
            print(f"{p.name}: unavailable ({p.unavailable})", flush=True)
            continue
        try:
            p.setup()
        except Exception as e:  # noqa: BLE001
            p.unavailable = _reason(e)
            print(f"{p.name}: unavailable ({p.unavailable})", flush=True)
            continue
        for wname, work in works.items():
            for task in ("contains", "censor"):
                run = _runner(p, task)
                if run is None:
                    continue
                try:
                    r = measure(run, work, args.reps, budget)
                except Exception as e:  # noqa: BLE001
                    r = Result(error=_reason(e))
                results[(p.name, wname, task)] = r
                print(f"{p.name:55} {wname:9} {task:8} "
                      f"{r.error or f'{r.rate_items:12,.0f} msg/s {r.rate_mb:10.2f} MB/s'}",
                      flush=True)
        if not any(r.error for k, r in results.items() if k[0] == p.name):
            try:
                det[p.name] = detection(p, msgs[:det_n])
            except Exception as e:  # noqa: BLE001
                print(f"{p.name}: detection pass failed ({_reason(e)})", flush=True)

    extra_rows = extras(args.reps, fixed, doc)
    report = render(args, peers, results, det, det_n, msgs[:det_n], extra_rows, msgs_meta,
                    len(doc.encode("utf-8")) / MB, time.perf_counter() - started)
    print()
    print(report)
    if out_path:
        out_path.write_text(report + "\n", encoding="utf-8")
        print(f"written to {out_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
