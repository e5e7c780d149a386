// One Notify call on a connection of its own, bounded by one timeout from connecting to the
// answer. libsystemd is loaded only when a notification is due: the front door that sends it
// runs on every press of a compositor binding, and linking libsystemd would load it and the
// libraries it brings (gcrypt, lz4, zstd…) at every start, about a millisecond each press.
#include "backends/system/desktop_notification.h"

#include <dlfcn.h>
#include <systemd/sd-bus.h>

#include <cstdint>
#include <memory>

namespace tolvane::system {

namespace {

/// The bus calls this file makes, from a libsystemd loaded on first use; nothing when it cannot
/// be loaded. Never unloaded: the process is short-lived or has it linked anyway.
struct BusCalls {
  decltype(&sd_bus_open_user) openUser;
  decltype(&sd_bus_flush_close_unref) close;
  decltype(&sd_bus_message_new_method_call) newMethodCall;
  decltype(&sd_bus_message_append) append;
  decltype(&sd_bus_call) call;
  decltype(&sd_bus_message_unref) unrefMessage;
  decltype(&sd_bus_error_free) freeError;
};

template <typename Function>
bool resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  return function != nullptr;
}

const BusCalls* busCalls() {
  static const std::unique_ptr<BusCalls> calls = []() -> std::unique_ptr<BusCalls> {
    void* library = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    auto loaded = std::make_unique<BusCalls>();
    const bool all = resolve(library, "sd_bus_open_user", loaded->openUser) &&
                     resolve(library, "sd_bus_flush_close_unref", loaded->close) &&
                     resolve(library, "sd_bus_message_new_method_call", loaded->newMethodCall) &&
                     resolve(library, "sd_bus_message_append", loaded->append) &&
                     resolve(library, "sd_bus_call", loaded->call) &&
                     resolve(library, "sd_bus_message_unref", loaded->unrefMessage) &&
                     resolve(library, "sd_bus_error_free", loaded->freeError);
    return all ? std::move(loaded) : nullptr;
  }();
  return calls.get();
}

}  // namespace

bool showDesktopNotification(const std::string& summary, const std::string& body,
                             double timeoutSeconds) {
  const BusCalls* sd = busCalls();
  if (!sd) return false;
  sd_bus* rawBus = nullptr;
  // Opening only starts the connection; its handshake is answered within the call's timeout.
  if (sd->openUser(&rawBus) < 0) return false;
  const auto closeBus = [sd](sd_bus* bus) { sd->close(bus); };
  const std::unique_ptr<sd_bus, decltype(closeBus)> bus(rawBus, closeBus);
  sd_bus_message* rawCall = nullptr;
  if (sd->newMethodCall(bus.get(), &rawCall, "org.freedesktop.Notifications",
                        "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                        "Notify") < 0) {
    return false;
  }
  const auto unref = [sd](sd_bus_message* message) { sd->unrefMessage(message); };
  const std::unique_ptr<sd_bus_message, decltype(unref)> call(rawCall, unref);
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (the
  // server's default).
  if (sd->append(call.get(), "susssasa{sv}i", "Tolvane", 0u, "com.brenmoor.tolvane",
                 summary.c_str(), body.c_str(), 0, 0, -1) < 0) {
    return false;
  }
  // SD_BUS_ERROR_NULL spelt in C++: the macro's compound literal is C only.
  sd_bus_error error{};
  sd_bus_message* reply = nullptr;
  const auto micros = static_cast<std::uint64_t>(timeoutSeconds * 1e6);
  const int result = sd->call(bus.get(), call.get(), micros, &error, &reply);
  sd->freeError(&error);
  sd->unrefMessage(reply);
  return result >= 0;
}

}  // namespace tolvane::system
