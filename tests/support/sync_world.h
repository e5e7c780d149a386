// Settings sync on simulated services: the settings world with secrets in memory, a run loop on
// its clock and an HTTP client whose replies the test chooses; shared by the sync tests and the
// push benchmark.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cloud/cloud_account.h"
#include "cloud/cloud_sync.h"
#include "platform/sim/sim_run_loop.h"
#include "support/memory_secret_store.h"
#include "support/settings_world.h"

namespace tolvane::test {

/// Answers each request at once with the reply chosen for its method (200 with "{}" when none
/// is), or, while `hold` is set, keeps it until release(). Records every request.
class ScriptedHttpClient final : public HttpClient {
 public:
  std::map<std::string, HttpResponse> replies;
  bool hold = false;

  void send(HttpRequest request, Completion completion) override {
    requests.push_back(request);
    if (hold) {
      held_.emplace_back(std::move(request.method), std::move(completion));
    } else {
      completion(replyTo(request.method));
    }
  }
  /// Answers the requests held so far with the replies chosen now.
  void release() {
    for (auto& [method, completion] : std::exchange(held_, {})) completion(replyTo(method));
  }

  std::vector<HttpRequest> requests;

 private:
  HttpResponse replyTo(const std::string& method) const {
    const auto it = replies.find(method);
    return it == replies.end() ? HttpResponse{200, "{}", ""} : it->second;
  }
  std::vector<std::pair<std::string, Completion>> held_;
};

/// A settings store with a token in the secret store, a run loop on the simulated clock, the
/// scripted client and an account that is signed out until a test says otherwise.
struct SyncWorld : SettingsWorld {
  using SettingsWorld::SettingsWorld;

  static constexpr const char* kToken = "token-1";
  static constexpr const char* kDeviceID = "device-1";

  /// The sync's dependencies, sending through `http`.
  CloudSync::Dependencies dependencies(HttpClient& http) {
    return {.settings = settings,
            .preferences = preferences,
            .secrets = secrets,
            .http = http,
            .runLoop = loop,
            .cloud = cloud,
            .log = log,
            .deviceID = [] { return std::string(kDeviceID); },
            .signedIn = [this] { return signedIn; },
            .accountEmail = [this] { return email; },
            .subscribeToAccount =
                [this](std::function<void()> handler) {
                  return account.subscribe(std::move(handler));
                }};
  }
  /// Signs the account in and tells the sync.
  void signIn() {
    signedIn = true;
    account.notify();
  }

  sim::SimRunLoop loop{clock};
  CloudConfig cloud{"http://sync.test"};
  std::string email = "ada@example.org";
  // The bookkeeping the tests seed belongs to this account.
  MemorySecretStore secrets{{{secretkey::kCloudToken, kToken},
                             {secretkey::kCloudTokenBase, cloud.baseURL()},
                             {secretkey::kCloudSyncAccount, cloud.baseURL() + "\n" + email}}};
  ScriptedHttpClient scripted;
  bool signedIn = false;
  Notifier account;
};

}  // namespace tolvane::test
