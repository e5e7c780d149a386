// Reading this process's journal entries: the cleaning and bounds every entry goes through.
#include "backends/system/journal_process_log.h"

#include <gtest/gtest.h>

namespace tolvane::system {
namespace {

TEST(JournalMessage, EveryMessageBecomesOneBoundedLineOfValidText) {
  struct Row {
    std::string raw;
    std::size_t maxBytes;
    std::string expected;
  };
  const Row rows[] = {
      // Control characters other than tabs are escaped so the entry stays one line.
      {"a\nb\rc\x01"
       "d\x7f",
       100, "a\\nb\\rc\\x01d\\x7f"},
      // Bytes that are not UTF-8 would make the upload's JSON fail.
      {"bad \xff byte", 100, "bad \xEF\xBF\xBD byte"},
      // Cuts never split a character, not even after escapes made the text longer.
      {"\xC3\xA9\xC3\xA9\xC3\xA9", 5, "\xC3\xA9\xC3\xA9"},
      {"\n\n\n", 4, "\\n\\n"},
      {std::string(10000, 'x'), 4096, std::string(4096, 'x')},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(journalMessage(row.raw, row.maxBytes), row.expected) << row.raw;
  }
}

TEST(NewestEntries, ABoundLeavesOutTheOldestAndTheRestComeOldestFirst) {
  struct Row {
    const char* what;
    JournalReadLimits limits;
    double since;
    std::vector<double> kept;  // times of the entries handed back
  };
  // Each entry costs 9 bytes of text: "info" and a message of five.
  const Row rows[] = {
      {"the window's start", {}, 15, {20, 30}},
      {"the entry count", {.maxEntries = 2}, 0, {20, 30}},
      {"the text size", {.maxTextBytes = 23}, 0, {20, 30}},
      {"no bound reached", {}, 0, {10, 20, 30}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    NewestEntries newest(row.since, row.limits);
    std::size_t taken = 0;
    for (const double at : {30.0, 20.0, 10.0}) {
      if (!newest.add(at, "6", "m" + std::to_string(static_cast<int>(at)) + "xx")) break;
      ++taken;
    }
    EXPECT_EQ(taken, row.kept.size());
    std::vector<double> times;
    for (const auto& entry : std::move(newest).oldestFirst()) {
      times.push_back(entry.wallSeconds);
      EXPECT_EQ(entry.category, "info");
      EXPECT_EQ(entry.message, "m" + std::to_string(static_cast<int>(entry.wallSeconds)) + "xx");
    }
    EXPECT_EQ(times, row.kept);
  }
}

}  // namespace
}  // namespace tolvane::system
