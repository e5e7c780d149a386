// The excluded-applications list: model, row painting and the remove buttons.
#include "ui/qt/excluded_apps_list.h"

#include <QHelpEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "ui/qt/palette_painting.h"
#include "ui/qt/qt_colors.h"
#include "ui/qt/settings_widgets.h"

namespace tolvane::qt {

namespace {

constexpr int kRowInset = 14;
constexpr int kIconTextSpacing = 10;
constexpr int kRemoveSide = 16;
/// Drawn icons kept at most; past this the cache starts over rather than grow.
constexpr std::size_t kMaxCachedIcons = 1024;

/// Paints a row: icon, name elided at its end, and the remove button (a filled circled cross).
class ExcludedAppDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    return {option.rect.width(), ExcludedAppsList::kRowHeight};
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect row = option.rect;
    const int side = ExcludedAppsModel::kIconSide;
    const QRect icon(row.left() + kRowInset, row.center().y() - side / 2 + 1, side, side);
    painter->drawPixmap(icon, index.data(Qt::DecorationRole).value<QPixmap>());
    const QRect remove = ExcludedAppsList::removeButtonRect(row);
    const QRect text(icon.right() + kIconTextSpacing, row.top(),
                     remove.left() - kIconTextSpacing - icon.right() - kIconTextSpacing,
                     row.height());
    painter->setPen(toQColor({SemanticColor::primary, 1.0}, option.palette));
    painter->setFont(option.font);
    painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight,
                                                    std::max(0, text.width())));
    paintRemoveButton(*painter, remove, option);
    painter->restore();
  }

 private:
  static void paintRemoveButton(QPainter& painter, const QRect& rect,
                                const QStyleOptionViewItem& option) {
    const bool hovered = option.state & QStyle::State_MouseOver;
    painter.setPen(Qt::NoPen);
    painter.setBrush(toQColor({SemanticColor::primary, hovered ? 0.55 : 0.35}, option.palette));
    painter.drawEllipse(QRectF(rect));
    QPen cross(option.palette.color(QPalette::Window), 1.6);
    cross.setCapStyle(Qt::RoundCap);
    painter.setPen(cross);
    const QRectF arms = QRectF(rect).adjusted(5, 5, -5, -5);
    painter.drawLine(arms.topLeft(), arms.bottomRight());
    painter.drawLine(arms.topRight(), arms.bottomLeft());
  }
};

}  // namespace

QPixmap placeholderAppIcon(int side, const QPalette& palette) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF outer(1, 1, side - 2, side - 2);
  painter.setPen(QPen(toQColor({SemanticColor::primary, 0.3}, palette), 1));
  painter.setBrush(toQColor({SemanticColor::primary, 0.08}, palette));
  painter.drawRoundedRect(outer, side * 0.22, side * 0.22);
  // Four small squares: the common drawing of "some application".
  const double cell = side / 6.0;
  painter.setPen(Qt::NoPen);
  painter.setBrush(toQColor({SemanticColor::primary, 0.35}, palette));
  for (int i = 0; i < 4; ++i) {
    const double x = side / 2.0 + (i % 2 == 0 ? -cell - 1 : 1);
    const double y = side / 2.0 + (i < 2 ? -cell - 1 : 1);
    painter.drawRoundedRect(QRectF(x, y, cell, cell), 1, 1);
  }
  return pixmap;
}

ExcludedAppsModel::ExcludedAppsModel(AppIconSource icons, QObject* parent)
    : QAbstractListModel(parent), icons_(std::move(icons)) {}

bool ExcludedAppsModel::setEntries(const std::vector<SettingsAppEntry>& entries) {
  const auto same = [](const SettingsAppEntry& a, const SettingsAppEntry& b) {
    return a.bundleID == b.bundleID && a.name == b.name;
  };
  if (std::equal(entries.begin(), entries.end(), entries_.begin(), entries_.end(), same)) {
    return false;
  }
  beginResetModel();
  entries_ = entries;
  endResetModel();
  return true;
}

int ExcludedAppsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant ExcludedAppsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const SettingsAppEntry& entry = entries_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return paintableText(entry.name);
    case Qt::ToolTipRole:
      return paintableText(entry.bundleID);
    case Qt::DecorationRole:
      return iconOf(entry.bundleID);
    case kBundleIDRole:
      return fromUtf8(entry.bundleID);
    default:
      return {};
  }
}

