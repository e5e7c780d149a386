#!/usr/bin/env bash
# Runs each libFuzzer target (clang, ASan + UBSan) for a number of inputs.
# Usage: scripts/fuzz.sh [runs per target, default 100000] [build folder]
# With a build folder (the test command passes the ASan preset's, which builds the targets with
# its tests), the targets are taken from there; without one, an optimised build of its own
# builds them first, for longer runs.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-100000}
build=${2:-}

if [[ -z $build ]]; then
  build=build/fuzz
  # The fuzz targets drive the core and the system services alone: the desktop (Qt, X11, the
  # executable) would only be compiled with the sanitizers and never run.
  CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOLVANE_FUZZ=ON -DTOLVANE_WERROR=ON -DTOLVANE_TESTS=OFF -DTOLVANE_BENCH=OFF \
    -DTOLVANE_BUILD_DESKTOP=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)"
fi

shopt -s nullglob
targets=("$build"/tests/fuzz/*_fuzz "$build"/server/fuzz/*_fuzz)
((${#targets[@]})) || { echo "fuzz: no targets in $build" >&2; exit 1; }
# The targets run side by side (each is one process on one core) and report in order.
work=$(mktemp -d)
pids=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus="tests/fuzz/corpus/${name%_fuzz}"
  [[ $target == */server/* ]] && corpus="server/fuzz/corpus/${name%_fuzz}"
  seeds=()
  [[ -d $corpus ]] && seeds=("$corpus")
  mkdir "$work/$name"
  "$target" -runs="$runs" -max_len=65536 "$work/$name" "${seeds[@]}" >"$work/$name.log" 2>&1 &
  pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
  name=$(basename "${targets[$i]}")
  status=0
  wait "${pids[$i]}" || status=$?
  echo "fuzz: $name ($runs runs)"
  if ((status)); then
    failed=1
    tail -n 40 "$work/$name.log"
  else
    tail -n 2 "$work/$name.log"
  fi
done
rm -rf "$work"
# The server's target keeps its database in a folder of its own for the whole run.
rm -rf /tmp/tolvane-server-fuzz-*
exit "$failed"
