// The simulated global hot keys: tests see what is registered, hand a combination to another
// program, and press combinations.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "platform/hot_keys.h"

namespace tolvane::sim {

class SimHotKeys final : public HotKeys {
 public:
  struct Registration {
    std::uint32_t keyCode = 0;
    std::uint32_t modifiers = 0;
    std::function<void()> onPress;
  };

  std::optional<HotKeyId> registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                         std::function<void()> onPress) override {
    ++registerCalls;
    const auto owner = foreignOwners_.find({keyCode, modifiers});
    if (owner != foreignOwners_.end()) {
      refusal_ = owner->second;
      return std::nullopt;
    }
    refusal_.reset();
    registrations_[++lastId_] = {keyCode, modifiers, std::move(onPress)};
    return lastId_;
  }
  void unregisterHotKey(HotKeyId id) override { registrations_.erase(id); }
  std::optional<std::string> refusalReason() const override { return refusal_; }

  /// Another program owns the combination from now on; registering it is refused with `reason`.
  void ownElsewhere(std::uint32_t keyCode, std::uint32_t modifiers, std::string reason) {
    foreignOwners_[{keyCode, modifiers}] = std::move(reason);
  }
  void releaseElsewhere(std::uint32_t keyCode, std::uint32_t modifiers) {
    foreignOwners_.erase({keyCode, modifiers});
  }

  /// The user presses the combination: every registration of it fires; false when none exists.
  bool press(std::uint32_t keyCode, std::uint32_t modifiers) {
    bool fired = false;
    // A copy: a handler may register or unregister.
    const auto registrations = registrations_;
    for (const auto& [id, registration] : registrations) {
      if (registration.keyCode != keyCode || registration.modifiers != modifiers) continue;
      fired = true;
      if (registration.onPress) registration.onPress();
    }
    return fired;
  }

  const std::map<HotKeyId, Registration>& registrations() const { return registrations_; }
  int registerCalls = 0;

 private:
  std::map<HotKeyId, Registration> registrations_;
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> foreignOwners_;
  std::optional<std::string> refusal_;
  HotKeyId lastId_ = 0;
};

}  // namespace tolvane::sim
