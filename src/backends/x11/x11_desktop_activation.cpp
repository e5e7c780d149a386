// The X11 desktop's answers to activations: what each request counts as accepted, and the
// active window as the server holds it.
#include "backends/x11/x11_desktop.h"

#include <utility>

namespace tolvane::x11 {

void X11Desktop::watchActivation(Pid pid, ActivationAnswer answer) {
  const auto asked = std::exchange(lastRaise(), std::nullopt);
  ActivationWatch::Target target;
  if (asked && asked->pid == pid) {
    // The incarnation, not the XID alone: a window that closes and whose id comes back is
    // another window.
    target.accepts = [window = asked->window](xcb_window_t active) { return active == window; };
    target.exists = [this, asked = *asked] {
      const Client* client = findClient(asked.window);
      return client && client->serial == asked.serial;
    };
  } else {
    target.accepts = [this, pid](xcb_window_t active) {
      const Client* client = findClient(active);
      return client && client->pid == pid;
    };
    target.exists = [this, pid, serial = findApp(pid)->serial] {
      const App* app = findApp(pid);
      return app && app->serial == serial;
    };
  }
  activation_.start(std::move(target), std::move(answer));
  // A window the desktop knows to be gone has its answer at once.
  activation_.clientsChanged();
}

std::optional<xcb_window_t> X11Desktop::readActiveWindow() const {
  if (!trusted() || connectionLost()) return std::nullopt;
  const Property active = readProperty(xcb_, connection_.root(), atoms_.activeWindow);
  if (!active.ok()) return std::nullopt;
  return active.first();
}

}  // namespace tolvane::x11
