// The chooser of installed applications: a filterable list of names with icons from which the
// user picks any number.
#pragma once

#include <QDialog>
#include <QIcon>
#include <functional>
#include <string>
#include <vector>

#include "platform/application_catalog.h"

class QLineEdit;
class QListWidget;

namespace tolvane::qt {

class ApplicationChooser final : public QDialog {
 public:
  using IconSource = std::function<QIcon(const std::string& bundleID)>;

  ApplicationChooser(const std::vector<InstalledApplication>& candidates, const QString& title,
                     const IconSource& icons, QWidget* parent = nullptr);
  /// The bundle ids of the selected rows, in list order.
  std::vector<std::string> chosen() const;
  QListWidget* list() const { return list_; }
  QLineEdit* filter() const { return filter_; }

 private:
  void applyFilter(const QString& text);

  QLineEdit* filter_;
  QListWidget* list_;
};

}  // namespace tolvane::qt
