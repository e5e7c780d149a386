// The settings window's sidebar: the application icon and name, one entry per tab with its icon
// chip, and the version at the foot.
#pragma once

#include <QAbstractButton>
#include <QWidget>
#include <functional>
#include <vector>

#include "views/settings_window_view.h"

class QVBoxLayout;

namespace tolvane::qt {

class TextLabel;

/// One sidebar entry: the icon chip, title and subtitle, highlighted while selected.
class SidebarRow final : public QAbstractButton {
  Q_OBJECT

 public:
  explicit SidebarRow(QWidget* parent = nullptr);
  void apply(const SettingsSidebarEntry& entry);
  SettingsTab tab() const { return tab_; }
  bool isSelected() const { return selected_; }
  /// Where the chip is drawn.
  static QRect chipRect();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  SettingsTab tab_ = SettingsTab::general;
  bool selected_ = false;
  QString symbol_;
  Paint chip_;
  TextLabel* title_;
  TextLabel* subtitle_;
};

/// The application icon at the sidebar's head: every click counts, however fast.
class HeaderIcon final : public QAbstractButton {
  Q_OBJECT

 public:
  explicit HeaderIcon(QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

/// The sidebar: the application icon and name, the tab entries and the version at the foot.
class SettingsSidebar final : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsSidebar(QWidget* parent = nullptr);
  void apply(const SettingsWindowView& view);
  HeaderIcon* headerIcon() const { return icon_; }
  const std::vector<SidebarRow*>& rows() const { return rows_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  HeaderIcon* icon_;
  TextLabel* name_;
  QVBoxLayout* rowsLayout_;
  std::vector<SidebarRow*> rows_;
  TextLabel* version_;
  std::function<void(SettingsTab)> select_;
  std::function<void()> iconClick_;
};

}  // namespace tolvane::qt
