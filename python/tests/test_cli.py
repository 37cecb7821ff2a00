# The `tarnwhisk` command, run as a user runs it: `python -m tarnwhisk_cli` and, where
# the package installed it, the `tarnwhisk` script. Its output must be what the filter
# gives on the whole input, however many chunks the input takes; its exit status and
# messages must tell clean, found and failed apart.
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import tarnwhisk

try:
    import tarnwhisk_cli as cli
    ENV = None
except ImportError:
    # A build tree on PYTHONPATH has the extension only: take the command from the sources.
    SOURCE = str(Path(__file__).resolve().parents[1])
    sys.path.insert(0, SOURCE)
    import tarnwhisk_cli as cli
    ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [SOURCE, os.environ.get("PYTHONPATH")])))

SCRIPT = shutil.which("tarnwhisk", path=os.path.dirname(sys.executable))
RUNNERS = [[sys.executable, "-m", "tarnwhisk_cli"]] + ([[SCRIPT]] if SCRIPT else [])
RUNNER_IDS = ["module"] + (["script"] if SCRIPT else [])


def run(args, stdin=b"", runner=None, **kwargs):
    if isinstance(stdin, str):
        stdin = stdin.encode()
    return subprocess.run((runner or RUNNERS[0]) + list(args), input=stdin, capture_output=True, env=ENV, **kwargs)


@pytest.fixture
def files(tmp_path):
    def make(name, content):
        path = tmp_path / name
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        return str(path)
    return make


@pytest.mark.parametrize("runner", RUNNERS, ids=RUNNER_IDS)
def test_help(runner):
    out = run(["--help"], runner=runner)
    assert out.returncode == 0
    text = out.stdout.decode()
    for expected in ["censor", "check", "find", "--words FILE", "--remove FILE", "--allowlist FILE",
                     "--normalization", "--match-mode", "--censor-style", "--mask-char", "--without-bundled",
                     "--languages", "--json", 'lines starting with "#" are skipped', "exit status",
                     "tarnwhisk[progress]"]:
        assert expected in text, expected


@pytest.mark.parametrize("runner", RUNNERS, ids=RUNNER_IDS)
def test_censors_standard_input(runner):
    out = run([], "what the fuck is this shit\n", runner=runner)
    assert (out.returncode, out.stderr) == (0, b"")
    assert out.stdout.decode() == tarnwhisk.Tarnwhisk().censor("what the fuck is this shit\n")
    assert "*" in out.stdout.decode()


# (name, content, exit status of check)
CHECK_CASES = [
    ("clean.txt", "nothing to see\nhere\n", 0),
    ("empty.txt", "", 0),
    ("dirty.txt", "all clean\nbut this shit\n", 1),
    ("wide.txt", "\uff53\uff48\uff49\uff54 \u00e9\n", 1),
    ("bad.txt", b"fine\n\xff\n", 2),
]


@pytest.mark.parametrize("name, content, status", CHECK_CASES, ids=[c[0] for c in CHECK_CASES])
def test_check_exit_status(files, name, content, status):
    path = files(name, content)
    out = run(["check", path])
    assert out.returncode == status, out.stderr
    assert out.stdout.decode() == (path + "\n" if status == 1 else "")


@pytest.mark.parametrize("args, status, message", [
    (["check", "/nonexistent/file.txt"], 2, "/nonexistent/file.txt: No such file or directory"),
    (["check", "."], 2, ".: Is a directory"),
    (["check", "--level", "extreme"], 2, "unknown normalization level: extreme"),
    (["check", "--languages", "xx"], 2, "xx"),
    (["check", "--mask-char", "ab"], 2, "mask"),
    (["check", "--bogus"], 2, "unrecognized arguments: --bogus"),
    (["censor", "--json"], 2, "--json goes with find or check"),
    (["--add", "x:nasty"], 2, "unknown category 'nasty'"),
    (["--add", "x:mild:300"], 2, "severity must be a whole number from 0 to 255"),
    (["--allowlist", "/nonexistent/allow.txt"], 2, "/nonexistent/allow.txt: No such file"),
])
def test_errors_exit_2_with_a_message(args, status, message):
    out = run(args, "shit\n")
    assert out.returncode == status
    assert message in out.stderr.decode(), out.stderr


def test_check_several_inputs(files):
    clean, dirty = files("c.txt", "fine\n"), files("d.txt", "damn\n")
    assert run(["check", clean, clean]).returncode == 0
    out = run(["check", clean, dirty, "-"], "shit")
    assert out.returncode == 1
    assert out.stdout.decode().splitlines() == [dirty, "<stdin>"]
    # An error anywhere wins over a hit: the answer is incomplete.
    out = run(["check", dirty, "/nonexistent"])
    assert out.returncode == 2 and out.stdout.decode() == dirty + "\n"
    out = run(["check", "--json", dirty])
    assert [json.loads(line) for line in out.stdout.decode().splitlines()] == [{"file": dirty}]


