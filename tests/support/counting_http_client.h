// The real HTTP client, counting the replies whose completion has run, so a test can wait until
// the component under test has been handed a reply.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/system/curl_http_client.h"

namespace tolvane::test {

class CountingHttpClient final : public HttpClient {
 public:
  void send(HttpRequest request, Completion completion) override {
    curl_.send(std::move(request), [this, completion](HttpResponse reply) {
      completion(std::move(reply));
      std::lock_guard guard(lock_);
      ++delivered_;
      changed_.notify_all();
    });
  }
  /// Waits until `count` completions have run in all; false when ten seconds pass first.
  bool waitForReplies(int count) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(10), [&] { return delivered_ >= count; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int delivered_ = 0;
  // Last, so it is destroyed first: its destructor runs the completions still pending, and they
  // touch the members above.
  system::CurlHttpClient curl_{"Tolvane/test"};
};

}  // namespace tolvane::test
