// The usage-event queue file's lines: which ones form the next batch, which stay for later.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tolvane {

/// The outcome of reading the queue for one flush.
struct QueueSelection {
  /// Up to the batch size of usable events, in file order, as parsed.
  nlohmann::json batch = nlohmann::json::array();
  /// The same events as their original lines.
  std::vector<std::string> batchLines;
  /// Usable events beyond the batch, as their original lines.
  std::vector<std::string> kept;
};

/// The non-empty lines of a queue file's text.
std::vector<std::string> queueLines(const std::string& text);

/// Sorts `lines` for a flush. A line is dropped when it is not a JSON object, has no numeric
/// "t", or is older than `cutoff` (seconds since 1970); the first `batchSize` of the rest form
/// the batch, the others are kept.
QueueSelection selectBatch(const std::vector<std::string>& lines, double cutoff,
                           std::size_t batchSize);

/// The lines of `lines` that selectBatch would not drop at `cutoff`, in order.
std::vector<std::string> usableLines(const std::vector<std::string>& lines, double cutoff);

}  // namespace tolvane
