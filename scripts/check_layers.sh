#!/usr/bin/env bash
# Fails when a file under src/ includes a folder above its own (the layers,
# bottom first, are the order of ZUNLOGX_LAYERS in src/CMakeLists.txt), or
# when a file under tools/ or examples/ includes the library's sources.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=$(sed -n 's/^set(ZUNLOGX_LAYERS \(.*\))$/\1/p' src/CMakeLists.txt)
status=0
rank=0
declare -A level
for layer in $layers; do
  level[$layer]=$rank
  rank=$((rank + 1))
done
for layer in $layers; do
  while IFS=: read -r file line text; do
    target=$(sed -n 's/^#include "\([a-z_]*\)\/.*/\1/p' <<<"$text")
    [ -n "$target" ] && [ -n "${level[$target]+x}" ] || continue
    if ((level[$target] > level[$layer])); then
      echo "$file:$line: $layer includes $target, a layer above it"
      status=1
    fi
  done < <(grep -Hn '^#include "' src/"$layer"/*)
done
# Tools and examples are hosts: they see the public header only.
while IFS=: read -r file line text; do
  echo "$file:$line: a host includes the library's sources"
  status=1
done < <(grep -rHnE '^#include ".*(src/|\.\./)' tools examples 2>/dev/null || true)
exit $status
