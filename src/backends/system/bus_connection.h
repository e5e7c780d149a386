// The user's session bus through sd-bus, for the backends that speak to a desktop's own services
// (KWin's scripting, GNOME Shell's extension): every call waits a bounded time, and what arrives
// is handled in bounded rounds, so that a peer that hangs or floods cannot hold the main thread.
#pragma once

#include <systemd/sd-bus.h>

#include <memory>
#include <string>

namespace tolvane::system {

/// Main thread only.
class BusConnection {
 public:
  /// Connects; nothing, with `error` set, when there is no session bus or it does not answer.
  static std::unique_ptr<BusConnection> open(double callTimeoutSeconds, std::string& error);
  /// Sends what is queued, then closes.
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  sd_bus* get() const { return bus_; }
  /// The connection's unique name (":1.42"): what a peer that must call back is told.
  const std::string& uniqueName() const { return uniqueName_; }
  /// The socket to watch for readability; process() handles what arrived.
  int fd() const { return sd_bus_get_fd(bus_); }
  /// Handles what arrived; false once the connection has ended.
  bool process();

 private:
  BusConnection() = default;

  sd_bus* bus_ = nullptr;
  std::string uniqueName_;
};

/// Frees what one call allocated, whatever path the call leaves by.
struct BusCall {
  sd_bus_error error{};
  sd_bus_message* reply = nullptr;
  BusCall() = default;
  BusCall(const BusCall&) = delete;
  BusCall& operator=(const BusCall&) = delete;
  ~BusCall() {
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
  }
  /// Why the call that returned `result` failed, in words.
  std::string what(int result) const;
};

}  // namespace tolvane::system