def test_find_json_lines(files):
    text = "first line\n\u00e9\u00e9 oh shit\nsecond: FUCK\n"
    path = files("in.txt", text)
    out = run(["find", "--json", path])
    assert out.returncode == 0, out.stderr
    hits = [json.loads(line) for line in out.stdout.decode().splitlines()]
    f = tarnwhisk.Tarnwhisk()
    want = f.find_text(text)
    assert len(hits) == len(want) == 2
    for hit, (start, end, matched, m) in zip(hits, want):
        assert hit["file"] == path
        assert (hit["char_start"], hit["char_end"], hit["matched"]) == (start, end, matched)
        assert (hit["start"], hit["end"], hit["normalized_start"], hit["normalized_end"]) == (
            m.start, m.end, m.normalized_start, m.normalized_end)
        assert (hit["word_id"], hit["word"], hit["category"], hit["severity"]) == (
            m.word_id, f.word(m.word_id), m.category, m.severity)
    assert [(h["line"], h["column"], h["matched"]) for h in hits] == [(2, 7, "shit"), (3, 9, "FUCK")]


def test_find_text_lines(files):
    path = files("in.txt", "ok\n  d\u200ba\u200bm\u200bn it\n")
    out = run(["find", path])
    assert out.returncode == 0
    assert out.stdout.decode() == f"{path}:2:3:\td\\u200ba\\u200bm\\u200bn\tdamn\tmild\t1\n"


def test_word_remove_and_allowlist_files(files):
    words = files("words.txt", "\ufeff# my words\n\ndarn\n  heck\tslur\t3\nfrick\tmild\t1\tstrict\n")
    remove = files("remove.txt", "# not this one\nshit\n")
    allow = files("allow.txt", "\n# harmless\nheck yes\n")
    text = "darn, shit, heck no, heck yes, fricking\n"
    out = run(["find", "--json", "--words", words, "--remove", remove, "--allowlist", allow, "-"], text)
    assert out.returncode == 0, out.stderr
    hits = [json.loads(line) for line in out.stdout.decode().splitlines()]
    assert [(h["matched"], h["category"], h["severity"]) for h in hits] == [
        ("darn", "strong", 2), ("heck", "slur", 3), ("frick", "mild", 1)]
    f = tarnwhisk.Tarnwhisk({
        "add_words": ["darn", {"word": "heck", "category": "slur", "severity": 3, "strict": False},
                      {"word": "frick", "category": "mild", "severity": 1, "strict": True}],
        "remove_words": ["shit"], "allowlist": ["heck yes"]})
    out = run(["--words", words, "--remove", remove, "--allowlist", allow], text)
    assert out.stdout.decode() == f.censor(text)


@pytest.mark.parametrize("content, message", [
    ("ok\nx\tnasty\n", "words.txt:2: unknown category 'nasty'"),
    ("x\tmild\tlots\n", "words.txt:1: the severity must be a whole number from 0 to 255"),
    ("x\tmild\t1\tvery\n", "words.txt:1: the fourth field may only be \"strict\""),
    (b"ok\n\xc3(\n", "words.txt: not UTF-8 at line 2"),
])
def test_bad_word_file(files, content, message):
    out = run(["--words", files("words.txt", content)], "x")
    assert out.returncode == 2
    assert message in out.stderr.decode()
    assert out.stdout == b""


CHUNK = cli.CHUNK_BYTES


