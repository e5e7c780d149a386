// `tolvane filter` without a process: ranking lines as the palette ranks windows, and the lines
// as read from a stream.
#include "palette/palette_filter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "palette/fuzzy_match.h"
#include "palette/palette_model.h"

namespace tolvane {
namespace {

using Lines = std::vector<std::string>;

// The palette's own order for `lines`, to hold the filter to.
Lines paletteOrder(const std::string& query, const Lines& lines) {
  std::vector<FoldedText> folded;
  for (const auto& line : lines) folded.push_back(FoldedText::fold(line));
  std::vector<const FoldedText*> candidates;
  for (const auto& text : folded) candidates.push_back(&text);
  Lines ranked;
  for (const auto& match : rankCandidates(FoldedText::fold(query), candidates)) {
    ranked.push_back(lines[match.index]);
  }
  return ranked;
}

// `input` through filterStream, as `tolvane filter` reads standard input and writes its output.
std::string streamed(const std::string& query, const std::string& input) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::tmpfile(), std::fclose);
  std::fwrite(input.data(), 1, input.size(), in.get());
  std::fflush(in.get());
  std::rewind(in.get());
  char* bytes = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&bytes, &size);
  EXPECT_TRUE(filterStream(query, fileno(in.get()), out));
  std::fclose(out);
  std::string written(bytes, size);
  std::free(bytes);
  return written;
}

std::string joined(const Lines& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

TEST(PaletteFilterTest, RanksLinesAsThePaletteRanksWindows) {
  const Lines input{"Quarterly report Pages", "Inbox Mail", "Mail merge Pages", "Notes Notes"};
  const std::pair<std::string, Lines> rows[] = {
      {"", input},
      {"mail", {"Inbox Mail", "Mail merge Pages"}},  // equal scores keep the input order
      {"NOTÉS", {"Notes Notes"}},
  };
  for (const auto& [query, expected] : rows)
    EXPECT_EQ(filterLines(query, input), expected) << query;

  // ASCII lines take a shortcut past folding; queries that fold to ASCII from elsewhere (ß to
  // "ss", full width, accents) and lines that are not ASCII must rank as the palette has them.
  const Lines mixed{"Strasse map", "Straße map", "ＳＴＲＡＳＳＥ", "stra\rsse", "Résumé", "resume",
                    "s s",         "ss",         "a\uFFFDss"};
  for (const std::string query : {"ss", "ß", "Ｓs", "resume", "é", "s s", "\r", "", "ﬆ"}) {
    const auto expected = paletteOrder(query, mixed);
    EXPECT_EQ(filterLines(query, mixed), expected) << query;
    EXPECT_EQ(streamed(query, joined(mixed)), joined(expected)) << query;
  }
}

TEST(PaletteFilterTest, LinesAreCutOnCharacterBoundariesAndRepaired) {
  std::string longLine = std::string(kFilterLineBytes - 1, 'a') + "é and more";
  EXPECT_EQ(filterLine(longLine), std::string(kFilterLineBytes - 1, 'a'));
  EXPECT_EQ(filterLine("ok\xff\xc3"), "ok\uFFFD\uFFFD");
  EXPECT_EQ(filterLine("Café"), "Café");
}

TEST(PaletteFilterTest, AStreamGivesWhatFilterLinesGivesForItsLines) {
  // Far more than one block of lines, so that several threads score them, with ties across
  // blocks that must keep the input order.
  Lines many;
  for (int i = 0; i < 25000; ++i) many.push_back("window " + std::to_string(i % 977) + " app");
  const std::string huge(3 * kFilterLineBytes, 'x');
  struct Row {
    std::string input;
    std::string query;
    std::string expected;
  };
  const Row rows[] = {
      {joined(many), "w 12 app", joined(filterLines("w 12 app", many))},
      {joined(many), "", joined(many)},
      // A last line without its line feed, empty lines, a line far past the cut, broken UTF-8.
      {"a\n\nb", "", "a\n\nb\n"},
      {"x\n" + huge + "é\nxx", "x", joined(filterLines("x", {"x", filterLine(huge), "xx"}))},
      {"caf\xc3\n", "caf", "caf\uFFFD\n"},
      {"", "a", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(streamed(row.query, row.input), row.expected) << row.input.substr(0, 30);
  }
}

}  // namespace
}  // namespace tolvane
