// Language codes, native names and the mapping from the system's preferences.
#include "localization/app_language.h"

#include <algorithm>
#include <cctype>

namespace tolvane {

namespace {

struct LanguageInfo {
  std::string_view code;
  std::string_view nativeName;
};

constexpr LanguageInfo kInfo[] = {
    {"en", "English"},       {"ja", "日本語"},        {"ko", "한국어"},
    {"zh-Hans", "简体中文"}, {"zh-Hant", "繁體中文"}, {"de", "Deutsch"},
    {"fr", "Français"},      {"es", "Español"},       {"pt-BR", "Português (Brasil)"},
    {"ru", "Русский"},       {"it", "Italiano"},      {"nl", "Nederlands"},
    {"pl", "Polski"},        {"tr", "Türkçe"},
};

std::string lowered(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

std::optional<AppLanguage> matchEntry(const std::string& entry) {
  const auto starts = [&](std::string_view prefix) { return entry.starts_with(prefix); };
  if (starts("ja")) return AppLanguage::ja;
  if (starts("ko")) return AppLanguage::ko;
  if (starts("zh")) {
    for (std::string_view mark : {"hant", "tw", "hk", "mo"}) {
      if (entry.find(mark) != std::string::npos) return AppLanguage::zhHant;
    }
    return AppLanguage::zhHans;
  }
  if (starts("de")) return AppLanguage::de;
  if (starts("fr")) return AppLanguage::fr;
  if (starts("es")) return AppLanguage::es;
  if (starts("pt")) return AppLanguage::ptBR;  // every Portuguese, European included
  if (starts("ru")) return AppLanguage::ru;
  if (starts("it")) return AppLanguage::it;
  if (starts("nl")) return AppLanguage::nl;
  if (starts("pl")) return AppLanguage::pl;
  if (starts("tr")) return AppLanguage::tr;
  if (starts("en")) return AppLanguage::en;
  return std::nullopt;
}

// "de_DE.UTF-8@euro" → "de-DE"; nothing for the C locale, which states no language at all.
std::optional<std::string> languageOfLocale(std::string_view locale) {
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX") return std::nullopt;
  std::string result(locale);
  std::replace(result.begin(), result.end(), '_', '-');
  return result;
}

}  // namespace

std::string_view rawValue(AppLanguage language) {
  return kInfo[static_cast<std::size_t>(language)].code;
}

std::string_view nativeName(AppLanguage language) {
  return kInfo[static_cast<std::size_t>(language)].nativeName;
}

std::optional<AppLanguage> languageFromRawValue(std::string_view code) {
  for (AppLanguage language : kAllLanguages) {
    if (rawValue(language) == code) return language;
  }
  return std::nullopt;
}

AppLanguage systemDefaultLanguage(const std::vector<std::string>& preferred) {
  for (const auto& entry : preferred) {
    if (auto match = matchEntry(lowered(entry))) return *match;
  }
  return AppLanguage::en;
}

std::vector<std::string> preferredLanguagesFromEnvironment(
    const std::optional<std::string>& language, const std::optional<std::string>& lcAll,
    const std::optional<std::string>& lcMessages, const std::optional<std::string>& lang) {
  std::vector<std::string> result;
  if (language && !language->empty()) {
    std::string_view rest = *language;
    while (!rest.empty()) {
      const auto colon = rest.find(':');
      if (auto entry = languageOfLocale(rest.substr(0, colon))) result.push_back(*entry);
      rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
    }
    if (!result.empty()) return result;
  }
  // The first variable that is set decides, as it does for the C library's message catalogues.
  for (const auto* variable : {&lcAll, &lcMessages, &lang}) {
    if (*variable && !(*variable)->empty()) {
      if (auto entry = languageOfLocale(**variable)) result.push_back(*entry);
      return result;
    }
  }
  return result;
}

}  // namespace tolvane
