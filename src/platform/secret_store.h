// Secrets by account name: the keychain of the account and the device.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tolvane {

/// Secrets by account name (the keychain; Secret Service on Linux).
class SecretStore {
 public:
  virtual ~SecretStore() = default;
  virtual std::optional<std::string> get(const std::string& account) = 0;
  /// Best effort: failures are not reported.
  virtual void set(const std::string& account, const std::string& value) = 0;
  virtual void remove(const std::string& account) = 0;
  /// Runs `opened` on the main thread once get() answers from what the store holds: at once for
  /// a store open from the start, later for one still opening. Main thread only.
  virtual void whenOpen(std::function<void()> opened) { opened(); }
};

}  // namespace tolvane
