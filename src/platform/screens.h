// The screens the core lays its panels out on.
#pragma once

#include <optional>

#include "base/geometry.h"

namespace tolvane {

class Screens {
 public:
  virtual ~Screens() = default;
  /// The main screen's frame without panels and docks; nothing when there is no screen.
  virtual std::optional<Rect> mainVisibleFrame() const = 0;
  virtual int screenCount() const = 0;
};

}  // namespace tolvane
