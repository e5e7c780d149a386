// Global hot keys on X11: passive asynchronous grabs on the root window, one handler per
// combination.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "backends/x11/x11_connection.h"
#include "backends/x11/x11_ewmh.h"
#include "backends/x11/x11_keys.h"
#include "platform/hot_keys.h"

namespace tolvane::x11 {

/// Main thread only (the thread that dispatches the connection's events). Construct it after
/// the event tap on the same connection, so that keys of a switcher session stay the tap's.
class X11HotKeys final : public HotKeys, private EventSink {
 public:
  explicit X11HotKeys(Connection& connection);
  ~X11HotKeys() override;
  X11HotKeys(const X11HotKeys&) = delete;
  X11HotKeys& operator=(const X11HotKeys&) = delete;

  /// Nothing when another client (or this one, already) owns the combination, or the keyboard
  /// cannot type it.
  std::optional<HotKeyId> registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                         std::function<void()> onPress) override;
  void unregisterHotKey(HotKeyId id) override;
  /// After a refusal by the server, names the window manager as the likely owner when one
  /// runs: X does not tell who holds a passive grab, and window managers bind such keys.
  std::optional<std::string> refusalReason() const override { return refusal_; }

 private:
  struct HotKey {
    std::uint16_t keyCode = 0;
    std::uint64_t flags = 0;
    std::vector<KeyGrab> grabs;
    std::function<void()> onPress;
  };

  bool handleEvent(const xcb_generic_event_t& event) override;
  bool handlePress(const xcb_key_press_event_t& event);
  /// Grabs every registered combination again, after a keyboard mapping change.
  void regrabAll();
  /// The grabs of a combination, or why there are none (with nothing left grabbed).
  struct GrabOutcome {
    std::vector<KeyGrab> grabs;
    std::optional<std::string> refusal;
  };
  GrabOutcome grab(std::uint16_t keyCode, std::uint64_t flags);
  /// "the window manager (Openbox)", or nothing when no window manager says its name.
  std::optional<std::string> windowManagerName() const;

  Connection& connection_;
  Atoms atoms_;
  KeyMap keys_;
  std::optional<std::string> refusal_;
  std::map<HotKeyId, HotKey> hotKeys_;
  HotKeyId nextId_ = 1;
  /// The time of each key's latest release. The server's autorepeat reports a held key as a
  /// release and a press with the same time; such a press is not a new one.
  std::map<xcb_keycode_t, xcb_timestamp_t> releaseTimes_;
};

}  // namespace tolvane::x11
