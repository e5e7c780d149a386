// The one system-wide hot key that opens the search palette: its registration, what a press
// does, and why the desktop refused it when it did.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "diagnostics/debug_log.h"
#include "platform/hot_keys.h"

namespace tolvane {

/// A combination the desktop would not give us, and its reason in plain words.
struct HotKeyRefusal {
  std::uint32_t keyCode = 0;
  std::uint32_t modifiers = 0;
  std::string reason;
  bool operator==(const HotKeyRefusal&) const = default;
};

/// Main thread only. Independent of the event tap: pausing the switcher or lacking permission
/// leaves the hot key registered.
class GlobalHotKey {
 public:
  GlobalHotKey(HotKeys& hotKeys, DebugLog& log) : hotKeys_(hotKeys), log_(log) {}
  ~GlobalHotKey();
  GlobalHotKey(const GlobalHotKey&) = delete;
  GlobalHotKey& operator=(const GlobalHotKey&) = delete;

  /// Replaces whatever was registered before with `keyCode` and `modifiers` (stored encoding).
  /// A refused combination leaves no hot key until the next successful call.
  void registerCombo(std::uint32_t keyCode, std::uint32_t modifiers);
  /// What a press does; a press while none is set does nothing.
  void setOnTrigger(std::function<void()> onTrigger) { onTrigger_ = std::move(onTrigger); }
  /// Runs after every registerCombo, so that what shows the refusal can follow it.
  void setStateObserver(std::function<void()> observer) { observer_ = std::move(observer); }

  bool isRegistered() const { return registration_.has_value(); }
  bool isRefused() const { return refusal_.has_value(); }
  /// The latest registerCombo's refusal; nothing after a success.
  const std::optional<HotKeyRefusal>& refusal() const { return refusal_; }

 private:
  void unregister();
  void noteRefusal(std::uint32_t keyCode, std::uint32_t modifiers);

  HotKeys& hotKeys_;
  DebugLog& log_;
  std::optional<HotKeyId> registration_;
  std::function<void()> onTrigger_;
  std::function<void()> observer_;
  std::optional<HotKeyRefusal> refusal_;
  /// Combinations whose refusal is in the log already: the settings re-apply the hot key on
  /// every change of either value, and the log should not repeat the same story.
  std::set<std::pair<std::uint32_t, std::uint32_t>> loggedRefusals_;
};

}  // namespace tolvane
