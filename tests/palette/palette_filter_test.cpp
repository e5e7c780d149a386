// `tolvane filter` without a process: ranking lines, and the lines as read.
#include "palette/palette_filter.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using Lines = std::vector<std::string>;

TEST(PaletteFilterTest, RanksLinesAsThePaletteRanksWindows) {
  const Lines input{"Quarterly report Pages", "Inbox Mail", "Mail merge Pages", "Notes Notes"};
  struct Row {
    std::string query;
    Lines expected;
  };
  const Row rows[] = {
      {"", input},
      {"mail", {"Inbox Mail", "Mail merge Pages"}},  // equal scores keep the input order
      {"NOTÉS", {"Notes Notes"}},
      {"xyz", {}},
  };
  for (const auto& row : rows) EXPECT_EQ(filterLines(row.query, input), row.expected) << row.query;
}

TEST(PaletteFilterTest, LinesAreCutOnCharacterBoundariesAndRepaired) {
  std::string longLine = std::string(kFilterLineBytes - 1, 'a') + "é and more";
  EXPECT_EQ(filterLine(longLine), std::string(kFilterLineBytes - 1, 'a'));
  EXPECT_EQ(filterLine("ok\xff\xc3"), "ok\uFFFD\uFFFD");
  EXPECT_EQ(filterLine("Café"), "Café");
}

}  // namespace
}  // namespace tolvane
