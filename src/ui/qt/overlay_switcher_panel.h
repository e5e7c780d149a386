// The switcher HUD painted into an overlay canvas, for desktops where a panel cannot be a
// window of its own.
#pragma once

#include <functional>
#include <optional>

#include "platform/switcher_panel.h"
#include "ui/qt/app_icons.h"
#include "ui/qt/overlay_canvas.h"
#include "views/switcher_panel_view.h"

namespace tolvane::qt {

/// Main thread only; needs a QGuiApplication for fonts and the palette. Always translucent:
/// a compositor blends every overlay.
class OverlaySwitcherPanel final : public SwitcherPanel {
 public:
  /// `shown` is told each time the panel appears (for the log).
  OverlaySwitcherPanel(OverlayCanvas& canvas, AppIcons icons, std::function<void()> shown = {});
  ~OverlaySwitcherPanel() override;
  OverlaySwitcherPanel(const OverlaySwitcherPanel&) = delete;
  OverlaySwitcherPanel& operator=(const OverlaySwitcherPanel&) = delete;

  void show(const SwitcherPanelView& view) override;
  void hide() override;
  bool isVisible() const override { return visible_; }
  void setClickHandler(std::function<void(int slot)> handler) override {
    click_ = std::move(handler);
  }

 private:
  /// The panel's top-left corner in canvas coordinates: the view's frame, else centred.
  QPoint origin(const QRect& area) const;
  void paintFrame(const OverlayCanvas::Frame& frame, QPoint origin);
  void clicked(QPointF point);

  OverlayCanvas& canvas_;
  AppIcons icons_;
  std::function<void()> shown_;
  std::function<void(int)> click_;
  SwitcherPanelView view_;
  QPoint origin_;
  bool visible_ = false;
  bool announce_ = false;
};

}  // namespace tolvane::qt
