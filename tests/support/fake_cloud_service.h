// A backend service with state, on the loopback mock: accounts signed in through PKCE, tokens
// that can be revoked, one sync store per account with revisions, and the ingestion endpoints.
// Shared by the cloud tests and the desktop tests that drive the real executable.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "support/mock_backend.h"

namespace tolvane::test {

class FakeCloudService {
 public:
  static constexpr const char* kEmail = "tester@example.org";
  static constexpr const char* kTier = "pro";

  /// Answers every endpoint of `mock` from now on; `mock` outlives this service.
  explicit FakeCloudService(MockBackend& mock);

  /// What the sign-in page does once the user has signed in: a fresh single-use code for the
  /// PKCE `challenge` the page was opened with.
  std::string authorize(const std::string& challenge);

  /// The stored sync revision (0 when nothing was ever pushed) and blob.
  int syncVersion() const;
  std::string syncBlob() const;
  /// Tokens handed out and not revoked.
  std::size_t liveTokens() const;

 private:
  struct State {
    mutable std::mutex lock;
    int nextId = 1;
    std::map<std::string, std::string> challenges;  // code → challenge
    std::set<std::string> tokens;
    int version = 0;
    std::string blob;
  };
  std::shared_ptr<State> state_;
};

/// The value of query item `name` in `url` (percent-decoded); nothing when it is absent.
std::optional<std::string> queryItem(const std::string& url, const std::string& name);

}  // namespace tolvane::test
