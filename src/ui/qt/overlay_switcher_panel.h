// The switcher HUD painted into an overlay canvas, for desktops where a panel cannot be a
// window of its own.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/switcher_panel.h"
#include "ui/qt/app_icons.h"
#include "ui/qt/overlay_canvas.h"
#include "views/switcher_panel_view.h"

class QTimer;

namespace tolvane::qt {

/// How painting a panel ahead shares the main thread: it begins `firstStepMillis` after the
/// session did (a quick tap's release and the surface's mapping go first), then paints for about
/// `stepNanos` per turn of the loop.
struct PreparationPace {
  int firstStepMillis = 20;
  long long stepNanos = 500'000;
};

/// Main thread only; needs a QGuiApplication for fonts and the palette. Always translucent:
/// a compositor blends every overlay.
class OverlaySwitcherPanel final : public SwitcherPanel {
 public:
  /// `shown` is told each time the panel appears (for the log).
  OverlaySwitcherPanel(OverlayCanvas& canvas, AppIcons icons, std::function<void()> shown = {},
                       PreparationPace pace = {});
  ~OverlaySwitcherPanel() override;
  OverlaySwitcherPanel(const OverlaySwitcherPanel&) = delete;
  OverlaySwitcherPanel& operator=(const OverlaySwitcherPanel&) = delete;

  void show(const SwitcherPanelView& view) override;
  /// Paints the view into an image of its own a little at a time, between the event loop's
  /// other work (a key's release must not wait for a whole panel), so that the show which
  /// brings the same view only copies it.
  void prepare(const SwitcherPanelView& view) override;
  void hide() override;
  bool isVisible() const override { return visible_; }
  /// A preparation is painted whole and waits for its show.
  bool isPrepared() const;
  void setClickHandler(std::function<void(int slot)> handler) override {
    click_ = std::move(handler);
  }

 private:
  struct Preparation;

  /// The panel's top-left corner in canvas coordinates: the view's frame, else centred.
  static QPoint origin(const QRect& area, const SwitcherPanelView& view);
  void paintFrame(const OverlayCanvas::Frame& frame, QPoint origin);
  /// Paints more of the preparation: about half a millisecond's worth, or all that is left when
  /// `finish`. True once it is complete.
  bool advancePreparation(bool finish);
  /// Copies the preparation into `frame` when it is what painting the frame would give.
  bool copyPreparation(const OverlayCanvas::Frame& frame, QPoint at);
  void dropPreparation();
  void clicked(QPointF point);

  OverlayCanvas& canvas_;
  AppIcons icons_;
  std::function<void()> shown_;
  PreparationPace pace_;
  std::function<void(int)> click_;
  SwitcherPanelView view_;
  std::unique_ptr<Preparation> preparation_;
  // A dropped preparation, until its memory goes back.
  std::unique_ptr<Preparation> spent_;
  std::unique_ptr<QTimer> stepper_;
  QPoint origin_;
  bool visible_ = false;
  bool announce_ = false;
};

}  // namespace tolvane::qt
