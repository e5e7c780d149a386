// A raw TCP connection to the server on the loopback network, for clients no library would be.
#pragma once

#include <string>

namespace tolvane::server::test {

class RawClient {
 public:
  /// Connects to `port`, from `from` (another loopback address) when given.
  explicit RawClient(int port, const char* from = nullptr);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  int fd() const { return fd_; }
  /// False once the server closed or refused to take more.
  bool send(const std::string& bytes);
  /// What the server sends until it closes the connection, or until `until` has arrived
  /// when given; each wait is bounded by 30 s.
  std::string read(const std::string& until = {});

 private:
  int fd_;
};

}  // namespace tolvane::server::test
