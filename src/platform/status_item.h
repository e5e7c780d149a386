// The tray icon and its menu, painted from the core's entries.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

// Defined beside the view that computes it.
struct StatusItemView;

/// One entry of a menu; a separator has no title.
struct MenuEntry {
  enum class Kind { item, separator, header };
  Kind kind = Kind::item;
  std::string title;
  bool enabled = true;
  bool checked = false;
  /// The shortcut shown beside the title: one character (" " for Space), with its modifiers
  /// in `keyEquivalentFlags` (eventflags); empty for none.
  std::string keyEquivalent;
  std::uint64_t keyEquivalentFlags = 0;
  /// Bundle id whose icon is shown beside the title, when any.
  std::optional<std::string> iconBundleID;
  std::function<void()> action;
  std::vector<MenuEntry> submenu;
};

/// The tray icon with its menu.
class StatusItem {
 public:
  virtual ~StatusItem() = default;
  /// Whether a tray host shows the item; the application keeps working without one.
  virtual bool isAvailable() const = 0;
  /// Draws the icon, the alert dot and the tooltip from the description.
  virtual void setAppearance(const StatusItemView& view) = 0;
  /// The entries of the menu the next opening shows.
  virtual void setMenu(std::vector<MenuEntry> entries) = 0;
  /// Called just before the menu opens, so it can be rebuilt with fresh windows.
  virtual void setMenuWillOpenHandler(std::function<void()> handler) = 0;
  /// Called when the menu opens (true) and closes (false): while it is open it may hold the
  /// keyboard and the pointer.
  virtual void setMenuVisibilityHandler(std::function<void(bool open)> handler) = 0;
  /// A plain (primary) click on the item; a secondary click opens the menu instead.
  virtual void setClickHandler(std::function<void()> handler) = 0;
};

}  // namespace tolvane
