// Lookups with their two fallbacks, and applying a language choice everywhere it matters.
#include "localization/l10n.h"

#include "localization/localization_tables.h"
#include "settings/preference_keys.h"

namespace tolvane {

L10n::L10n(PreferenceStore& preferences, FrameworkLanguage& framework,
           std::function<std::vector<std::string>()> preferredLanguages)
    : preferences_(preferences),
      framework_(framework),
      preferredLanguages_(std::move(preferredLanguages)) {}

std::string L10n::string(std::string_view key) const {
  return lookupWithFallback(stringTable(language_), stringTable(AppLanguage::en), key);
}

std::string formatText(std::string format, std::string_view argument) {
  if (const auto at = format.find("%@"); at != std::string::npos) format.replace(at, 2, argument);
  return format;
}

void L10n::apply(const std::optional<std::string>& code) {
  const auto chosen = code ? languageFromRawValue(*code) : std::nullopt;
  syncOverride(chosen);
  const AppLanguage next =
      chosen ? *chosen
             : systemDefaultLanguage(preferredLanguages_ ? preferredLanguages_()
                                                         : std::vector<std::string>{});
  const bool changed = next != language_;
  language_ = next;
  if (changed) changed_.notify();
}

void L10n::bootstrap() {
  auto code = preferences_.stringValue(prefkey::kLanguageCode);
  if (code && code->empty()) code.reset();
  apply(code);
}

void L10n::syncOverride(std::optional<AppLanguage> chosen) {
  if (chosen) {
    const std::string id(rawValue(*chosen));
    preferences_.set(prefkey::kAppleLanguages, std::vector<std::string>{id});
    framework_.setOverride(id);
  } else {
    // A code that names no language (a synced "sv", say) follows the system, and so must the
    // toolkit's texts: a stale override would keep them in the previous language.
    preferences_.remove(prefkey::kAppleLanguages);
    framework_.setOverride(std::nullopt);
  }
  framework_.installRedirection(installer_);
}

}  // namespace tolvane
