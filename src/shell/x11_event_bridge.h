// Hands the X events Qt reads on its connection to the desktop services before Qt sees them.
#pragma once

#include <QAbstractNativeEventFilter>

#include "backends/x11/x11_connection.h"

namespace tolvane::shell {

class X11EventBridge final : public QAbstractNativeEventFilter {
 public:
  explicit X11EventBridge(x11::Connection& connection) : connection_(connection) {}

  /// A service that consumes an event (a grabbed key) keeps it from Qt.
  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
    return eventType == "xcb_generic_event_t" && connection_.dispatchUntyped(message);
  }

 private:
  x11::Connection& connection_;
};

}  // namespace tolvane::shell
