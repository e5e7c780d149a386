// The tray icon as a description: the drawing of its state (paths in a 16-unit square), the
// alert dot and the tooltip. The backend renders it at the tray's size, for a light or a dark
// panel.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/geometry.h"

namespace tolvane {

enum class MenuBarIconState { active, paused, permissionWarning };

/// One element of a path; `to` is the end point, `control1` and `control2` are used by curves.
struct PathElement {
  enum class Op { move, line, curve, close };
  Op op = Op::move;
  Point to;
  Point control1;
  Point control2;
};

/// A monochrome line drawing in a square of `size` units (origin top left, y down). Each path
/// is stroked with round caps and joins; `scale` applies to the paths only.
struct VectorIcon {
  double size = 16;
  double scale = 0.8;
  double lineWidth = 1.5;
  std::vector<std::vector<PathElement>> paths;
  /// An oval erased after stroking (unscaled units), where the alert dot sits.
  std::optional<Rect> hole;
};

struct StatusItemView {
  MenuBarIconState state = MenuBarIconState::active;
  VectorIcon icon;
  /// The red alert dot: its centre and diameter in the icon's unscaled units.
  bool badged = false;
  Point badgeCenter;
  double badgeDiameter = 0;
  /// Whether the dot beats; false when the desktop asks for reduced motion.
  bool pulse = false;
  /// The beat as frames: the dot's scale (1 at rest) in each frame of one beat, each shown for
  /// `pulseFrameSeconds`, repeated while `pulse` is set.
  std::vector<double> pulseScales;
  double pulseFrameSeconds = 0;
  std::string tooltip;
};

}  // namespace tolvane
