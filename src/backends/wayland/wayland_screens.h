// The screens on Wayland: the compositor's outputs, the main one being the output that shows
// the focused window, where the panels open.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/screens.h"

namespace tolvane::wayland {

/// One output in the compositor's logical coordinates.
struct OutputArea {
  std::string name;
  Rect frame;
};

class WaylandScreens final : public Screens {
 public:
  using Outputs = std::function<std::vector<OutputArea>()>;
  /// The output the focused window is on; empty when unknown.
  using FocusedOutput = std::function<std::string()>;

  WaylandScreens(Outputs outputs, FocusedOutput focused)
      : outputs_(std::move(outputs)), focused_(std::move(focused)) {}

  /// Layer surfaces cover an output whole and panels and bars reserve their own zones, so the
  /// visible frame is the output's frame.
  std::optional<Rect> mainVisibleFrame() const override;
  int screenCount() const override { return static_cast<int>(outputs_().size()); }
  /// The name of the output mainVisibleFrame describes; empty when there is none.
  std::string mainOutput() const;

 private:
  std::optional<OutputArea> main() const;

  Outputs outputs_;
  FocusedOutput focused_;
};

}  // namespace tolvane::wayland
