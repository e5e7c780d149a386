#!/usr/bin/env bash
# The share of test code: lines of tests/ (and the server's tests, test helpers and fuzz
# targets) against lines of src/, tools/ and the server, counting code only (no blank lines, no
# lines that are only a comment).
set -euo pipefail
cd "$(dirname "$0")/.."
lines() {
  find "$@" \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat |
    grep -v -e '^[[:space:]]*$' -e '^[[:space:]]*//' | wc -l
}
server_tests=(server/tests server/testing server/fuzz)
server_code=$(find server \( -path server/tests -o -path server/testing -o -path server/fuzz \) -prune -o \
  \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat |
  grep -v -e '^[[:space:]]*$' -e '^[[:space:]]*//' | wc -l)
code=$(($(lines src) + $(lines tools) + server_code))
tests=$(($(lines tests) + $(lines "${server_tests[@]}")))
echo "code $code lines, tests $tests lines: tests are $((100 * tests / code)) % of the code"