QPixmap ExcludedAppsModel::iconOf(const std::string& bundleID) const {
  if (const auto it = pixmaps_.find(bundleID); it != pixmaps_.end()) return it->second;
  const QIcon icon = icons_ ? icons_(bundleID) : QIcon();
  // A theme entry can name a file that is gone or not an image: the icon is not null, but
  // nothing can be drawn from it.
  QPixmap pixmap = icon.isNull() ? QPixmap() : icon.pixmap(QSize(kIconSide, kIconSide));
  if (pixmap.isNull()) pixmap = placeholderAppIcon(kIconSide, QPalette());
  if (pixmaps_.size() >= kMaxCachedIcons) pixmaps_.clear();
  pixmaps_.emplace(bundleID, pixmap);
  return pixmap;
}

ExcludedAppsList::ExcludedAppsList(AppIconSource icons, QWidget* parent)
    : QWidget(parent),
      model_(new ExcludedAppsModel(std::move(icons), this)),
      view_(new QListView(this)),
      empty_(new TextLabel(this, {SemanticColor::secondary, 1.0})) {
  view_->setModel(model_);
  view_->setItemDelegate(new ExcludedAppDelegate(view_));
  view_->setUniformItemSizes(true);
  view_->setSelectionMode(QAbstractItemView::NoSelection);
  view_->setFrameShape(QFrame::NoFrame);
  view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  view_->setMouseTracking(true);
  view_->viewport()->setAutoFillBackground(false);
  view_->setAutoFillBackground(false);
  view_->viewport()->installEventFilter(this);
  // As tall as its rows: spare room on the page is not the list's to take.
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
  empty_->setAlignment(Qt::AlignCenter);
  empty_->setContentsMargins(kRowInset, 12, kRowInset, 12);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  layout->addWidget(empty_);
}

void ExcludedAppsList::setList(const SettingsAppListView& list) {
  remove_ = list.onRemove;
  removeTooltip_ = fromUtf8(list.removeTooltip);
  empty_->setUtf8(list.emptyText);
  const int scrolled = view_->verticalScrollBar()->value();
  if (model_->setEntries(list.entries)) {
    // A reset lays the rows out later; laid out now, the old position can be restored.
    view_->doItemsLayout();
    view_->verticalScrollBar()->setValue(scrolled);
  }
  const int rows = std::min(model_->rowCount(), kVisibleRows);
  view_->setFixedHeight(rows * kRowHeight);
  view_->setVisible(rows > 0);
  empty_->setVisible(rows == 0 && !list.emptyText.empty());
}

QRect ExcludedAppsList::removeButtonRect(const QRect& row) {
  return {row.right() - kRowInset - kRemoveSide + 1, row.center().y() - kRemoveSide / 2 + 1,
          kRemoveSide, kRemoveSide};
}

std::optional<std::string> ExcludedAppsList::removeTargetAt(const QPoint& point) const {
  const QModelIndex index = view_->indexAt(point);
  if (!index.isValid() || !removeButtonRect(view_->visualRect(index)).contains(point)) {
    return std::nullopt;
  }
  return index.data(ExcludedAppsModel::kBundleIDRole).toString().toStdString();
}

bool ExcludedAppsList::eventFilter(QObject* watched, QEvent* event) {
  if (watched != view_->viewport()) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      return removeTargetAt(static_cast<QMouseEvent*>(event)->position().toPoint()).has_value();
    case QEvent::MouseButtonRelease: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton) return false;
      const auto target = removeTargetAt(mouse->position().toPoint());
      // Taken here rather than in the view, which may still touch the row after the model was
      // reset by the description the removal brings.
      if (target && remove_) remove_(*target);
      return target.has_value();
    }
    case QEvent::ToolTip: {
      auto* help = static_cast<QHelpEvent*>(event);
      if (!removeTargetAt(help->pos()) || removeTooltip_.isEmpty()) return false;
      QToolTip::showText(help->globalPos(), removeTooltip_, view_->viewport());
      return true;
    }
    default:
      return false;
  }
}

}  // namespace tolvane::qt
