// The HUD window: placement, the backdrop mode, hover and clicks. Painting is in
// switcher_painting.cpp; every decision about content was made by the core.
#include "ui/qt/qt_switcher_panel.h"

#include <QCursor>
#include <QEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWidget>
#include <QtMath>
#include <optional>
#include <utility>

#include "ui/qt/app_icons.h"
#include "ui/qt/painting_basics.h"
#include "ui/qt/switcher_painting.h"

namespace tolvane::qt {

/// The HUD's window. Its backdrop mode is fixed for its lifetime, because the window's visual
/// (with or without alpha) is chosen when the native window is created.
class SwitcherHudWidget final : public QWidget {
 public:
  SwitcherHudWidget(bool translucent, std::function<void(int)> onClick, AppIcons icons)
      : translucent_(translucent), onClick_(std::move(onClick)), icons_(std::move(icons)) {
    // Override-redirect keeps the window manager out entirely: no frame, no entry in the client
    // list, no focus change. Without a window manager to keep it above, each show raises it.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground, translucent_);
    setAttribute(Qt::WA_OpaquePaintEvent, !translucent_);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
  }

  bool translucent() const { return translucent_; }

  void present(const SwitcherPanelView& view) {
    view_ = view;
    placePanel(*this, view.size, view.frame, translucent_, panelShape(view_));
    pressed_.reset();
    hovered_ = underMouse() ? slotAt(mapFromGlobal(QCursor::pos())) : std::nullopt;
    if (!isVisible()) show();
    raise();
    update();
  }

  void dismiss() {
    hide();
    hovered_.reset();
    pressed_.reset();
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    const QPalette colors = palette();
    const SwitcherPaintContext context{colors, font(), icons_, translucent_};
    paintBackdrop(painter, view_, context);
    for (std::size_t i = 0; i < view_.slots.size(); ++i) {
      const auto& slot = view_.slots[i];
      if (!event->rect().intersects(slotRect(slot).toAlignedRect())) continue;
      paintSlot(painter, slot, hovered_ == i, context);
    }
    paintBorder(painter, view_, context);
  }

  void mouseMoveEvent(QMouseEvent* event) override { setHovered(slotAt(event->position())); }

  void leaveEvent(QEvent*) override { setHovered(std::nullopt); }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) pressed_ = slotAt(event->position());
  }

  // A click is a press and a release on the same slot, so dragging off a row cancels it.
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const auto pressed = std::exchange(pressed_, std::nullopt);
    const auto released = slotAt(event->position());
    if (!pressed || pressed != released) return;
    const auto& slot = view_.slots[*released];
    // The handler may hide the panel or show a new description; nothing of `slot` is read
    // after it runs.
    if (slot.clickable) onClick_(slot.index);
  }

  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::ThemeChange) icons_.clear();
    QWidget::changeEvent(event);
  }

 private:
  std::optional<std::size_t> slotAt(QPointF point) const {
    for (std::size_t i = 0; i < view_.slots.size(); ++i) {
      if (slotRect(view_.slots[i]).contains(point)) return i;
    }
    return std::nullopt;
  }

  void setHovered(std::optional<std::size_t> slot) {
    if (slot == hovered_) return;
    repaintSlot(hovered_);
    hovered_ = slot;
    repaintSlot(hovered_);
  }

  void repaintSlot(std::optional<std::size_t> slot) {
    if (slot && *slot < view_.slots.size()) {
      update(slotRect(view_.slots[*slot]).toAlignedRect());
    }
  }

  const bool translucent_;
  std::function<void(int)> onClick_;
  SwitcherPanelView view_;
  // Positions in view_.slots.
  std::optional<std::size_t> hovered_;
  std::optional<std::size_t> pressed_;
  AppIcons icons_;
};

QtSwitcherPanel::QtSwitcherPanel(CompositorProbe compositor) : compositor_(std::move(compositor)) {}

QtSwitcherPanel::~QtSwitcherPanel() = default;

void QtSwitcherPanel::ensureWidget(bool translucent) {
  if (widget_ && widget_->translucent() == translucent) return;
  if (widget_) {
    // The old window may be delivering the click that led here; it goes once that returns.
    widget_->hide();
    widget_.release()->deleteLater();
  }
  widget_ = std::make_unique<SwitcherHudWidget>(
      translucent,
      [this](int slot) {
        // A copy: the handler may replace itself while it runs.
        if (auto handler = click_) handler(slot);
      },
      AppIcons(iconSource_, windowIcons_));
}

void QtSwitcherPanel::show(const SwitcherPanelView& view) {
  ensureWidget(compositor_ && compositor_());
  widget_->present(view);
}

void QtSwitcherPanel::hide() {
  if (widget_) widget_->dismiss();
}

bool QtSwitcherPanel::isVisible() const {
  return widget_ && widget_->isVisible();
}

void QtSwitcherPanel::setClickHandler(std::function<void(int slot)> handler) {
  click_ = std::move(handler);
}

QWidget* QtSwitcherPanel::window() const {
  return widget_.get();
}

}  // namespace tolvane::qt
