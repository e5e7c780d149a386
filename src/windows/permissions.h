// Asking for the permission to read and raise other applications' windows.
#pragma once

#include "diagnostics/debug_log.h"
#include "platform/accessibility.h"
#include "platform/workspace.h"

namespace tolvane {

/// The system prompt is shown at most once per process; after that a request opens the settings
/// location instead, where the user can grant the permission by hand.
class Permissions {
 public:
  Permissions(Accessibility& accessibility, Workspace& workspace, DebugLog& log)
      : accessibility_(accessibility), workspace_(workspace), log_(log) {}

  /// Nothing when already trusted; else the prompt the first time, the settings afterwards.
  void request();
  /// Opens the desktop's place for granting the permission; logs why not when it has none.
  void openAccessibilitySettings();
  bool didPromptAccessibility() const { return didPrompt_; }

 private:
  Accessibility& accessibility_;
  Workspace& workspace_;
  DebugLog& log_;
  bool didPrompt_ = false;
};

}  // namespace tolvane
