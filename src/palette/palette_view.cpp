// Rows, paints, messages and hints of the palette.
#include "palette/palette_view.h"

namespace tolvane {

namespace {

// The label colour's tertiary level: the primary colour, faint.
constexpr Paint kTertiary{SemanticColor::primary, 0.26};

PaletteRowView describeRow(const PaletteModel& model, std::size_t index) {
  const SwitchWindow& window = model.visible()[index];
  const bool selected = model.selectedID() == window.id();
  auto text = model.rowText(index);
  PaletteRowView row{
      .windowID = window.id(),
      .index = static_cast<int>(index),
      .selected = selected,
      .background = selected ? Paint{SemanticColor::accent, 1} : Paint{SemanticColor::clear, 0},
      .iconWindowID = window.id(),
      .iconBundleID = window.bundleID(),
      .title = text.candidate->title,
      .titlePaint = selected ? Paint{SemanticColor::white, 1} : Paint{SemanticColor::primary, 1},
      .titleMatches = std::move(text.titleMatches),
      .subtitle = text.candidate->appName,
      .subtitlePaint =
          selected ? Paint{SemanticColor::white, 0.7} : Paint{SemanticColor::secondary, 1},
      .subtitleMatches = std::move(text.appNameMatches),
      .minimizedMarker = window.isMinimized(),
      .markerPaint =
          selected ? Paint{SemanticColor::white, 0.85} : Paint{SemanticColor::secondary, 1},
      .shortcutPaint = selected ? Paint{SemanticColor::white, 0.7} : kTertiary,
  };
  if (index < kPaletteShortcutRows) row.shortcut = "Super+" + std::to_string(index + 1);
  return row;
}

PaletteMessageView describeMessage(const PaletteModel& model, const L10n& l10n, bool trusted,
                                   std::string_view hotKey) {
  if (trusted && !model.query().empty()) {
    return {"magnifyingglass", l10n.string("palette.noResults"),
            l10n.string("palette.noResultsBody")};
  }
  if (trusted) {
    return {"macwindow", l10n.string("palette.emptyTitle"),
            formatText(l10n.string("palette.emptyBody"), hotKey)};
  }
  return {"lock.shield", l10n.string("palette.permTitle"), l10n.string("palette.permBody")};
}

}  // namespace

PalettePanelView describePalette(const PaletteModel& model, const L10n& l10n, bool trusted,
                                 std::optional<Rect> frame, std::string_view hotKey) {
  PalettePanelView view{
      .frame = frame,
      .query = model.query(),
      .placeholder = l10n.string("palette.searchPlaceholder"),
      .focusRequestID = model.focusRequestID(),
      .selectedID = model.selectedID(),
  };
  view.rows.reserve(model.visible().size());
  for (std::size_t i = 0; i < model.visible().size(); ++i) {
    view.rows.push_back(describeRow(model, i));
  }
  if (view.rows.empty()) view.message = describeMessage(model, l10n, trusted, hotKey);
  view.hints = {{"↩", l10n.string("hint.switch")},
                {"Super+1–9", l10n.string("hint.quick")},
                {"↑↓", l10n.string("hint.move")},
                {"esc", l10n.string("hint.close")}};
  return view;
}

}  // namespace tolvane
