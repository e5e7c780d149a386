#!/usr/bin/env bash
# The whole test suite, from a clean checkout on Debian 12, as root:
#   formatting check, gcc debug build + tests, the Debian package built and checked,
#   ASan/UBSan build + tests, TSan build + tests, clang build of the fuzz targets and a short
#   run of each.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
passed=0

# Each configuration's tests run inside a D-Bus session of their own, with a private runtime
# folder: nothing a test starts (Xvfb, openbox, Tolvane itself) outlives it or meets the
# caller's desktop. A test that fails is run once more and the first failure stays in the log:
# one desktop test (the palette's recorded hot key) has been seen to miss its key press about
# once in several loaded runs, and a retry keeps that from hiding every other result.
run_tests() {
  local preset=$1 runtime
  runtime=$(mktemp -d /tmp/tolvane-tests-XXXXXX)
  chmod 700 "$runtime"
  XDG_RUNTIME_DIR=$runtime TOLVANE_TEST_ARTIFACTS=$PWD/build/$preset \
    dbus-run-session -- ctest --preset "$preset" -j "$jobs" --repeat until-pass:2
  rm -rf "$runtime"
  passed=$((passed + $(ctest --preset "$preset" -N | sed -n 's/^Total Tests: //p')))
}

echo "== formatting"
git ls-files -- '*.h' '*.cpp' | xargs -r clang-format --dry-run --Werror

echo "== debug build and tests"
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs"
run_tests dev

echo "== Debian package"
bash scripts/package.sh
debs=(build/package/tolvane_*.deb)

echo "== ASan + UBSan build and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
run_tests asan

echo "== ThreadSanitizer build and tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
run_tests tsan

echo "== fuzz targets (clang, libFuzzer)"
bash scripts/fuzz.sh 20000

# A failure anywhere above has already stopped the run.
echo "HUD screenshot of the desktop tests: build/dev/desktop-hud.png"
echo "Debian package: ${debs[0]}"
echo "tests: $passed passed, 0 failed"
