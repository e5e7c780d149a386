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
  /// The view the next show will most likely bring, while the panel is hidden: a panel that
  /// paints slowly may paint it ahead. Only a hint: show still brings its view, and a different
  /// one is painted afresh; hide drops what was prepared.
  virtual void prepare(const SwitcherPanelView& view) { (void)view; }
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
  /// Row clicks, by slot index.
  virtual void setClickHandler(std::function<void(int slot)> handler) = 0;
};

}  // namespace tolvane
