// The search palette painted into an overlay canvas, for desktops where a panel cannot be a
// window of its own: it holds the canvas's keyboard while shown and edits its search text
// itself.
#pragma once

#include <QObject>
#include <functional>
#include <string>

#include "platform/palette_panel.h"
#include "ui/qt/app_icons.h"
#include "ui/qt/overlay_canvas.h"
#include "views/palette_panel_view.h"

class QPainter;

namespace tolvane::qt {

/// Main thread only; needs a QGuiApplication for fonts and the palette.
class OverlayPalettePanel final : public PalettePanel {
 public:
  /// `offer` shows a key to the application's key monitors first (the palette's controller
  /// moves the selection and commits there); true when one swallowed it.
  using KeyOffer = std::function<bool(const KeyEvent&)>;

  /// `shown` is told each time the panel appears (for the log).
  OverlayPalettePanel(OverlayCanvas& canvas, AppIcons icons, KeyOffer offer,
                      std::function<void()> shown = {});
  ~OverlayPalettePanel() override;
  OverlayPalettePanel(const OverlayPalettePanel&) = delete;
  OverlayPalettePanel& operator=(const OverlayPalettePanel&) = delete;

  void show(const PalettePanelView& view) override;
  void hide() override;
  bool isVisible() const override { return visible_; }
  void setQueryHandler(std::function<void(const std::string&)> handler) override {
    query_ = std::move(handler);
  }
  void setRowClickHandler(std::function<void(int, int)> handler) override {
    rowClick_ = std::move(handler);
  }
  void setResignHandler(std::function<void()> handler) override { resign_ = std::move(handler); }

  /// The search text after one key: Backspace takes the last character, printable text is
  /// added; nothing when the key does not edit (a shortcut, a key the monitors did not want).
  static std::optional<std::string> edited(const std::string& text, const OverlayCanvas::Key& key);

 private:
  void repaint();
  void paintFrame(const OverlayCanvas::Frame& frame);
  void paintContents(QPainter& painter);
  void pressed(const OverlayCanvas::Key& key);
  void clicked(QPointF point);
  void resign();
  QRectF listRect() const;
  double scrollFor(const PalettePanelView& view) const;

  OverlayCanvas& canvas_;
  AppIcons icons_;
  KeyOffer offer_;
  std::function<void()> shown_;
  std::function<void(const std::string&)> query_;
  std::function<void(int, int)> rowClick_;
  std::function<void()> resign_;
  PalettePanelView view_;
  std::string text_;
  QPoint origin_;
  double scroll_ = 0;
  bool visible_ = false;
  bool announce_ = false;
  /// The context of deferred calls: they are dropped with the panel.
  QObject deferred_;
};

}  // namespace tolvane::qt
