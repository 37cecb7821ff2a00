"""The `tarnwhisk` command: masks, checks for or lists profanity in files or standard input.

Input is read in chunks of 64 KiB through a stream of the filter, so a file of any size
takes constant memory and a pipe is filtered as it flows. Also runs as
`python -m tarnwhisk_cli`.
"""

import argparse
import codecs
import collections
import json
import os
import sys
import time

import tarnwhisk

CHUNK_BYTES = 64 * 1024
COMMANDS = ("censor", "check", "find")
CATEGORIES = ("mild", "strong", "sexual", "slur", "slang")
# One encoder for every JSON line: json.dumps with options makes a new one per call.
to_json = json.JSONEncoder(ensure_ascii=False).encode

DESCRIPTION = """\
Find and mask profane words, disguised ones too, in UTF-8 text.

commands (the first argument; censor when none is given):
  censor   write the text with every hit masked to standard output
  check    name each input that holds a hit; exit status 1 when any does, 0 when none
  find     one line per hit: FILE:LINE:COLUMN, then the matched text, the listed
           word, its category and severity, separated by tabs (control characters
           of the matched text written as escapes); --json for JSON Lines

A FILE of "-", or none at all, is standard input. To censor a file named like a
command, name the command first: tarnwhisk censor check."""

EPILOG = """\
word files (--words, --remove, --allowlist): UTF-8, one entry per line, trimmed;
blank lines and lines starting with "#" are skipped. A line of --words may add
fields after tabs: WORD<TAB>CATEGORY<TAB>SEVERITY<TAB>strict (defaults: strong,
2, not strict).

--json (find): one object per hit with file, line, column (1-based, in characters),
start and end (byte offsets in the input, as Match gives them), char_start and
char_end (character offsets), matched, word, word_id, category, severity,
normalized_start and normalized_end. With check: one object per input with a hit,
{"file": ...}.

exit status: 0 done (check: nothing found), 1 check found something, 2 error (bad
option or word file, unreadable input, input that is not UTF-8: the message names
the file, line and byte).

A progress bar is drawn on standard error when it is a terminal (with tqdm if it
is installed: pip install "tarnwhisk[progress]"); --no-progress turns it off."""


class CommandError(Exception):
    """A failure that ends the command with status 2 and this message."""


# ---- Options -------------------------------------------------------------------------


