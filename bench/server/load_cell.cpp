#include "load_cell.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <thread>

namespace tolvane::server::bench {

namespace {

using Clock = std::chrono::steady_clock;

struct ClientTally {
  std::vector<double> milliseconds;
  std::size_t failed = 0;
  int firstFailedStatus = 200;
};

// A queued connection may wait for a worker as long as other connections keep theirs; the
// bound only keeps a server that stopped answering from holding the benchmark forever.
constexpr int kReadTimeoutSeconds = 60;

void runClient(const std::string& baseURL, Operation operation, ClientIdentity& client,
               std::shared_future<Clock::time_point> deadline, ClientTally& tally) {
  httplib::Client http(baseURL);
  http.set_keep_alive(true);
  // As libcurl does for the application: headers and body go out without waiting for an ACK.
  http.set_tcp_nodelay(true);
  http.set_read_timeout(kReadTimeoutSeconds, 0);
  const Clock::time_point end = deadline.get();
  for (std::uint64_t sequence = 1; Clock::now() < end; ++sequence) {
    const auto sent = Clock::now();
    const int status = sendOnce(http, operation, client, sequence);
    const std::chrono::duration<double, std::milli> took = Clock::now() - sent;
    if (status == 200) {
      tally.milliseconds.push_back(took.count());
    } else if (tally.failed++ == 0) {
      tally.firstFailedStatus = status;
    }
  }
}

}  // namespace

double quantile(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return 0;
  const auto rank = static_cast<std::size_t>(std::ceil(fraction * double(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

CellResult runCell(const std::string& baseURL, Operation operation,
                   std::vector<ClientIdentity>& clients, std::size_t count, double seconds) {
  count = std::min(count, clients.size());
  std::vector<ClientTally> tallies(count);
  std::promise<Clock::time_point> start;
  const std::shared_future<Clock::time_point> deadline = start.get_future().share();
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < count; ++i) {
    threads.emplace_back(runClient, std::cref(baseURL), operation, std::ref(clients[i]), deadline,
                         std::ref(tallies[i]));
  }
  // Every thread exists before the clock starts: their creation is not measured.
  const auto started = Clock::now();
  start.set_value(started + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(seconds)));
  for (auto& thread : threads) thread.join();

  CellResult result;
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::vector<double> all;
  for (const ClientTally& tally : tallies) {
    all.insert(all.end(), tally.milliseconds.begin(), tally.milliseconds.end());
    if (tally.failed > 0 && result.failed == 0) result.firstFailedStatus = tally.firstFailedStatus;
    result.failed += tally.failed;
  }
  std::sort(all.begin(), all.end());
  result.answered = all.size();
  result.p50Milliseconds = quantile(all, 0.50);
  result.p99Milliseconds = quantile(all, 0.99);
  return result;
}

}  // namespace tolvane::server::bench
