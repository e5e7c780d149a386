// What the Qt tests share: a palette and a HUD described as the core would describe them.
#pragma once

#include <string>

#include "backends/sim/sim_preference_store.h"
#include "backends/system/posix_file_system.h"
#include "hud/switcher_view.h"
#include "localization/l10n.h"
#include "support/window_list.h"
#include "views/palette_panel_view.h"

namespace tolvane::test {

/// A palette of `count` rows, the first selected; what the rows show is the painter's business.
inline PalettePanelView paletteView(int count, Rect frame = {40, 30, 600, 420}) {
  PalettePanelView view{.frame = frame, .placeholder = "Search windows…", .focusRequestID = 1};
  for (int i = 0; i < count; ++i) {
    view.rows.push_back({.windowID = 1000u + static_cast<std::uint32_t>(i),
                         .index = i,
                         .selected = i == 0,
                         .title = "Quarterly report " + std::to_string(i + 1)});
  }
  view.selectedID = 1000u;
  return view;
}

/// The HUD as the core describes it in English for `count` windows on a usable area of
/// `screen`, placed at (40, 30).
struct EnglishSwitcher {
  EnglishSwitcher() { l10n.apply("en"); }
  SwitcherPanelView describe(int count, int selection, Size screen = {1512, 875}) {
    SwitcherModel model{editorWindows(count), selection, HUDLayout::compute(count, screen), {}};
    SwitcherPanelView view = describeSwitcher(model, l10n);
    view.frame = Rect{40, 30, view.size.width, view.size.height};
    return view;
  }
  sim::SimPreferenceStore preferences;
  system::PosixFileSystem files;
  FrameworkLanguage framework{files};
  L10n l10n{preferences, framework, {}};
};

}  // namespace tolvane::test
