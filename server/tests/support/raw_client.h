// A raw TCP connection to the server on the loopback network, for clients no library would be.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace tolvane::server::test {

class RawClient {
 public:
  /// Connects to `port`, from `from` (another loopback address) when given.
  explicit RawClient(int port, const char* from = nullptr)
      : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    // A server that stops reading or answering fails the test instead of hanging it.
    const timeval bound{30, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (from && inet_pton(AF_INET, from, &address.sin_addr) == 1)
      ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~RawClient() { close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  int fd() const { return fd_; }
  /// False once the server closed or refused to take more.
  bool send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  /// What the server sends until it closes the connection, or until `until` has arrived
  /// when given; each wait is bounded by 30 s.
  std::string read(const std::string& until = {}) {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (until.empty() || text.find(until) == std::string::npos) &&
                      (got = recv(fd_, buffer, sizeof buffer, 0)) > 0;)
      text.append(buffer, std::size_t(got));
    return text;
  }

 private:
  int fd_;
};

}  // namespace tolvane::server::test
