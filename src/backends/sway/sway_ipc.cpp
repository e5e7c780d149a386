// sway's IPC framing ("i3-ipc", length, type, native byte order) over a non-blocking socket.
#include "backends/sway/sway_ipc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tolvane::sway {
namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kMagicBytes = sizeof kMagic;
constexpr std::size_t kHeaderBytes = kMagicBytes + 8;
/// What one readAvailable() call takes from the socket at most, so that a flooding peer cannot
/// hold the run loop; the socket stays readable and the loop comes back.
constexpr std::size_t kMaxReadPerCall = 256u << 10;
/// How long sendPrecomposed() waits for sway to answer, the sign that it read the frame: sway
/// drops a connection whose peer has hung up before it read what was sent.
constexpr int kPrecomposedWaitMilliseconds = 500;
/// The largest payload sendPrecomposed() sends: a few unbind commands, never more.
constexpr std::size_t kMaxPrecomposedBytes = 64u << 10;

double monotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// What is left until `deadline`, in whole milliseconds for poll(), never negative.
int millisecondsUntil(double deadline) {
  const double left = deadline - monotonicSeconds();
  if (left <= 0) return 0;
  return static_cast<int>(std::ceil(std::min(left, 3600.0) * 1000.0));
}

bool waitFor(int fd, short events, double deadline) {
  for (;;) {
    pollfd watched{.fd = fd, .events = events, .revents = 0};
    const int ready = ::poll(&watched, 1, millisecondsUntil(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// The header of a frame of `length` bytes and `type`, without the library's help, so that a
// signal handler may build it on its stack.
void writeHeader(char* header, std::uint32_t length, std::uint32_t type) {
  for (std::size_t i = 0; i < kMagicBytes; ++i) header[i] = kMagic[i];
  const auto* lengthBytes = reinterpret_cast<const char*>(&length);
  const auto* typeBytes = reinterpret_cast<const char*>(&type);
  for (std::size_t i = 0; i < 4; ++i) {
    header[kMagicBytes + i] = lengthBytes[i];
    header[kMagicBytes + 4 + i] = typeBytes[i];
  }
}

std::uint32_t readWord(const char* bytes) {
  std::uint32_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Fills `address` for `path` when it fits; async-signal-safe.
bool socketAddress(const char* path, sockaddr_un& address) {
  address.sun_family = AF_UNIX;
  std::size_t i = 0;
  for (; path[i] != '\0'; ++i) {
    if (i + 1 >= sizeof address.sun_path) return false;
    address.sun_path[i] = path[i];
  }
  address.sun_path[i] = '\0';
  return i > 0;
}

// A non-blocking stream socket connected to `path`, or -1 with errno set; async-signal-safe.
int connectedSocket(const char* path) {
  sockaddr_un address{};
  if (!socketAddress(path, address)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  // A Unix socket connects at once or not at all (EAGAIN when the listener's backlog is full).
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

}  // namespace

std::optional<std::string> swaySocketPath() {
  const char* value = std::getenv("SWAYSOCK");
  if (value == nullptr || value[0] != '/') return std::nullopt;
  sockaddr_un address{};
  if (!socketAddress(value, address)) return std::nullopt;
  return std::string(value);
}

std::unique_ptr<SwayIpc> SwayIpc::connect(const std::string& path, std::string& error) {
  if (path.find('\0') != std::string::npos) {
    error = "the socket path holds a NUL byte";
    return nullptr;
  }
  const int fd = connectedSocket(path.c_str());
  if (fd < 0) {
    error = "cannot connect to sway's socket: " + std::string(std::strerror(errno));
    return nullptr;
  }
  return std::unique_ptr<SwayIpc>(new SwayIpc(fd));
}

SwayIpc::~SwayIpc() {
  if (fd_ >= 0) ::close(fd_);
}

void SwayIpc::fail() {
  failed_ = true;
  input_.clear();
  inputStart_ = 0;
}

bool SwayIpc::sendAll(std::string_view bytes, double deadline) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd_, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

SwayIpc::Read SwayIpc::readSome() {
  char chunk[64u << 10];
  for (;;) {
    const ssize_t got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got > 0) {
      input_.append(chunk, static_cast<std::size_t>(got));
      return Read::progress;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Read::wouldBlock;
    return Read::failed;  // the end of the stream or an error
  }
}

std::optional<std::pair<std::uint32_t, std::string>> SwayIpc::takeFrame() {
  const std::size_t buffered = input_.size() - inputStart_;
  if (buffered < kHeaderBytes) return std::nullopt;
  const char* header = input_.data() + inputStart_;
  if (std::memcmp(header, kMagic, kMagicBytes) != 0) {
    fail();
    return std::nullopt;
  }
  const std::uint32_t length = readWord(header + kMagicBytes);
  const std::uint32_t type = readWord(header + kMagicBytes + 4);
  const std::size_t limit = (type & ipc::kEventBit) != 0 ? kMaxEventBytes : kMaxReplyBytes;
  if (length > limit) {
    fail();
    return std::nullopt;
  }
  if (buffered - kHeaderBytes < length) return std::nullopt;
  std::string body(header + kHeaderBytes, length);
  inputStart_ += kHeaderBytes + length;
  // Compact once the consumed part dominates, so the buffer never grows past two frames.
  if (inputStart_ == input_.size()) {
    input_.clear();
    inputStart_ = 0;
  } else if (inputStart_ > input_.size() / 2) {
    input_.erase(0, inputStart_);
    inputStart_ = 0;
  }
  return std::make_pair(type, std::move(body));
}

bool SwayIpc::queueEvent(std::uint32_t type, const std::string& body) {
  if (queued_.size() >= kMaxQueuedEvents) return false;
  nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
  if (!parsed.is_discarded()) queued_.push_back({type, std::move(parsed)});
  return true;
}

std::optional<nlohmann::json> SwayIpc::request(std::uint32_t type, std::string_view payload,
                                               double timeoutSeconds) {
  if (failed_ || payload.size() > kMaxReplyBytes || (type & ipc::kEventBit) != 0) {
    return std::nullopt;
  }
  const double deadline = monotonicSeconds() + std::max(0.0, timeoutSeconds);
  char header[kHeaderBytes];
  writeHeader(header, static_cast<std::uint32_t>(payload.size()), type);
  if (!sendAll(std::string_view(header, sizeof header), deadline) || !sendAll(payload, deadline)) {
    fail();
    return std::nullopt;
  }
  for (;;) {
    while (auto frame = takeFrame()) {
      const bool event = (frame->first & ipc::kEventBit) != 0;
      if (event && queueEvent(frame->first, frame->second)) continue;
      if (frame->first != type) {
        fail();  // a reply to another request, or more events than may wait
        return std::nullopt;
      }
      nlohmann::json reply = nlohmann::json::parse(frame->second, nullptr, false);
      if (reply.is_discarded()) return std::nullopt;
      return reply;
    }
    if (failed_) return std::nullopt;
    const Read read = readSome();
    if (read == Read::failed || (read == Read::wouldBlock && !waitFor(fd_, POLLIN, deadline))) {
      fail();
      return std::nullopt;
    }
  }
}

bool SwayIpc::subscribe(const std::vector<std::string>& events) {
  const std::string payload = nlohmann::json(events).dump();
  const auto reply = request(ipc::kSubscribe, payload, kSubscribeTimeoutSeconds);
  if (!reply || !reply->is_object()) return false;
  const auto success = reply->find("success");
  return success != reply->end() && success->is_boolean() && success->get<bool>();
}

std::vector<SwayEvent> SwayIpc::readAvailable() {
  std::vector<SwayEvent> events(std::make_move_iterator(queued_.begin()),
                                std::make_move_iterator(queued_.end()));
  queued_.clear();
  std::size_t taken = 0;
  while (!failed_) {
    while (auto frame = takeFrame()) {
      if ((frame->first & ipc::kEventBit) == 0) {
        fail();  // a reply nobody asked for: the stream is out of step
        return events;
      }
      nlohmann::json body = nlohmann::json::parse(frame->second, nullptr, false);
      if (!body.is_discarded()) events.push_back({frame->first, std::move(body)});
    }
    if (failed_ || taken >= kMaxReadPerCall) break;
    const std::size_t before = input_.size();
    const Read read = readSome();
    if (read == Read::wouldBlock) break;
    if (read == Read::failed) {
      fail();
      break;
    }
    taken += input_.size() - before;
  }
  return events;
}

bool sendPrecomposed(const char* socketPath, const char* payload, std::size_t length) {
  if (socketPath == nullptr || payload == nullptr || length > kMaxPrecomposedBytes) return false;
  const int saved = errno;
  const int fd = connectedSocket(socketPath);
  if (fd < 0) {
    errno = saved;
    return false;
  }
  char header[kHeaderBytes];
  writeHeader(header, static_cast<std::uint32_t>(length), ipc::kRunCommand);
  iovec parts[2] = {{header, sizeof header}, {const_cast<char*>(payload), length}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  // A fresh socket's buffer takes a small frame whole; a short write means sway is not reading.
  ssize_t sent = -1;
  do {
    sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  const bool whole = sent == static_cast<ssize_t>(sizeof header + length);
  if (whole) {
    // Closing at once would let sway see the hang-up before the frame and drop both.
    pollfd answer{.fd = fd, .events = POLLIN, .revents = 0};
    while (::poll(&answer, 1, kPrecomposedWaitMilliseconds) < 0 && errno == EINTR) continue;
  }
  ::close(fd);
  errno = saved;
  return whole;
}

}  // namespace tolvane::sway
