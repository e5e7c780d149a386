// Refresh then snapshot, as a list that opens needs it.
#include "palette/palette_snapshot.h"

#include <algorithm>
#include <limits>

namespace tolvane {

namespace {

bool isListed(const RunningApp& app, Pid ownPid, const AppSettings& settings) {
  if (app.activationPolicy != ActivationPolicy::regular || app.pid == ownPid) return false;
  const auto& excluded = settings.excludedBundleIDs();
  if (app.bundleID &&
      std::find(excluded.begin(), excluded.end(), *app.bundleID) != excluded.end()) {
    return false;
  }
  return !app.hidden || settings.showHiddenAppWindows();
}

}  // namespace

std::vector<SwitchWindow> takePaletteSnapshot(const PaletteSnapshotSources& s) {
  if (!s.accessibility.isProcessTrusted()) return {};
  const auto crossSpace = s.resolver.windowIDsAcrossSpaces();
  const Pid ownPid = s.workspace.ownPid();
  for (const auto& app : s.workspace.runningApplications()) {
    if (!isListed(app, ownPid, s.settings)) continue;
    const double deadline =
        std::min(s.clock.now() + kPaletteRefreshSeconds, std::numeric_limits<double>::max());
    s.enumerator.refreshApp(app, deadline, crossSpace, false, false);
  }
  return s.enumerator.snapshot(std::nullopt, false);
}

}  // namespace tolvane
