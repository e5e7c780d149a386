// What desktop tests need from the real executable and users never reach: a way to stall the
// main thread on purpose, to prove that a stalled Tolvane never holds the keyboard.
#pragma once

#include <string>

#include "diagnostics/debug_log.h"

namespace tolvane::shell {

/// Whether the environment enables the hooks ("TOLVANE_TEST_HOOKS=1").
bool testHooksEnabled();

/// With the hooks enabled, "tolvane://test-stall?seconds=N" blocks the main thread for N
/// seconds (at most 30), logging a line before and after. True when `url` was a hook and ran.
bool runTestHook(const std::string& url, DebugLog& log);

}  // namespace tolvane::shell
