#!/usr/bin/env bash
# The whole test suite, from a clean checkout on Debian 12, as root:
#   formatting check, the Debian package (gcc, optimised, warnings as errors), clang ASan/UBSan
#   build (with the fuzz targets) + every test, gcc debug build under ThreadSanitizer + tests, a
#   short run of each fuzz target; then what ctest recorded and how long each stage took.
# Every configuration is built once, and every test runs in at least one sanitizer build: the
# end-to-end desktop suites (label "desktop": Xvfb with openbox, headless sway, a virtual KWin, a
# headless GNOME Shell) and the Qt and display tests under ASan/UBSan only, where a fault in the
# program they drive is also caught; the rest under both. The sanitizer builds keep line tables
# rather than full debug information: a report still names file and line, at less compile time
# per file.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
results=()
timings=()
stage_started=$SECONDS
stage_name=""

# Closes the running stage's clock and starts the next one's (none after the last).
stage() {
  if [[ -n $stage_name ]]; then timings+=("$stage_name=$((SECONDS - stage_started))"); fi
  stage_name=$1
  stage_started=$SECONDS
  if [[ -n $1 ]]; then echo "== $1"; fi
}

# Each configuration's tests run inside a D-Bus session of their own, with a private runtime
# folder: nothing a test starts (Xvfb, openbox, Tolvane itself) outlives it or meets the
# caller's desktop. Every test runs once: a failure is a failure. A stage whose tests fail does
# not stop the run, so that the summary counts every stage; the run fails at the end.
run_tests() {
  local preset=$1 runtime junit=$PWD/build/$1/ctest-results.xml
  shift
  runtime=$(mktemp -d /tmp/tolvane-tests-XXXXXX)
  chmod 700 "$runtime"
  rm -f "$junit"
  XDG_RUNTIME_DIR=$runtime TOLVANE_TEST_ARTIFACTS=$PWD/build/$preset \
    dbus-run-session -- ctest --preset "$preset" -j "$jobs" --output-junit "$junit" "$@" || true
  rm -rf "$runtime"
  results+=("$preset=$junit")
}

# What ctest itself recorded for each stage: a test passed, failed (or could not run), or was
# skipped, the skip's reason being the line after gtest's "Skipped" (a stage without results
# counts as one failure). The last line is "tests: N passed, N failed[, N skipped]".
summarize() {
  python3 - "$@" <<'PY'
import sys
import xml.etree.ElementTree as ET

totals = {"passed": 0, "failed": 0, "skipped": 0}
for stage in sys.argv[1:]:
    name, path = stage.split("=", 1)
    try:
        cases = ET.parse(path).getroot().iter("testcase")
    except (OSError, ET.ParseError) as error:
        print(f"{name}: no results ({error})")
        totals["failed"] += 1
        continue
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    notes = []
    for case in cases:
        status, test = case.get("status"), case.get("name")
        if status == "run":
            counts["passed"] += 1
        elif status == "disabled" or case.find("skipped") is not None:
            counts["skipped"] += 1
            out = (case.findtext("system-out") or "").splitlines()
            after = [out[i + 1] for i, line in enumerate(out[:-1]) if line.endswith(": Skipped")]
            reason = (after[0] if after else status or "skipped").strip()[:200]
            reason = "".join(c if c.isprintable() else "?" for c in reason)
            notes.append(f"  skipped {test}: {reason}")
        else:
            counts["failed"] += 1
            notes.append(f"  FAILED {test}")
    print(f"{name}: " + ", ".join(f"{n} {k}" for k, n in counts.items()))
    for note in notes:
        print(note)
    for k in totals:
        totals[k] += counts[k]
line = f"tests: {totals['passed']} passed, {totals['failed']} failed"
print(line + (f", {totals['skipped']} skipped" if totals["skipped"] else ""))
sys.exit(1 if totals["failed"] else 0)
PY
}

stage "packages"
bash scripts/install-deps.sh

stage "formatting"
git ls-files -- '*.h' '*.cpp' | xargs -r clang-format --dry-run --Werror

stage "Debian package"
bash scripts/package.sh
debs=(build/package/tolvane_*.deb)

stage "ASan + UBSan build and tests, desktop suites included (clang)"
cmake --preset asan -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only >/dev/null
cmake --build --preset asan -j "$jobs"
run_tests asan

stage "debug build under ThreadSanitizer and tests (gcc)"
cmake --preset tsan -DCMAKE_CXX_FLAGS_DEBUG=-g1 >/dev/null
cmake --build --preset tsan -j "$jobs"
run_tests tsan

stage "fuzz targets (libFuzzer, from the ASan build)"
bash scripts/fuzz.sh 20000 build/asan
stage ""

# A build failure has already stopped the run; failed tests are counted here.
echo "HUD screenshot of the desktop tests: build/asan/desktop-hud.png"
echo "Debian package: ${debs[0]}"
echo "== time by stage"
for timing in "${timings[@]}"; do
  printf '%6d s  %s\n' "${timing##*=}" "${timing%=*}"
done
printf '%6d s  in all\n' "$SECONDS"
echo "== summary"
summarize "${results[@]}"
