// Parsing the queue file's lines; anything a crash, a disk error or an older version left in
// the file is dropped line by line, never the whole file.
#include "reporting/event_queue_file.h"

#include <optional>
#include <sstream>

namespace tolvane {

std::vector<std::string> queueLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

namespace {

std::optional<nlohmann::json> usableEvent(const std::string& line, double cutoff) {
  auto event = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!event.is_object()) return std::nullopt;
  const auto t = event.find("t");
  if (t == event.end() || !t->is_number() || t->get<double>() < cutoff) return std::nullopt;
  return event;
}

}  // namespace

QueueSelection selectBatch(const std::vector<std::string>& lines, double cutoff,
                           std::size_t batchSize) {
  QueueSelection selection;
  for (const auto& line : lines) {
    auto event = usableEvent(line, cutoff);
    if (!event) continue;
    if (selection.batch.size() < batchSize) {
      selection.batch.push_back(std::move(*event));
      selection.batchLines.push_back(line);
    } else {
      selection.kept.push_back(line);
    }
  }
  return selection;
}

std::vector<std::string> usableLines(const std::vector<std::string>& lines, double cutoff) {
  std::vector<std::string> usable;
  for (const auto& line : lines) {
    if (usableEvent(line, cutoff)) usable.push_back(line);
  }
  return usable;
}

}  // namespace tolvane
