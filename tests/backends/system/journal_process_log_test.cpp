// Reading this process's journal entries: the cleaning and bounds every entry goes through.
#include "backends/system/journal_process_log.h"

#include <gtest/gtest.h>

#include <tuple>

namespace tolvane::system {
namespace {

TEST(JournalMessage, EveryMessageBecomesOneBoundedLineOfValidText) {
  // The raw message, the bound in bytes, and the line it becomes.
  const std::tuple<std::string, std::size_t, std::string> rows[] = {
      // Control characters other than tabs are escaped so the entry stays one line.
      {"a\nb\rc\001d\x7f", 100, "a\\nb\\rc\\x01d\\x7f"},
      // Bytes that are not UTF-8 would make the upload's JSON fail.
      {"bad \xff byte", 100, "bad \xEF\xBF\xBD byte"},
      // Cuts never split a character, not even after escapes made the text longer.
      {"\xC3\xA9\xC3\xA9\xC3\xA9", 5, "\xC3\xA9\xC3\xA9"},
      {"\n\n\n", 4, "\\n\\n"},
      {std::string(10000, 'x'), 4096, std::string(4096, 'x')},
  };
  for (const auto& [raw, maxBytes, expected] : rows) {
    EXPECT_EQ(journalMessage(raw, maxBytes), expected) << raw;
  }
}

}  // namespace
}  // namespace tolvane::system
