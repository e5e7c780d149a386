// How the core names colours in view descriptions: semantic colours the backend maps to the
// desktop's light or dark appearance, each with an opacity.
#pragma once

namespace tolvane {

enum class SemanticColor {
  primary,    // the label colour
  secondary,  // the secondary label colour
  white,
  clear,
  accent,  // the theme accent, sRGB 10, 132, 255
  warn,    // the theme warning colour, sRGB 255, 149, 0
};

struct Paint {
  SemanticColor color = SemanticColor::clear;
  double opacity = 1.0;
  bool operator==(const Paint&) const = default;
};

}  // namespace tolvane
