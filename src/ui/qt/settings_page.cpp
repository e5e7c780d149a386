// Rows, cards and the page of the settings window, and how a new description reaches them.
#include "ui/qt/settings_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <type_traits>
#include <utility>

#include "ui/qt/choice_controls.h"
#include "ui/qt/settings_widgets.h"

namespace tolvane::qt {

namespace {

constexpr int kRowMinHeight = 44;
constexpr int kRowHorizontalInset = 14;
constexpr int kRowVerticalInset = 8;
constexpr int kControlSpacing = 8;
constexpr int kRowIconSide = 24;
constexpr int kPageMargin = 28;
constexpr int kCardSpacing = 20;
constexpr int kHeroIconSide = 72;
constexpr Paint kSecondary{SemanticColor::secondary, 1.0};
constexpr Paint kWarn{SemanticColor::warn, 1.0};

/// A new widget for a control of this kind; its values come from ControlApplier.
struct ControlFactory {
  QWidget* parent;
  QWidget* operator()(const SettingsSwitch&) const { return new SwitchControl(parent); }
  QWidget* operator()(const SettingsDropdown&) const { return new PillDropdown(parent); }
  QWidget* operator()(const SettingsSegmented&) const { return new SegmentedCapsule(parent); }
  QWidget* operator()(const SettingsBadge&) const { return new StatusBadge(parent); }
  QWidget* operator()(const SettingsPillButton&) const { return new PillButton(parent); }
  QWidget* operator()(const SettingsRecorder&) const { return new HotkeyRecorderWidget(parent); }
  QWidget* operator()(const SettingsValueText&) const {
    auto* label = new TextLabel(parent, kSecondary);
    label->setWordWrap(false);
    return label;
  }
};

/// Gives a control widget made by ControlFactory for the same kind its values and actions.
/// Signals are blocked, so a value set here never reaches an action.
struct ControlApplier {
  QWidget* widget;
  void operator()(const SettingsSwitch& control) const {
    auto* toggle = static_cast<SwitchControl*>(widget);
    const QSignalBlocker quiet(toggle);
    toggle->setChecked(control.on);
    toggle->setEnabled(control.enabled);
    toggle->setToggleHandler(control.onChange);
  }
  void operator()(const SettingsDropdown& control) const {
    static_cast<PillDropdown*>(widget)->setChoice(control);
  }
  void operator()(const SettingsSegmented& control) const {
    static_cast<SegmentedCapsule*>(widget)->setChoice(control);
  }
  void operator()(const SettingsBadge& control) const {
    static_cast<StatusBadge*>(widget)->setBadge(control.kind, control.text);
  }
  void operator()(const SettingsPillButton& control) const {
    auto* button = static_cast<PillButton*>(widget);
    const QSignalBlocker quiet(button);
    if (button->text() != fromUtf8(control.title)) {
      button->setText(fromUtf8(control.title));
      button->updateGeometry();
    }
    button->setFilled(control.filled);
    button->setEnabled(control.enabled);
    button->setAction(control.action);
  }
  void operator()(const SettingsRecorder& control) const {
    auto* recorder = static_cast<HotkeyRecorderWidget*>(widget);
    recorder->setView(control.view);
    recorder->setClickHandler(control.onClick);
    recorder->setResetHandler(control.onReset);
  }
  void operator()(const SettingsValueText& control) const {
    static_cast<TextLabel*>(widget)->setUtf8(control.text);
  }
};

std::vector<std::size_t> kindsOf(const std::vector<SettingsControl>& controls) {
  std::vector<std::size_t> kinds;
  for (const auto& control : controls) kinds.push_back(control.index());
  return kinds;
}

QPixmap rowIcon(const AppIconSource& icons, const std::string& bundleID, const QPalette& palette) {
  const QIcon icon = icons ? icons(bundleID) : QIcon();
  const QPixmap pixmap = icon.isNull() ? QPixmap() : icon.pixmap(kRowIconSide, kRowIconSide);
  return pixmap.isNull() ? placeholderAppIcon(kRowIconSide, palette) : pixmap;
}

}  // namespace

SettingsRowWidget::SettingsRowWidget(const SettingsRowView& row, AppIconSource icons,
                                     QWidget* parent)
    : QWidget(parent),
      icons_(std::move(icons)),
      icon_(new QLabel(this)),
      title_(new TextLabel(this)),
      subtitle_(new TextLabel(this, kSecondary)),
      controlsLayout_(new QHBoxLayout()) {
  setObjectName(fromUtf8(row.id));
  setMinimumHeight(kRowMinHeight);
  subtitle_->setStyle(-1, QFont::Normal);
  icon_->setFixedSize(kRowIconSide, kRowIconSide);
  auto* texts = new QVBoxLayout();
  texts->setSpacing(2);
  texts->addWidget(title_);
  texts->addWidget(subtitle_);
  controlsLayout_->setSpacing(kControlSpacing);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(kRowHorizontalInset, kRowVerticalInset, kRowHorizontalInset,
                             kRowVerticalInset);
  layout->setSpacing(10);
  layout->addWidget(icon_);
  layout->addLayout(texts, 1);
  layout->addLayout(controlsLayout_);
  apply(row);
}

void SettingsRowWidget::apply(const SettingsRowView& row) {
  title_->setUtf8(row.title);
  title_->setStyle(0, row.titleSemibold ? QFont::DemiBold : QFont::Normal);
  subtitle_->setUtf8(row.subtitle);
  icon_->setVisible(row.iconBundleID.has_value());
  if (row.iconBundleID) icon_->setPixmap(rowIcon(icons_, *row.iconBundleID, palette()));
  if (kindsOf(row.controls) != kinds_) rebuildControls(row);
  for (std::size_t i = 0; i < row.controls.size(); ++i) {
    std::visit(ControlApplier{controls_[i]}, row.controls[i]);
  }
}

void SettingsRowWidget::rebuildControls(const SettingsRowView& row) {
  for (QWidget* control : controls_) retireWidget(control);
  controls_.clear();
  for (const auto& control : row.controls) {
    QWidget* widget = std::visit(ControlFactory{this}, control);
    // Named after the row, for the desktop tests, which click it as a user does.
    widget->setObjectName(
        QStringLiteral("control:") + fromUtf8(row.id) +
        (controls_.empty() ? QString() : QStringLiteral(":%1").arg(controls_.size())));
    controlsLayout_->addWidget(widget, 0, Qt::AlignVCenter);
    // A widget added to a row on screen stays hidden until shown.
    widget->show();
    controls_.push_back(widget);
  }
  kinds_ = kindsOf(row.controls);
}

SettingsCardWidget::SettingsCardWidget(const SettingsCardView& card, const AppIconSource& icons,
                                       QWidget* parent)
    : QWidget(parent),
      title_(new TextLabel(this)),
      subtitle_(new TextLabel(this, kSecondary)),
      box_(new CardBox(this)),
      footer_(new TextLabel(this, kSecondary)) {
  setObjectName(fromUtf8(card.id));
  title_->setStyle(0, QFont::DemiBold);
  subtitle_->setStyle(-1, QFont::Normal);
  footer_->setStyle(-1, QFont::Normal);
  footer_->setContentsMargins(kRowHorizontalInset, 0, kRowHorizontalInset, 0);
  for (std::size_t i = 0; i < card.items.size(); ++i) {
    if (i > 0) box_->content()->addWidget(new RowDivider(box_));
    QWidget* item = nullptr;
    if (const auto* row = std::get_if<SettingsRowView>(&card.items[i])) {
      item = new SettingsRowWidget(*row, icons, box_);
    } else {
      const auto& list = std::get<SettingsAppListView>(card.items[i]);
      item = new ExcludedAppsList(icons, box_);
      item->setObjectName(fromUtf8(list.id));
    }
    box_->content()->addWidget(item);
    items_.push_back(item);
  }
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);
  layout->addWidget(title_);
  layout->addWidget(subtitle_);
  layout->addWidget(box_);
  layout->addWidget(footer_);
  apply(card);
}

