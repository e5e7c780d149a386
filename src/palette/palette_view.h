// The palette's content as a description: the search field, the ranked rows with their
// matched characters, the message when there is nothing to list, and the keyboard hints.
#pragma once

#include <optional>
#include <string_view>

#include "base/geometry.h"
#include "localization/l10n.h"
#include "palette/palette_model.h"
#include "views/palette_panel_view.h"

namespace tolvane {

/// Rows from the tenth on have no Command-digit shortcut.
inline constexpr int kPaletteShortcutRows = 9;

/// The panel content for `model`, with texts from `l10n`. `trusted` is the accessibility
/// permission as of this drawing: without it an empty list explains the permission. `hotKey`
/// is the palette combination in use as the user reads it ("Alt+Space").
PalettePanelView describePalette(const PaletteModel& model, const L10n& l10n, bool trusted,
                                 std::optional<Rect> frame, std::string_view hotKey);

}  // namespace tolvane
