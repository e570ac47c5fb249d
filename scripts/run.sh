#!/usr/bin/env bash
# Sets up, builds the library and the zunlog command, logs a few records
# through the default configuration (the way any host without a
# configuration of its own does), then shows where the log went and its last
# lines. Finally the C host loads libzunlogx.so with dlopen and walks the
# exports and interface tables.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUNLOGX_TESTS=ON >/dev/null
ninja -C build/release zunlogx zunlog c_host
zunlog=./build/release/tools/zunlog

echo "== logging through the default configuration"
"$zunlog" log -s WARN "zunlogx run.sh: a warning from $(hostname) at $(date -u +%FT%TZ)"
printf 'first line from standard input\nsecond line from standard input\n' | "$zunlog" log -s ERROR -n run.sh

echo "== where it went"
"$zunlog" where
log=$("$zunlog" where | sed -n 's/^  defaultFileAppender: //p')
echo "== the last lines of $log"
tail -n 3 "$log"

echo "== the C host"
./build/release/tests/hosts/c_host ./build/release/src/libzunlogx.so | tail -n 3
