// Onboarding blocks: one small widget per kind of block, each taking its description in place.
#include "ui/qt/onboarding_blocks.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <cmath>
#include <type_traits>

#include "ui/qt/qt_colors.h"
#include "ui/qt/settings_widgets.h"

namespace tolvane::qt {

namespace {

constexpr int kIconSide = 80;
constexpr int kGlyphSide = 16;
constexpr int kDotSide = 7;
constexpr int kDotSpacing = 7;
constexpr int kCardInset = 12;
constexpr Paint kSecondary{SemanticColor::secondary, 1.0};
constexpr Paint kAccent{SemanticColor::accent, 1.0};

/// A block's widget: takes new descriptions of its own kind.
class BlockWidget : public QWidget {
 public:
  using QWidget::QWidget;
  virtual void apply(const OnboardingBlock& block) = 0;
};

class IconBlock final : public BlockWidget {
 public:
  explicit IconBlock(QWidget* parent) : BlockWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ApplicationIconWidget(kIconSide, this), 0, Qt::AlignHCenter);
  }
  void apply(const OnboardingBlock&) override {}
};

/// A heading or a paragraph, centred.
class TextBlock final : public BlockWidget {
 public:
  explicit TextBlock(QWidget* parent) : BlockWidget(parent), label_(new TextLabel(this)) {
    label_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label_);
  }
  void apply(const OnboardingBlock& block) override {
    if (const auto* heading = std::get_if<OnboardingHeading>(&block)) {
      label_->setStyle(5, QFont::Bold);
      label_->setUtf8(heading->text);
    } else if (const auto* text = std::get_if<OnboardingText>(&block)) {
      label_->setPaint(text->secondary ? kSecondary : Paint{SemanticColor::primary, 1.0});
      label_->setUtf8(text->text);
    }
  }

 private:
  TextLabel* label_;
};

/// A card with a title and a line under it at the left and a control at the right.
class CardBlock : public BlockWidget {
 public:
  explicit CardBlock(QWidget* parent)
      : BlockWidget(parent),
        title_(new TextLabel(this)),
        body_(new TextLabel(this, kSecondary)),
        controls_(new QHBoxLayout()) {
    title_->setStyle(0, QFont::DemiBold);
    body_->setStyle(-1, QFont::Normal);
    auto* box = new CardBox(this);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(2);
    texts->addWidget(title_);
    texts->addWidget(body_);
    auto* row = new QHBoxLayout();
    row->setContentsMargins(kCardInset, kCardInset - 4, kCardInset, kCardInset - 4);
    row->addLayout(texts, 1);
    row->addLayout(controls_);
    box->content()->addLayout(row);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box);
  }

 protected:
  TextLabel* title_;
  TextLabel* body_;
  QHBoxLayout* controls_;
};

class RequirementBlock final : public CardBlock {
 public:
  explicit RequirementBlock(QWidget* parent)
      : CardBlock(parent), badge_(new StatusBadge(this)), button_(new PillButton(this)) {
    button_->setFilled(true);
    controls_->addWidget(badge_);
    controls_->addWidget(button_);
  }
  void apply(const OnboardingBlock& block) override {
    const auto& requirement = std::get<OnboardingRequirement>(block);
    setObjectName(fromUtf8(requirement.id));
    title_->setUtf8(requirement.title);
    body_->setUtf8(requirement.reason);
    badge_->setBadge(SettingsBadge::Kind::granted, requirement.buttonTitle);
    badge_->setVisible(requirement.granted);
    const QSignalBlocker quiet(button_);
    button_->setText(fromUtf8(requirement.buttonTitle));
    button_->setAction(requirement.onButton);
    button_->setVisible(!requirement.granted && requirement.onButton);
    button_->updateGeometry();
  }

 private:
  StatusBadge* badge_;
  PillButton* button_;
};

class ConsentBlock final : public CardBlock {
 public:
  explicit ConsentBlock(QWidget* parent) : CardBlock(parent), switch_(new SwitchControl(this)) {
    controls_->addWidget(switch_, 0, Qt::AlignVCenter);
  }
  void apply(const OnboardingBlock& block) override {
    const auto& consent = std::get<OnboardingConsent>(block);
    setObjectName(fromUtf8(consent.id));
    title_->setUtf8(consent.title);
    body_->setUtf8(consent.body);
    const QSignalBlocker quiet(switch_);
    switch_->setChecked(consent.on);
    switch_->setToggleHandler(consent.onChange);
  }

 private:
  SwitchControl* switch_;
};

/// The palette's magnifying glass: the theme's search icon, else a drawn one.
class SearchGlyph final : public QWidget {
 public:
  explicit SearchGlyph(QWidget* parent) : QWidget(parent) { setFixedSize(kGlyphSide, kGlyphSide); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QIcon icon = QIcon::fromTheme(QStringLiteral("edit-find"));
    if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("system-search"));
    if (!icon.isNull()) {
      icon.paint(&painter, rect());
      return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(toQColor(kSecondary, palette()), 1.8);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    painter.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
  }
};

