#!/usr/bin/env bash
# The share of test code: lines of tests/ against lines of src/ and tools/, counting code only
# (no blank lines, no lines that are only a comment).
set -euo pipefail
cd "$(dirname "$0")/.."
lines() {
  find "$@" \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat |
    grep -v -e '^[[:space:]]*$' -e '^[[:space:]]*//' | wc -l
}
code=$(($(lines src) + $(lines tools)))
tests=$(lines tests)
echo "code $code lines, tests $tests lines: tests are $((100 * tests / code)) % of the code"
