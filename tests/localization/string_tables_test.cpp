// The fourteen string tables: same keys as English, same placeholders, and the fallbacks.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "localization/localization_tables.h"

namespace tolvane {
namespace {

// What a translation must carry over unchanged: placeholders, key symbols, the product's name
// and line breaks, each with its count.
std::map<std::string, int> invariants(const std::string& text) {
  std::map<std::string, int> counts;
  for (const char* token : {"%@", "%d", "⌘", "⌥", "⇥", "⇧", "⌃", "Tolvane", "\n"}) {
    const std::string needle(token);
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
      ++counts[needle];
    }
  }
  return counts;
}

TEST(StringTablesTest, EveryTableHasExactlyTheEnglishKeysWithTheSameInvariants) {
  const auto& english = stringTable(AppLanguage::en).entries();
  ASSERT_EQ(english.size(), 127u);
  for (AppLanguage language : kAllLanguages) {
    SCOPED_TRACE(std::string(rawValue(language)));
    const auto& entries = stringTable(language).entries();
    ASSERT_EQ(entries.size(), english.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].first, english[i].first);
      EXPECT_EQ(invariants(entries[i].second), invariants(english[i].second)) << english[i].first;
      EXPECT_FALSE(entries[i].second.empty()) << english[i].first;
    }
  }
}

TEST(StringTablesTest, TranslationsAreNotLeftInEnglish) {
  // A table copied from English would pass the key check; most of its texts must differ.
  const auto& english = stringTable(AppLanguage::en);
  for (AppLanguage language : kAllLanguages) {
    if (language == AppLanguage::en) continue;
    int same = 0;
    for (const auto& [key, text] : stringTable(language).entries()) {
      if (const auto* original = english.find(key); original && *original == text) ++same;
    }
    EXPECT_LT(same, 12) << rawValue(language);
  }
}

TEST(StringTablesTest, LookupFallsBackToEnglishThenToTheKey) {
  const auto english = *parseStringTable(R"({"a": "A", "b": "B"})");
  const auto german = *parseStringTable(R"({"a": "Ä", "c": 3})");  // "c" is no string
  EXPECT_EQ(lookupWithFallback(german, english, "a"), "Ä");
  EXPECT_EQ(lookupWithFallback(german, english, "b"), "B");
  EXPECT_EQ(lookupWithFallback(german, english, "c"), "c");
  EXPECT_EQ(lookupWithFallback(german, english, "missing.key"), "missing.key");
  EXPECT_FALSE(parseStringTable("[1, 2]"));
  EXPECT_FALSE(parseStringTable("{ truncated"));
}

}  // namespace
}  // namespace tolvane
