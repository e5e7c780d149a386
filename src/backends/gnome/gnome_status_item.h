// The tray menu on GNOME: Tolvane's Shell extension draws a top-bar button and its menu from a
// JSON description sent over the session bus, and reports openings and chosen entries back.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status_item.h"

namespace tolvane::gnome {

/// Main thread only. The bus itself lives outside: this class turns the core's entries into
/// the description the extension reads, and the extension's answers back into actions.
class GnomeStatusItem final : public StatusItem {
 public:
  /// What the extension reads of a description; whatever lies past these bounds it drops, so
  /// none of it is sent. In the order the extension counts: depth first, separators included.
  static constexpr std::size_t kMaxEntries = 200;
  /// Nested lists: the top level and two levels of submenus.
  static constexpr std::size_t kMaxLevels = 3;
  /// Code points of a title.
  static constexpr std::size_t kMaxTitleCharacters = 256;

  /// `sendMenu` hands a description to the extension; `available` says whether it answers.
  GnomeStatusItem(std::function<void(const std::string& json)> sendMenu,
                  std::function<bool()> available);

  /// The extension's MenuActivated: runs the action of the entry at `id`, its path of indexes
  /// in the description sent last ("2.0"). Anything else the id names does nothing.
  void activated(std::string_view id);
  /// The extension's MenuOpening: the menu is opening now and may be replaced while open.
  void opening();
  /// The extension's MenuClosed.
  void closed();
  /// A new instance of the extension (enabled again, a new Shell) knows no menu: it gets the
  /// current one, if any was sent.
  void sendAgain();

  bool isAvailable() const override;
  void setAppearance(const StatusItemView& view) override;
  void setMenu(std::vector<MenuEntry> entries) override;
  void setMenuWillOpenHandler(std::function<void()> handler) override;
  void setMenuVisibilityHandler(std::function<void(bool open)> handler) override;
  void setClickHandler(std::function<void()> handler) override;

 private:
  const MenuEntry* entryAt(std::string_view id) const;

  std::function<void(const std::string&)> sendMenu_;
  std::function<bool()> available_;
  std::function<void()> willOpen_;
  std::function<void(bool)> visibility_;
  /// The entries as sent last, cut to the extension's bounds: ids index into these.
  std::vector<MenuEntry> sent_;
  bool everSent_ = false;
};

}  // namespace tolvane::gnome
