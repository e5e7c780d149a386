// Choosing the interface language: system preferences, stored choices and the platform-facing
// language list.
#include "localization/l10n.h"

#include <gtest/gtest.h>

#include <utility>

#include "backends/sim/sim_preference_store.h"
#include "backends/system/posix_file_system.h"
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

}  // namespace
}  // namespace tolvane
