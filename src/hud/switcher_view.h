// The switcher HUD's content as a description: rows in columns as the layout prescribes, the
// selection highlight, digit badges, and the overflow tile.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "hud/hud_layout.h"
#include "localization/l10n.h"
#include "model/switch_window.h"
#include "views/switcher_panel_view.h"

namespace tolvane {

/// What the HUD draws from: the session's windows (including those folded into the overflow
/// tile), the selection, the layout, and the titles that repeat among the shown windows.
struct SwitcherModel {
  std::vector<SwitchWindow> windows;
  int selection = 0;
  HUDLayout layout = HUDLayout::compute(0, {0, 0});
  std::set<std::string> duplicateTitles;
};

/// The title a window is shown under: its title, or its application's name when it has none.
const std::string& displayTitle(const SwitchWindow& window);

/// Sets the paints of a window slot that depend on whether it is selected.
void styleSelection(SwitcherSlotView& slot, bool selected);

/// The panel content for `model`, with the overflow text from `l10n`.
SwitcherPanelView describeSwitcher(const SwitcherModel& model, const L10n& l10n);

}  // namespace tolvane
