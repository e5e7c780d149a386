// The switcher HUD as a description: everything the backend paints, computed by the core.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "views/paint.h"

namespace tolvane {

/// One slot of the HUD: a window row, the overflow tile, or nothing.
struct SwitcherSlotView {
  enum class Kind { window, overflow };
  enum class Badge { none, number, placeholder };

  Kind kind = Kind::window;
  /// Position in the session's window list; a click on a window row reports it.
  int index = 0;
  /// Relative to the panel's top-left corner.
  Rect frame;
  double cornerRadius = 9;
  Paint background;
  /// The background while the pointer is over a row that is not selected.
  Paint hoverBackground;
  bool clickable = false;

  // Window rows.
  /// The window whose own icon is shown when the desktop has one (real windows, not
  /// application entries); else the application's icon by bundle id.
  std::optional<std::uint32_t> iconWindowID;
  std::optional<std::string> iconBundleID;
  double iconSize = 24;
  std::string title;
  Paint titlePaint;
  double titleFontSize = 13;
  /// " — " and the application name, after the title, when titles repeat.
  std::optional<std::string> titleSuffix;
  Paint suffixPaint;
  bool minimizedMarker = false;
  Paint markerPaint;
  /// The separate application name at the row's end (normal density, real windows).
  std::optional<std::string> appName;
  Paint appNamePaint;
  Badge badge = Badge::none;
  int badgeNumber = 0;
  Paint badgeTextPaint;
  Paint badgeFill;

  // The overflow tile: its text, e.g. "+2 more".
  std::string overflowText;

  bool operator==(const SwitcherSlotView&) const = default;
};

struct SwitcherPanelView {
  Size size;
  /// Where to place the panel on screen; nothing keeps its previous frame (no screen known).
  std::optional<Rect> frame;
  double cornerRadius = 16;
  Paint border{SemanticColor::primary, 0.12};
  double borderWidth = 0.5;
  std::vector<SwitcherSlotView> slots;

  bool operator==(const SwitcherPanelView&) const = default;
};

}  // namespace tolvane
