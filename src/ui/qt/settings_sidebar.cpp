// The settings window's sidebar: painting of its entries and its clicks.
#include "ui/qt/settings_sidebar.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/qt/qt_colors.h"
#include "ui/qt/settings_widgets.h"

namespace tolvane::qt {

namespace {

constexpr int kChipSide = 26;
constexpr int kRowInset = 8;
constexpr int kSidebarWidth = 236;
constexpr int kHeaderIconSide = 40;
constexpr Paint kSecondary{SemanticColor::secondary, 1.0};
constexpr Paint kSelected{SemanticColor::accent, 0.16};
constexpr Paint kSidebarFill{SemanticColor::primary, 0.03};
constexpr Paint kEdge{SemanticColor::primary, 0.1};

}  // namespace

SidebarRow::SidebarRow(QWidget* parent)
    : QAbstractButton(parent),
      title_(new TextLabel(this)),
      subtitle_(new TextLabel(this, kSecondary)) {
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
  title_->setStyle(0, QFont::DemiBold);
  subtitle_->setStyle(-2, QFont::Normal);
  // The labels let clicks through to the row.
  title_->setAttribute(Qt::WA_TransparentForMouseEvents);
  subtitle_->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* texts = new QVBoxLayout(this);
  texts->setContentsMargins(chipRect().right() + 10, kRowInset, kRowInset, kRowInset);
  texts->setSpacing(1);
  texts->addWidget(title_);
  texts->addWidget(subtitle_);
}

QRect SidebarRow::chipRect() {
  return {kRowInset + 2, kRowInset + 2, kChipSide, kChipSide};
}

void SidebarRow::apply(const SettingsSidebarEntry& entry) {
  tab_ = entry.tab;
  // Named for the desktop tests, which click it as a user does.
  setObjectName(QStringLiteral("tab:") + QLatin1String(settingsTabName(entry.tab)));
  title_->setUtf8(entry.title);
  subtitle_->setUtf8(entry.subtitle);
  symbol_ = fromUtf8(entry.symbol);
  chip_ = entry.chip;
  selected_ = entry.selected;
  update();
}

void SidebarRow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (selected_) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(toQColor(kSelected, palette()));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
  }
  paintIconChip(painter, chipRect(), QIcon::fromTheme(symbol_), title_->text(),
                toQColor(chip_, palette()));
}

HeaderIcon::HeaderIcon(QWidget* parent) : QAbstractButton(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFocusPolicy(Qt::NoFocus);
}

QSize HeaderIcon::sizeHint() const {
  return {kHeaderIconSide, kHeaderIconSide};
}

void HeaderIcon::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintApplicationIcon(painter, rect(), palette());
}

SettingsSidebar::SettingsSidebar(QWidget* parent)
    : QWidget(parent),
      icon_(new HeaderIcon(this)),
      name_(new TextLabel(this)),
      rowsLayout_(new QVBoxLayout()),
      version_(new TextLabel(this, kSecondary)) {
  setFixedWidth(kSidebarWidth);
  name_->setStyle(2, QFont::Bold);
  name_->setWordWrap(false);
  version_->setStyle(-2, QFont::Normal);
  version_->setAlignment(Qt::AlignCenter);
  // Each click counts on its own: a quick second click arrives as a double click, which a
  // button takes as another press.
  connect(icon_, &QAbstractButton::clicked, this, [this] {
    if (iconClick_) iconClick_();
  });
  auto* header = new QHBoxLayout();
  header->setSpacing(10);
  header->addWidget(icon_);
  header->addWidget(name_, 1);
  rowsLayout_->setSpacing(2);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 18, 12, 14);
  layout->setSpacing(0);
  layout->addLayout(header);
  layout->addSpacing(18);
  layout->addLayout(rowsLayout_);
  layout->addStretch(1);
  layout->addWidget(version_);
}

void SettingsSidebar::apply(const SettingsWindowView& view) {
  name_->setUtf8(view.applicationName);
  version_->setUtf8(view.version);
  select_ = view.onSelectTab;
  iconClick_ = view.onIconClick;
  while (rows_.size() > view.sidebar.size()) {
    retireWidget(rows_.back());
    rows_.pop_back();
  }
  while (rows_.size() < view.sidebar.size()) {
    auto* row = new SidebarRow(this);
    connect(row, &QAbstractButton::clicked, this, [this, row] {
      if (select_) select_(row->tab());
    });
    rowsLayout_->addWidget(row);
    row->show();
    rows_.push_back(row);
  }
  for (std::size_t i = 0; i < rows_.size(); ++i) rows_[i]->apply(view.sidebar[i]);
}

void SettingsSidebar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), toQColor(kSidebarFill, palette()));
  painter.fillRect(QRect(width() - 1, 0, 1, height()), toQColor(kEdge, palette()));
}

}  // namespace tolvane::qt
