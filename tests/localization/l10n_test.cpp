// Choosing the interface language (system preferences, stored choices and the platform-facing
// language list) and the fourteen string tables: same keys as English, same placeholders, and the
// fallbacks.
#include "localization/l10n.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "backends/sim/sim_preference_store.h"
#include "backends/system/posix_file_system.h"
#include "localization/localization_tables.h"
#include "settings/preference_keys.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;

TEST(AppLanguageTest, SystemDefaultTakesTheFirstSupportedPreference) {
  // The system's preferred languages, and the one chosen.
  const std::pair<Strings, AppLanguage> rows[] = {
      {{}, AppLanguage::en},
      {{"sv-SE", "de-DE"}, AppLanguage::de},
      {{"zh-Hant-TW"}, AppLanguage::zhHant},
      {{"zh-CN"}, AppLanguage::zhHans},
      {{"pt-PT"}, AppLanguage::ptBR},
  };
  for (const auto& [preferred, expected] : rows) {
    EXPECT_EQ(systemDefaultLanguage(preferred), expected) << testing::PrintToString(preferred);
  }
}

class L10nTest : public ::testing::Test {
 protected:
  sim::SimPreferenceStore preferences;
  system::PosixFileSystem files;
  FrameworkLanguage framework{files};
  Strings systemLanguages{"ja-JP", "en-US"};
  int installs = 0;
  L10n l10n{preferences, framework, [this] { return systemLanguages; }};

  L10nTest() {
    l10n.setRedirectionInstaller([this] { ++installs; });
  }
  std::optional<Strings> appleLanguages() const {
    return preferences.stringListValue(prefkey::kAppleLanguages);
  }
};

TEST_F(L10nTest, ApplyingALanguagePointsEveryLayerAtItAndSubscribersHearEachChange) {
  int changes = 0;
  auto subscription = l10n.subscribe([&] { ++changes; });
  l10n.apply("pt-BR");
  l10n.apply("pt-BR");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(l10n.language(), AppLanguage::ptBR);
  EXPECT_EQ(appleLanguages(), Strings{"pt-BR"});
  EXPECT_EQ(framework.overrideCode(), "pt-BR");
  EXPECT_EQ(l10n.string("common.cancel"), "Cancelar");
  EXPECT_EQ(l10n.string("no.such.key"), "no.such.key");
}

TEST_F(L10nTest, SystemOrUnknownCodesFollowTheSystemAndDropTheOverride) {
  const std::optional<std::string> codes[] = {std::nullopt, "sv", "pt-br"};
  for (const auto& code : codes) {
    l10n.apply("de");
    l10n.apply(code);
    EXPECT_EQ(l10n.language(), AppLanguage::ja) << code.value_or("(system)");
    EXPECT_FALSE(appleLanguages()) << code.value_or("(system)");
    EXPECT_FALSE(framework.overrideCode()) << code.value_or("(system)");
  }
  EXPECT_EQ(installs, 1);  // the redirection is installed once per process
}

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
