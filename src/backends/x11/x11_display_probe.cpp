// Each question opens its connection and closes it before answering.
#include "backends/x11/x11_display_probe.h"

#include <xcb/xcb.h>

#include "backends/x11/x11_connection.h"

namespace tolvane::x11 {

namespace {

// xcb_connect never returns null: a failed connection is an error object that must still be
// disconnected.
struct Disconnect {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using ShortConnection = std::unique_ptr<xcb_connection_t, Disconnect>;

ShortConnection connect(const std::string& display) {
  return ShortConnection(xcb_connect(display.c_str(), nullptr));
}

}  // namespace

bool displayAnswers(const std::string& display) {
  return !xcb_connection_has_error(connect(display).get());
}

bool closeClientOwning(const std::string& display, std::uint32_t window) {
  const ShortConnection connection = connect(display);
  if (xcb_connection_has_error(connection.get())) return false;
  const Reply<xcb_generic_error_t> error(
      xcb_request_check(connection.get(), xcb_kill_client_checked(connection.get(), window)));
  return error == nullptr;
}

}  // namespace tolvane::x11
