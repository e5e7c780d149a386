// The main output: the focused window's, else the first the compositor announced.
#include "backends/wayland/wayland_screens.h"

namespace tolvane::wayland {

std::optional<OutputArea> WaylandScreens::main() const {
  const auto outputs = outputs_();
  if (outputs.empty()) return std::nullopt;
  const std::string focused = focused_ ? focused_() : std::string();
  for (const auto& output : outputs) {
    if (output.name == focused) return output;
  }
  return outputs.front();
}

std::optional<Rect> WaylandScreens::mainVisibleFrame() const {
  const auto output = main();
  if (!output) return std::nullopt;
  return output->frame;
}

std::string WaylandScreens::mainOutput() const {
  const auto output = main();
  return output ? output->name : std::string();
}

}  // namespace tolvane::wayland
