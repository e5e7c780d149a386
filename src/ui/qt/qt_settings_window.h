// The settings window on the Qt desktop: a normal window with the sidebar of tabs and the
// selected tab's page, painted from the core's description and repainted in place.
#pragma once

#include <QImage>
#include <QPointer>
#include <functional>

#include "base/geometry.h"
#include "platform/described_window.h"
#include "ui/qt/app_icons.h"
#include "ui/qt/window_host.h"
#include "views/settings_window_view.h"

class QScrollArea;

namespace tolvane::qt {

class SettingsPage;
class SettingsSidebar;

/// Main thread only; needs a QApplication. A description of the page on screen (same tab, same
/// cards and items by id and kind) updates its widgets in place, keeping focus, the scroll
/// position and an open drop-down; any other page is built anew and starts at the top.
class QtSettingsWindow final : public SettingsWindow {
 public:
  QtSettingsWindow();
  ~QtSettingsWindow() override;
  QtSettingsWindow(const QtSettingsWindow&) = delete;
  QtSettingsWindow& operator=(const QtSettingsWindow&) = delete;

  void show(const SettingsWindowView& view) override;
  void bringToFront() override;
  void close() override;
  bool isVisible() const override;
  Rect frame() const override;
  void setCloseHandler(std::function<void()> handler) override;

  /// Makes the window manager activate the window with a real timestamp, given its X id;
  /// called at the end of bringToFront().
  void setActivator(std::function<void(unsigned long windowID)> activator);
  /// Where application icons come from before the icon theme is asked.
  void setIconSource(AppIcons::Source applications);

  /// The open window, its sidebar, and the scroll area around the page; null while closed.
  QWidget* window() const { return host_.window(); }
  SettingsSidebar* sidebar() const;
  QScrollArea* pageScroller() const;
  /// A picture of the window as it is painted now; null while closed.
  QImage grabImage() const { return host_.grabImage(); }

 private:
  void build();
  void showPage(const SettingsWindowView& view);

  WindowHost host_;
  AppIcons icons_;
  QPointer<SettingsSidebar> sidebar_;
  QPointer<QScrollArea> scroller_;
  QPointer<SettingsPage> page_;
};

}  // namespace tolvane::qt
