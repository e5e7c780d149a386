// A simulated HTTP client: records every request and answers at once with a chosen reply, or
// keeps the request unanswered, as a server that never replies would.
#pragma once

#include <mutex>
#include <vector>

#include "platform/http_client.h"

namespace tolvane::sim {

class SimHttpClient final : public HttpClient {
 public:
  /// What every request gets; no status means no reply at all.
  HttpResponse reply{200, "{}", ""};

  void send(HttpRequest request, Completion completion) override {
    HttpResponse answer;
    {
      std::lock_guard guard(lock_);
      requests_.push_back(std::move(request));
      if (holding_) {
        held_.push_back(std::move(completion));
        return;
      }
      answer = reply;
    }
    completion(std::move(answer));
  }
  std::vector<HttpRequest> requests() const {
    std::lock_guard guard(lock_);
    return requests_;
  }

  /// From now on requests get no reply until releaseHeld().
  void hold() {
    std::lock_guard guard(lock_);
    holding_ = true;
  }
  /// Completes every held request with no reply, as a client does when it gives up, and
  /// answers later requests again.
  void releaseHeld() {
    std::vector<Completion> held;
    {
      std::lock_guard guard(lock_);
      holding_ = false;
      held.swap(held_);
    }
    for (auto& completion : held) completion(HttpResponse{.transportError = "cancelled"});
  }

 private:
  mutable std::mutex lock_;
  std::vector<HttpRequest> requests_;
  bool holding_ = false;
  std::vector<Completion> held_;
};

}  // namespace tolvane::sim
