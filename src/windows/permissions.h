// Asking for the permission to read and raise other applications' windows.
#pragma once

#include <string_view>

#include "platform/accessibility.h"
#include "platform/workspace.h"

namespace tolvane {

/// The system prompt is shown at most once per process; after that a request opens the settings
/// location instead, where the user can grant the permission by hand.
class Permissions {
 public:
  /// Where the permission is granted. The desktop backend's openURL maps it to its own place.
  static constexpr std::string_view kAccessibilitySettingsURL =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

  Permissions(Accessibility& accessibility, Workspace& workspace)
      : accessibility_(accessibility), workspace_(workspace) {}

  /// Nothing when already trusted; else the prompt the first time, the settings afterwards.
  void request();
  void openAccessibilitySettings();
  bool didPromptAccessibility() const { return didPrompt_; }

 private:
  Accessibility& accessibility_;
  Workspace& workspace_;
  bool didPrompt_ = false;
};

}  // namespace tolvane
