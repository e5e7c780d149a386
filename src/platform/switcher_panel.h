// The switcher HUD the core hands complete descriptions to; the backend only paints them
// and reports clicks back.
#pragma once

#include <functional>

namespace tolvane {

// Defined beside the view that computes it.
struct SwitcherPanelView;

/// The switcher HUD: never takes keyboard focus.
class SwitcherPanel {
 public:
  virtual ~SwitcherPanel() = default;
  virtual void show(const SwitcherPanelView& view) = 0;
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
  /// Row clicks, by slot index.
  virtual void setClickHandler(std::function<void(int slot)> handler) = 0;
};

}  // namespace tolvane
