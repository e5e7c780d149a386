// The onboarding window: its column of blocks, the footer, the waiting dots and its height.
#include "ui/qt/qt_onboarding_window.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/qt/onboarding_blocks.h"
#include "ui/qt/settings_widgets.h"

namespace tolvane::qt {

namespace {

constexpr int kWidth = static_cast<int>(OnboardingWindowView::kWidth);
/// Below this a window could not show a page's buttons at all.
constexpr int kSmallestMaximumHeight = 240;
constexpr int kContentMargin = 24;
constexpr int kBlockSpacing = 14;
constexpr int kFooterMargin = 16;

}  // namespace

QtOnboardingWindow::QtOnboardingWindow() {
  waitingTimer_.setInterval(kWaitingStepMs);
  // Only the dots move; what the page waits for is the core's to decide.
  QObject::connect(&waitingTimer_, &QTimer::timeout, [this] {
    if (!waiting_) return;
    waitingStep_ = (waitingStep_ + 1) % 4;
    waiting_->setText(waitingText_ + QString(waitingStep_, QLatin1Char('.')));
  });
  host_.setDropHandler([this] {
    waitingTimer_.stop();
    blocks_.clear();
    shape_.clear();
  });
}

QtOnboardingWindow::~QtOnboardingWindow() = default;

int QtOnboardingWindow::maximumHeight() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return static_cast<int>(OnboardingWindowView::kFallbackMaxHeight);
  const int available =
      screen->availableGeometry().height() - static_cast<int>(OnboardingWindowView::kScreenMargin);
  return std::max(available, kSmallestMaximumHeight);
}

void QtOnboardingWindow::show(const OnboardingWindowView& view) {
  const bool made = host_.ensureWindow();
  if (made) build();
  QWidget* window = host_.window();
  window->setWindowTitle(fromUtf8(view.windowTitle));
  showBlocks(view);
  showWaiting(view.waitingText);
  showFooter(view);
  fitHeight();
  if (made) {
    host_.showCentred();
  } else if (!window->isVisible()) {
    window->show();
  }
}

void QtOnboardingWindow::build() {
  QWidget* window = host_.window();
  content_ = new QWidget();
  auto* column = new QVBoxLayout(content_);
  column->setContentsMargins(kContentMargin, kContentMargin + 4, kContentMargin, kContentMargin);
  column->setSpacing(kBlockSpacing);
  waiting_ = new TextLabel(content_, {SemanticColor::secondary, 1.0});
  waiting_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  column->addWidget(waiting_);
  column->addStretch(1);
  scroller_ = new QScrollArea(window);
  scroller_->setWidgetResizable(true);
  scroller_->setFrameShape(QFrame::NoFrame);
  scroller_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroller_->setWidget(content_);
  scroller_->viewport()->setAutoFillBackground(false);
  content_->setAutoFillBackground(false);

  footer_ = new QWidget(window);
  dots_ = new PageDots(footer_);
  back_ = new PillButton(footer_);
  secondary_ = new PillButton(footer_);
  primary_ = new PillButton(footer_);
  primary_->setFilled(true);
  auto* row = new QHBoxLayout(footer_);
  row->setContentsMargins(kFooterMargin, kFooterMargin / 2, kFooterMargin, kFooterMargin);
  row->setSpacing(8);
  row->addWidget(dots_, 0, Qt::AlignVCenter);
  row->addStretch(1);
  row->addWidget(back_);
  row->addWidget(secondary_);
  row->addWidget(primary_);

  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(scroller_, 1);
  layout->addWidget(footer_);
}

void QtOnboardingWindow::showBlocks(const OnboardingWindowView& view) {
  auto shape = onboardingShape(view.blocks);
  if (shape == shape_) {
    for (std::size_t i = 0; i < blocks_.size(); ++i)
      applyOnboardingBlock(blocks_[i], view.blocks[i]);
    return;
  }
  // The old blocks go once the current event is handled: the click that turned the page may
  // still be running in one of them.
  for (QWidget* block : blocks_) retireWidget(block);
  blocks_.clear();
  auto* column = static_cast<QVBoxLayout*>(content_->layout());
  for (std::size_t i = 0; i < view.blocks.size(); ++i) {
    blocks_.push_back(makeOnboardingBlock(view.blocks[i], content_));
    column->insertWidget(static_cast<int>(i), blocks_.back());
    // A block added to a window on screen stays hidden (and out of the height) until shown.
    blocks_.back()->show();
  }
  shape_ = std::move(shape);
  scroller_->ensureVisible(0, 0);
}

void QtOnboardingWindow::showWaiting(const std::string& text) {
  if (text.empty()) {
    waitingTimer_.stop();
    waitingText_.clear();
    waiting_->setUtf8(text);
    return;
  }
  const QString wanted = fromUtf8(text);
  const bool still = reducedMotion_ && reducedMotion_();
  if (wanted == waitingText_ && (still != waitingTimer_.isActive())) return;
  waitingText_ = wanted;
  waitingStep_ = 0;
  waiting_->setUtf8(text);
  if (still) {
    waitingTimer_.stop();
    waiting_->setText(waitingText_ + QStringLiteral("…"));
  } else {
    waitingTimer_.start();
  }
}

void QtOnboardingWindow::showFooter(const OnboardingWindowView& view) {
  dots_->setPages(view.pageCount, view.pageIndex);
  const auto present = [](PillButton* button, const std::optional<OnboardingButton>& model) {
    button->setVisible(model.has_value());
    if (!model) return;
    button->setText(fromUtf8(model->title));
    button->setAction(model->action);
    button->updateGeometry();
  };
  present(back_, view.back);
  present(secondary_, view.secondary);
  present(primary_, view.primary);
  primary_->setEnabled(view.primaryEnabled);
}

void QtOnboardingWindow::fitHeight() {
  QLayout* column = content_->layout();
  column->activate();
  const int content = column->hasHeightForWidth() ? column->totalHeightForWidth(kWidth)
                                                  : column->totalSizeHint().height();
  const int height = std::min(content + footer_->sizeHint().height(), maximumHeight());
  host_.window()->setFixedSize(kWidth, height);
}

void QtOnboardingWindow::bringToFront() {
  host_.bringToFront();
}

void QtOnboardingWindow::close() {
  host_.close();
}

bool QtOnboardingWindow::isVisible() const {
  return host_.isVisible();
}

Rect QtOnboardingWindow::frame() const {
  return host_.frame();
}

void QtOnboardingWindow::setCloseHandler(std::function<void()> handler) {
  host_.setCloseHandler(std::move(handler));
}

void QtOnboardingWindow::setActivator(std::function<void(unsigned long)> activator) {
  host_.setActivator(std::move(activator));
}

void QtOnboardingWindow::setReducedMotion(std::function<bool()> prefersReducedMotion) {
  reducedMotion_ = std::move(prefersReducedMotion);
}

}  // namespace tolvane::qt
