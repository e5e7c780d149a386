// Row geometry, colours and texts of the switcher HUD.
#include "hud/switcher_view.h"

#include <algorithm>

namespace tolvane {

namespace {

constexpr double kInset = 10;
constexpr double kColumnSpacing = 20;
constexpr double kRowSpacing = 2;
constexpr int kNumberedBadges = 9;

bool isCompact(const HUDLayout& layout) {
  return layout.density == HUDLayout::Density::compact;
}

Rect slotFrame(const HUDLayout& layout, std::int64_t column, std::int64_t row) {
  return {kInset + static_cast<double>(column) * (layout.columnWidth + kColumnSpacing),
          kInset + static_cast<double>(row) * (layout.rowHeight() + kRowSpacing),
          layout.columnWidth, layout.rowHeight()};
}

SwitcherSlotView overflowSlot(const HUDLayout& layout, Rect frame, const L10n& l10n) {
  // Substituted by hand rather than through printf: the format comes from a data file.
  std::string text = l10n.string("hud.overflow");
  if (const auto at = text.find("%d"); at != std::string::npos) {
    text.replace(at, 2, std::to_string(layout.overflowCount));
  }
  return {.kind = SwitcherSlotView::Kind::overflow,
          .index = static_cast<int>(layout.shownCount),
          .frame = frame,
          .cornerRadius = isCompact(layout) ? 8.0 : 9.0,
          .background = {SemanticColor::primary, 0.07},
          .hoverBackground = {SemanticColor::primary, 0.07},
          .clickable = false,
          .overflowText = text};
}

SwitcherSlotView windowSlot(const SwitcherModel& model, std::int64_t index, Rect frame,
                            bool inFirstColumn) {
  const auto& window = model.windows[static_cast<std::size_t>(index)];
  const bool compact = isCompact(model.layout);
  SwitcherSlotView slot{
      .kind = SwitcherSlotView::Kind::window,
      .index = static_cast<int>(index),
      .frame = frame,
      .cornerRadius = compact ? 8.0 : 9.0,
      .clickable = true,
      .iconBundleID = window.bundleID(),
      .iconSize = compact ? 20.0 : 24.0,
      .title = displayTitle(window),
      .titleFontSize = compact ? 12.0 : 13.0,
      .minimizedMarker = window.isMinimized(),
  };
  if (compact && !window.isAppEntry() && model.duplicateTitles.count(slot.title)) {
    slot.titleSuffix = " — " + window.appName();
  }
  if (!compact && !window.isAppEntry()) slot.appName = window.appName();
  if (!window.isAppEntry()) slot.iconWindowID = window.id();
  if (inFirstColumn) {
    // Rows past the ninth keep an empty badge, so first-column titles stay aligned.
    slot.badge = index < kNumberedBadges ? SwitcherSlotView::Badge::number
                                         : SwitcherSlotView::Badge::placeholder;
    slot.badgeNumber = index < kNumberedBadges ? static_cast<int>(index) + 1 : 0;
  }
  styleSelection(slot, index == model.selection);
  return slot;
}

}  // namespace

void styleSelection(SwitcherSlotView& slot, bool selected) {
  if (slot.kind != SwitcherSlotView::Kind::window) return;
  const Paint strong = selected ? Paint{SemanticColor::white, 1} : Paint{SemanticColor::primary, 1};
  const Paint soft =
      selected ? Paint{SemanticColor::white, 0.72} : Paint{SemanticColor::secondary, 1};
  slot.background = selected ? Paint{SemanticColor::accent, 1} : Paint{SemanticColor::clear, 0};
  slot.hoverBackground =
      selected ? Paint{SemanticColor::accent, 1} : Paint{SemanticColor::primary, 0.08};
  slot.titlePaint = strong;
  slot.suffixPaint = soft;
  slot.markerPaint = soft;
  slot.appNamePaint = soft;
  slot.badgeTextPaint =
      selected ? Paint{SemanticColor::white, 1} : Paint{SemanticColor::secondary, 1};
  slot.badgeFill =
      selected ? Paint{SemanticColor::white, 0.22} : Paint{SemanticColor::primary, 0.07};
}

const std::string& displayTitle(const SwitchWindow& window) {
  return window.title().empty() ? window.appName() : window.title();
}

SwitcherPanelView describeSwitcher(const SwitcherModel& model, const L10n& l10n) {
  const auto& layout = model.layout;
  SwitcherPanelView view{.size = layout.panelSize()};
  const auto columns = std::max<std::int64_t>(layout.columns, 1);
  for (std::int64_t column = 0; column < columns; ++column) {
    const auto [first, last] = layout.indices(column);
    for (std::int64_t i = first; i < last; ++i) {
      const Rect frame = slotFrame(layout, column, i - first);
      if (layout.overflowCount > 0 && i == layout.shownCount) {
        view.slots.push_back(overflowSlot(layout, frame, l10n));
      } else if (i < static_cast<std::int64_t>(model.windows.size())) {
        view.slots.push_back(windowSlot(model, i, frame, column == 0));
      }
    }
  }
  return view;
}

}  // namespace tolvane
