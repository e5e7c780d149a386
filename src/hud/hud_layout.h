// The geometry of one switcher session: columns, rows, density, overflow, and the slot
// arithmetic that keyboard navigation and drawing share.
#pragma once

#include <cstdint>
#include <utility>

#include "base/geometry.h"

namespace tolvane {

/// An immutable value computed from the window count and the usable screen size. Slots fill
/// column by column; the first `fullColumns()` columns hold `rowsPerColumn` slots, the others
/// one fewer. With overflow, the last slot (index `shownCount`) is the overflow tile.
struct HUDLayout {
  enum class Density { normal, compact };

  Density density = Density::normal;
  std::int64_t columns = 1;
  std::int64_t rowsPerColumn = 0;
  double columnWidth = 540;
  std::int64_t shownCount = 0;
  std::int64_t overflowCount = 0;

  bool operator==(const HUDLayout&) const = default;

  /// The layout for `count` windows on a usable area of `screen` points.
  static HUDLayout compute(std::int64_t count, Size screen);

  /// Slots drawn: the shown windows, plus the overflow tile when there is one.
  std::int64_t slots() const { return shownCount + (overflowCount > 0 ? 1 : 0); }
  /// Columns that hold `rowsPerColumn` slots (the rest hold one fewer).
  std::int64_t fullColumns() const;
  /// The panel's size in points, content insets included.
  Size panelSize() const;
  /// Row height of the density: 40 normal, 32 compact.
  double rowHeight() const { return density == Density::normal ? 40 : 32; }
  /// Slots in column `column` (0 past the last column).
  std::int64_t rowCount(std::int64_t column) const;
  /// Index of the top slot of column `column`.
  std::int64_t firstIndex(std::int64_t column) const;
  /// Half-open range [first, last) of the slot indices in column `column`.
  std::pair<std::int64_t, std::int64_t> indices(std::int64_t column) const;
  /// (column, row) of slot `index`.
  std::pair<std::int64_t, std::int64_t> position(std::int64_t index) const;
  /// The slot a sideways move by `delta` columns lands on from `index`: same row where the
  /// target column has it, wrapping around, never on the overflow tile.
  std::int64_t columnJump(std::int64_t index, std::int64_t delta) const;
};

}  // namespace tolvane
