// The accessibility permission request.
#include "windows/permissions.h"

#include <string>

namespace tolvane {

void Permissions::request() {
  if (accessibility_.isProcessTrusted()) return;
  if (didPrompt_) {
    openAccessibilitySettings();
    return;
  }
  didPrompt_ = true;
  accessibility_.isProcessTrustedWithPrompt();
}

void Permissions::openAccessibilitySettings() {
  workspace_.openURL(std::string(kAccessibilitySettingsURL));
}

}  // namespace tolvane
