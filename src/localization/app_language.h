// The fourteen interface languages and how the system's preferred languages map onto them.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

/// In the order of the language picker.
enum class AppLanguage { en, ja, ko, zhHans, zhHant, de, fr, es, ptBR, ru, it, nl, pl, tr };

inline constexpr std::array<AppLanguage, 14> kAllLanguages = {
    AppLanguage::en, AppLanguage::ja, AppLanguage::ko, AppLanguage::zhHans, AppLanguage::zhHant,
    AppLanguage::de, AppLanguage::fr, AppLanguage::es, AppLanguage::ptBR,   AppLanguage::ru,
    AppLanguage::it, AppLanguage::nl, AppLanguage::pl, AppLanguage::tr};

/// The language's code ("zh-Hans", "pt-BR"), which is also its identifier and the name of its
/// string table.
std::string_view rawValue(AppLanguage language);

/// The label the language picker shows ("Deutsch", "日本語").
std::string_view nativeName(AppLanguage language);

/// The language whose code is exactly `code` (case-sensitive: "pt-BR", not "pt-br").
std::optional<AppLanguage> languageFromRawValue(std::string_view code);

/// The first supported language in `preferred` (most preferred first), matching each entry's
/// beginning case-insensitively; English when nothing matches or the list is empty.
AppLanguage systemDefaultLanguage(const std::vector<std::string>& preferred);

/// The user's preferred languages from a POSIX environment: $LANGUAGE as a colon-separated list,
/// else the first of $LC_ALL, $LC_MESSAGES, $LANG that is set. Encodings and modifiers are
/// dropped ("de_DE.UTF-8@euro" gives "de_DE"); "C" and "POSIX" mean no preference.
std::vector<std::string> preferredLanguagesFromEnvironment(
    const std::optional<std::string>& language, const std::optional<std::string>& lcAll,
    const std::optional<std::string>& lcMessages, const std::optional<std::string>& lang);

}  // namespace tolvane
