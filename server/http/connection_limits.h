// Open connections counted per client address (as `addressKey` gives it: an IPv6 client by its
// /64) and in all: a client that opens many and sends nothing holds sockets, not workers, and
// only up to its share.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace tolvane::server {

class ConnectionLimits {
 public:
  /// `perAddress` 0: no bound per address (behind a proxy every peer is the proxy).
  ConnectionLimits(std::size_t perAddress, std::size_t inAll);

  /// Held by a connection while it is open; its end gives the place back.
  class Slot {
   public:
    Slot(Slot&& other) noexcept;
    Slot& operator=(Slot&&) = delete;
    ~Slot();

   private:
    friend class ConnectionLimits;
    Slot(ConnectionLimits* owner, std::string address);
    ConnectionLimits* owner_;
    std::string address_;
  };

  /// A place for one more connection from `address`, or nothing when it has its share or the
  /// server is full.
  std::optional<Slot> take(const std::string& address);

 private:
  void give(const std::string& address);

  const std::size_t perAddress_;
  const std::size_t inAll_;
  std::mutex lock_;
  std::map<std::string, std::size_t> open_;
  std::size_t total_ = 0;
};

}  // namespace tolvane::server
