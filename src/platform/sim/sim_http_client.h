// A simulated HTTP client: records every request and answers at once with a chosen reply.
#pragma once

#include <mutex>
#include <vector>

#include "platform/account_services.h"

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
      answer = reply;
    }
    completion(std::move(answer));
  }
  std::vector<HttpRequest> requests() const {
    std::lock_guard guard(lock_);
    return requests_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<HttpRequest> requests_;
};

}  // namespace tolvane::sim
