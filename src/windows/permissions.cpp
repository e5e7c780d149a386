// The accessibility permission request.
#include "windows/permissions.h"

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
  if (const auto url = accessibility_.permissionSettingsURL()) {
    workspace_.openURL(*url);
    return;
  }
  // The log line names no backend: the core does not know what the desktop wants instead.
  log_.log(
      "accessibility settings: nothing to open on this desktop (it has no setting that grants "
      "the permission)");
}

}  // namespace tolvane
