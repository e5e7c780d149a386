// The switcher HUD on the Qt desktop: a frameless window that never takes focus and paints the
// core's description of the panel.
#pragma once

#include <functional>
#include <memory>

#include "platform/switcher_panel.h"
#include "ui/qt/app_icons.h"
#include "views/switcher_panel_view.h"

class QWidget;

namespace tolvane::qt {

class SwitcherHudWidget;

/// Main thread only; needs a QApplication. The window is created on the first show and kept.
/// It is translucent with antialiased corners while a compositor runs, and an opaque window cut
/// to the rounded outline by a mask otherwise; the choice is made again at each show, so a
/// compositor started or stopped after launch is followed.
class QtSwitcherPanel final : public SwitcherPanel {
 public:
  /// Answers whether a compositor blends windows over the desktop.
  using CompositorProbe = std::function<bool()>;

  /// Without a `compositor` to ask, the panel is the opaque window, right on every desktop.
  explicit QtSwitcherPanel(CompositorProbe compositor = {});
  ~QtSwitcherPanel() override;
  QtSwitcherPanel(const QtSwitcherPanel&) = delete;
  QtSwitcherPanel& operator=(const QtSwitcherPanel&) = delete;

  void show(const SwitcherPanelView& view) override;
  void hide() override;
  bool isVisible() const override;
  void setClickHandler(std::function<void(int slot)> handler) override;

  /// Where icons come from before the icon theme is asked: the workspace's application icons
  /// and the windows' own.
  void setIconSources(AppIcons::Source applications, AppIcons::WindowSource windows = {}) {
    iconSource_ = std::move(applications);
    windowIcons_ = std::move(windows);
  }

  /// The panel's window (nothing before the first show), for screenshots and tests.
  QWidget* window() const;

 private:
  void ensureWidget(bool translucent);

  CompositorProbe compositor_;
  AppIcons::Source iconSource_;
  AppIcons::WindowSource windowIcons_;
  std::function<void(int)> click_;
  std::unique_ptr<SwitcherHudWidget> widget_;
};

}  // namespace tolvane::qt