class KeyRowBlock final : public BlockWidget {
 public:
  explicit KeyRowBlock(QWidget* parent)
      : BlockWidget(parent),
        glyph_(new SearchGlyph(this)),
        chips_(makeKeyChips(this)),
        meaning_(new TextLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kCardInset, 2, kCardInset, 2);
    layout->setSpacing(8);
    layout->addWidget(glyph_, 0, Qt::AlignVCenter);
    layout->addWidget(chips_, 0, Qt::AlignVCenter);
    layout->addWidget(meaning_, 1);
  }
  void apply(const OnboardingBlock& block) override {
    const auto& row = std::get<OnboardingKeyRow>(block);
    glyph_->setVisible(row.searchSymbol);
    chips_->setView(keyChipsView(row.chips));
    meaning_->setUtf8(row.meaning);
  }

 private:
  SearchGlyph* glyph_;
  HotkeyRecorderWidget* chips_;
  TextLabel* meaning_;
};

class LinkBlock final : public BlockWidget {
 public:
  explicit LinkBlock(QWidget* parent) : BlockWidget(parent), link_(new LinkButton(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(link_, 0, Qt::AlignHCenter);
  }
  void apply(const OnboardingBlock& block) override {
    const auto& link = std::get<OnboardingLink>(block);
    const QSignalBlocker quiet(link_);
    link_->setText(fromUtf8(link.title));
    link_->setAction(link.action);
    link_->updateGeometry();
  }

 private:
  LinkButton* link_;
};

}  // namespace

LinkButton::LinkButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  connect(this, &QAbstractButton::clicked, this, [this] {
    if (action_) action_();
  });
}

QSize LinkButton::sizeHint() const {
  const QSizeF text = QFontMetricsF(font()).size(Qt::TextSingleLine, this->text());
  return {static_cast<int>(std::ceil(text.width())) + 4,
          static_cast<int>(std::ceil(text.height())) + 4};
}

void LinkButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QFont font = this->font();
  font.setUnderline(underMouse() || hasFocus());
  painter.setFont(font);
  painter.setPen(toQColor(kAccent, palette()));
  painter.drawText(rect(), Qt::AlignCenter, text());
}

PageDots::PageDots(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PageDots::setPages(int count, int current) {
  if (count == count_ && current == current_) return;
  count_ = std::clamp(count, 0, 32);
  current_ = current;
  updateGeometry();
  update();
}

QSize PageDots::sizeHint() const {
  return {std::max(0, count_ * (kDotSide + kDotSpacing) - kDotSpacing), kDotSide + 2};
}

void PageDots::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  for (int i = 0; i < count_; ++i) {
    painter.setBrush(
        toQColor(i == current_ ? kAccent : Paint{SemanticColor::primary, 0.2}, palette()));
    painter.drawEllipse(QRectF(i * (kDotSide + kDotSpacing), 1, kDotSide, kDotSide));
  }
}

QWidget* makeOnboardingBlock(const OnboardingBlock& block, QWidget* parent) {
  BlockWidget* widget = std::visit(
      [parent](const auto& kind) -> BlockWidget* {
        using Kind = std::decay_t<decltype(kind)>;
        if constexpr (std::is_same_v<Kind, OnboardingIcon>) return new IconBlock(parent);
        if constexpr (std::is_same_v<Kind, OnboardingHeading> ||
                      std::is_same_v<Kind, OnboardingText>) {
          return new TextBlock(parent);
        }
        if constexpr (std::is_same_v<Kind, OnboardingRequirement>) {
          return new RequirementBlock(parent);
        }
        if constexpr (std::is_same_v<Kind, OnboardingKeyRow>) return new KeyRowBlock(parent);
        if constexpr (std::is_same_v<Kind, OnboardingConsent>) return new ConsentBlock(parent);
        if constexpr (std::is_same_v<Kind, OnboardingLink>) return new LinkBlock(parent);
        return nullptr;
      },
      block);
  widget->apply(block);
  return widget;
}

void applyOnboardingBlock(QWidget* widget, const OnboardingBlock& block) {
  if (auto* blockWidget = dynamic_cast<BlockWidget*>(widget)) blockWidget->apply(block);
}

std::vector<std::string> onboardingShape(const std::vector<OnboardingBlock>& blocks) {
  std::vector<std::string> shape;
  for (const auto& block : blocks) {
    std::string entry = std::to_string(block.index());
    if (const auto* requirement = std::get_if<OnboardingRequirement>(&block)) {
      entry += " " + requirement->id;
    } else if (const auto* consent = std::get_if<OnboardingConsent>(&block)) {
      entry += " " + consent->id;
    }
    shape.push_back(std::move(entry));
  }
  return shape;
}

}  // namespace tolvane::qt