void SettingsCardWidget::apply(const SettingsCardView& card) {
  title_->setUtf8(card.title);
  subtitle_->setUtf8(card.subtitle);
  footer_->setUtf8(card.footer);
  footer_->setPaint(card.footerTinted ? kWarn : kSecondary);
  box_->setVisible(!card.items.empty());
  for (std::size_t i = 0; i < card.items.size() && i < items_.size(); ++i) {
    std::visit(
        [&](const auto& item) {
          using Item = std::decay_t<decltype(item)>;
          if constexpr (std::is_same_v<Item, SettingsRowView>) {
            static_cast<SettingsRowWidget*>(items_[i])->apply(item);
          } else {
            static_cast<ExcludedAppsList*>(items_[i])->setList(item);
          }
        },
        card.items[i]);
  }
}

namespace {

std::vector<std::string> shapeOf(const SettingsWindowView& view) {
  std::vector<std::string> shape{std::to_string(static_cast<int>(view.tab)),
                                 view.hero ? "hero" : "-"};
  for (const auto& card : view.cards) {
    shape.push_back("card " + card.id);
    for (const auto& item : card.items) {
      const auto* row = std::get_if<SettingsRowView>(&item);
      shape.push_back(row ? "row " + row->id : "list " + std::get<SettingsAppListView>(item).id);
    }
  }
  return shape;
}

}  // namespace

