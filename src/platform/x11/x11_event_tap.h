// The event tap on X11: passive synchronous grabs of the trigger combinations on the root window,
// and an active keyboard grab for as long as a consumed trigger's modifier is held.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_tap.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_keys.h"

namespace tolvane::x11 {

/// A key combination the tap intercepts, in product key codes and flags.
struct TriggerCombination {
  std::uint16_t keyCode = 0;
  std::uint64_t flags = 0;
  bool operator==(const TriggerCombination&) const = default;
};

/// The settings that decide which combinations the switcher takes.
struct TriggerSettings {
  bool interceptTab = false;
  bool interceptKeyAboveTab = false;
  /// Alt drives the switcher instead of Super.
  bool triggerIsOption = false;
};

/// The combinations to grab for `settings`: each chosen key with the trigger modifier, with and
/// without Shift.
std::vector<TriggerCombination> triggerCombinations(const TriggerSettings& settings);

/// Main thread only (the thread that dispatches the connection's events). The tap adds itself
/// to the connection's sinks when constructed, so construct it before any other service that
/// reacts to key events on the root window (the hot keys): during a session every key is the
/// tap's.
class X11EventTap final : public EventTap, private EventSink {
 public:
  using Combinations = std::function<std::vector<TriggerCombination>()>;
  using Log = std::function<void(std::string_view)>;

  /// `combinations` is asked each time the tap grabs (create, setEnabled(true), a keyboard
  /// mapping change); `log` receives one line per refusal or failed grab.
  X11EventTap(Connection& connection, Combinations combinations, Log log);
  ~X11EventTap() override;
  X11EventTap(const X11EventTap&) = delete;
  X11EventTap& operator=(const X11EventTap&) = delete;

  /// Grabs every combination; false, with nothing left grabbed, when another client owns one.
  /// The tap is enabled afterwards.
  bool create(Callback callback) override;
  void destroy() override;
  /// Disabling gives the combinations back to every client and ends a running grab.
  void setEnabled(bool enabled) override;
  bool isEnabled() const override { return enabled_; }
  bool isKeyDown(std::uint16_t keyCode) const override;

  /// Grabs the combinations again after the settings behind them changed; the tap ends up
  /// disabled when one is refused (logged), as with setEnabled(true).
  void reloadCombinations();

  /// Whether another client holds the keyboard (a screen locker, a password prompt): a keyboard
  /// grab of our own is refused. False while this tap's own session grab holds.
  bool keyboardGrabbedElsewhere();
  /// Whether a consumed trigger holds the keyboard right now.
  bool holdsKeyboard() const { return sessionTrigger_.has_value(); }

 private:
  struct Grab {
    KeyGrab key;
    TriggerCombination combination;
  };

  bool handleEvent(const xcb_generic_event_t& event) override;
  bool handleKey(const xcb_key_press_event_t& event, bool press);
  void handleMappingChange();
  bool grabCombinations();
  void ungrabCombinations();
  /// `trigger` is the matched combination's modifier without Shift.
  void handleTrigger(const xcb_key_press_event_t& event, std::uint64_t trigger);
  bool beginSession(xcb_timestamp_t time, std::uint64_t trigger);
  void endSession();
  void deliverSessionKey(const xcb_key_press_event_t& event, bool press);
  void endIfTriggerAlreadyUp();
  std::uint64_t flagsAfterModifierKey(const xcb_key_press_event_t& event, bool press) const;
  void deliver(const KeyEvent& event);
  void log(const std::string& line) const;

  Connection& connection_;
  Combinations combinations_;
  Log log_;
  KeyMap keys_;
  Callback callback_;
  bool created_ = false;
  bool enabled_ = false;
  std::vector<Grab> grabs_;
  /// The trigger modifier of the session whose keyboard grab holds; the grab ends when its
  /// release has been delivered.
  std::optional<std::uint64_t> sessionTrigger_;
};

}  // namespace tolvane::x11
