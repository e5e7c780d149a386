// Tolvane's KWin script: composed from the shortcuts the settings ask for, loaded over the
// session bus, and taken back on every way out (quit, the quit signals, a crash, a stall).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends/kwin/emergency_call.h"
#include "backends/kwin/kwin_bus.h"
#include "model/compositor_trigger.h"

namespace tolvane::kwin {

/// One shortcut the script registers.
struct ScriptShortcut {
  /// sway's syntax, as the tap and the hot keys name it ("Mod4+Tab").
  std::string combo;
  Trigger trigger = Trigger::next;
};

/// What the script is told before its own text.
struct ScriptSettings {
  std::string service;
  std::vector<ScriptShortcut> shortcuts;
  int beatMilliseconds = 250;
  int graceMilliseconds = 1000;
};

/// The script as KWin loads it: `settings` as the `tolvane` object, then the shipped text.
/// Combos KWin has no name for are left out.
std::string composeScript(const ScriptSettings& settings);
/// The name KWin lists a shortcut's action under ("Tolvane: next").
std::string actionName(Trigger trigger);

/// Main thread only, except takeBackFromAnyThread.
class KWinScript {
 public:
  /// The script's name in KWin: one per user, so a leftover from a killed run is replaced.
  static constexpr const char* kScriptName = "tolvane";

  struct Refusal {
    std::string combo;
    std::string reason;
  };

  /// `bus` must outlive this object; `folder` is the private folder the script file goes to.
  KWinScript(KWinBus& bus, std::string folder);
  ~KWinScript();
  KWinScript(const KWinScript&) = delete;
  KWinScript& operator=(const KWinScript&) = delete;

  /// Loads the script with exactly `shortcuts` (none: unloads it). A combo another shortcut of
  /// KWin's or the user's holds is refused, and nothing changes then.
  std::optional<Refusal> install(const std::vector<ScriptShortcut>& shortcuts);
  /// Unloads the script and forgets its shortcuts.
  void remove();
  /// The stall watchdog's and the crash handler's way: the unload call, sent without the main
  /// thread; true when one was armed.
  bool takeBackFromAnyThread();
  const std::vector<ScriptShortcut>& installed() const { return installed_; }

 private:
  std::optional<Refusal> checkFree(const std::vector<ScriptShortcut>& shortcuts);

  KWinBus& bus_;
  const std::string path_;
  std::vector<ScriptShortcut> installed_;
  EmergencyCall emergency_;
};

}  // namespace tolvane::kwin
