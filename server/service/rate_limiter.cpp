#include "service/rate_limiter.h"

#include <algorithm>

namespace tolvane::server {

RateLimiter::RateLimiter(RateLimit limit, std::size_t maxKeys) : limit_(limit), maxKeys_(maxKeys) {}

RateLimiter::Bucket& RateLimiter::refilled(const std::string& key, double now) {
  auto found = buckets_.find(key);
  if (found == buckets_.end()) {
    if (buckets_.size() >= maxKeys_) makeRoom(now);
    found = buckets_.emplace(key, Bucket{limit_.burst, now}).first;
  }
  Bucket& bucket = found->second;
  // A clock that steps back must not mint tokens.
  const double elapsed = std::max(0.0, now - bucket.updated);
  bucket.tokens = std::min(limit_.burst, bucket.tokens + elapsed * limit_.perSecond);
  bucket.updated = std::max(bucket.updated, now);
  return bucket;
}

void RateLimiter::makeRoom(double now) {
  std::erase_if(buckets_, [&](const auto& entry) {
    const Bucket& b = entry.second;
    return b.tokens + (now - b.updated) * limit_.perSecond >= limit_.burst;
  });
  // Everyone is mid-burst: forgetting them all is the bounded choice; each key starts afresh.
  if (buckets_.size() >= maxKeys_) buckets_.clear();
}

bool RateLimiter::allow(const std::string& key, double now, double cost) {
  std::lock_guard guard(lock_);
  Bucket& bucket = refilled(key, now);
  if (bucket.tokens < cost) return false;
  bucket.tokens -= cost;
  return true;
}

double RateLimiter::retryAfter(const std::string& key, double now, double cost) {
  std::lock_guard guard(lock_);
  const Bucket& bucket = refilled(key, now);
  return bucket.tokens >= cost ? 0 : (cost - bucket.tokens) / limit_.perSecond;
}

}  // namespace tolvane::server
