// Making, placing, bringing forward and dropping Tolvane's own top-level windows.
#include "ui/qt/window_host.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

namespace tolvane::qt {

HostedWindow::HostedWindow(std::function<void(bool)> closed) : closed_(std::move(closed)) {
  setWindowFlags(Qt::Window);
  // Qt deletes the window once it has closed; the host forgets it at the close.
  setAttribute(Qt::WA_DeleteOnClose);
  // Tolvane lives on in the tray after its last window closes.
  setAttribute(Qt::WA_QuitOnClose, false);
}

void HostedWindow::closeByCode() {
  byCode_ = true;
  QWidget::close();
}

void HostedWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (closed_) closed_(!byCode_);
}

WindowHost::~WindowHost() {
  delete window_;
}

bool WindowHost::ensureWindow() {
  if (window_) return false;
  window_ = new HostedWindow([this](bool byUser) { dropped(byUser); });
  return true;
}

void WindowHost::showCentred() {
  if (!window_) return;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window_->move(area.center() - QPoint(window_->width() / 2, window_->height() / 2));
  }
  window_->show();
}

void WindowHost::bringToFront() {
  if (!window_) return;
  window_->show();
  window_->raise();
  window_->activateWindow();
  if (activator_) activator_(static_cast<unsigned long>(window_->winId()));
}

void WindowHost::close() {
  if (window_) window_->closeByCode();
}

bool WindowHost::isVisible() const {
  return window_ && window_->isVisible();
}

Rect WindowHost::frame() const {
  if (!isVisible()) return {};
  const QRect frame = window_->frameGeometry();
  return {static_cast<double>(frame.x()), static_cast<double>(frame.y()),
          static_cast<double>(frame.width()), static_cast<double>(frame.height())};
}

QImage WindowHost::grabImage() const {
  return window_ ? window_->grab().toImage() : QImage();
}

void WindowHost::dropped(bool byUser) {
  window_ = nullptr;
  if (dropHandler_) dropHandler_();
  if (byUser && closeHandler_) closeHandler_();
}

}  // namespace tolvane::qt
