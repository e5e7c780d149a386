// The settings window's page: the selected tab's cards of rows, built from the window's
// description and afterwards updated in place, so that a repaint of the same page
// keeps its widgets, focus, scroll positions and an open drop-down.
#pragma once

#include <QWidget>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "ui/qt/excluded_apps_list.h"
#include "views/settings_window_view.h"

class QHBoxLayout;
class QLabel;
class QVBoxLayout;

namespace tolvane::qt {

class CardBox;
class TextLabel;

/// One row: an optional application icon, title and subtitle, and its controls at the right.
/// The widget's object name is the row's id.
class SettingsRowWidget final : public QWidget {
  Q_OBJECT

 public:
  SettingsRowWidget(const SettingsRowView& row, AppIconSource icons, QWidget* parent = nullptr);
  /// Takes the row's texts, values and actions; only controls of another kind than before are
  /// made anew.
  void apply(const SettingsRowView& row);

 private:
  void rebuildControls(const SettingsRowView& row);

  AppIconSource icons_;
  QLabel* icon_;
  TextLabel* title_;
  TextLabel* subtitle_;
  QHBoxLayout* controlsLayout_;
  std::vector<QWidget*> controls_;
  /// The variant index of each control in `controls_`.
  std::vector<std::size_t> kinds_;
};

/// A card: heading and subtitle above a rounded box of rows and lists with dividers between
/// them, and the footer note below. The widget's object name is the card's id.
class SettingsCardWidget final : public QWidget {
  Q_OBJECT

 public:
  SettingsCardWidget(const SettingsCardView& card, const AppIconSource& icons,
                     QWidget* parent = nullptr);
  /// Takes a card whose items have the ids and kinds of the one it was built from.
  void apply(const SettingsCardView& card);

 private:
  TextLabel* title_;
  TextLabel* subtitle_;
  CardBox* box_;
  TextLabel* footer_;
  /// A SettingsRowWidget or an ExcludedAppsList per item, in the card's order.
  std::vector<QWidget*> items_;
};

/// The selected tab's page: title, subtitle, the about page's head and the cards.
class SettingsPage final : public QWidget {
  Q_OBJECT

 public:
  SettingsPage(const SettingsWindowView& view, const AppIconSource& icons,
               QWidget* parent = nullptr);
  /// Whether `view` shows the same tab with the same cards and items (ids and kinds), so that
  /// it can be applied to this page in place.
  bool hasShapeOf(const SettingsWindowView& view) const;
  void apply(const SettingsWindowView& view);

 private:
  std::vector<std::string> shape_;
  TextLabel* title_;
  TextLabel* subtitle_;
  /// The about page's head; null on other pages.
  QWidget* hero_ = nullptr;
  TextLabel* heroName_ = nullptr;
  TextLabel* heroVersion_ = nullptr;
  TextLabel* heroTagline_ = nullptr;
  std::vector<SettingsCardWidget*> cards_;
};

}  // namespace tolvane::qt
