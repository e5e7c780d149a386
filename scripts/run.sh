#!/usr/bin/env bash
# Builds Tolvane (optimised) and starts it, from a clean checkout on Debian 12, as root.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec ./build/release/src/tolvane "$@"
