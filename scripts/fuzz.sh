#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/*_fuzz.cpp) with clang and runs
# each, one after the other, for SECONDS (default 60) from its seed corpus in
# tests/fuzz/corpus/<name without _fuzz>/. Exits non-zero when any target
# finds an input that fails; that input and the target's output stay in
# build/fuzz/findings/<name>/.
#
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZUNLOGX_FUZZ=ON -DZUNLOGX_TESTS=OFF >/dev/null
targets=$(for f in tests/fuzz/*_fuzz.cpp; do basename "$f" .cpp; done)
# Only the fuzz targets: the shared object is not linked with clang's
# sanitizer runtimes.
ninja -C "$build" -j"$(nproc)" $targets

failed=""
for target in $targets; do
  name=${target%_fuzz}
  findings="$build/findings/$name"
  rm -rf "$findings"
  mkdir -p "$findings"
  seeds="tests/fuzz/corpus/$name"
  [ -d "$seeds" ] || seeds=""
  work=$(mktemp -d)
  echo "-- $name (${seconds}s)"
  if "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" $seeds >"$findings/output" 2>&1; then
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$findings/output"
  else
    tail -n 40 "$findings/output"
    failed="$failed $name"
  fi
  rm -rf "$work"
done

if [ -n "$failed" ]; then
  echo "fuzzing found failing inputs in:$failed (see $build/findings/)"
  exit 1
fi
echo "no target found a failing input"
