// The fourteen string tables: same keys as English, same placeholders, and the fallbacks.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>

#include "localization/localization_tables.h"

namespace tolvane {
namespace {

// What a translation must carry over unchanged: placeholders and line breaks, each with its count.
std::map<std::string, int> invariants(std::string_view text) {
  std::map<std::string, int> counts;
  for (const char* token : {"%@", "%d", "\n"}) {
    for (auto at = text.find(token); at != std::string_view::npos; at = text.find(token, at + 1)) {
      ++counts[token];
    }
  }
  return counts;
}

TEST(StringTablesTest, EveryTableIsTranslatedKeepingTheKeysAndPlaceholders) {
  const auto& english = stringTable(AppLanguage::en).entries();
  ASSERT_EQ(english.size(), 145u);
  for (AppLanguage language : kAllLanguages) {
    SCOPED_TRACE(std::string(rawValue(language)));
    const auto& entries = stringTable(language).entries();
    ASSERT_EQ(entries.size(), english.size());
    // A table copied from English would pass the key check; most of its texts must differ.
    int same = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& [key, text] = entries[i];
      EXPECT_EQ(key, english[i].first);
      EXPECT_EQ(invariants(text), invariants(english[i].second)) << key;
      EXPECT_FALSE(text.empty()) << key;
      same += text == english[i].second ? 1 : 0;
    }
    if (language != AppLanguage::en) {
      EXPECT_LT(same, 12);
    }
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
