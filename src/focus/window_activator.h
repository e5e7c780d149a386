// Brings one chosen window (or windowless application) forward: the single place where Tolvane
// acts on other applications' windows.
#pragma once

#include "diagnostics/debug_log.h"
#include "focus/mru_order.h"
#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/preferences.h"
#include "platform/workspace.h"
#include "reporting/usage_recorder.h"
#include "windows/switch_window.h"

namespace tolvane {

/// Main thread. No step is retried and no failed step stops the sequence: the window is always
/// promoted, logged and reported.
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

  /// Unminimizes, unhides, raises and focuses `window` (or re-opens the application of an
  /// application entry). Whether the application accepted the activation.
  bool activate(const SwitchWindow& window);

 private:
  bool activateApp(const SwitchWindow& window);
  bool testerMode() const;
  void report(const SwitchWindow& window, bool ok, const char* method, double started);

  Services s_;
};

}  // namespace tolvane
