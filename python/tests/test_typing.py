# The shipped stubs give type checkers the module's API: a typed usage file checks
# clean, and misuse is reported rather than silently typed as Any.
import os
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

pytest.importorskip("mypy")

HERE = Path(__file__).resolve().parent
STUBS = HERE.parent / "tarnwhisk-stubs" / "__init__.pyi"


def installed_stubs():
    for key in ("purelib", "platlib"):
        if (Path(sysconfig.get_paths()[key]) / "tarnwhisk-stubs" / "py.typed").exists():
            return True
    return False


def mypy(tmp_path, source):
    target = tmp_path / "usage.py"
    target.write_text(source)
    env = dict(os.environ)
    if not installed_stubs():
        # Running from a build tree: offer the stubs on the search path instead.
        stubs = tmp_path / "stubs"
        stubs.mkdir()
        shutil.copy(STUBS, stubs / "tarnwhisk.pyi")
        env["MYPYPATH"] = str(stubs)
    command = [sys.executable, "-m", "mypy", "--strict", "--no-incremental",
               "--cache-dir", os.devnull, "--python-executable", sys.executable, str(target)]
    return subprocess.run(command, capture_output=True, text=True, env=env, cwd=tmp_path)


def test_typed_usage_checks_clean(tmp_path):
    result = mypy(tmp_path, (HERE / "typed_usage.py").read_text())
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("source, expected", [
    ("import tarnwhisk\ntarnwhisk.Tarnwhisk().find(b'x')\n", "arg-type"),
    ("import tarnwhisk\ntarnwhisk.Tarnwhisk({'mask_char': 1})\n", "arg-type"),
    ("import tarnwhisk\nx: int = tarnwhisk.Tarnwhisk().censor('x')\n", "assignment"),
])
def test_misuse_is_reported(tmp_path, source, expected):
    result = mypy(tmp_path, source)
    assert result.returncode == 1 and f"[{expected}]" in result.stdout, result.stdout + result.stderr