@pytest.mark.parametrize("data, line, byte", [
    (b"ok\n\xff", 2, 3),
    (b"a" * (CHUNK - 1) + b"\xc3\xa9\nshit\n\xe2\x82", 3, CHUNK + 7),  # a truncated character at the end
    (b"x\n" * (CHUNK // 2) + b"\xc3\xa9" * 10 + b"\xed\xa0\x80", CHUNK // 2 + 1, CHUNK + 20),  # a surrogate
    (b"a" * (CHUNK - 1) + b"\xc3\x28", 1, CHUNK - 1),  # bad sequence across the chunk boundary
])
@pytest.mark.parametrize("command", ["censor", "check", "find"])
def test_bad_utf8_input_names_line_and_byte(files, command, data, line, byte):
    path = files("in.txt", data)
    out = run([command, path])
    assert out.returncode == 2
    assert f"{path}: not UTF-8 at line {line}, byte {byte}" in out.stderr.decode(), out.stderr


def big_text(lines, seed=7):
    """A text of many chunks: hits, non-ASCII letters and disguises on either side of
    every chunk boundary."""
    import random
    rng = random.Random(seed)
    pieces = ["the", "quick", "caf\u00e9", "\u65e5\u672c", "\U0001f600", "shit", "f u c k", "sh1t", "d4mn",
              "e\u0301", "...", "dddaaammmnnn", "class", "\u200b"]
    return "".join(" ".join(rng.choice(pieces) for _ in range(rng.randint(1, 16))) + "\n" for _ in range(lines))


@pytest.mark.parametrize("options, flags", [
    ({}, []),
    ({"normalization": "thorough", "languages": ["en", "es"]}, ["-n", "thorough", "-l", "en,es"]),
    ({"normalization": "aggressive", "match_mode": "substring", "censor_style": "grawlix"},
     ["--normalization", "aggressive", "--match-mode", "substring", "--censor-style", "grawlix"]),
    ({"censor_style": "first_last", "mask_char": "\u2588", "languages": ["en", "fr"]},
     ["-s", "first_last", "--mask-char", "\u2588", "-l", "en", "-l", "fr"]),
    ({"without_bundled": True, "add_words": ["class"], "allowlist": ["class act"]},
     ["--without-bundled", "--add", "class", "--allow", "class act"]),
], ids=["default", "thorough", "aggressive-substring", "first-last", "own-words"])
def test_input_of_many_chunks_equals_censor_of_the_whole(files, options, flags):
    text = big_text(12000)
    assert len(text.encode()) > 4 * CHUNK
    path = files("big.txt", text)
    f = tarnwhisk.Tarnwhisk(options)
    out = run(flags + [path])
    assert out.returncode == 0, out.stderr
    assert out.stdout.decode() == f.censor(text)
    # The same through a pipe, and the hits with their lines.
    assert run(flags, text).stdout.decode() == f.censor(text)
    found = [json.loads(line) for line in run(["find", "--json"] + flags + [path]).stdout.decode().splitlines()]
    want = f.find_text(text)
    assert [(h["char_start"], h["matched"]) for h in found] == [(s, m) for s, _, m, _ in want]
    for h in found[::50]:
        before = text[:h["char_start"]]
        assert (h["line"], h["column"]) == (before.count("\n") + 1, len(before) - before.rfind("\n"))


def test_several_files_and_standard_input_in_order(files):
    a, b = files("a.txt", "oh shit\n"), files("b.txt", "\u00e9 damn\n")
    out = run([a, "-", b], "fuck\n")
    f = tarnwhisk.Tarnwhisk()
    assert out.stdout.decode() == f.censor("oh shit\n") + f.censor("fuck\n") + f.censor("\u00e9 damn\n")


def test_crlf_and_byte_order_mark_pass_through(files):
    data = "\ufeffoh shit\r\nfine\r\n".encode()
    out = run([files("crlf.txt", data)])
    assert out.stdout == tarnwhisk.Tarnwhisk().censor(data.decode()).encode()
    assert out.stdout.endswith(b"fine\r\n") and out.stdout.startswith("\ufeff".encode())


def test_no_progress_when_stderr_is_not_a_terminal(files):
    out = run([files("big.txt", big_text(3000))])
    assert out.returncode == 0 and out.stderr == b""


def on_a_terminal(args):
    """Runs the command with standard error on a pseudo-terminal of 24 x 100:
    (the completed process, what was drawn on the terminal)."""
    import fcntl
    import struct
    import termios
    leader, follower = os.openpty()
    fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    try:
        proc = subprocess.run([sys.executable, "-c", *args], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=follower, env=ENV)
        os.close(follower)
        drawn = b""
        try:
            while chunk := os.read(leader, 65536):
                drawn += chunk
        except OSError:
            pass  # EIO: the terminal's other side is closed
    finally:
        os.close(leader)
    return proc, drawn


@pytest.mark.skipif(not hasattr(os, "openpty"), reason="needs a pseudo-terminal")
@pytest.mark.parametrize("with_tqdm", [True, False], ids=["tqdm", "plain"])
def test_progress_on_a_terminal(files, with_tqdm):
    if with_tqdm:
        pytest.importorskip("tqdm")
    path = files("big.txt", big_text(3000))
    block = "" if with_tqdm else "sys.modules['tqdm'] = None; "
    code = f"import sys; {block}import tarnwhisk_cli; sys.exit(tarnwhisk_cli.main(sys.argv[1:]))"
    proc, drawn = on_a_terminal([code, path])
    assert proc.returncode == 0
    assert proc.stdout.decode() == tarnwhisk.Tarnwhisk().censor(Path(path).read_text())
    assert b"big.txt" in drawn
    assert b"B/s]" in drawn if with_tqdm else b" MB" in drawn
    assert drawn.endswith(b"\r") or drawn.endswith(b"\033[K")  # the line is cleared at the end
    # --no-progress draws nothing even there.
    proc, drawn = on_a_terminal([code, "--no-progress", path])
    assert proc.returncode == 0 and drawn == b""
