// This process's system-log entries for tests: a scripted list instead of the journal.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/process_log.h"

namespace tolvane::sim {

/// Answers from `entries` (kept in time order by whoever fills it), or fails with `failure`
/// when one is set. Safe from any thread: readers run on worker threads.
class SimProcessLog final : public ProcessLogReader {
 public:
  void add(ProcessLogEntry entry) {
    std::lock_guard guard(lock_);
    entries_.push_back(std::move(entry));
  }
  /// From now on every read fails with `reason`; nothing makes reads succeed again.
  void fail(std::string reason) {
    std::lock_guard guard(lock_);
    failure_ = std::move(reason);
  }

  std::optional<std::vector<ProcessLogEntry>> entriesSince(double sinceWallSeconds,
                                                           std::string& error) override {
    std::lock_guard guard(lock_);
    if (failure_) {
      error = *failure_;
      return std::nullopt;
    }
    std::vector<ProcessLogEntry> since;
    for (const auto& entry : entries_) {
      if (entry.wallSeconds >= sinceWallSeconds) since.push_back(entry);
    }
    return since;
  }

 private:
  std::mutex lock_;
  std::vector<ProcessLogEntry> entries_;
  std::optional<std::string> failure_;
};

}  // namespace tolvane::sim
