// Fuzzes the usage-event queue file: whatever bytes it holds, a flush must pick a batch without
// crashing, and every line it keeps or sends must be a usable event.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "reporting/event_queue_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto lines = tolvane::queueLines(text);
  const auto selection = tolvane::selectBatch(lines, 1000.0, 3);
  if (selection.batch.size() > 3 || selection.batch.size() + selection.kept.size() > lines.size()) {
    std::abort();
  }
  for (const auto& event : selection.batch) {
    if (!event.is_object() || !event["t"].is_number() || event["t"].get<double>() < 1000.0) {
      std::abort();
    }
    // The upload serialises the batch; invalid UTF-8 inside must not throw there.
    (void)event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  // The flush rewrites the file with the batch's lines and the kept ones: together they must be
  // exactly the usable lines, in file order.
  std::vector<std::string> batchThenKept = selection.batchLines;
  batchThenKept.insert(batchThenKept.end(), selection.kept.begin(), selection.kept.end());
  if (selection.batchLines.size() != selection.batch.size() ||
      batchThenKept != tolvane::usableLines(lines, 1000.0)) {
    std::abort();
  }
  // Kept lines are re-read at the next flush and must still qualify then.
  if (tolvane::selectBatch(selection.kept, 1000.0, selection.kept.size()).batch.size() !=
      selection.kept.size()) {
    std::abort();
  }
  return 0;
}
