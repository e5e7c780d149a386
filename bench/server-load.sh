#!/usr/bin/env bash
# tolvane-server under load: builds the optimised server and its load generator, then runs it
# on SQLite and, when the PostgreSQL server is installed, on a private cluster, and prints one
# table (requests per second, median and 99th percentile latency at 1, 8 and 64 clients).
# About a minute; "--seconds S" sets how long each of the 18 cells runs (default 3), and
# "--threads N" the server's worker threads (default its own, 64).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target tolvane_server_load >&2
exec ./build/release/bench/server/tolvane_server_load "$@"
