// The hot-key recorder on the Qt desktop: paints the core's description of the recorder (key
// chips or the prompt, and the reset button) and reports clicks and its leaving the screen.
#pragma once

#include <QFont>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <vector>

#include "views/hotkey_recorder_view.h"

namespace tolvane::qt {

/// Where each part of the recorder lies, in the widget's logical pixels (one point each).
struct RecorderGeometry {
  QRectF recorder;
  std::vector<QRectF> chips;
  /// Empty when the reset button is not shown.
  QRectF reset;
  QSizeF size;
};

/// The geometry of `view` drawn with `font` (the family and style; sizes come from the view).
RecorderGeometry recorderGeometry(const HotkeyRecorderView& view, const QFont& font);

/// Main thread only. Holds no state of its own beyond the last description.
class HotkeyRecorderWidget final : public QWidget {
 public:
  explicit HotkeyRecorderWidget(QWidget* parent = nullptr);

  void setView(const HotkeyRecorderView& view);
  const HotkeyRecorderView& view() const { return view_; }
  /// A click on the recorder itself.
  void setClickHandler(std::function<void()> handler) { click_ = std::move(handler); }
  /// A click on the reset button.
  void setResetHandler(std::function<void()> handler) { reset_ = std::move(handler); }
  /// The widget left the screen (hidden, or its window closed).
  void setHiddenHandler(std::function<void()> handler) { hidden_ = std::move(handler); }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  HotkeyRecorderView view_;
  std::function<void()> click_;
  std::function<void()> reset_;
  std::function<void()> hidden_;
};

}  // namespace tolvane::qt
