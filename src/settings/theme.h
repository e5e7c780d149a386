// The two fixed colours of Tolvane's own interface; backends paint SemanticColor::accent and
// ::warn with them.
#pragma once

#include "base/geometry.h"

namespace tolvane::theme {

/// Selected rows: sRGB 10, 132, 255, opaque.
inline constexpr Color kAccent{10 / 255.0, 132 / 255.0, 255 / 255.0, 1.0};
/// Warnings: sRGB 255, 149, 0, opaque.
inline constexpr Color kWarn{255 / 255.0, 149 / 255.0, 0.0, 1.0};

}  // namespace tolvane::theme
