// Reading this process's journal entries: the cleaning and bounds every entry goes through, and
// a read of a line this process wrote where a journal runs (most containers have none).
#include "backends/system/journal_process_log.h"

#include <systemd/sd-journal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

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

// Needs journald: everywhere else the read must fail with a reason the export can show.
TEST(JournalProcessLog, ReadsBackALineThisProcessWrote) {
  JournalProcessLog reader;
  const double before =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  std::string error;
  if (!reader.entriesSince(before, error)) {
    EXPECT_NE(error.find("journal"), std::string::npos) << error;
    GTEST_SKIP() << "no systemd journal to read here (" << error << ")";
  }

  const std::string marker = "tolvane journal test " + std::to_string(::getpid()) + "\nsecond";
  ASSERT_EQ(sd_journal_send("MESSAGE=%s", marker.c_str(), "PRIORITY=3", nullptr), 0);
  // journald stores the line on its own time: wait for the journal to change, within a bound.
  sd_journal* raw = nullptr;
  ASSERT_GE(sd_journal_open(&raw, SD_JOURNAL_LOCAL_ONLY), 0);
  const std::unique_ptr<sd_journal, decltype(&sd_journal_close)> watch(raw, sd_journal_close);
  sd_journal_seek_tail(watch.get());
  sd_journal_previous(watch.get());
  const std::string expected = "tolvane journal test " + std::to_string(::getpid()) + "\\nsecond";
  for (int wakeUps = 0; wakeUps < 20; ++wakeUps) {
    const auto entries = reader.entriesSince(before, error);
    ASSERT_TRUE(entries) << error;
    for (const auto& entry : *entries) {
      if (entry.message == expected) {
        EXPECT_EQ(entry.category, "err");
        EXPECT_GE(entry.wallSeconds, before);
        return;
      }
    }
    sd_journal_wait(watch.get(), 500000);
  }
  ADD_FAILURE() << "the line never came back from the journal";
}

}  // namespace
}  // namespace tolvane::system