def parser():
    p = argparse.ArgumentParser(
        prog="tarnwhisk", usage="tarnwhisk [censor|check|find] [options] [FILE ...]",
        description=DESCRIPTION, epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("files", nargs="*", metavar="FILE", help="inputs (default: standard input)")
    p.add_argument("-l", "--languages", action="append", metavar="LANG[,LANG...]",
                   help="built-in word lists: en, es, hi, fr, de (default: en); repeatable")
    p.add_argument("-n", "--normalization", "--level", metavar="LEVEL",
                   help="none, basic (default), aggressive or thorough")
    p.add_argument("-m", "--match-mode", "--mode", metavar="MODE",
                   help="word_boundary (default) or substring")
    p.add_argument("-s", "--censor-style", "--style", metavar="STYLE",
                   help="length_preserving (default), first_last, full_mask or grawlix")
    p.add_argument("--mask-char", "--mask", metavar="CHAR", help='the masking character (default "*")')
    p.add_argument("--without-bundled", action="store_true",
                   help="load no built-in list: only the words of --words and --add")
    p.add_argument("--words", action="append", default=[], metavar="FILE", help="extra words, from a file")
    p.add_argument("--add", action="append", default=[], metavar="WORD[:CATEGORY[:SEVERITY]]",
                   help="an extra word on the command line; repeatable")
    p.add_argument("--remove", action="append", default=[], metavar="FILE",
                   help="words not to look for (built-in or added), from a file")
    p.add_argument("--allowlist", action="append", default=[], metavar="FILE",
                   help="harmless terms that cancel the hits they overlap, from a file")
    p.add_argument("--allow", action="append", default=[], metavar="TERM",
                   help="a harmless term on the command line; repeatable")
    p.add_argument("--json", action="store_true", help="JSON Lines output (find, check)")
    p.add_argument("--no-progress", action="store_true", help="no progress bar, even on a terminal")
    p.add_argument("-V", "--version", action="version", version=f"tarnwhisk {tarnwhisk.__version__}")
    return p


def read_list(path):
    """(line number, text) of the entries of a word file."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise CommandError(f"{path}: {e.strerror or e}") from None
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        line = data[:e.start].count(b"\n") + 1
        raise CommandError(f"{path}: not UTF-8 at line {line} (byte {e.start})") from None
    return [(n, s) for n, s in enumerate((s.strip() for s in text.splitlines()), 1)
            if s and not s.startswith("#")]


def word_entry(fields, where):
    """An add_words entry from WORD[, CATEGORY[, SEVERITY[, "strict"]]]."""
    word, category, severity, strict = (list(fields) + [None] * 4)[:4]
    category = category or "strong"
    if category not in CATEGORIES:
        raise CommandError(f"{where}: unknown category {category!r} (one of {', '.join(CATEGORIES)})")
    try:
        severity = 2 if severity in (None, "") else int(severity)
    except ValueError:
        severity = -1
    if not 0 <= severity <= 255:
        raise CommandError(f"{where}: the severity must be a whole number from 0 to 255")
    if strict not in (None, "", "strict"):
        raise CommandError(f"{where}: the fourth field may only be \"strict\", not {strict!r}")
    return {"word": word, "category": category, "severity": severity, "strict": strict == "strict"}


def build_options(args, *, for_lines=False):
    options = {}
    if args.without_bundled:
        options["without_bundled"] = True
    if args.languages:
        options["languages"] = [code.strip() for spec in args.languages for code in spec.split(",")
                                if code.strip()]
    for key, value in [("normalization", args.normalization), ("match_mode", args.match_mode),
                       ("censor_style", args.censor_style), ("mask_char", args.mask_char)]:
        if value is not None:
            options[key] = value
    if for_lines:
        # Hits only; a mask of one "*" per character lets the censored text count how
        # far the input is settled (see Lines).
        options["censor_style"] = "length_preserving"
        options["mask_char"] = "*"
    words = []
    for path in args.words:
        words += [word_entry(line.split("\t"), f"{path}:{n}") for n, line in read_list(path)]
    for spec in args.add:
        text, _, rest = spec.partition(":")
        category, _, severity = rest.partition(":")
        words.append(word_entry([text, category, severity], f"--add {spec}"))
    if words:
        options["add_words"] = words
    removed = [s for path in args.remove for _, s in read_list(path)]
    if removed:
        options["remove_words"] = removed
    allowed = [s for path in args.allowlist for _, s in read_list(path)] + args.allow
    if allowed:
        options["allowlist"] = allowed
    return options


def make_filter(options):
    try:
        return tarnwhisk.Tarnwhisk(options)
    except (ValueError, TypeError, OverflowError, RuntimeError, UnicodeError) as e:
        raise CommandError(str(e)) from None


# ---- Input -----------------------------------------------------------------------------


class Progress:
    """Bytes read of one input, drawn on standard error: tqdm's bar when tqdm is
    installed, otherwise a line rewritten at most four times a second."""

    def __init__(self, name, total, enabled):
        self.bar = None
        self.enabled = enabled
        self.name, self.total, self.done, self.drawn = name, total, 0, 0.0
        if not enabled:
            return
        try:
            from tqdm import tqdm
        except ImportError:
            return
        self.bar = tqdm(total=total or None, desc=name, unit="B", unit_scale=True, unit_divisor=1024,
                        leave=False, file=sys.stderr)

    def update(self, n):
        if not self.enabled:
            return
        self.done += n
        if self.bar is not None:
            self.bar.update(n)
            return
        now = time.monotonic()
        if now - self.drawn >= 0.25:
            self.drawn = now
            of = f" of {self.total / 1e6:.1f} MB ({100 * self.done // max(self.total, 1)} %)" if self.total else ""
            sys.stderr.write(f"\r{self.name}: {self.done / 1e6:.1f} MB{of} ")
            sys.stderr.flush()

    def close(self):
        if self.bar is not None:
            self.bar.close()
        elif self.enabled and self.drawn:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()


def chunks(name, raw, progress):
    """The text of the binary file `raw` in pieces of about CHUNK_BYTES, decoded as
    strict UTF-8: CommandError naming the line and byte of the first bad sequence."""
    decoder = codecs.getincrementaldecoder("utf-8")("strict")
    read = getattr(raw, "read1", raw.read)  # read1: what a pipe has, without waiting for more
    offset = 0
    lines = 0
    while True:
        data = read(CHUNK_BYTES)
        pending = decoder.getstate()[0]
        try:
            text = decoder.decode(data, not data)
        except UnicodeDecodeError as e:
            seen = pending + data
            line = lines + seen[:e.start].count(b"\n") + 1  # pending holds no newline
            at = offset - len(pending) + e.start
            raise CommandError(f"{name}: not UTF-8 at line {line}, byte {at} ({e.reason})") from None
        progress.update(len(data))
        offset += len(data)
        lines += data.count(b"\n")
        if text:
            yield text
        if not data:
            return


def open_input(name):
    if name == "-":
        return "<stdin>", sys.stdin.buffer, False
    try:
        f = open(name, "rb")
    except OSError as e:
        raise CommandError(f"{name}: {e.strerror or e}") from None
    return name, f, True


class Lines:
    """Line and column of character offsets that come in increasing order, from the
    newlines of the text seen so far. Newlines before the offset where the next hit
    may start are forgotten, so memory follows the stream's, not the input's."""

    def __init__(self):
        self.newlines = collections.deque()
        self.line, self.line_start, self.seen = 1, 0, 0

    def add(self, text):
        i = text.find("\n")
        while i >= 0:
            self.newlines.append(self.seen + i)
            i = text.find("\n", i + 1)
        self.seen += len(text)

    def locate(self, index):
        while self.newlines and self.newlines[0] < index:
            self.line_start = self.newlines.popleft() + 1
            self.line += 1
        return self.line, index - self.line_start + 1


def escape(text):
    if text.isprintable():
        return text
    return "".join(c if c.isprintable() or c == " " else c.encode("unicode_escape").decode("ascii")
                   for c in text)


# ---- Commands --------------------------------------------------------------------------


def run(command, args, out):
    if args.json and command == "censor":
        raise CommandError("--json goes with find or check")
    f = make_filter(build_options(args, for_lines=command == "find"))
    show_progress = not args.no_progress and sys.stderr.isatty()
    found_any = False
    failed = False
    for given in args.files or ["-"]:
        try:
            name, raw, close = open_input(given)
        except CommandError as e:
            report(e)
            failed = True
            continue
        total = 0
        if close:
            try:
                total = os.fstat(raw.fileno()).st_size
            except OSError:
                total = 0
        progress = Progress(os.path.basename(name), total, show_progress)
        try:
            if command == "censor":
                censor(f, name, raw, progress, out)
            elif command == "check":
                if check(f, name, raw, progress):
                    found_any = True
                    write_line(out, to_json({"file": name}) if args.json else name)
            else:
                found_any |= find(f, name, raw, progress, out, args.json)
        except CommandError as e:
            report(e)
            failed = True
        except OSError as e:
            if isinstance(e, BrokenPipeError):
                raise
            report(CommandError(f"{name}: {e.strerror or e}"))
            failed = True
        finally:
            progress.close()
            if close:
                raw.close()
    if failed:
        return 2
    return 1 if command == "check" and found_any else 0


def censor(f, name, raw, progress, out):
    s = f.stream()
    for text in chunks(name, raw, progress):
        piece, _ = s.feed(text)
        out.write(piece.encode("utf-8"))
        out.flush()
    out.write(s.finish()[0].encode("utf-8"))
    out.flush()


def check(f, name, raw, progress):
    s = f.stream(censor=False)
    for text in chunks(name, raw, progress):
        if s.feed(text)[1]:
            return True  # the answer is known: the rest need not be read
    return bool(s.finish()[1])


def find(f, name, raw, progress, out, as_json):
    s = f.stream()
    lines = Lines()
    settled = 0
    any_hit = False
    words = {}  # word_id -> word, as printed

    def emit(result):
        nonlocal settled, any_hit
        censored, hits = result
        printed = []
        for start, end, matched, m in hits:
            any_hit = True
            line, column = lines.locate(start)
            word = words.get(m.word_id)
            if word is None:
                word = words[m.word_id] = f.word(m.word_id)
            if as_json:
                printed.append(to_json({
                    "file": name, "line": line, "column": column, "start": m.start, "end": m.end,
                    "char_start": start, "char_end": end, "matched": matched, "word": word,
                    "word_id": m.word_id, "category": m.category, "severity": m.severity,
                    "normalized_start": m.normalized_start, "normalized_end": m.normalized_end,
                }))
            else:
                printed.append(f"{name}:{line}:{column}:\t{escape(matched)}\t{escape(word)}\t"
                               f"{m.category}\t{m.severity}")
        if printed:
            printed.append("")
            out.write("\n".join(printed).encode("utf-8"))  # one write for the lines of a chunk
        # One mask character per character: the censored text so far ends where the
        # next hit may start, so the newlines before it are no longer needed.
        settled += len(censored)
        lines.locate(settled)

    for text in chunks(name, raw, progress):
        lines.add(text)
        emit(s.feed(text))
        out.flush()
    emit(s.finish())
    out.flush()
    return any_hit


def write_line(out, line):
    out.write(line.encode("utf-8") + b"\n")


def report(error):
    sys.stderr.write(f"tarnwhisk: {error}\n")
    sys.stderr.flush()


def main(argv=None):
    """Runs the command line `argv` (default: sys.argv[1:]); returns the exit status."""
    argv = list(sys.argv[1:] if argv is None else argv)
    command = "censor"
    if argv and argv[0] in COMMANDS:
        command = argv.pop(0)
    args = parser().parse_args(argv)  # exits with status 2 and a message on a bad option
    out = sys.stdout.buffer
    try:
        return run(command, args, out)
    except CommandError as e:
        report(e)
        return 2
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader went away (tarnwhisk ... | head): stop quietly, as other filters do.
        try:
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, sys.stdout.fileno())
        except OSError:
            pass
        return 141


if __name__ == "__main__":
    sys.exit(main())
