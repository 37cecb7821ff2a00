#!/usr/bin/env bash
# The Debian packages that bench/quality.py reads: word lists of innocent words and
# fortune cookies as real text. Debian has no French fortune package and no Hindi word
# list. Run as root (or through sudo); the tool runs without them and says what it left
# out.
set -euo pipefail
packages=(wamerican-huge wfrench wngerman wspanish fortunes fortunes-es fortunes-es-off fortunes-de)
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${packages[@]}"
