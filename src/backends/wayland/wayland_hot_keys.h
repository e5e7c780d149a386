// Global hot keys on Wayland: compositor bindings whose presses come back as the palette
// trigger (an IPC binding event on sway, or the front door's `tolvane trigger palette`).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "backends/wayland/wayland_event_tap.h"
#include "platform/hot_keys.h"

namespace tolvane::wayland {

/// One hot key at a time (the palette's), which is all the product registers. Main thread only.
class WaylandHotKeys final : public HotKeys {
 public:
  explicit WaylandHotKeys(TriggerBindings bindings) : bindings_(std::move(bindings)) {}
  ~WaylandHotKeys() override;
  WaylandHotKeys(const WaylandHotKeys&) = delete;
  WaylandHotKeys& operator=(const WaylandHotKeys&) = delete;

  std::optional<HotKeyId> registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                         std::function<void()> onPress) override;
  void unregisterHotKey(HotKeyId id) override;
  std::optional<std::string> refusalReason() const override { return refusal_; }

  /// The palette binding fired.
  void press();
  /// The registered key's binding again, after something took it back behind this object.
  void reinstall();

 private:
  TriggerBindings bindings_;
  std::optional<HotKeyId> registered_;
  std::string combo_;
  std::function<void()> onPress_;
  std::optional<std::string> refusal_;
  HotKeyId nextID_ = 1;
};

}  // namespace tolvane::wayland
