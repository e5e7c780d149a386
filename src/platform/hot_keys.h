// Global hot keys: key combinations registered for the whole desktop, independent of the event
// tap.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tolvane {

using HotKeyId = std::uint64_t;

/// System-wide key combinations, independent of the event tap.
class HotKeys {
 public:
  virtual ~HotKeys() = default;
  /// Registers `keyCode` with a modifier mask in the hot-key encoding (Command 256, Shift 512,
  /// Option 2048, Control 4096); nothing when the desktop refuses the combination.
  virtual std::optional<HotKeyId> registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                 std::function<void()> onPress) = 0;
  virtual void unregisterHotKey(HotKeyId id) = 0;
  /// Why the last registerHotKey refused, in a few words for the log and for the user ("Alt+space
  /// is grabbed by another program (the window manager is Openbox)"); nothing after a success.
  virtual std::optional<std::string> refusalReason() const { return std::nullopt; }
};

}  // namespace tolvane
