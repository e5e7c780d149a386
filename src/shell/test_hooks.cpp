// The stall hook: a plain sleep on the main thread, which is exactly the fault it stands for.
#include "shell/test_hooks.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace tolvane::shell {

namespace {

constexpr std::string_view kStallPrefix = "tolvane://test-stall?seconds=";
constexpr int kMaxStallSeconds = 30;

}  // namespace

bool testHooksEnabled() {
  const char* value = std::getenv("TOLVANE_TEST_HOOKS");
  return value && std::strcmp(value, "1") == 0;
}

bool runTestHook(const std::string& url, DebugLog& log) {
  if (!testHooksEnabled() || !url.starts_with(kStallPrefix)) return false;
  const std::string digits = url.substr(kStallPrefix.size());
  if (digits.empty() || digits.size() > 2 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const int seconds = std::min(std::stoi(digits), kMaxStallSeconds);
  log.log("test hook: the main thread stalls for " + std::to_string(seconds) + "s");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  log.log("test hook: the main thread runs again");
  return true;
}

}  // namespace tolvane::shell
