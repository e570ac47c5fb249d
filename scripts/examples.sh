#!/usr/bin/env bash
# Installs a built tree into a fresh prefix, builds the examples against that
# prefix only (the CMake package and pkg-config), and runs them and zunlog.
#
#   bash scripts/examples.sh [BUILD_FOLDER]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

echo "== install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for installed in include/zunlogx/zunlogx.h bin/zunlog; do
  [ -e "$prefix/$installed" ] || { echo "not installed: $installed"; exit 1; }
done
pc_file=$(find "$prefix" -name zunlogx.pc)
package_dir=$(dirname "$(find "$prefix" -name zunlogxConfig.cmake)")

# The hosts make their log folders here, not in the home.
export XDG_STATE_HOME=$work/state ALLUSERSPROFILE=$work/shared

# Each host must print its record through the console appender.
run_host() {
  local host=$1 expected=$2 output
  output=$("$host")
  grep "$expected" <<<"$output" || { echo "$host printed: $output"; exit 1; }
}

echo "== examples through find_package(zunlogx)"
cmake -S examples -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >/dev/null
found=$(sed -n 's/^zunlogx_DIR:PATH=//p' "$work/cmake/CMakeCache.txt")
[ "$(realpath "$found")" = "$(realpath "$package_dir")" ] || { echo "found another zunlogx: $found"; exit 1; }
ninja -C "$work/cmake" >/dev/null
run_host "$work/cmake/c_host" "WARN .*MSG:hello from C: 2 + 3 = 5"
run_host "$work/cmake/cpp_host" "WARN .*MSG:hello from C++"

echo "== examples through pkg-config"
mkdir -p "$work/pkg"
PKG_CONFIG_LIBDIR=$(dirname "$pc_file") make -s -C examples OUT="$work/pkg"
run_host "$work/pkg/c_host" "WARN .*MSG:hello from C: 2 + 3 = 5"
run_host "$work/pkg/cpp_host" "WARN .*MSG:hello from C++"

echo "== installed zunlog"
"$prefix/bin/zunlog" --version
"$prefix/bin/zunlog" where
echo "examples passed"
