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

}  // namespace
}  // namespace tolvane::system
