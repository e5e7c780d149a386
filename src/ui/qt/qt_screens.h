// The screens as Qt sees them: the primary screen's usable area and how many screens there are.
#pragma once

#include <optional>

#include "base/geometry.h"
#include "platform/screens.h"

namespace tolvane::qt {

/// Frames are in Qt's virtual-desktop coordinates, the ones the HUD window is placed in.
/// Main thread only; needs a QGuiApplication.
class QtScreens final : public Screens {
 public:
  /// The primary screen's geometry without panels and docks (as the window manager reports
  /// its work area); nothing while Qt knows no screen.
  std::optional<Rect> mainVisibleFrame() const override;
  int screenCount() const override;
};

}  // namespace tolvane::qt
