// One connection to sway's IPC socket: framed requests with a deadline, and the events of a
// subscribed connection read without blocking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace tolvane::sway {

/// Message types of the requests Tolvane sends.
namespace ipc {
inline constexpr std::uint32_t kRunCommand = 0;
inline constexpr std::uint32_t kGetWorkspaces = 1;
inline constexpr std::uint32_t kSubscribe = 2;
inline constexpr std::uint32_t kGetOutputs = 3;
inline constexpr std::uint32_t kGetTree = 4;
inline constexpr std::uint32_t kGetConfig = 9;
inline constexpr std::uint32_t kGetBindingState = 12;
/// Events carry the high bit; the rest of the type names the event.
inline constexpr std::uint32_t kEventBit = 0x80000000u;
inline constexpr std::uint32_t kWindowEvent = 0x80000003u;
inline constexpr std::uint32_t kBindingEvent = 0x80000005u;
inline constexpr std::uint32_t kShutdownEvent = 0x80000006u;
}  // namespace ipc

/// The socket SWAYSOCK names, when it is an absolute path that fits a Unix socket address.
std::optional<std::string> swaySocketPath();

/// One event of a subscribed connection; `body` is never a discarded value.
struct SwayEvent {
  std::uint32_t type = 0;
  nlohmann::json body;
};

/// A connection to sway. Any breach of the framing (wrong magic, an oversized length, a reply
/// to another request), a timeout, an error or the peer's end fails it for good: the byte
/// stream can no longer be trusted to line up with the requests.
class SwayIpc {
 public:
  static constexpr std::size_t kMaxReplyBytes = 32u << 20;
  static constexpr std::size_t kMaxEventBytes = 1u << 20;
  /// Events that may wait, read while a request waited for its reply, before readAvailable().
  static constexpr std::size_t kMaxQueuedEvents = 256;
  static constexpr double kSubscribeTimeoutSeconds = 2.0;

  /// Connects without blocking on a full backlog; null with `error` said otherwise.
  static std::unique_ptr<SwayIpc> connect(const std::string& path, std::string& error);
  ~SwayIpc();
  SwayIpc(const SwayIpc&) = delete;
  SwayIpc& operator=(const SwayIpc&) = delete;

  /// Sends one message and waits, `timeoutSeconds` in all, for its reply. Absent when the
  /// connection fails or the reply is not JSON; events read meanwhile wait for readAvailable().
  std::optional<nlohmann::json> request(std::uint32_t type, std::string_view payload,
                                        double timeoutSeconds);
  /// Subscribes to the named events ("binding", "window", "shutdown"); true when sway agrees.
  bool subscribe(const std::vector<std::string>& events);

  /// The socket, to watch for readability in the run loop.
  int fd() const { return fd_; }
  /// Reads what the socket holds without blocking and returns the events it completes; a
  /// partial frame waits for the next call. An event body that is not JSON is dropped.
  std::vector<SwayEvent> readAvailable();
  bool failed() const { return failed_; }

 private:
  explicit SwayIpc(int fd) : fd_(fd) {}
  enum class Read { progress, wouldBlock, failed };
  bool sendAll(std::string_view bytes, double deadline);
  Read readSome();
  /// The next whole frame in the buffer, if one is there; fails the connection on bad framing.
  std::optional<std::pair<std::uint32_t, std::string>> takeFrame();
  bool queueEvent(std::uint32_t type, const std::string& body);
  void fail();

  int fd_ = -1;
  bool failed_ = false;
  std::string input_;
  std::size_t inputStart_ = 0;
  std::deque<SwayEvent> queued_;
};

/// Writes one RUN_COMMAND frame carrying `payload` on a fresh connection to `socketPath` and
/// waits a bounded moment for sway to take it in; never reads the answer. Uses only
/// async-signal-safe calls and no allocation, for crash and signal handlers.
bool sendPrecomposed(const char* socketPath, const char* payload, std::size_t length);

}  // namespace tolvane::sway
