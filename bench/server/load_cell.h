// One cell of the load table: a number of clients, each on its own thread and connection,
// sending one kind of request for a while, and the throughput and latency they saw.
#pragma once

#include <string>
#include <vector>

#include "load_workload.h"

namespace tolvane::server::bench {

struct CellResult {
  /// Requests answered 200, and the others (another status or no answer).
  std::size_t answered = 0;
  std::size_t failed = 0;
  /// From the common start to the last client's last answer.
  double seconds = 0;
  /// Latency of the answered requests.
  double p50Milliseconds = 0;
  double p99Milliseconds = 0;
  /// The status of the first failure (0: no answer), when there was one.
  int firstFailedStatus = 200;

  double perSecond() const { return seconds > 0 ? double(answered) / seconds : 0; }
};

/// Runs the first `count` of `clients` at once against `baseURL`, each sending `operation`
/// back to back on one keep-alive connection until `seconds` have passed; a request under way
/// then is finished and counted.
CellResult runCell(const std::string& baseURL, Operation operation,
                   std::vector<ClientIdentity>& clients, std::size_t count, double seconds);

/// The nearest-rank `fraction` quantile of `sorted` (ascending); 0 when it is empty.
double quantile(const std::vector<double>& sorted, double fraction);

}  // namespace tolvane::server::bench
