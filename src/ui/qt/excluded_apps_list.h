// The excluded-applications list of the settings window: one list view over a model, so a list
// of any length costs what its visible rows cost. Each row shows the application's icon (a
// placeholder when the icon is missing or cannot be drawn), its name and a remove button.
#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "views/settings_window_view.h"

class QListView;

namespace tolvane::qt {

class TextLabel;

/// Where a row's icon comes from, by bundle id; a null icon when there is none.
using AppIconSource = std::function<QIcon(const std::string& bundleID)>;

/// The drawing that stands in for an application icon that is missing or broken.
QPixmap placeholderAppIcon(int side, const QPalette& palette);

/// The entries as rows: the name for display, the icon (or the placeholder) as decoration, the
/// bundle id under kBundleIDRole. Icons are drawn once per bundle id and only for rows shown.
class ExcludedAppsModel final : public QAbstractListModel {
  Q_OBJECT

 public:
  static constexpr int kBundleIDRole = Qt::UserRole + 1;
  static constexpr int kIconSide = 24;

  explicit ExcludedAppsModel(AppIconSource icons, QObject* parent = nullptr);
  /// Replaces the entries; false (and nothing changes) when they are the same ones.
  bool setEntries(const std::vector<SettingsAppEntry>& entries);
  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  QPixmap iconOf(const std::string& bundleID) const;

  AppIconSource icons_;
  std::vector<SettingsAppEntry> entries_;
  mutable std::unordered_map<std::string, QPixmap> pixmaps_;
};

/// The list block of a settings card: the list, or the empty text while there is no entry.
class ExcludedAppsList final : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRowHeight = 36;
  /// Taller lists scroll inside this many rows.
  static constexpr int kVisibleRows = 7;

  explicit ExcludedAppsList(AppIconSource icons, QWidget* parent = nullptr);
  /// Takes the entries, texts and remove action; the list keeps its scroll position.
  void setList(const SettingsAppListView& list);
  QListView* view() const { return view_; }
  ExcludedAppsModel* model() const { return model_; }
  /// Where the remove button lies in a row occupying `row` (viewport coordinates).
  static QRect removeButtonRect(const QRect& row);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  /// The bundle id of the row whose remove button is at `point`, if any.
  std::optional<std::string> removeTargetAt(const QPoint& point) const;

  ExcludedAppsModel* model_;
  QListView* view_;
  TextLabel* empty_;
  QString removeTooltip_;
  std::function<void(const std::string&)> remove_;
};

}  // namespace tolvane::qt
