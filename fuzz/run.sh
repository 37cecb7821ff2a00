#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan + UBSan), replays every saved regression
# input, then fuzzes each harness for a given time starting from the seed corpus kept in
# fuzz/corpus/. Inputs the fuzzer finds are kept in the build directory, not the repo.
# Exits non-zero if a regression input or a fuzzing run fails.
#
#   fuzz/run.sh [SECONDS] [HARNESS...]     (default 30 s each, every harness)
#
# Environment: BUILD_DIR (default build-fuzz in the repo's root), PARALLEL (harnesses run
# at once, default 1, at most 2 on a shared machine), FUZZ_ARGS (extra libFuzzer flags),
# SKIP_BUILD (use the harnesses already built).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift || true
build=${BUILD_DIR:-$root/build-fuzz}
parallel=${PARALLEL:-1}

if [ -z "${SKIP_BUILD:-}" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWHISK_BUILD_FUZZ=ON -DTARNWHISK_BUILD_TESTS=OFF -DTARNWHISK_BUILD_EXAMPLES=OFF \
    -DTARNWHISK_BUILD_PYTHON=OFF -DTARNWHISK_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" -j2 >/dev/null
fi

if [ $# -gt 0 ]; then
  harnesses=("$@")
else
  harnesses=()
  for f in "$root"/fuzz/*_fuzz.cpp; do harnesses+=("$(basename "$f" .cpp)"); done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
out=$build/fuzz-out
mkdir -p "$out"
status=0

# Regression inputs first: each file is run once, and any failure fails the run.
for h in "${harnesses[@]}"; do
  dir=$root/fuzz/regressions/$h
  if [ -d "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
    if "$build/fuzz/$h" -runs=1 "$dir"/* >"$out/$h.regressions.log" 2>&1; then
      echo "$h: $(ls "$dir" | wc -l) regression inputs pass"
    else
      echo "$h: a regression input fails, see $out/$h.regressions.log"
      tail -n 30 "$out/$h.regressions.log"
      status=1
    fi
  fi
done

fuzz_one() {
  local h=$1
  mkdir -p "$out/corpus/$h" "$out/artifacts/$h"
  # New inputs go into the first directory; the repo's seeds are only read.
  # shellcheck disable=SC2086
  "$build/fuzz/$h" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$out/artifacts/$h/" ${FUZZ_ARGS:-} \
    "$out/corpus/$h" "$root/fuzz/corpus/$h" >"$out/$h.log" 2>&1
}

pids=()
names=()
for h in "${harnesses[@]}"; do
  fuzz_one "$h" &
  pids+=($!)
  names+=("$h")
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
done

for i in "${!pids[@]}"; do
  h=${names[$i]}
  if wait "${pids[$i]}"; then result=ok; else result=FAILED; status=1; fi
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$out/$h.log" | awk '{print $2}' | tail -n1)
  echo "$h: $result, ${execs:-?} executions in ${seconds} s, corpus $(ls "$out/corpus/$h" | wc -l) new inputs"
  if [ "$result" = FAILED ]; then
    grep -E 'check failed|ERROR|runtime error|SUMMARY|Test unit written' "$out/$h.log" | head -n 20
  fi
done
exit $status
