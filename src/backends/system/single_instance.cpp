// The lock decides who is first (the socket file alone cannot: a killed instance leaves it
// behind); the socket only carries messages.
#include "backends/system/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tolvane::system {

namespace {

// Connections are accepted in bounded batches, so that a flood of them cannot hold the main
// thread in one call; the rest wait in the backlog for the next wake-up.
constexpr int kMaxAcceptsPerService = 32;
// Connections the kernel holds for the next wake-up; beyond them a sender waits to connect.
constexpr int kBacklog = 32;

std::string safeDisplayName(const std::string& display) {
  std::string out;
  for (char c : display) {
    const bool safe = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      c == '.' || c == '-' || c == '_';
    out += safe ? c : '_';
  }
  return out.empty() ? "default" : out;
}

// A stable name for a display whose path is too long to spell out: FNV-1a, 64 bits.
std::string hashedName(const std::string& display) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : display) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("h") + hex;
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
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

// The lock file is opened without following a link and must be a plain file: a FIFO or a
// device at its name is someone else's doing.
UniqueFd openLockFile(const std::string& path, std::string& error) {
  UniqueFd lock(::open(path.c_str(),
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
  if (!lock.valid()) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return lock;
  }
  struct stat st {};
  if (::fstat(lock.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "cannot use " + path + ": not a regular file";
    lock.reset();
  }
  return lock;
}

bool isAcceptableMessage(const std::string& message) {
  return !message.empty() && std::none_of(message.begin(), message.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

// A one-line answer; a client that has gone or stopped reading simply misses it.
void answer(int client, std::string_view line) {
  [[maybe_unused]] const ssize_t n =
      ::send(client, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

enum class ReadOutcome { waiting, complete, dropped };

// Takes what `client` has sent so far; never waits for more.
ReadOutcome readAvailable(int client, std::string& received) {
  char buffer[512];
  for (;;) {
    const std::size_t room = SingleInstance::kMaxMessageBytes - received.size();
    if (room == 0) return ReadOutcome::dropped;
    const ssize_t n = ::recv(client, buffer, std::min(sizeof buffer, room), MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? ReadOutcome::waiting : ReadOutcome::dropped;
    }
    if (n == 0) return ReadOutcome::dropped;  // gone before finishing its line
    const std::string_view chunk(buffer, static_cast<std::size_t>(n));
    if (const auto end = chunk.find('\n'); end != std::string_view::npos) {
      received.append(chunk.substr(0, end));
      return ReadOutcome::complete;
    }
    received.append(chunk);
  }
}

// The instance's one-line answer, read until its line feed, the close, or `waitMillis`.
SingleInstance::HandOff awaitAnswer(int fd, int waitMillis) {
  std::string reply;
  pollfd watched{.fd = fd, .events = POLLIN, .revents = 0};
  while (reply.find('\n') == std::string::npos && reply.size() < 16) {
    const int ready = ::poll(&watched, 1, waitMillis);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return SingleInstance::HandOff::notAcknowledged;
    char buffer[16];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  if (reply == "ok\n") return SingleInstance::HandOff::delivered;
  if (reply == "busy\n") return SingleInstance::HandOff::busy;
  return SingleInstance::HandOff::notAcknowledged;
}

}  // namespace

std::string waylandDisplayIdentity(const std::string& display, const std::string& xdgRuntimeDir) {
  namespace fs = std::filesystem;
  fs::path socket(withoutTrailingSlashes(display));
  if (socket.is_relative()) {
    if (xdgRuntimeDir.empty()) return display;
    socket = fs::path(xdgRuntimeDir) / socket;
  }
  // The socket itself may be gone (its compositor ended): the folders that lead to it still
  // resolve, and the name stays.
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(socket, error);
  return withoutTrailingSlashes(error ? socket.lexically_normal().string() : resolved.string());
}

std::string SingleInstance::socketPath(const std::string& runtimeFolder,
                                       const std::string& display) {
  namespace fs = std::filesystem;
  const fs::path path(display);
  const bool inRuntime = path.is_absolute() && path.has_parent_path() &&
                         path.parent_path() == fs::path(withoutTrailingSlashes(runtimeFolder));
  std::string name = safeDisplayName(inRuntime ? path.filename().string() : display);
  if (runtimeFolder.size() + name.size() + 14 >= sizeof(sockaddr_un::sun_path)) {
    name = hashedName(display);
  }
  return runtimeFolder + "/tolvane-" + name + ".sock";
}

std::unique_ptr<SingleInstance> SingleInstance::claim(const std::string& runtimeFolder,
                                                      const std::string& display,
                                                      std::string& error) {
  const std::string path = socketPath(runtimeFolder, display);
  UniqueFd lock = openLockFile(lockPath(path), error);
  if (!lock.valid()) return nullptr;
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    error.clear();  // another instance: not an error of ours
    return nullptr;
  }
  sockaddr_un address;
  UniqueFd listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listening.valid() || !fillAddress(path, address)) {
    error = "cannot create the instance socket " + path;
    return nullptr;
  }
  ::unlink(path.c_str());  // left by an instance that was killed; we hold the lock
  if (::bind(listening.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listening.get(), kBacklog) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<SingleInstance>(
      new SingleInstance(std::move(lock), std::move(listening), path));
}

SingleInstance::HandOff SingleInstance::send(const std::string& runtimeFolder,
                                             const std::string& display, const std::string& message,
                                             double waitSeconds, std::int32_t* peer) {
  if (peer) *peer = 0;
  sockaddr_un address;
  if (!fillAddress(socketPath(runtimeFolder, display), address)) return HandOff::noInstance;
  const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return HandOff::noInstance;
  // A full backlog makes connect wait; the send timeout bounds that wait on a Unix socket.
  const auto micros = static_cast<long>(waitSeconds * 1e6);
  const timeval wait{.tv_sec = micros / 1000000, .tv_usec = micros % 1000000};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return errno == EAGAIN || errno == EINTR ? HandOff::notAcknowledged : HandOff::noInstance;
  }
  // The credentials of a listening socket's owner, fixed when it listened: they name the
  // instance even while it is stopped and accepts nobody.
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (peer && ::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0) {
    *peer = credentials.pid;
  }
  const std::string line = message.substr(0, kMaxMessageBytes - 1) + "\n";
  // An instance that turns the sender away may close before the line is out: its answer is
  // still there to read.
  for (std::size_t done = 0; done < line.size();) {
    const ssize_t n = ::send(fd.get(), line.data() + done, line.size() - done, MSG_NOSIGNAL);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return awaitAnswer(fd.get(), static_cast<int>(waitSeconds * 1000));
}

SingleInstance::SingleInstance(UniqueFd lock, UniqueFd listen, std::string socketPath)
    : lock_(std::move(lock)), listen_(std::move(listen)), socketPath_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() {
  clients_.clear();
  listen_.reset();
  ::unlink(socketPath_.c_str());
  // lock_ goes last, releasing the lock; the lock file stays, harmlessly.
}

std::vector<int> SingleInstance::descriptors() const {
  std::vector<int> watched{listen_.get()};
  for (const auto& client : clients_) watched.push_back(client.socket.get());
  return watched;
}

std::optional<double> SingleInstance::nextDeadline() const {
  std::optional<double> earliest;
  for (const auto& client : clients_) {
    if (!earliest || client.deadline < *earliest) earliest = client.deadline;
  }
  return earliest;
}

std::vector<std::string> SingleInstance::service(double now) {
  std::vector<std::string> messages;
  // Clients that finish now free their places before new ones are counted against the limit.
  readClients(0, now, messages);
  acceptWaiting(now, messages);
  return messages;
}

void SingleInstance::acceptWaiting(double now, std::vector<std::string>& messages) {
  for (int accepted = 0; accepted < kMaxAcceptsPerService; ++accepted) {
    UniqueFd client(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!client.valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    clients_.push_back({.socket = std::move(client), .deadline = now + kClientDeadlineSeconds});
    // A client whose line is all there is served at once and takes no place.
    readClients(clients_.size() - 1, now, messages);
    if (clients_.size() > kMaxClients) {
      // Beyond the limit the connection is answered and closed at once, so that a flood of
      // clients costs neither descriptors nor reads.
      answer(clients_.back().socket.get(), "busy\n");
      clients_.pop_back();
    }
  }
}

void SingleInstance::readClients(std::size_t first, double now,
                                 std::vector<std::string>& messages) {
  for (std::size_t i = first; i < clients_.size(); ++i) {
    Client& client = clients_[i];
    switch (readAvailable(client.socket.get(), client.received)) {
      case ReadOutcome::complete:
        // Taken before it is answered: a sender told "ok" has its message in the queue.
        if (isAcceptableMessage(client.received)) {
          messages.push_back(std::move(client.received));
          answer(client.socket.get(), "ok\n");
        } else {
          answer(client.socket.get(), "no\n");
        }
        client.finished = true;
        break;
      case ReadOutcome::dropped:
        client.finished = true;
        break;
      case ReadOutcome::waiting:
        client.finished = now >= client.deadline;
        break;
    }
  }
  std::erase_if(clients_, [](const Client& client) { return client.finished; });
}

}  // namespace tolvane::system
