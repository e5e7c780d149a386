// The search palette as a description: the search field's state, the ranked rows with their
// matched characters, the explanatory message when there is nothing to list, and the hints.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "views/paint.h"

namespace tolvane {

/// A run of matched characters to highlight, in bytes of the UTF-8 text it belongs to; always
/// on character boundaries.
struct TextRange {
  std::size_t start = 0;
  std::size_t length = 0;
  bool operator==(const TextRange&) const = default;
};

/// One window of the result list. Rows are stacked from the top of the list area: row `index`
/// starts at listInset + index × (rowHeight + rowSpacing).
struct PaletteRowView {
  std::uint32_t windowID = 0;
  int index = 0;
  bool selected = false;
  Paint background;
  /// The window's own icon when the desktop has one; else the application's by bundle id;
  /// else the neutral placeholder.
  std::optional<std::uint32_t> iconWindowID;
  std::optional<std::string> iconBundleID;
  /// Valid UTF-8 with control characters replaced, ready to paint.
  std::string title;
  Paint titlePaint;
  std::vector<TextRange> titleMatches;
  std::string subtitle;
  Paint subtitlePaint;
  std::vector<TextRange> subtitleMatches;
  bool minimizedMarker = false;
  Paint markerPaint;
  /// The row's keyboard shortcut ("Super+1" … "Super+9"); nothing from the tenth row on.
  std::optional<std::string> shortcut;
  Paint shortcutPaint;
};

/// What the body shows instead of rows: no windows, no matches, or no permission.
struct PaletteMessageView {
  /// Names the symbol: "magnifyingglass", "macwindow" or "lock.shield".
  std::string symbol;
  std::string title;
  std::string body;
};

struct PaletteHintView {
  std::string glyph;
  std::string label;
};

struct PalettePanelView {
  Size size{600, 420};
  /// Where to place the panel on screen; nothing keeps its previous frame (no screen known).
  std::optional<Rect> frame;
  double cornerRadius = 14;
  Paint border{SemanticColor::primary, 0.12};
  double borderWidth = 0.5;

  // The search row. The field shows `query`; a backend replaces the field's text only when it
  // differs, so the caret stays where the user put it.
  double searchRowHeight = 46;
  std::string query;
  std::string placeholder;
  /// Each new value asks for keyboard focus in the search field.
  std::uint64_t focusRequestID = 0;

  // The body: rows, or a message when there are none.
  double listInset = 6;
  double rowHeight = 38;
  double rowSpacing = 1;
  std::vector<PaletteRowView> rows;
  /// The row to scroll into view (the minimum scroll that shows it).
  std::optional<std::uint32_t> selectedID;
  std::optional<PaletteMessageView> message;

  double hintsRowHeight = 28;
  std::vector<PaletteHintView> hints;
};

}  // namespace tolvane
