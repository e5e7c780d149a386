// One Tolvane per user and display: the first instance holds a lock and listens on a Unix
// socket in the runtime folder; a later start hands its URL argument over and exits.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::system {

/// The running instance's side. Owns the lock and the listening socket; both go at destruction
/// (and with the process: a killed instance leaves a socket file the next one replaces).
class SingleInstance {
 public:
  /// Where the lock and the socket of `display` live: "<runtime>/tolvane-<display>.lock/.sock",
  /// the display name reduced to characters safe in a file name.
  static std::string socketPath(const std::string& runtimeFolder, const std::string& display);

  /// Claims the instance; nothing when another process holds it (or the folder is unusable,
  /// with `error` saying why).
  static std::unique_ptr<SingleInstance> claim(const std::string& runtimeFolder,
                                               const std::string& display, std::string& error);
  /// Sends `message` (a URL) to the running instance; false when none answers.
  static bool send(const std::string& runtimeFolder, const std::string& display,
                   const std::string& message);

  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  /// The listening socket, to watch for readability on the main loop.
  int listenDescriptor() const { return listen_; }
  /// Accepts the waiting connections and returns their messages (one line each, at most 4 KiB).
  /// Never blocks for long: a client that does not finish its message in time is dropped.
  std::vector<std::string> takeMessages();

 private:
  SingleInstance(int lock, int listen, std::string socketPath);

  int lock_;
  int listen_;
  std::string socketPath_;
};

}  // namespace tolvane::system
