// Keeps the window cache fresh while Tolvane runs: a pass over the applications every five
// seconds, one application at a time with a yield between them, plus an immediate refresh of an
// application that launches or becomes active, and forgetting one that quits.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "base/clock.h"
#include "base/run_loop.h"
#include "base/task.h"
#include "diagnostics/debug_log.h"
#include "platform/accessibility.h"
#include "platform/preferences.h"
#include "platform/workspace.h"
#include "settings/app_settings.h"
#include "windows/space_window_resolver.h"
#include "windows/window_enumerator.h"

namespace tolvane {

/// Main thread only: the pass loop is a main-thread task, so the cache needs no lock; the price
/// is that each refresh holds the main thread, which is why there is one application per step
/// and a 0.15 s deadline each.
class BackgroundRefresh {
 public:
  static constexpr double kPassPauseSeconds = 5.0;
  static constexpr std::int64_t kFullPassPeriod = 6;
  static constexpr double kDeadlineSeconds = 0.15;

  struct Services {
    Workspace& workspace;
    Accessibility& accessibility;
    SpaceWindowResolver& resolver;
    WindowEnumerator& enumerator;
    const AppSettings& settings;
    /// Read for "testerModeEnabled" at the end of every pass.
    const PreferenceStore& preferences;
    RunLoop& runLoop;
    const Clock& clock;
    DebugLog& log;
  };

  explicit BackgroundRefresh(Services services) : s_(services) {}
  ~BackgroundRefresh() { stop(); }
  BackgroundRefresh(const BackgroundRefresh&) = delete;
  BackgroundRefresh& operator=(const BackgroundRefresh&) = delete;

  /// Registers the three observers and starts the pass loop; a second call does nothing.
  void start();
  /// Removes the observers and cancels the loop (it ends at its next check).
  void stop();
  bool isRunning() const { return running_; }

  /// Refreshes one application now, as its launch or activation does.
  void refreshSingle(Pid pid);

 private:
  Task passLoop();
  bool isEligible(const RunningApp& app) const;

  Services s_;
  bool running_ = false;
  TaskHandle task_;
  std::vector<ObserverToken> observers_;
};

}  // namespace tolvane
