// The real HTTP client, counting the replies whose completion has run, so that a test can wait
// until a component has been handed a reply (and its hop to the main thread is posted).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "backends/system/curl_http_client.h"

namespace tolvane::test {

class CountingHttpClient final : public HttpClient {
 public:
  void send(HttpRequest request, Completion completion) override {
    {
      std::lock_guard guard(lock_);
      ++sent_;
    }
    curl_.send(std::move(request), [this, completion](HttpResponse reply) {
      completion(std::move(reply));
      std::lock_guard guard(lock_);
      ++delivered_;
      changed_.notify_all();
    });
  }
  /// Requests handed to the client so far, answered or not.
  int sentCount() {
    std::lock_guard guard(lock_);
    return sent_;
  }
  /// Waits until `count` completions have run in all; false when 10 s pass first.
  bool waitForReplies(int count) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(10), [&] { return delivered_ >= count; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int sent_ = 0;
  int delivered_ = 0;
  // Last, so it is destroyed first: its destructor runs the completions still pending, and they
  // touch the members above.
  system::CurlHttpClient curl_{"Tolvane/test"};
};

}  // namespace tolvane::test
