#!/usr/bin/env python3
"""Checks the NFKC stage against unicodedata2 for every Unicode scalar value.

    python3 tools/check_nfkc.py BUILD_DIR/tools/nfkc_dump

Runs the dump program (one line per scalar value: its code point, then the code points
the stage makes of it, in hex) and compares each line with the NFKC form of that single
character. Exits 1 and lists the first differences if any line disagrees or is missing.
"""
import subprocess
import sys

import unicodedata2


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    dump = subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout
    expected = (cp for cp in range(0x110000) if not 0xD800 <= cp <= 0xDFFF)
    bad = []
    lines = dump.splitlines()
    count = 0
    for line, cp in zip(lines, expected):
        count += 1
        fields = line.split()
        got_cp, got = int(fields[0], 16), [int(f, 16) for f in fields[1:]]
        want = [ord(c) for c in unicodedata2.normalize("NFKC", chr(cp))]
        if got_cp != cp or got != want:
            bad.append(f"U+{cp:04X}: stage gives {line!r}, NFKC gives {' '.join(f'{c:X}' for c in want)}")
    total = 0x110000 - 0x800
    if count != total or len(lines) != total:
        bad.append(f"dump has {len(lines)} lines, expected {total}")
    if bad:
        print(f"{len(bad)} differences from NFKC (Unicode {unicodedata2.unidata_version}):",
              file=sys.stderr)
        print("\n".join(bad[:20]), file=sys.stderr)
        return 1
    print(f"NFKC stage agrees with unicodedata2 (Unicode {unicodedata2.unidata_version}) "
          f"on all {total} scalar values")
    return 0


if __name__ == "__main__":
    sys.exit(main())
