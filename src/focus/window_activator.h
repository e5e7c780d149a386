// Brings one chosen window (or windowless application) forward: the single place where Tolvane
// acts on other applications' windows.
#pragma once

#include <memory>

#include "base/clock.h"
#include "diagnostics/debug_log.h"
#include "focus/mru_order.h"
#include "model/switch_window.h"
#include "model/usage_recorder.h"
#include "platform/accessibility.h"
#include "platform/preferences.h"
#include "platform/workspace.h"

namespace tolvane {

/// Main thread. No step is retried and no failed step stops the sequence: the window is always
/// promoted, logged and reported. Everything happens at once except the log line and the usage
/// event of a window, which wait for the workspace's answer: they say whether the window manager
/// really made the application frontmost, and "ms" runs until that answer.
class WindowActivator {
 public:
  struct Services {
    Workspace& workspace;
    Accessibility& accessibility;
    MRUOrder& order;
    const Clock& clock;
    DebugLog& log;
    UsageRecorder& usage;
    /// Read for "testerModeEnabled", which adds detail to the log.
    const PreferenceStore& preferences;
  };

  explicit WindowActivator(Services services) : s_(services) {}
  // Answers still on their way hold a weak reference to `alive_`, never a copy of the activator.
  WindowActivator(const WindowActivator&) = delete;
  WindowActivator& operator=(const WindowActivator&) = delete;

  /// Unminimizes, unhides, raises and focuses `window` (or re-opens the application of an
  /// application entry). False when the application refused at once or is gone; true when it
  /// accepted or its answer is still to come (the log line and usage event tell which).
  bool activate(const SwitchWindow& window);

 private:
  bool activateWindow(const SwitchWindow& window, double started);
  bool activateApp(const SwitchWindow& window);
  bool testerMode() const;
  /// The log lines and usage event of a window activation, once its answer is known.
  void conclude(const SwitchWindow& window, bool ok, double started);
  void report(const SwitchWindow& window, bool ok, const char* method, double started);

  Services s_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace tolvane
