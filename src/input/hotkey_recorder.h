// The control that changes the palette hot key: a click starts capturing the next key press in
// the application's own windows, which becomes the new combination when it is a valid one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "localization/l10n.h"
#include "platform/event_tap.h"
#include "platform/local_key_monitor.h"
#include "platform/user_interaction.h"
#include "settings/app_settings.h"
#include "views/hotkey_recorder_view.h"

namespace tolvane {

/// The stored palette combination as key chips; "?" when a stored value is out of range.
std::vector<std::string> paletteComboChips(const AppSettings& settings);
/// The same chips joined with "+", as a sentence names the combination ("Alt+Space").
std::string paletteComboText(const AppSettings& settings);

/// Main thread only. A stored combination always has at least one of Command, Option, Control
/// and Shift and a named key; Escape alone cancels, Escape with a modifier is a combination.
class HotkeyRecorder {
 public:
  static constexpr std::uint32_t kDefaultKeyCode = 49;
  static constexpr std::uint32_t kDefaultModifiers = 2048;

  struct Services {
    AppSettings& settings;
    LocalKeyMonitor& keyMonitor;
    UserInteraction& interaction;
    const L10n& l10n;
  };

  explicit HotkeyRecorder(Services services) : s_(services) {}
  ~HotkeyRecorder() { stop(); }
  HotkeyRecorder(const HotkeyRecorder&) = delete;
  HotkeyRecorder& operator=(const HotkeyRecorder&) = delete;

  /// A click on the recorder: starts capturing, or stops without a change when capturing.
  void click();
  /// The reset button: back to Option-Space (each value stored, and applied, in turn).
  void reset();
  /// The control left the screen (its window closed or hid): capturing stops.
  void leftScreen() { stop(); }

  bool isRecording() const { return monitor_.has_value(); }
  /// The stored combination differs from the default Option-Space.
  bool isCustomized() const;
  HotkeyRecorderView view() const;

 private:
  void start();
  void stop();
  /// Every key press while capturing ends here and is swallowed.
  bool capture(const KeyEvent& event);

  Services s_;
  std::optional<MonitorToken> monitor_;
};

}  // namespace tolvane
