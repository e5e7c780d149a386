// What this process wrote to the system log, read back for a tester's report.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tolvane {

/// One entry of the system log written by this process.
struct ProcessLogEntry {
  double wallSeconds = 0;
  std::string category;
  std::string message;
};

/// Reads back what this process wrote to the system log (the journal on Linux).
class ProcessLogReader {
 public:
  virtual ~ProcessLogReader() = default;
  /// Entries since `sinceWallSeconds`, oldest first; nothing, with the reason in `error`, when
  /// the log cannot be read.
  virtual std::optional<std::vector<ProcessLogEntry>> entriesSince(double sinceWallSeconds,
                                                                   std::string& error) = 0;
};

}  // namespace tolvane
