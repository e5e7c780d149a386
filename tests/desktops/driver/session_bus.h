// A private D-Bus session bus for one compositor session: its daemon, which lets both the test
// (root) and a compositor run as `nobody` connect, the test's connection to it, and the names
// taken on it, watched from before the compositor starts so that none is missed.
#pragma once

#include <systemd/sd-bus.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace tolvane::test {

struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

/// Starts a bus daemon on `argv`, which must print its address on standard output; the address,
/// or empty when the daemon did not start.
std::string startBusDaemon(const std::vector<std::string>& argv, PipeText& out,
                           std::unique_ptr<ChildProcess>& daemon);

class SessionBus {
 public:
  SessionBus() = default;
  /// Closes the connection, then ends the daemon.
  ~SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  /// Starts the daemon with its socket and configuration in `folder`, and connects; false with
  /// error() saying why.
  bool start(const std::string& folder);
  const std::string& address() const { return address_; }
  /// Whether a name has been taken on the bus since start().
  bool owned(const std::string& name) const { return owned_.contains(name); }
  /// The connection's messages and signals, for waits.
  Source source();
  /// Calls a method of `service`'s; the reply, or nothing with error() saying why.
  template <typename... Args>
  Message call(const char* service, const std::string& path, const char* interface,
               const char* member, const char* types, Args... args) {
    sd_bus_error failure{};
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(bus_, service, path.c_str(), interface, member, &failure, &reply, types,
                           args...) < 0) {
      error_ = std::string(member) + ": " + (failure.message ? failure.message : "no reply");
    }
    sd_bus_error_free(&failure);
    return Message(reply);
  }
  const std::string& error() const { return error_; }

 private:
  PipeText out_;
  std::unique_ptr<ChildProcess> daemon_;
  sd_bus* bus_ = nullptr;
  sd_bus_slot* names_ = nullptr;
  std::string address_, error_;
  std::set<std::string> owned_;
};

}  // namespace tolvane::test
