#!/usr/bin/env python3
"""Censor profanity in text read from files or standard input.

Prints the censored text, or with --json one JSON object per hit and line:
category, severity, the source byte span (start/end), the span in the normalised
text (normalized_start/normalized_end) and the matched bytes decoded.

    echo "what the fuck" | python examples/censor.py
    python examples/censor.py --json --languages en,es --level aggressive chat.log
"""
import argparse
import json
import sys

import tarnwhisk


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("files", nargs="*", help="files to read (default: standard input)")
    p.add_argument("--json", action="store_true", help="print one JSON line per hit instead of the text")
    p.add_argument("--languages", help="comma-separated language codes, e.g. en,es")
    p.add_argument("--level", help="normalisation level: none, basic or aggressive")
    p.add_argument("--mode", help="match mode: word_boundary or substring")
    p.add_argument("--style", help="censor style: length_preserving, first_last, full_mask or grawlix")
    p.add_argument("--mask", help="mask character")
    p.add_argument("--add", action="append", default=[], metavar="WORD[:CATEGORY[:SEVERITY]]",
                   help="an extra word to detect (repeatable)")
    p.add_argument("--remove", action="append", default=[], metavar="WORD", help="a word not to detect")
    p.add_argument("--allow", action="append", default=[], metavar="TERM",
                   help="a harmless term that cancels overlapping hits")
    p.add_argument("--without-bundled", action="store_true", help="use only the --add words")
    return p.parse_args(argv)


def build_options(args):
    options = {}
    if args.without_bundled:
        options["without_bundled"] = True
    if args.languages:
        options["languages"] = [code.strip() for code in args.languages.split(",") if code.strip()]
    for key, value in [("normalization", args.level), ("match_mode", args.mode),
                       ("censor_style", args.style), ("mask_char", args.mask)]:
        if value is not None:
            options[key] = value
    if args.add:
        words = []
        for spec in args.add:
            text, _, rest = spec.partition(":")
            category, _, severity = rest.partition(":")
            words.append({"word": text, "category": category or "strong",
                          "severity": int(severity or 2), "strict": False})
        options["add_words"] = words
    if args.remove:
        options["remove_words"] = args.remove
    if args.allow:
        options["allowlist"] = args.allow
    return options


def read_inputs(files):
    if not files:
        yield "<stdin>", sys.stdin.read()
        return
    for name in files:
        with open(name, encoding="utf-8", errors="surrogateescape") as f:
            yield name, f.read()


def main(argv=None):
    args = parse_args(argv)
    try:
        f = tarnwhisk.Tarnwhisk(build_options(args))
    except (ValueError, TypeError, RuntimeError) as e:
        print(f"censor.py: {e}", file=sys.stderr)
        return 2
    for name, text in read_inputs(args.files):
        # Undecodable input bytes come back as lone surrogates; the filter takes UTF-8
        # only, so they are replaced.
        text = text.encode("utf-8", "replace").decode("utf-8") if _has_surrogates(text) else text
        if args.json:
            data = text.encode("utf-8")
            for m in f.find(text):
                print(json.dumps({
                    "file": name,
                    "category": m.category,
                    "severity": m.severity,
                    "start": m.start,
                    "end": m.end,
                    "normalized_start": m.normalized_start,
                    "normalized_end": m.normalized_end,
                    "word_id": m.word_id,
                    "matched": data[m.start:m.end].decode("utf-8"),
                }, ensure_ascii=False))
        else:
            sys.stdout.write(f.censor(text))
    return 0


def _has_surrogates(text):
    try:
        text.encode("utf-8")
        return False
    except UnicodeEncodeError:
        return True


if __name__ == "__main__":
    sys.exit(main())
