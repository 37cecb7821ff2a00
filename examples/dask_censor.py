#!/usr/bin/env python3
"""Censor or count profanity over many text files with a Dask bag.

A filter compiles its word lists into an automaton when it is built, and it cannot be
pickled, so what travels to the workers is the options dictionary, never a filter: each
partition builds one filter from the options and reuses it for every line it holds.
One partition is one input file (or --files-per-partition files), so a partition is
also the unit that writes one censored output file.

A partition hands its lines to the filter in blocks of 10,000 with the batch methods
(censor_batch, find_batch): one call per block instead of one per line, and the
interpreter lock is released while the core works, so the threaded scheduler keeps
every core busy. --workers N gives each block N threads of its own (for a few large
partitions on many cores); the default, 1, leaves the parallelism to Dask.

    python examples/dask_censor.py 'logs/*.txt' --count
    python examples/dask_censor.py a.txt b.txt --censor --out censored/ \\
        --normalization aggressive --languages en,es --add-word blorp --allow scunthorpe
    python examples/dask_censor.py big.txt --count --workers -1

Lines are split at "\\n" only and written back byte for byte apart from the masked
words; "\\r\\n" endings survive. --count prints per-file and total hit counts as JSON
(and writes counts.json under --out when given).
"""

from __future__ import annotations

import argparse
import collections
import glob
import json
import os
import sys
from typing import Iterable, Iterator, Optional


def make_filter(options: dict):
    """The one place that builds a filter (tests count the calls)."""
    import tarnwhisk
    return tarnwhisk.Tarnwhisk(options)


BLOCK = 10_000  # lines per batch call: one call's overhead is spread over many lines


def _split_terminator(line: str) -> tuple[str, str]:
    return (line[:-1], "\n") if line.endswith("\n") else (line, "")


def _blocks(items: Iterable[tuple[str, str]]) -> Iterator[tuple[list[str], list[str], list[str]]]:
    """The (line, path) pairs in blocks of at most BLOCK: bodies, line ends, paths."""
    bodies: list[str] = []
    ends: list[str] = []
    paths: list[str] = []
    for line, path in items:
        body, end = _split_terminator(line)
        bodies.append(body)
        ends.append(end)
        paths.append(path)
        if len(bodies) == BLOCK:
            yield bodies, ends, paths
            bodies, ends, paths = [], [], []
    if bodies:
        yield bodies, ends, paths


def censor_partition(items: Iterable[tuple[str, str]], options: dict, out_dir: str,
                     workers: int = 1) -> list:
    """Censors the (line, path) pairs of one partition into out_dir/<file name>, one filter
    for the whole partition. Returns one (name, lines, lines_changed) row per file."""
    f = make_filter(options)
    rows = []
    out = None
    current = None
    try:
        for bodies, ends, paths in _blocks(items):
            masked = f.censor_batch(bodies, workers=workers)
            for body, end, path, m in zip(bodies, ends, paths, masked):
                name = os.path.basename(path)
                if name != current:
                    if out is not None:
                        out.close()
                    out = open(os.path.join(out_dir, name), "w", encoding="utf-8", newline="")
                    current = name
                    rows.append([name, 0, 0])
                out.write(m + end)
                rows[-1][1] += 1
                rows[-1][2] += m != body
    finally:
        if out is not None:
            out.close()
    return [tuple(r) for r in rows]


def count_partition(items: Iterable[tuple[str, str]], options: dict, workers: int = 1) -> list:
    """Counts hits in the (line, path) pairs of one partition, one filter for the whole
    partition. Returns one (name, lines, lines_with_hits, hits, {category: hits}) row
    per file."""
    f = make_filter(options)
    rows: dict[str, list] = {}
    for bodies, _, paths in _blocks(items):
        for hits, path in zip(f.find_batch(bodies, workers=workers), paths):
            name = os.path.basename(path)
            row = rows.setdefault(name, [name, 0, 0, 0, collections.Counter()])
            row[1] += 1
            row[2] += bool(hits)
            row[3] += len(hits)
            row[4].update(m.category for m in hits)
    return [(n, a, b, c, dict(d)) for n, a, b, c, d in rows.values()]


def expand(patterns: Iterable[str]) -> list[str]:
    """Input paths from file names and globs, in order, without duplicates."""
    paths: list[str] = []
    for p in patterns:
        matched = sorted(glob.glob(p)) if glob.has_magic(p) else [p]
        if not matched:
            raise FileNotFoundError(f"no file matches {p!r}")
        paths.extend(matched)
    return list(dict.fromkeys(paths))


