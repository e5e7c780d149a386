// A plain dialog: the list is filled once (icons come from the icon cache, so a long list of
// installed applications opens without reading every icon file twice) and filtered in place.
#include "ui/qt/application_chooser.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "ui/qt/excluded_apps_list.h"

namespace tolvane::qt {

namespace {
constexpr int kBundleIDRole = Qt::UserRole + 1;
constexpr int kIconSide = 24;
}  // namespace

ApplicationChooser::ApplicationChooser(const std::vector<InstalledApplication>& candidates,
                                       const QString& title, const IconSource& icons,
                                       QWidget* parent)
    : QDialog(parent), filter_(new QLineEdit(this)), list_(new QListWidget(this)) {
  setWindowTitle(title);
  resize(420, 520);
  filter_->setClearButtonEnabled(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setIconSize(QSize(kIconSide, kIconSide));
  list_->setUniformItemSizes(true);
  // The same grey square as the excluded list: an application without an icon looks alike in
  // both.
  const QIcon placeholder(placeholderAppIcon(kIconSide, palette()));
  for (const auto& app : candidates) {
    auto* item = new QListWidgetItem(QString::fromStdString(app.name), list_);
    item->setData(kBundleIDRole, QString::fromStdString(app.bundleID));
    item->setToolTip(QString::fromStdString(app.bundleID));
    QIcon icon = icons ? icons(app.bundleID) : QIcon();
    item->setIcon(icon.isNull() ? placeholder : icon);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  connect(filter_, &QLineEdit::textChanged, this, &ApplicationChooser::applyFilter);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(filter_);
  layout->addWidget(list_);
  layout->addWidget(buttons);
}

void ApplicationChooser::applyFilter(const QString& text) {
  for (int row = 0; row < list_->count(); ++row) {
    QListWidgetItem* item = list_->item(row);
    const bool matches = item->text().contains(text, Qt::CaseInsensitive) ||
                         item->data(kBundleIDRole).toString().contains(text, Qt::CaseInsensitive);
    item->setHidden(!matches);
  }
}

std::vector<std::string> ApplicationChooser::chosen() const {
  std::vector<std::string> ids;
  for (int row = 0; row < list_->count(); ++row) {
    const QListWidgetItem* item = list_->item(row);
    if (item->isSelected() && !item->isHidden()) {
      ids.push_back(item->data(kBundleIDRole).toString().toStdString());
    }
  }
  return ids;
}

}  // namespace tolvane::qt
