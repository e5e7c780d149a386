// One Notify call on a connection of its own, bounded by one timeout from connecting to the
// answer.
#include "backends/system/desktop_notification.h"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <memory>

namespace tolvane::system {

namespace {

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

}  // namespace

bool showDesktopNotification(const std::string& summary, const std::string& body,
                             double timeoutSeconds) {
  sd_bus* rawBus = nullptr;
  // Opening only starts the connection; its handshake is answered within the call's timeout.
  if (sd_bus_open_user(&rawBus) < 0) return false;
  const std::unique_ptr<sd_bus, BusCloser> bus(rawBus);
  sd_bus_message* rawCall = nullptr;
  if (sd_bus_message_new_method_call(bus.get(), &rawCall, "org.freedesktop.Notifications",
                                     "/org/freedesktop/Notifications",
                                     "org.freedesktop.Notifications", "Notify") < 0) {
    return false;
  }
  const std::unique_ptr<sd_bus_message, MessageUnref> call(rawCall);
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (the
  // server's default).
  if (sd_bus_message_append(call.get(), "susssasa{sv}i", "Tolvane", 0u, "com.brenmoor.tolvane",
                            summary.c_str(), body.c_str(), 0, 0, -1) < 0) {
    return false;
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const auto micros = static_cast<std::uint64_t>(timeoutSeconds * 1e6);
  const int result = sd_bus_call(bus.get(), call.get(), micros, &error, &reply);
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return result >= 0;
}

}  // namespace tolvane::system
