// One Tolvane per user and display: the first instance holds a lock and listens on a Unix
// socket in the runtime folder; a later start hands its URL argument over and exits. Every
// message is answered with one line: "ok" once the instance has taken it, "busy" when every
// place is held by a client still sending, "no" for a message it turns down.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends/system/unique_fd.h"

namespace tolvane::system {

/// The one spelling of the Wayland display that `display` (a WAYLAND_DISPLAY value) names: the
/// absolute path of its socket, a relative name resolved against `xdgRuntimeDir` as libwayland
/// resolves it, with links, "." and ".." and repeated or trailing slashes gone. Two spellings of
/// one socket file give one identity, so that an instance and a trigger started with the other
/// spelling meet. A relative name without a runtime folder stays as it is.
std::string waylandDisplayIdentity(const std::string& display, const std::string& xdgRuntimeDir);

/// The running instance's side. Owns the lock and the listening socket; both go at destruction
/// (and with the process: a killed instance leaves a socket file the next one replaces).
///
/// Clients are read without ever waiting on them: the main loop watches `descriptors()`, calls
/// `service(now)` when one is readable or `nextDeadline()` has come, and each call only takes
/// what has already arrived. A client that sends slowly, or never finishes, costs the main
/// thread nothing but its own deadline.
class SingleInstance {
 public:
  /// One message is one line of at most this many bytes, its line feed included.
  static constexpr std::size_t kMaxMessageBytes = 4096;
  /// Clients read at the same time; a further one whose line has not arrived whole when it is
  /// accepted is answered "busy" and closed.
  static constexpr std::size_t kMaxClients = 8;
  /// How long a sender waits, in all, to connect and for the answer.
  static constexpr double kHandOffSeconds = 0.5;
  /// A client must finish its line this long after it was accepted, or it is dropped.
  static constexpr double kClientDeadlineSeconds = 2.0;

  /// Where the lock and the socket of `display` live: "<runtime>/tolvane-<display>.lock/.sock",
  /// the display name reduced to characters safe in a file name. An absolute display in the
  /// runtime folder counts by its file name alone; one whose path would not fit a socket address
  /// counts by a hash of it.
  static std::string socketPath(const std::string& runtimeFolder, const std::string& display);

  /// Claims the instance; nothing when another process holds it (or the folder is unusable,
  /// with `error` saying why). `runtimeFolder` must be private to the user (see
  /// chooseRuntimeFolder); the lock file is still never opened through a link.
  static std::unique_ptr<SingleInstance> claim(const std::string& runtimeFolder,
                                               const std::string& display, std::string& error);
  /// What became of a message sent to the running instance.
  enum class HandOff {
    delivered,        // the instance answered "ok"
    noInstance,       // nothing listens on the socket
    busy,             // every place was held; the instance said so
    notAcknowledged,  // turned down, closed without an answer, or no answer in time
  };
  /// Sends `message` (a URL) to the running instance and waits at most `waitSeconds` for its
  /// answer. `peer`, when given, receives the process id of the instance whenever the
  /// connection was made (0 otherwise), so that a caller can tell a stopped instance from a
  /// slow one.
  static HandOff send(const std::string& runtimeFolder, const std::string& display,
                      const std::string& message, double waitSeconds = kHandOffSeconds,
                      std::int32_t* peer = nullptr);

  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  /// The descriptors to watch for readability: the listening socket and every client still
  /// sending. The set changes with every `service` call.
  std::vector<int> descriptors() const;
  /// The earliest deadline of a client still sending, on the clock `service` is given.
  std::optional<double> nextDeadline() const;
  /// Accepts waiting clients, reads what every client has sent so far without waiting, and
  /// returns the messages completed (one line each, without its line feed), each answered "ok"
  /// as it is taken; empty lines and lines with control characters are answered "no". Clients
  /// past their deadline, past kMaxMessageBytes, or gone before a line feed are closed without
  /// a message. `now` is the current time on the caller's clock.
  std::vector<std::string> service(double now);

 private:
  struct Client {
    UniqueFd socket;
    double deadline = 0;
    std::string received;
    bool finished = false;
  };

  SingleInstance(UniqueFd lock, UniqueFd listen, std::string socketPath);
  void acceptWaiting(double now, std::vector<std::string>& messages);
  // Reads the clients from index `first` on and removes the ones that are done.
  void readClients(std::size_t first, double now, std::vector<std::string>& messages);

  UniqueFd lock_;
  UniqueFd listen_;
  std::string socketPath_;
  std::vector<Client> clients_;
};

}  // namespace tolvane::system
