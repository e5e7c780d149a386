// A simulated desktop with the window-discovery components built on it, for the tests of
// window discovery, focus history and activation.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "backends/sim/faulty_file_system.h"
#include "backends/sim/sim_clock.h"
#include "backends/sim/sim_desktop.h"
#include "backends/sim/sim_login_items.h"
#include "backends/sim/sim_preference_store.h"
#include "backends/sim/sim_run_loop.h"
#include "backends/sim/sim_system_log.h"
#include "backends/system/posix_file_system.h"
#include "diagnostics/debug_log.h"
#include "focus/mru_tracker.h"
#include "focus/window_activator.h"
#include "settings/app_settings.h"
#include "support/recorded_usage.h"
#include "windows/space_window_resolver.h"
#include "windows/window_enumerator.h"

namespace tolvane::test {

struct DesktopWorld {
  DesktopWorld() {
    noDisk.failCreates = true;  // the log keeps nothing on disk; the observer sees every line
    log.setObserver(
        [this](std::string_view line) { logLines.emplace_back(line.substr(line.find(' ') + 1)); });
  }

  /// Diagnostic lines (without timestamps) that start with `prefix`.
  std::vector<std::string> linesStartingWith(std::string_view prefix) const {
    std::vector<std::string> found;
    for (const auto& line : logLines) {
      if (line.starts_with(prefix)) found.push_back(line);
    }
    return found;
  }
  /// Whether the system's switcher hotkeys 1, 2 and 6 are enabled, in that order.
  std::vector<bool> hotKeys() const {
    return {desktop.hotKeyEnabled(1), desktop.hotKeyEnabled(2), desktop.hotKeyEnabled(6)};
  }
  /// The running application `pid` as the workspace reports it now.
  RunningApp app(Pid pid) { return *desktop.application(pid); }
  /// A refresh as the background refresh does it: 0.15 s, with application entries.
  bool refresh(Pid pid, const CrossSpacePass& pass = std::nullopt, bool revisit = false) {
    return enumerator.refreshApp(app(pid), clock.now() + 0.15, pass, true, revisit);
  }

  sim::SimClock clock;
  sim::SimRunLoop loop{clock};
  sim::SimDesktop desktop{clock, loop};
  system::PosixFileSystem disk;
  sim::FaultyFileSystem noDisk{disk};
  DebugLog log{noDisk, clock, "/nonexistent/tolvane-tests"};
  std::vector<std::string> logLines;
  sim::SimPreferenceStore preferences{{{"launchAtLogin", false}}};
  sim::SimLoginItems loginItems;
  sim::SimSystemLog systemLog;
  AppSettings settings{preferences, loginItems, systemLog, log};
  RecordedUsage usage;
  SpaceWindowResolver resolver{desktop, desktop, clock, log};
  MRUTracker tracker{{desktop, desktop, desktop, loop}};
  WindowEnumerator enumerator{
      {desktop, desktop, resolver, settings, tracker.order(), clock, log, usage}};
  WindowActivator activator{{desktop, desktop, tracker.order(), clock, log, usage, preferences}};
};

}  // namespace tolvane::test
