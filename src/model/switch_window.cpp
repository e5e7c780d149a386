// Construction rules shared by window records and application entries.
#include "model/switch_window.h"

namespace tolvane {

std::string SwitchWindow::appNameFor(const RunningApp& app) {
  if (app.localizedName) return *app.localizedName;
  if (app.bundleID) return *app.bundleID;
  return "?";
}

SwitchWindow SwitchWindow::appEntry(const RunningApp& app, AXElement appElement) {
  return SwitchWindow(Fields{
      .id = appEntryID(app.pid),
      .axWindow = std::move(appElement),
      .pid = app.pid,
      .title = "",
      .appName = appNameFor(app),
      .bundleID = app.bundleID,
      .isMinimized = false,
      .appIsHidden = app.hidden,
      .isAppEntry = true,
  });
}

}  // namespace tolvane
