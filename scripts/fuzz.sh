#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a number of inputs.
# Usage: scripts/fuzz.sh [runs per target, default 100000]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-100000}

# The fuzz targets drive the core and the system services alone: the desktop (Qt, X11, the
# executable) would only be compiled with the sanitizers and never run.
CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLVANE_FUZZ=ON -DTOLVANE_WERROR=ON -DTOLVANE_TESTS=OFF -DTOLVANE_BENCH=OFF -DTOLVANE_BUILD_DESKTOP=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)"

shopt -s nullglob
for target in build/fuzz/tests/fuzz/*_fuzz build/fuzz/server/fuzz/*_fuzz; do
  name=$(basename "$target")
  corpus="tests/fuzz/corpus/${name%_fuzz}"
  [[ $target == */server/* ]] && corpus="server/fuzz/corpus/${name%_fuzz}"
  work=$(mktemp -d)
  seeds=()
  [[ -d $corpus ]] && seeds=("$corpus")
  echo "fuzz: $name ($runs runs)"
  "$target" -runs="$runs" -max_len=65536 "$work" "${seeds[@]}" 2>&1 | tail -n 2
  rm -rf "$work"
done
# The server's target keeps its database in a folder of its own for the whole run.
rm -rf /tmp/tolvane-server-fuzz-*
