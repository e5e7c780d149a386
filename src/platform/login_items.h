// Start-up registration: whether the application starts with the user's session.
#pragma once

#include <optional>
#include <string>

namespace tolvane {

/// Whether the application starts with the user's session.
class LoginItems {
 public:
  virtual ~LoginItems() = default;
  /// Nothing on success, or the error's description.
  virtual std::optional<std::string> registerApp() = 0;
  virtual std::optional<std::string> unregisterApp() = 0;
};

}  // namespace tolvane
