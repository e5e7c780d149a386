// The settings window's choices: a pop-up choice drawn as a pill with a chevron, and a capsule
// of segments of which one is chosen. Values set from a description never reach the actions.
#pragma once

#include <QComboBox>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "views/settings_window_view.h"

namespace tolvane::qt {

/// A pop-up choice drawn as a pill with the chosen title and a chevron; the list is Qt's own.
class PillDropdown final : public QComboBox {
  Q_OBJECT

 public:
  explicit PillDropdown(QWidget* parent = nullptr);
  /// Replaces the options only when they differ, so an open list stays open.
  void setChoice(const SettingsDropdown& dropdown);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<void(const std::string&)> selected_;
};

/// A capsule of segments, each a theme icon or a short text, one of them chosen.
class SegmentedCapsule final : public QWidget {
  Q_OBJECT

 public:
  explicit SegmentedCapsule(QWidget* parent = nullptr);
  void setChoice(const SettingsSegmented& segmented);
  int selectedIndex() const { return selected_; }
  /// Where segment `index` lies in the widget.
  QRectF segmentRect(int index) const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int segmentAt(const QPointF& point) const;
  void choose(int index);

  std::vector<QString> symbols_;
  std::vector<QString> tooltips_;
  int selected_ = 0;
  QSizeF size_{120, 26};
  std::function<void(int)> selectedHandler_;
};

}  // namespace tolvane::qt
