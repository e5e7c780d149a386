// One D-Bus method call composed ahead of time, for the moments when nothing may be allocated
// and no lock taken: the crash handler and the stall watchdog unload Tolvane's KWin script
// with it, on a connection of their own that nothing else writes to.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane::kwin {

/// The bytes of a method call `destination` `path` `interface`.`member`(s `argument`), little
/// endian, expecting no reply.
std::string composeMethodCall(std::string_view destination, std::string_view path,
                              std::string_view interface, std::string_view member,
                              std::string_view argument, std::uint32_t serial);

/// A second connection to the session bus and the call it sends. Set up on the main thread;
/// send() from any thread or a signal handler.
class EmergencyCall {
 public:
  EmergencyCall() = default;
  ~EmergencyCall();
  EmergencyCall(const EmergencyCall&) = delete;
  EmergencyCall& operator=(const EmergencyCall&) = delete;

  /// Connects (once) and keeps `message` ready; false when the bus cannot be reached or the
  /// message does not fit.
  bool prepare(const std::string& message);
  /// Nothing is sent from now on.
  void disarm() { length_ = 0; }
  /// Async-signal-safe: writes the message once; true when it went out whole.
  bool send();

 private:
  void* bus_ = nullptr;
  int fd_ = -1;
  char message_[512] = {};
  std::atomic<std::size_t> length_{0};
};

}  // namespace tolvane::kwin
