# The example command line program: censored text by default, one JSON line per hit
# with --json, and a clean refusal of bad options.
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

SCRIPT = Path(__file__).resolve().parents[2] / "examples" / "censor.py"

pytestmark = pytest.mark.skipif(not SCRIPT.exists(), reason="example not in this tree")


def run(args, stdin):
    return subprocess.run([sys.executable, str(SCRIPT), *args], input=stdin, capture_output=True,
                          text=True, encoding="utf-8", env=dict(os.environ))


def test_censors_standard_input():
    out = run(["--without-bundled", "--add", "darn:mild:1", "--style", "first_last"], "oh darn, D4RN\n")
    assert out.returncode == 0
    assert out.stdout == "oh d**n, D**N\n"


def test_json_lines_with_byte_spans(tmp_path):
    text = "\u00e9 darn and heck\n"
    path = tmp_path / "in.txt"
    path.write_text(text, encoding="utf-8")
    out = run(["--json", "--without-bundled", "--add", "darn:mild:1", "--add", "heck:slur:3", str(path)], "")
    assert out.returncode == 0, out.stderr
    hits = [json.loads(line) for line in out.stdout.splitlines()]
    assert [(h["category"], h["severity"], h["start"], h["end"], h["matched"]) for h in hits] == [
        ("mild", 1, 3, 7, "darn"), ("slur", 3, 12, 16, "heck")]
    assert all({"normalized_start", "normalized_end"} <= h.keys() for h in hits)


def test_bad_option_is_reported():
    out = run(["--level", "extreme"], "")
    assert out.returncode == 2
    assert "unknown normalization level: extreme" in out.stderr
