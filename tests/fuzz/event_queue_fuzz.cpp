// Fuzzes the usage-event queue file: whatever bytes it holds, a flush must pick a batch without
// crashing, and every line it keeps or sends must be a usable event.
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "reporting/event_queue_file.h"

using tolvane::fuzz::require;

TOLVANE_FUZZ_TARGET(text) {
  const auto lines = tolvane::queueLines(std::string(text));
  const auto selection = tolvane::selectBatch(lines, 1000.0, 3);
  require(selection.batch.size() <= 3 &&
          selection.batch.size() + selection.kept.size() <= lines.size());
  for (const auto& event : selection.batch) {
    require(event.is_object() && event["t"].is_number() && event["t"].get<double>() >= 1000.0);
    // The upload serialises the batch; invalid UTF-8 inside must not throw there.
    (void)event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  // The flush rewrites the file with the batch's lines and the kept ones: together they must be
  // exactly the usable lines, in file order.
  std::vector<std::string> batchThenKept = selection.batchLines;
  batchThenKept.insert(batchThenKept.end(), selection.kept.begin(), selection.kept.end());
  require(selection.batchLines.size() == selection.batch.size() &&
          batchThenKept == tolvane::usableLines(lines, 1000.0));
  // Kept lines are re-read at the next flush and must still qualify then.
  require(tolvane::selectBatch(selection.kept, 1000.0, selection.kept.size()).batch.size() ==
          selection.kept.size());
}
