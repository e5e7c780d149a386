// The tray item on the Qt desktop: a QSystemTrayIcon (a StatusNotifierItem where a watcher runs,
// an XEmbed icon otherwise; Qt chooses) painted from the core's description, with a QMenu built
// from the core's entries each time it opens.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QKeySequence>
#include <QPalette>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "platform/status_item.h"
#include "ui/qt/app_icons.h"
#include "views/status_item_view.h"

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;
class QMenu;
class QObject;
class QSystemTrayIcon;
class QTimer;

namespace tolvane::qt {

/// Main thread only; needs a QApplication. The icon shows from the first appearance on; while
/// no X11 tray runs Qt keeps it ready and docks it when one starts. Whether to export it to a
/// StatusNotifierItem host instead Qt decides once, as the icon is made: on Wayland, where there
/// is nothing else, the icon is made only once a bar's watcher says that a host runs.
class QtStatusItem final : public StatusItem {
 public:
  /// Icon sizes put into every icon, so that any tray finds its own without scaling.
  static constexpr int kIconSizes[] = {16, 22, 24, 32, 48};
  /// The tray's icon size while the tray has not said.
  static constexpr int kDefaultTraySize = 22;

  /// Answers whether a tray host runs.
  using TrayProbe = std::function<bool()>;

  /// `trayProbe` defaults to asking Qt, which looks for a StatusNotifierItem watcher on the
  /// session bus and for the X11 tray selection's owner; once Qt has exported the item to a
  /// watcher's host, to whether the watcher's name has an owner.
  explicit QtStatusItem(TrayProbe trayProbe = {});
  ~QtStatusItem() override;
  QtStatusItem(const QtStatusItem&) = delete;
  QtStatusItem& operator=(const QtStatusItem&) = delete;

  bool isAvailable() const override;
  void setAppearance(const StatusItemView& view) override;
  void setMenu(std::vector<MenuEntry> entries) override;
  void setMenuWillOpenHandler(std::function<void()> handler) override;
  void setMenuVisibilityHandler(std::function<void(bool open)> handler) override;
  void setClickHandler(std::function<void()> handler) override;

  /// Told when this process's menu window appears, taking the keyboard and the pointer (true),
  /// and when it goes (false). A menu a StatusNotifierItem host shows for us takes nothing of
  /// ours and is not told.
  void setMenuGrabObserver(std::function<void(bool held)> observer) {
    grabObserver_ = std::move(observer);
  }

  /// Answers the colour the tray host asks symbolic icons to use; nothing when it says none.
  using InkSource = std::function<std::optional<Color>()>;
  /// Where the host's colour comes from (the display backend); without one, or while it says
  /// nothing, the application's palette decides.
  void setInkSource(InkSource source) { inkSource_ = std::move(source); }

  /// Where application icons of the recent windows come from before the icon theme is asked.
  void setIconSource(AppIcons::Source source) { icons_ = AppIcons(std::move(source)); }

  /// For tests: the menu.
  QMenu& menu() const { return *menu_; }
  /// For tests: whether the dot's beat is being played.
  bool isPulsing() const;

 private:
  /// Follows the StatusNotifierWatcher's name: who owns it, and a new owner asked for a host.
  void watchWatcherName();
  /// Asks the watcher, without waiting, whether a host runs, and makes the icon once one does.
  void askForHost();
  void createTray();
  void showAppearance();
  void activated(int reason);
  void menuShown(bool shown);
  void showFrame(std::size_t frame);
  void updatePulse() const;
  int traySize() const;

  TrayProbe trayProbe_;
  InkSource inkSource_;
  std::unique_ptr<QMenu> menu_;
  /// Absent until a tray can show it (on Wayland, until a host runs).
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QDBusPendingCallWatcher> hostQuery_;
  std::vector<MenuEntry> entries_;
  std::unique_ptr<QTimer> pulseTimer_;
  AppIcons icons_;
  std::optional<StatusItemView> view_;
  QColor ink_;
  /// The beat's frames at the tray's size, rendered when first shown.
  std::vector<QIcon> frames_;
  std::size_t frame_ = 0;
  std::function<void()> willOpen_;
  std::function<void(bool)> visibility_;
  std::function<void(bool)> grabObserver_;
  std::function<void()> click_;
  std::unique_ptr<QObject> menuWatch_;
  std::unique_ptr<QDBusServiceWatcher> watcherName_;
  bool watcherOwned_ = true;
  mutable bool available_ = false;
};

/// The ink of the icon on a panel painted with `palette`: its window text colour, opaque.
QColor trayInk(const QPalette& palette);

/// The icon of `view` at `pixels` square in `ink`, with the alert dot at `dotScale` of its size
/// when the view has one.
QImage renderStatusIcon(const StatusItemView& view, int pixels, const QColor& ink,
                        double dotScale = 1.0);

/// A menu entry's key equivalent ("k" with Control and Shift) as Qt shows it; empty for none.
QKeySequence keySequenceOf(const std::string& key, std::uint64_t flags);

}  // namespace tolvane::qt
