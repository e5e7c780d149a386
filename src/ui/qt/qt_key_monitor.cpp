// The application event filter behind the local key monitors.
#include "ui/qt/qt_key_monitor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <vector>

namespace tolvane::qt {

namespace {

bool isModifierKey(int key) {
  switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
      return true;
    default:
      return false;
  }
}

}  // namespace

QtKeyMonitor::QtKeyMonitor(Translator translator) : translator_(std::move(translator)) {}

QtKeyMonitor::~QtKeyMonitor() {
  if (installed_ && qApp) qApp->removeEventFilter(this);
}

MonitorToken QtKeyMonitor::addKeyDownMonitor(Handler handler) {
  handlers_[++last_] = std::move(handler);
  if (!installed_ && qApp) {
    qApp->installEventFilter(this);
    installed_ = true;
  }
  return last_;
}

void QtKeyMonitor::removeMonitor(MonitorToken token) {
  handlers_.erase(token);
  if (handlers_.empty() && installed_ && qApp) {
    qApp->removeEventFilter(this);
    installed_ = false;
  }
}

bool QtKeyMonitor::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
  // A press no widget accepts travels up to the window; only its first stop is the one it was
  // aimed at, so it is offered there and nowhere else.
  auto* widget = static_cast<QWidget*>(watched);
  QWidget* target = widget->window()->focusWidget();
  if (widget != (target ? target : widget->window())) return false;
  return offer(*static_cast<QKeyEvent*>(event));
}

bool QtKeyMonitor::offer(const QKeyEvent& event) {
  // A modifier's press is no key-down: it changes the flags of the keys that follow.
  if (!translator_ || isModifierKey(event.key())) return false;
  KeyEvent key =
      translator_(event.nativeScanCode(), event.nativeModifiers(), event.nativeVirtualKey());
  key.type = KeyEventType::keyDown;
  return offer(key);
}

bool QtKeyMonitor::offer(const KeyEvent& key) {
  // A handler may remove monitors (closing the palette): walk a copy of the tokens.
  std::vector<MonitorToken> tokens;
  for (const auto& entry : handlers_) tokens.push_back(entry.first);
  for (MonitorToken token : tokens) {
    const auto found = handlers_.find(token);
    if (found == handlers_.end()) continue;
    // A copy: the handler may remove itself while it runs.
    const Handler handler = found->second;
    if (handler(key)) return true;
  }
  return false;
}

}  // namespace tolvane::qt