SettingsPage::SettingsPage(const SettingsWindowView& view, const AppIconSource& icons,
                           QWidget* parent)
    : QWidget(parent),
      shape_(shapeOf(view)),
      title_(new TextLabel(this)),
      subtitle_(new TextLabel(this, kSecondary)) {
  setObjectName(QStringLiteral("page:") + QLatin1String(settingsTabName(view.tab)));
  title_->setStyle(6, QFont::Bold);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kPageMargin, kPageMargin - 6, kPageMargin, kPageMargin);
  layout->setSpacing(4);
  layout->addWidget(title_);
  layout->addWidget(subtitle_);
  layout->addSpacing(kCardSpacing - 4);
  if (view.hero) {
    hero_ = new QWidget(this);
    auto* icon = new ApplicationIconWidget(kHeroIconSide, hero_);
    heroName_ = new TextLabel(hero_);
    heroName_->setStyle(4, QFont::Bold);
    heroVersion_ = new TextLabel(hero_, kSecondary);
    heroTagline_ = new TextLabel(hero_);
    auto* column = new QVBoxLayout(hero_);
    column->setSpacing(4);
    column->addWidget(icon, 0, Qt::AlignHCenter);
    for (TextLabel* label : {heroName_, heroVersion_, heroTagline_}) {
      label->setAlignment(Qt::AlignCenter);
      column->addWidget(label);
    }
    layout->addWidget(hero_);
    layout->addSpacing(kCardSpacing);
  }
  for (const auto& card : view.cards) {
    cards_.push_back(new SettingsCardWidget(card, icons, this));
    layout->addWidget(cards_.back());
    layout->addSpacing(kCardSpacing);
  }
  layout->addStretch(1);
  apply(view);
}

bool SettingsPage::hasShapeOf(const SettingsWindowView& view) const {
  return shapeOf(view) == shape_;
}

void SettingsPage::apply(const SettingsWindowView& view) {
  title_->setUtf8(view.pageTitle);
  subtitle_->setUtf8(view.pageSubtitle);
  if (view.hero && hero_) {
    heroName_->setUtf8(view.hero->name);
    heroVersion_->setUtf8(view.hero->version);
    heroTagline_->setUtf8(view.hero->tagline);
  }
  for (std::size_t i = 0; i < view.cards.size() && i < cards_.size(); ++i) {
    cards_[i]->apply(view.cards[i]);
  }
}

}  // namespace tolvane::qt
