// The simulated tray item: it records the appearance the core pushes and opens its menu as a
// secondary click would, so tests read and choose entries as a user sees them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/status_item.h"
#include "views/status_item_view.h"

namespace tolvane::sim {

class SimStatusItem final : public StatusItem {
 public:
  bool isAvailable() const override { return available; }
  void setAppearance(const StatusItemView& view) override {
    appearance = view;
    ++appearancePushes;
  }
  void setMenu(std::vector<MenuEntry> entries) override { menu_ = std::move(entries); }
  void setMenuWillOpenHandler(std::function<void()> handler) override {
    willOpen_ = std::move(handler);
  }
  void setMenuVisibilityHandler(std::function<void(bool open)> handler) override {
    visibility_ = std::move(handler);
  }
  void setClickHandler(std::function<void()> handler) override { click_ = std::move(handler); }

  /// A primary click; false when nothing listens.
  bool click() {
    if (!click_) return false;
    click_();
    return true;
  }
  /// Opens the menu: it is rebuilt first, as before every real opening.
  const std::vector<MenuEntry>& openMenu() {
    if (willOpen_) willOpen_();
    setMenuOpen(true);
    return menu_;
  }
  /// The user dismisses the menu without choosing (Escape, a click elsewhere).
  void closeMenu() { setMenuOpen(false); }
  /// Chooses the enabled item titled `title` in the menu as last opened; false when there is
  /// none (a separator, a disabled notice, a title not listed).
  bool choose(const std::string& title) {
    for (const auto& entry : menu_) {
      if (entry.kind == MenuEntry::Kind::item && entry.title == title && entry.enabled) {
        // The menu closes before the action runs, as a real one lets go of its grabs first.
        setMenuOpen(false);
        // The action may rebuild the menu this entry lives in.
        if (auto action = entry.action) action();
        return true;
      }
    }
    return false;
  }

  bool available = true;
  std::optional<StatusItemView> appearance;
  int appearancePushes = 0;

 private:
  void setMenuOpen(bool open) {
    if (open == menuOpen_) return;
    menuOpen_ = open;
    if (visibility_) visibility_(open);
  }

  std::vector<MenuEntry> menu_;
  bool menuOpen_ = false;
  std::function<void()> willOpen_;
  std::function<void(bool)> visibility_;
  std::function<void()> click_;
};

}  // namespace tolvane::sim
