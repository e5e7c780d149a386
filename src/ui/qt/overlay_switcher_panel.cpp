// Painting the HUD's description into an overlay frame, ahead of its show or at it, and clicks
// on its rows.
#include "ui/qt/overlay_switcher_panel.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QTimer>
#include <QtMath>
#include <algorithm>
#include <cstring>
#include <utility>

#include "ui/qt/overlay_frame.h"
#include "ui/qt/switcher_painting.h"

namespace tolvane::qt {

namespace {

// Rows cleared between looks at the clock: clearing fresh memory is mostly its page faults.
constexpr int kClearRows = 32;

/// The panel's parts in painting order: the backdrop, each slot, then the border over them all.
/// Painting them in one pass or across several painters gives the same pixels.
/// The panel's size in whole logical pixels: its frame's, and its prepared image's at scale 1.
QSize panelSize(const SwitcherPanelView& view) {
  return QSize(qCeil(view.size.width), qCeil(view.size.height));
}

std::size_t partCount(const SwitcherPanelView& view) {
  return view.slots.size() + 2;
}

void paintPart(QPainter& painter, const SwitcherPanelView& view, std::size_t part,
               const SwitcherPaintContext& context) {
  if (part == 0) {
    paintBackdrop(painter, view, context);
  } else if (part <= view.slots.size()) {
    paintSlot(painter, view.slots[part - 1], false, context);
  } else {
    paintBorder(painter, view, context);
  }
}

}  // namespace

struct OverlaySwitcherPanel::Preparation {
  SwitcherPanelView view;
  QPoint at;
  int scale = 1;
  QImage image;
  int clearedRows = 0;
  std::size_t paintedParts = 0;
};

OverlaySwitcherPanel::OverlaySwitcherPanel(OverlayCanvas& canvas, AppIcons icons,
                                           std::function<void()> shown, PreparationPace pace)
    : canvas_(canvas),
      icons_(std::move(icons)),
      shown_(std::move(shown)),
      pace_(pace),
      stepper_(std::make_unique<QTimer>()) {
  canvas_.setClickHandler([this](QPointF point) { clicked(point); });
  stepper_->setSingleShot(true);
  stepper_->setTimerType(Qt::PreciseTimer);
  QObject::connect(stepper_.get(), &QTimer::timeout, [this] {
    if (preparation_ && !advancePreparation(false)) stepper_->start(0);
  });
}

OverlaySwitcherPanel::~OverlaySwitcherPanel() {
  canvas_.setClickHandler({});
}

QPoint OverlaySwitcherPanel::origin(const QRect& area, const SwitcherPanelView& view) {
  const QSize size = panelSize(view);
  if (view.frame) {
    return QPoint(qRound(view.frame->x), qRound(view.frame->y)) - area.topLeft();
  }
  return QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2);
}

void OverlaySwitcherPanel::show(const SwitcherPanelView& view) {
  view_ = view;
  announce_ = announce_ || !visible_;
  visible_ = true;
  const QRect area = canvas_.area().value_or(QRect());
  origin_ = origin(area, view_);
  const QRect panel(origin_, panelSize(view_));
  canvas_.paint([this, at = origin_](const OverlayCanvas::Frame& frame) { paintFrame(frame, at); },
                panel, panel);
}

void OverlaySwitcherPanel::prepare(const SwitcherPanelView& view) {
  if (visible_) return;
  auto next = std::make_unique<Preparation>();
  next->view = view;
  next->at = origin(canvas_.area().value_or(QRect()), view);
  next->scale = canvas_.scale();
  const int width = panelSize(view).width() * next->scale;
  const int height = panelSize(view).height() * next->scale;
  // A selection move before the show prepares again, into the pages already in.
  if (preparation_ && preparation_->image.width() == width &&
      preparation_->image.height() == height && preparation_->scale == next->scale) {
    next->image = std::move(preparation_->image);
  } else {
    next->image = anonymousImage(width, height, next->scale);
  }
  if (next->image.isNull()) return dropPreparation();
  preparation_ = std::move(next);
  // One under way goes on with the new view where it is.
  if (!stepper_->isActive()) stepper_->start(pace_.firstStepMillis);
}

