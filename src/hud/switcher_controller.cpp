// Showing, refreshing and hiding the HUD panel.
#include "hud/switcher_controller.h"

#include <utility>

namespace tolvane {

SwitcherController::SwitcherController(Services services)
    : s_(services), self_(std::make_shared<SwitcherController*>(this)) {
  s_.panel.setClickHandler([this](int index) {
    if (rowClick_) rowClick_(index);
  });
}

SwitcherController::~SwitcherController() {
  s_.panel.setClickHandler({});
}

HUDLayout SwitcherController::layout(std::int64_t count) const {
  const auto frame = s_.screens.mainVisibleFrame();
  return HUDLayout::compute(count, frame ? Size{frame->width, frame->height} : kFallbackScreen);
}

std::set<std::string> SwitcherController::duplicateTitles(const std::vector<SwitchWindow>& windows,
                                                          std::size_t count) {
  std::set<std::string> seen;
  std::set<std::string> duplicates;
  for (std::size_t i = 0; i < std::min(count, windows.size()); ++i) {
    const auto& title = displayTitle(windows[i]);
    if (!seen.insert(title).second) duplicates.insert(title);
  }
  return duplicates;
}

void SwitcherController::setModel(std::vector<SwitchWindow> windows, int selection,
                                  HUDLayout layout) {
  model_.windows = std::move(windows);
  model_.selection = selection;
  model_.layout = layout;
  // Only compact rows lack the separate application name, so only they need the suffix.
  model_.duplicateTitles =
      layout.density == HUDLayout::Density::compact
          ? duplicateTitles(model_.windows, static_cast<std::size_t>(layout.shownCount))
          : std::set<std::string>{};
  view_ = describeSwitcher(model_, s_.l10n);
  if (const auto screen = s_.screens.mainVisibleFrame()) {
    view_.frame = Rect{screen->x + screen->width / 2 - view_.size.width / 2,
                       screen->y + screen->height / 2 - view_.size.height / 2, view_.size.width,
                       view_.size.height};
  }
}

void SwitcherController::prepare(std::vector<SwitchWindow> windows, int selection,
                                 HUDLayout layout) {
  setModel(std::move(windows), selection, layout);
  prepared_ = true;
  s_.panel.prepare(view_);
}

void SwitcherController::show(std::vector<SwitchWindow> windows, int selection, HUDLayout layout) {
  ++visibilityGeneration_;  // cancels any pending re-hide
  setModel(std::move(windows), selection, layout);
  panelCreated_ = true;
  prepared_ = false;
  s_.panel.show(view_);
}

void SwitcherController::setSelection(int selection) {
  const int previous = std::exchange(model_.selection, selection);
  const bool visible = isPanelVisible();
  if (!visible && !prepared_) return;
  for (auto& slot : view_.slots) {
    if (slot.index == previous || slot.index == selection) {
      styleSelection(slot, slot.index == selection);
    }
  }
  if (visible) {
    s_.panel.show(view_);
  } else {
    s_.panel.prepare(view_);
  }
}

void SwitcherController::hide() {
  const auto generation = ++visibilityGeneration_;
  // A panel never shown still drops what it prepared.
  const bool prepared = std::exchange(prepared_, false);
  if (panelCreated_ || prepared) s_.panel.hide();
  // A panel can come back on screen behind our back (a Space switch, a late show of the
  // toolkit); ordering it out again, unless a newer show happened, keeps it hidden.
  std::weak_ptr<SwitcherController*> weak = self_;
  for (double delay : kRehideSeconds) {
    s_.runLoop.postAfter(delay, [weak, generation] {
      auto self = weak.lock();
      if (!self) return;
      SwitcherController& controller = **self;
      if (controller.visibilityGeneration_ == generation && controller.panelCreated_) {
        controller.s_.panel.hide();
      }
    });
  }
}

}  // namespace tolvane
