#!/usr/bin/env bash
# Sets up, builds the library and runs the C host against it: it loads
# libzunlogx.so with dlopen and prints what it does through the exports.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUNLOGX_TESTS=ON >/dev/null
ninja -C build/release zunlogx c_host
./build/release/tests/hosts/c_host ./build/release/src/libzunlogx.so
