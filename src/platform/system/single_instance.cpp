// The lock decides who is first (the socket file alone cannot: a killed instance leaves it
// behind); the socket only carries messages.
#include "platform/system/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tolvane::system {

namespace {

constexpr std::size_t kMaxMessage = 4096;
constexpr int kClientTimeoutMillis = 200;

std::string safeDisplayName(const std::string& display) {
  std::string out;
  for (char c : display) {
    const bool safe = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      c == '.' || c == '-' || c == '_';
    out += safe ? c : '_';
  }
  return out.empty() ? "default" : out;
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string lockPath(const std::string& socketPath) {
  return socketPath.substr(0, socketPath.size() - 5) + ".lock";
}

}  // namespace

std::string SingleInstance::socketPath(const std::string& runtimeFolder,
                                       const std::string& display) {
  return runtimeFolder + "/tolvane-" + safeDisplayName(display) + ".sock";
}

std::unique_ptr<SingleInstance> SingleInstance::claim(const std::string& runtimeFolder,
                                                      const std::string& display,
                                                      std::string& error) {
  const std::string path = socketPath(runtimeFolder, display);
  const int lock = ::open(lockPath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) {
    error = "cannot open " + lockPath(path) + ": " + std::strerror(errno);
    return nullptr;
  }
  if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    ::close(lock);
    error.clear();  // another instance: not an error of ours
    return nullptr;
  }
  sockaddr_un address;
  const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listening < 0 || !fillAddress(path, address)) {
    error = "cannot create the instance socket " + path;
    if (listening >= 0) ::close(listening);
    ::close(lock);
    return nullptr;
  }
  ::unlink(path.c_str());  // left by an instance that was killed; we hold the lock
  if (::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listening, 8) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    ::close(listening);
    ::close(lock);
    return nullptr;
  }
  return std::unique_ptr<SingleInstance>(new SingleInstance(lock, listening, path));
}

bool SingleInstance::send(const std::string& runtimeFolder, const std::string& display,
                          const std::string& message) {
  sockaddr_un address;
  if (!fillAddress(socketPath(runtimeFolder, display), address)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  const std::string line = message.substr(0, kMaxMessage - 1) + "\n";
  std::size_t done = 0;
  while (sent && done < line.size()) {
    const ssize_t n = ::send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
    sent = n > 0;
    if (sent) done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return sent;
}

SingleInstance::SingleInstance(int lock, int listen, std::string socketPath)
    : lock_(lock), listen_(listen), socketPath_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() {
  ::close(listen_);
  ::unlink(socketPath_.c_str());
  ::close(lock_);  // releases the lock; the lock file stays, harmlessly
}

std::vector<std::string> SingleInstance::takeMessages() {
  std::vector<std::string> messages;
  for (;;) {
    const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) break;
    std::string message;
    char buffer[512];
    pollfd readable{client, POLLIN, 0};
    while (message.size() < kMaxMessage && ::poll(&readable, 1, kClientTimeoutMillis) == 1) {
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      message.append(buffer, static_cast<std::size_t>(n));
      if (message.find('\n') != std::string::npos) break;
    }
    ::close(client);
    if (const auto end = message.find('\n'); end != std::string::npos) {
      message.erase(end);
      if (!message.empty()) messages.push_back(message);
    }
  }
  return messages;
}

}  // namespace tolvane::system
