// The windows the palette and the tray's recent-window list show: a refresh of every listed
// application under a short deadline, then a snapshot of the cache without application entries.
#pragma once

#include <vector>

#include "base/clock.h"
#include "model/switch_window.h"
#include "platform/accessibility.h"
#include "platform/workspace.h"
#include "settings/app_settings.h"
#include "windows/space_window_resolver.h"
#include "windows/window_enumerator.h"

namespace tolvane {

/// Each application's own budget for discovery before a list opens.
inline constexpr double kPaletteRefreshSeconds = 0.15;

struct PaletteSnapshotSources {
  Workspace& workspace;
  const Accessibility& accessibility;
  SpaceWindowResolver& resolver;
  WindowEnumerator& enumerator;
  const AppSettings& settings;
  const Clock& clock;
};

/// Main thread. Without the accessibility permission: nothing, and no application is asked.
/// Otherwise refreshes the regular applications that are not this process, not excluded and not
/// hidden while hidden ones are off, one after another, then answers every application's
/// windows, most recently used first.
std::vector<SwitchWindow> takePaletteSnapshot(const PaletteSnapshotSources& sources);

}  // namespace tolvane
