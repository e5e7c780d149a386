// The palette's scorer: the worked examples, what folding equates and what it keeps apart, and
// the bytes a match highlights.
#include "palette/fuzzy_match.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

constexpr std::optional<std::int64_t> kNoMatch = std::nullopt;

TEST(FuzzyMatchTest, ScoresAndFolding) {
  struct Row {
    std::string query;
    std::string candidate;
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
    std::string query;
    std::string candidate;
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

}  // namespace
}  // namespace tolvane
