"""What the table generators share: writing a generated file, or, in the test command,
checking that the committed file is what the generator writes now."""

from __future__ import annotations

import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent


def first_difference(committed: str, expected: str) -> str:
    """The first line in which a committed file differs from the expected one."""
    if not committed:
        return "  committed: (missing)"
    old, new = committed.splitlines(), expected.splitlines()
    n = next((i for i, (a, b) in enumerate(zip(old, new)) if a != b), min(len(old), len(new)))

    def line(lines: list[str]) -> str:
        return lines[n] if n < len(lines) else "(end of file)"

    return f"  line {n + 1}, committed: {line(old)}\n  line {n + 1}, expected:  {line(new)}"


def stale(target: pathlib.Path, text: str) -> str | None:
    """None when the committed target holds `text`, else what differs."""
    current = target.read_text(encoding="utf-8") if target.exists() else ""
    if current == text:
        return None
    return f"{target.relative_to(ROOT)} is out of date.\n" + first_difference(current, text)


def write(target: pathlib.Path, text: str) -> None:
    target.write_text(text, encoding="utf-8")
    print(f"wrote {target.relative_to(ROOT)}")


def write_or_check(target: pathlib.Path, text: str, check: bool, command: str, current_note: str = "") -> int:
    """Writes `text` to `target`, or with `check` compares it with the committed file:
    0 when equal, 1 (and what differs, and the command that writes it) when not."""
    if not check:
        write(target, text)
        return 0
    problem = stale(target, text)
    if problem:
        print(f"{problem}\nRun {command}.", file=sys.stderr)
        return 1
    print(f"{target.relative_to(ROOT)} is current{current_note}")
    return 0
