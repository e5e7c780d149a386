// Key presses aimed at this application's own windows, shown to the core's monitors before the
// focused control sees them.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>

#include "platform/event_tap.h"
#include "platform/local_key_monitor.h"

class QKeyEvent;

namespace tolvane::qt {

/// Main thread only; needs a QApplication, on which it installs itself as an event filter while
/// it has monitors. A press is offered once, when it reaches the widget it is aimed at (the
/// focused control of its window), not again as it propagates to the parents.
class QtKeyMonitor final : public QObject, public LocalKeyMonitor {
 public:
  /// The product's key event for a press: from the native key code, modifier state and keysym
  /// the window system reported (on X11 and Wayland the XKB keycode, the modifier mask and the
  /// keysym).
  using Translator = std::function<KeyEvent(
      std::uint32_t nativeScanCode, std::uint32_t nativeModifiers, std::uint32_t nativeKeysym)>;

  explicit QtKeyMonitor(Translator translator);
  ~QtKeyMonitor() override;

  MonitorToken addKeyDownMonitor(Handler handler) override;
  void removeMonitor(MonitorToken token) override;
  /// Shows a key-down that reached a surface of ours outside Qt (an overlay) to the monitors,
  /// as if a window of this application had it; true when one swallowed it.
  bool offer(const KeyEvent& key);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool offer(const QKeyEvent& event);

  Translator translator_;
  std::map<MonitorToken, Handler> handlers_;
  MonitorToken last_ = 0;
  bool installed_ = false;
};

}  // namespace tolvane::qt