bool OverlaySwitcherPanel::isPrepared() const {
  return preparation_ && preparation_->clearedRows == preparation_->image.height() &&
         preparation_->paintedParts == partCount(preparation_->view);
}

bool OverlaySwitcherPanel::advancePreparation(bool finish) {
  Preparation& p = *preparation_;
  QElapsedTimer clock;
  clock.start();
  const auto due = [&] { return !finish && clock.nsecsElapsed() >= pace_.stepNanos; };
  while (p.clearedRows < p.image.height()) {
    const int rows = std::min(kClearRows, p.image.height() - p.clearedRows);
    std::memset(p.image.scanLine(p.clearedRows), 0,
                static_cast<std::size_t>(p.image.bytesPerLine()) * static_cast<std::size_t>(rows));
    p.clearedRows += rows;
    if (due()) return false;
  }
  const std::size_t parts = partCount(p.view);
  if (p.paintedParts == parts) return true;
  const QPalette colors = QGuiApplication::palette();
  const SwitcherPaintContext context{colors, QGuiApplication::font(), icons_, true};
  QPainter painter(&p.image);
  setUpOverlayPainter(painter, p.at, p.at);
  while (p.paintedParts < parts) {
    paintPart(painter, p.view, p.paintedParts++, context);
    if (p.paintedParts < parts && due()) return false;
  }
  return true;
}

bool OverlaySwitcherPanel::copyPreparation(const OverlayCanvas::Frame& frame, QPoint at) {
  if (!preparation_) return false;
  Preparation& p = *preparation_;
  if (p.view != view_ || p.at != at || QPoint(frame.x, frame.y) != at || p.scale != frame.scale ||
      p.image.width() != frame.width || p.image.height() != frame.height) {
    return false;
  }
  advancePreparation(true);
  const auto rowBytes = static_cast<std::size_t>(frame.width) * 4;
  auto* to = reinterpret_cast<uchar*>(frame.pixels);
  for (int row = 0; row < frame.height; ++row) {
    std::memcpy(to + static_cast<std::ptrdiff_t>(row) * frame.strideBytes,
                p.image.constScanLine(row), rowBytes);
  }
  return true;
}

void OverlaySwitcherPanel::dropPreparation() {
  stepper_->stop();
  if (!preparation_) return;
  // Unmapping a panel's worth of pages takes milliseconds: it waits for the next turn of the
  // loop, after what the caller does next (the frame's commit, the chosen window's activation).
  spent_ = std::move(preparation_);
  QTimer::singleShot(0, stepper_.get(), [this] { spent_.reset(); });
}

void OverlaySwitcherPanel::paintFrame(const OverlayCanvas::Frame& frame, QPoint at) {
  if (!copyPreparation(frame, at)) {
    paintOverlayFrame(frame, at, [this](QPainter& painter) {
      const QPalette colors = QGuiApplication::palette();
      const SwitcherPaintContext context{colors, QGuiApplication::font(), icons_, true};
      for (std::size_t part = 0; part < partCount(view_); ++part) {
        paintPart(painter, view_, part, context);
      }
    });
  }
  // Shown, or about to be: what was prepared for it is past.
  dropPreparation();
  // Told once the first frame of an appearance is on its way, not when it was asked for: the
  // surface may take its first frame only after the compositor configured it. Told after the
  // commit that follows this painting, so that writing the log does not hold the frame back.
  if (std::exchange(announce_, false) && shown_) {
    QTimer::singleShot(0, stepper_.get(), [this] { shown_(); });
  }
}

void OverlaySwitcherPanel::hide() {
  dropPreparation();
  if (!visible_) return;
  visible_ = false;
  canvas_.clear();
}

void OverlaySwitcherPanel::clicked(QPointF point) {
  if (!visible_) return;
  const QPointF inPanel = point - QPointF(origin_);
  for (const auto& slot : view_.slots) {
    if (!slotRect(slot).contains(inPanel) || !slot.clickable) continue;
    // A copy: the handler may hide the panel, which replaces nothing of it but may end the
    // session that owns `view_`.
    if (auto handler = click_) handler(slot.index);
    return;
  }
}

}  // namespace tolvane::qt
