// A secret store in memory, for tests of what the cloud clients keep there.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/secret_store.h"

namespace tolvane::test {

/// Safe from any thread, as the real stores are.
class MemorySecretStore final : public SecretStore {
 public:
  explicit MemorySecretStore(std::map<std::string, std::string> initial = {})
      : items_(std::move(initial)) {}

  std::optional<std::string> get(const std::string& account) override {
    std::lock_guard guard(lock_);
    const auto it = items_.find(account);
    if (it == items_.end()) return std::nullopt;
    return it->second;
  }
  void set(const std::string& account, const std::string& value) override {
    std::lock_guard guard(lock_);
    items_[account] = value;
  }
  void remove(const std::string& account) override {
    std::lock_guard guard(lock_);
    items_.erase(account);
  }
  /// Every item, by account name.
  std::map<std::string, std::string> items() const {
    std::lock_guard guard(lock_);
    return items_;
  }

 private:
  mutable std::mutex lock_;
  std::map<std::string, std::string> items_;
};

}  // namespace tolvane::test
