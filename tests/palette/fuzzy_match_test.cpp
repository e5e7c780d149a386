// The palette's scorer: the worked examples, what folding equates and what it keeps apart, and
// the bytes a match highlights; and `tolvane filter` without a process: ranking lines as the
// palette ranks windows, and the lines as read from a stream.
#include "palette/fuzzy_match.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "palette/palette_filter.h"
#include "palette/palette_model.h"

namespace tolvane {
namespace {

constexpr std::optional<std::int64_t> kNoMatch = std::nullopt;

TEST(FuzzyMatchTest, ScoresAndFolding) {
  struct Row {
    std::string query, candidate;
    std::optional<std::int64_t> expected;
  };
  const Row rows[] = {
      // The worked examples: runs earn run+3, a character at 0 or after a space earns 4 more.
      {"", "anything", 0},
      {"a", "", kNoMatch},
      {"saf", "Safari Safari", 14},
      {"ss", "Safari Safari", 10},
      {"MAIL", "Inbox Mail", 20},
      {"rep", "Quarterly report Pages", 3},
      {"xyz", "Safari Safari", kNoMatch},
      {"aa", "abca", 6},
      {" m", "Inbox Mail", 9},
      {"-", "-x", 5},
      {"b", "a-b", 1},
      {"b", "a\tb", 1},
      {"abc", "ab", kNoMatch},
      // Nonspacing marks go, whether precomposed or combining, on either side; a lone mark
      // folds to nothing.
      {"É", "e", 5},
      {"e", "Caf\u00e9", 1},
      {"\u00e9", "Cafe\u0301", 1},
      {"\u0301", "x", 0},
      // Full case folding: final sigma equals sigma, ß equals "ss" both ways, ﬁ equals "fi".
      {"σ", "ς", 5},
      {"ss", "ß", 9},
      {"ß", "Strasse", 6},
      {"fi", "ﬁle", 9},
      // No Turkic folding: İ is i with a dot above, which goes; dotless ı stays apart from i.
      {"i", "İ", 5},
      {"i", "ı", kNoMatch},
      // Width: fullwidth and halfwidth forms equal their ordinary forms.
      {"Ａ", "a", 5},
      {"ｶ", "カ", 5},
      // Other compatibility forms stay apart: ĳ from "ij", ² from 2, and a no-break space
      // starts no word.
      {"ij", "ĳ", kNoMatch},
      {"2", "x²", kNoMatch},
      {"b", "a\u00a0b", 1},
      // A skin-tone modifier is part of its emoji: the bare emoji does not match it.
      {"👍", "👍🏽", kNoMatch},
      {"👍🏽", "ok 👍🏽", 5},
      // Invalid UTF-8 reads as U+FFFD.
      {"\xff",
       "a\xfe"
       "b",
       1},
      {"\xc3", "\xef\xbf\xbd", 5},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(FuzzyMatch::score(row.query, row.candidate), row.expected)
        << '"' << row.query << "\" in \"" << row.candidate << '"';
  }
}

TEST(FuzzyMatchTest, MatchedBytesPointAtTheOriginalCharacters) {
  struct Row {
    std::string query, candidate;
    std::vector<TextRange> expected;
  };
  const Row rows[] = {
      {"saf", "Safari", {{0, 3}}},
      {"sse", "Straße", {{0, 1}, {4, 3}}},  // both halves of ß name its two bytes
      {"ss", "ß", {{0, 2}}},
      {"e", "Cafe\u0301", {{3, 3}}},  // the whole character, mark included
      {"fi", "a ﬁ", {{2, 3}}},
      {"b",
       "\xff"
       "b",
       {{1, 1}}},
  };
  for (const auto& row : rows) {
    const auto candidate = FoldedText::fold(row.candidate);
    const auto result = FuzzyMatch::match(FoldedText::fold(row.query), candidate);
    ASSERT_TRUE(result) << row.query;
    EXPECT_EQ(FuzzyMatch::matchedBytes(candidate, result->positions), row.expected) << row.query;
  }
}

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
  // ASCII lines take a shortcut past folding; queries that fold to ASCII from elsewhere (ß to
  // "ss", full width, accents) and lines that are not ASCII must rank as the palette has them.
  const Lines mixed{"Strasse map", "Straße map", "ＳＴＲＡＳＳＥ", "stra\rsse", "Résumé", "resume",
                    "s s",         "ss",         "a\uFFFDss"};
  for (const std::string query : {"ss", "ß", "Ｓs", "RÉSUMÉ", "é", "s s", "\r", "", "ﬆ"}) {
    const auto expected = paletteOrder(query, mixed);
    EXPECT_EQ(filterLines(query, mixed), expected) << query;
    EXPECT_EQ(streamed(query, joined(mixed)), joined(expected)) << query;
  }
}

TEST(PaletteFilterTest, AStreamGivesWhatFilterLinesGivesForItsLines) {
  // Far more than one block of lines, so that several threads score them, with ties across
  // blocks that must keep the input order.
  Lines many;
  for (int i = 0; i < 25000; ++i) many.push_back("window " + std::to_string(i % 977) + " app");
  const std::string huge(3 * kFilterLineBytes, 'x');
  const std::string justShort(kFilterLineBytes - 1, 'a');
  struct Row {
    std::string input, query, expected;
  };
  const Row rows[] = {
      {joined(many), "w 12 app", joined(filterLines("w 12 app", many))},
      {joined(many), "", joined(many)},
      // A last line without its line feed, empty lines, a line far past the cut, broken UTF-8.
      {"a\n\nb", "", "a\n\nb\n"},
      {"x\n" + huge + "é\nxx", "x", joined(filterLines("x", {"x", filterLine(huge), "xx"}))},
      {"caf\xc3\n", "caf", "caf\uFFFD\n"},
      {"ok\xff\xc3\nCafé", "", "ok\uFFFD\uFFFD\nCafé\n"},
      // Cut on a character boundary: the é that would straddle the limit goes whole.
      {justShort + "é and more", "", justShort + "\n"},
      {"", "a", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(streamed(row.query, row.input), row.expected) << row.input.substr(0, 30);
  }
}

}  // namespace
}  // namespace tolvane
