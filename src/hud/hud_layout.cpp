// Choosing density, columns and overflow for a window count, and the slot arithmetic.
#include "hud/hud_layout.h"

#include <algorithm>
#include <cmath>

namespace tolvane {

namespace {

constexpr double kNormalPitch = 42;          // row height 40 + spacing 2
constexpr double kCompactPitch = 34;         // row height 32 + spacing 2
constexpr double kNormalColumnPitch = 380;   // column 360 + spacing 20
constexpr double kCompactColumnPitch = 320;  // column 300 + spacing 20
constexpr double kNormalColumnWidth = 360;
constexpr double kCompactColumnWidth = 300;
constexpr double kSingleColumnWidth = 540;
constexpr double kRowSpacing = 2;
constexpr double kColumnSpacing = 20;
constexpr double kInsets = 20;  // 10 on each side

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
  return (a + b - 1) / b;
}

// Capacities truncate toward zero; a usable term below one pitch still allows one row.
std::int64_t fits(double term, double pitch) {
  return static_cast<std::int64_t>(term / pitch);
}

HUDLayout finish(HUDLayout layout, double width) {
  layout.rowsPerColumn = layout.columns < 1 ? 0 : ceilDiv(layout.slots(), layout.columns);
  layout.columnWidth = layout.columns == 1 ? kSingleColumnWidth : width;
  return layout;
}

}  // namespace

HUDLayout HUDLayout::compute(std::int64_t count, Size screen) {
  // 80 % of the height less the insets, plus one spacing: k rows need k × pitch − spacing.
  const double heightTerm = std::floor(screen.height * 0.8) - kInsets + kRowSpacing;
  const std::int64_t normalRows = std::max<std::int64_t>(fits(heightTerm, kNormalPitch), 1);
  const std::int64_t c = std::max<std::int64_t>(count, 0);
  const std::int64_t needed = ceilDiv(c, normalRows);
  if (needed < 2) {
    return finish({.density = Density::normal, .columns = 1, .shownCount = c}, kSingleColumnWidth);
  }
  const double widthTerm = std::floor(screen.width * 0.88) - kInsets + kColumnSpacing;
  if (needed <= fits(widthTerm, kNormalColumnPitch)) {
    return finish({.density = Density::normal, .columns = needed, .shownCount = c},
                  kNormalColumnWidth);
  }

  const std::int64_t compactRows = std::max<std::int64_t>(fits(heightTerm, kCompactPitch), 1);
  std::int64_t capacityColumns = fits(widthTerm, kCompactColumnPitch);
  const std::int64_t compactNeeded = ceilDiv(c, compactRows);
  const HUDLayout all{.density = Density::compact, .columns = compactNeeded, .shownCount = c};
  if (capacityColumns <= 0) {
    if (compactNeeded <= 1) return finish(all, kCompactColumnWidth);
    capacityColumns = 1;
  } else if (compactNeeded <= capacityColumns) {
    return finish(all, kCompactColumnWidth);
  }
  // The overflow tile takes a slot of its own, so overflowing always folds at least two.
  const std::int64_t shown = std::max<std::int64_t>(capacityColumns * compactRows - 1, 0);
  return finish({.density = Density::compact,
                 .columns = capacityColumns,
                 .shownCount = shown,
                 .overflowCount = c - shown},
                kCompactColumnWidth);
}

std::int64_t HUDLayout::fullColumns() const {
  if (columns < 1 || rowsPerColumn < 1) return 0;
  return slots() - (rowsPerColumn - 1) * columns;
}

Size HUDLayout::panelSize() const {
  const auto cols = static_cast<double>(columns);
  const auto rows = static_cast<double>(rowsPerColumn);
  return {std::max(cols - 1, 0.0) * kColumnSpacing + columnWidth * cols + kInsets,
          kRowSpacing * std::max(rows - 1, 0.0) + rowHeight() * rows + kInsets};
}

std::int64_t HUDLayout::rowCount(std::int64_t column) const {
  if (column >= columns) return 0;
  if (rowsPerColumn >= 1 && column < fullColumns()) return rowsPerColumn;
  return std::max<std::int64_t>(rowsPerColumn - 1, 0);
}

std::int64_t HUDLayout::firstIndex(std::int64_t column) const {
  const std::int64_t full = fullColumns();
  if (column < full) return column * rowsPerColumn;
  return full * rowsPerColumn + (column - full) * (rowsPerColumn - 1);
}

std::pair<std::int64_t, std::int64_t> HUDLayout::indices(std::int64_t column) const {
  const std::int64_t first = firstIndex(column);
  return {first, first + rowCount(column)};
}

std::pair<std::int64_t, std::int64_t> HUDLayout::position(std::int64_t index) const {
  if (rowsPerColumn < 1) return {0, 0};
  const std::int64_t full = fullColumns();
  const std::int64_t boundary = full * rowsPerColumn;
  if (index < boundary) return {index / rowsPerColumn, index % rowsPerColumn};
  const std::int64_t shorter = std::max<std::int64_t>(rowsPerColumn - 1, 1);
  const std::int64_t rest = index - boundary;
  return {full + rest / shorter, rest % shorter};
}

std::int64_t HUDLayout::columnJump(std::int64_t index, std::int64_t delta) const {
  if (columns < 2 || shownCount < 1) return index;
  const auto [column, row] = position(index);
  const std::int64_t target = ((column + delta) % columns + columns) % columns;
  const std::int64_t rows = rowCount(target);
  std::int64_t candidate = firstIndex(target) + (rows > 1 ? std::min(row, rows - 1) : 0);
  if (overflowCount > 0 && candidate == shownCount) --candidate;
  return std::clamp<std::int64_t>(candidate, 0, shownCount - 1);
}

}  // namespace tolvane
