// A login-item service for tests: records what was asked and fails on request.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/login_items.h"

namespace tolvane::sim {

/// Records every registration call in order and answers with `failure` when it is set.
class SimLoginItems final : public LoginItems {
 public:
  /// "register" or "unregister", one per call, including failed ones.
  std::vector<std::string> calls;
  /// Whether the application is registered now; a failed call changes nothing.
  bool registered = false;
  /// When set, every call fails with this description.
  std::optional<std::string> failure;

  std::optional<std::string> registerApp() override { return record("register", true); }
  std::optional<std::string> unregisterApp() override { return record("unregister", false); }

 private:
  std::optional<std::string> record(const char* call, bool registeredAfter) {
    calls.emplace_back(call);
    if (failure) return failure;
    registered = registeredAfter;
    return std::nullopt;
  }
};

}  // namespace tolvane::sim