def run(paths: list[str], mode: str, options: Optional[dict] = None,
        out_dir: Optional[str] = None, scheduler: str = "threads",
        files_per_partition: int = 1, workers: int = 1) -> dict:
    """Runs the pipeline and returns {"files": {name: summary}, "total": summary}.
    mode "censor" needs out_dir; output files are named after the input files. `workers`
    is the batch methods' threads per call (-1: one per core)."""
    import dask
    import dask.bag as db

    options = dict(options or {})
    names = [os.path.basename(p) for p in paths]
    dupes = sorted(n for n, k in collections.Counter(names).items() if k > 1)
    if dupes:
        raise ValueError(f"input files share a name, outputs would collide: {dupes}")
    make_filter(options)  # fail here, once, on bad options rather than in every task

    lines = db.read_text(paths, linedelimiter="\n", include_path=True,
                         files_per_partition=files_per_partition
                         if files_per_partition > 1 else None)
    if mode == "censor":
        if not out_dir:
            raise ValueError("censor needs an output directory")
        os.makedirs(out_dir, exist_ok=True)
        clobbered = [p for p, n in zip(paths, names)
                     if os.path.realpath(p) == os.path.realpath(os.path.join(out_dir, n))]
        if clobbered:  # the empty placeholders below would wipe the input before it is read
            raise ValueError(f"output would overwrite its input: {clobbered}")
        for n in names:  # empty inputs have no lines, so no partition writes them
            open(os.path.join(out_dir, n), "w").close()
        (rows,) = dask.compute(lines.map_partitions(censor_partition, options, out_dir, workers),
                               scheduler=scheduler)
        files = {n: {"lines": 0, "lines_changed": 0} for n in names}
        for name, nlines, changed in rows:
            files[name] = {"lines": nlines, "lines_changed": changed}
    elif mode == "count":
        (rows,) = dask.compute(lines.map_partitions(count_partition, options, workers),
                               scheduler=scheduler)
        files = {n: {"lines": 0, "lines_with_hits": 0, "hits": 0, "categories": {}}
                 for n in names}
        for name, nlines, with_hits, hits, cats in rows:
            files[name] = {"lines": nlines, "lines_with_hits": with_hits, "hits": hits,
                           "categories": dict(sorted(cats.items()))}
    else:
        raise ValueError(f"unknown mode: {mode}")

    total: dict = {}
    for summary in files.values():
        for k, v in summary.items():
            if isinstance(v, dict):
                acc = total.setdefault(k, {})
                for c, n in v.items():
                    acc[c] = acc.get(c, 0) + n
                total[k] = dict(sorted(acc.items()))
            else:
                total[k] = total.get(k, 0) + v
    return {"files": files, "total": total}


def options_from_args(a: argparse.Namespace) -> dict:
    options: dict = {}
    if a.without_bundled:
        options["without_bundled"] = True
    if a.languages:
        options["languages"] = [c.strip() for c in a.languages.split(",") if c.strip()]
    for key in ("normalization", "match_mode", "censor_style", "mask_char"):
        if getattr(a, key) is not None:
            options[key] = getattr(a, key)
    if a.add_word:
        entries = []
        for spec in a.add_word:
            word, _, rest = spec.partition(":")
            category, _, severity = rest.partition(":")
            entries.append({"word": word, "category": category or "strong",
                            "severity": int(severity or 2), "strict": False})
        options["add_words"] = entries
    if a.remove_word:
        options["remove_words"] = a.remove_word
    if a.allow:
        options["allowlist"] = a.allow
    return options


def parse_args(argv: Optional[list[str]] = None) -> argparse.Namespace:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("inputs", nargs="+", help="input files or globs (quote globs)")
    mode = ap.add_mutually_exclusive_group(required=True)
    mode.add_argument("--count", action="store_const", dest="mode", const="count")
    mode.add_argument("--censor", action="store_const", dest="mode", const="censor")
    ap.add_argument("--out", help="output directory (required with --censor)")
    ap.add_argument("--scheduler", default="threads",
                    choices=("threads", "processes", "sync", "synchronous"))
    ap.add_argument("--files-per-partition", type=int, default=1)
    ap.add_argument("--workers", type=int, default=1,
                    help="threads per batch call (-1: one per core; default 1, Dask's threads suffice)")
    opt = ap.add_argument_group("filter options")
    opt.add_argument("--languages", help="comma-separated codes, e.g. en,es")
    opt.add_argument("--normalization", choices=("none", "basic", "aggressive"))
    opt.add_argument("--match-mode", dest="match_mode", choices=("word_boundary", "substring"))
    opt.add_argument("--censor-style", dest="censor_style",
                     choices=("length_preserving", "first_last", "full_mask", "grawlix"))
    opt.add_argument("--mask-char", dest="mask_char")
    opt.add_argument("--add-word", action="append", metavar="WORD[:CATEGORY[:SEVERITY]]",
                     help="extra word (default category strong, severity 2); repeatable")
    opt.add_argument("--remove-word", action="append", metavar="WORD")
    opt.add_argument("--allow", action="append", metavar="TERM", help="allowlisted term")
    opt.add_argument("--without-bundled", action="store_true",
                     help="load no built-in list (then give --add-word)")
    a = ap.parse_args(argv)
    if a.mode == "censor" and not a.out:
        ap.error("--censor needs --out")
    return a


def main(argv: Optional[list[str]] = None) -> int:
    a = parse_args(argv)
    try:
        result = run(expand(a.inputs), a.mode, options_from_args(a), a.out, a.scheduler,
                     a.files_per_partition, a.workers)
    except (OSError, ValueError, TypeError, RuntimeError) as e:  # bad options or inputs
        print(f"dask_censor: {e}", file=sys.stderr)
        return 2
    text = json.dumps(result, indent=2, ensure_ascii=False)
    if a.mode == "count" and a.out:
        os.makedirs(a.out, exist_ok=True)
        with open(os.path.join(a.out, "counts.json"), "w", encoding="utf-8") as fh:
            fh.write(text + "\n")
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
