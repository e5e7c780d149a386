// Token buckets keyed by a client address or an account: a burst is allowed, then a steady
// rate. Thread-safe; the clock is passed in so tests run on simulated time.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tolvane::server {

struct RateLimit {
  /// Requests allowed at once after a quiet spell.
  double burst = 10;
  /// Requests regained per second.
  double perSecond = 1;
};

class RateLimiter {
 public:
  /// Keeps at most `maxKeys` buckets: a flood of new addresses cannot grow memory without end;
  /// when full, buckets that have refilled completely are dropped first, then all of them.
  explicit RateLimiter(RateLimit limit, std::size_t maxKeys = 100000);

  /// Takes `cost` (one request, or its bytes) from `key`'s bucket at time `now` (seconds);
  /// false, taking nothing, when the bucket holds less.
  bool allow(const std::string& key, double now, double cost = 1);
  /// Seconds until `key` may spend `cost` again (0 when it may now).
  double retryAfter(const std::string& key, double now, double cost = 1);

 private:
  struct Bucket {
    double tokens = 0;
    double updated = 0;
  };
  Bucket& refilled(const std::string& key, double now);
  void makeRoom(double now);

  RateLimit limit_;
  std::size_t maxKeys_;
  std::mutex lock_;
  std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace tolvane::server
