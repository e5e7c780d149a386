#!/usr/bin/env bash
# The share of test code: lines of tests/ (and the server's tests, test helpers and fuzz
# targets, and the X client only the desktop tests start) against lines of src/, tools/ and the
# server, counting code only (no blank lines, no lines that are only a comment). A test-only
# helper counts as test wherever it lives.
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
test_tools=(tools/test-client)
tool_code=$(find tools -path tools/test-client -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0 |
  xargs -0 cat | grep -v -e '^[[:space:]]*$' -e '^[[:space:]]*//' | wc -l)
code=$(($(lines src) + tool_code + server_code))
tests=$(($(lines tests) + $(lines "${server_tests[@]}") + $(lines "${test_tools[@]}")))
echo "code $code lines, tests $tests lines: tests are $((100 * tests / code)) % of the code"
