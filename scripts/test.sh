#!/usr/bin/env bash
# Sets up and runs the whole test suite: an optimised build, then one with
# AddressSanitizer and UndefinedBehaviorSanitizer, each through CTest (the
# "stress" and "faults" labels included; the ten-minute "soak" is left to
# `ctest -L soak`), the whole suite again under ThreadSanitizer, then every
# fuzz target for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${ZUNLOGX_FUZZ_SECONDS:-60}

echo "== format check"
files=$(git ls-files '*.h' '*.cpp' '*.c' 2>/dev/null || find include src tests bench tools -name '*.[ch]' -o -name '*.cpp')
clang-format --dry-run --Werror $files
echo "== layer check"
bash scripts/check_layers.sh

run_config() {
  local name=$1
  shift
  echo "== build: $name"
  cmake -S . -B "build/$name" -G Ninja "$@" >/dev/null
  ninja -C "build/$name" -j"$jobs"
  echo "== test: $name"
  (cd "build/$name" && ctest --output-on-failure -j"$jobs" --timeout 600 -LE soak)
}

run_config release -DCMAKE_BUILD_TYPE=Release -DZUNLOGX_BENCH=ON
echo "== examples against an installed copy"
bash scripts/examples.sh build/release
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_config sanitize -DCMAKE_BUILD_TYPE=Debug -DZUNLOGX_SANITIZE=ON

echo "== build: tsan"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUNLOGX_TSAN=ON >/dev/null
ninja -C build/tsan -j"$jobs"
echo "== test: tsan (the whole suite)"
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j"$jobs" --timeout 600 -LE soak)

echo "== fuzz (${fuzz_seconds}s each)"
bash scripts/fuzz.sh "$fuzz_seconds"
echo "all configurations passed"
