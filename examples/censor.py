#!/usr/bin/env python3
"""Censor profanity in text read from files or standard input.

A thin front to the `tarnwhisk` command that the package installs (tarnwhisk_cli):
the same options, the same exit status. --json prints one JSON object per hit instead
of the text, as `tarnwhisk find --json` does.

    echo "what the fuck" | python examples/censor.py
    python examples/censor.py --json --languages en,es --level aggressive chat.log

Input must be UTF-8: anything else stops with status 2 and names the line and byte.
"""
import sys
from pathlib import Path

try:
    import tarnwhisk_cli
except ImportError:  # a source tree whose extension is on PYTHONPATH: take the sources
    sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
    import tarnwhisk_cli


def main(argv=None):
    argv = list(sys.argv[1:] if argv is None else argv)
    if "--json" in argv:
        argv.insert(0, "find")
    return tarnwhisk_cli.main(argv)


if __name__ == "__main__":
    sys.exit(main())
