// The simulated HUD panel and screens: they record what the core asks them to show.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "backends/sim/recording_panel.h"
#include "base/geometry.h"
#include "platform/screens.h"
#include "platform/switcher_panel.h"
#include "views/switcher_panel_view.h"

namespace tolvane::sim {

class SimSwitcherPanel final : public RecordingPanel<SwitcherPanel, SwitcherPanelView> {
 public:
  void setClickHandler(std::function<void(int)> handler) override { click_ = std::move(handler); }
  void prepare(const SwitcherPanelView& view) override { prepared = view; }
  void hide() override {
    prepared.reset();
    RecordingPanel::hide();
  }

  /// What the core last asked to paint ahead; gone at a hide.
  std::optional<SwitcherPanelView> prepared;

  /// A click on the slot with `index`, as the pointer would make it: only clickable slots of the
  /// panel on screen respond. False when nothing took the click.
  bool click(int index) {
    if (!visible || !last || !click_) return false;
    for (const auto& slot : last->slots) {
      if (slot.index == index && slot.clickable) {
        click_(index);
        return true;
      }
    }
    return false;
  }

 private:
  std::function<void(int)> click_;
};

class SimScreens final : public Screens {
 public:
  std::optional<Rect> visibleFrame = Rect{0, 25, 1512, 875};
  int count = 1;
  std::optional<Rect> mainVisibleFrame() const override { return visibleFrame; }
  int screenCount() const override { return visibleFrame ? count : 0; }
};

}  // namespace tolvane::sim
