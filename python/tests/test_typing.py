# The shipped stubs give type checkers the module's API: a typed usage file checks
# clean under mypy and pyright, and misuse is reported rather than silently typed as Any.
import json
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


# One line each, every one wrong: each must be reported on its own line.
MISUSE = """\
import tarnwhisk
tarnwhisk.Tarnwhisk({'normalization': 'fast'})
tarnwhisk.Tarnwhisk({'languages': ['en', 'EN']})
tarnwhisk.Tarnwhisk({'match_mode': 'exact'})
tarnwhisk.Tarnwhisk({'censor_style': 'stars'})
tarnwhisk.Tarnwhisk({'add_words': [{'word': 'x', 'category': 'nasty', 'severity': 1, 'strict': False}]})
tarnwhisk.Tarnwhisk({'add_words': [5]})
a: str = tarnwhisk.Tarnwhisk().find_text('x')[0][3]
b: int = tarnwhisk.__version__
c: int = tarnwhisk.Tarnwhisk().find('x')[0].category
tarnwhisk.Tarnwhisk().stream().feed(b'x')
tarnwhisk.Tarnwhisk().stream(True)
d: int = tarnwhisk.Tarnwhisk().stream().finish()[0]
"""
MISUSED_LINES = set(range(2, MISUSE.count("\n") + 1))


def test_literal_option_values_and_new_names_with_mypy(tmp_path):
    result = mypy(tmp_path, MISUSE)
    lines = {int(line.split(":")[1]) for line in result.stdout.splitlines() if ": error:" in line}
    assert lines == MISUSED_LINES, result.stdout + result.stderr


def pyright(tmp_path, source):
    """Diagnostics of pyright in strict mode: a list of (line, severity, rule, message)."""
    pytest.importorskip("pyright")
    target = tmp_path / "usage.py"
    target.write_text(source)
    config = {"typeCheckingMode": "strict", "pythonVersion": "3.10",
              # A build tree has the stubs but no module beside them.
              "reportMissingModuleSource": False}
    if not installed_stubs():
        stubs = tmp_path / "stubs"
        stubs.mkdir(exist_ok=True)
        shutil.copy(STUBS, stubs / "tarnwhisk.pyi")
        config["stubPath"] = str(stubs)
    (tmp_path / "pyrightconfig.json").write_text(json.dumps(config))
    # The pyright distribution carries its program, so this runs without reaching the
    # npm registry; it reports no update check either.
    env = dict(os.environ, PYRIGHT_PYTHON_IGNORE_WARNINGS="1")
    command = [sys.executable, "-m", "pyright", "--outputjson", "--pythonpath", sys.executable,
               "--project", str(tmp_path), str(target)]
    result = subprocess.run(command, capture_output=True, text=True, env=env, cwd=tmp_path)
    assert result.returncode in (0, 1), result.stdout + result.stderr
    report = json.loads(result.stdout)
    return [(d["range"]["start"]["line"] + 1, d["severity"], d.get("rule"), d["message"])
            for d in report["generalDiagnostics"]]


def test_typed_usage_checks_clean_with_pyright(tmp_path):
    diagnostics = pyright(tmp_path, (HERE / "typed_usage.py").read_text())
    assert diagnostics == []


def test_literal_option_values_and_new_names_with_pyright(tmp_path):
    diagnostics = pyright(tmp_path, MISUSE)
    errors = {line for line, severity, _, _ in diagnostics if severity == "error"}
    assert errors == MISUSED_LINES, diagnostics
