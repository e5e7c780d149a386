// The fourteen string tables: same keys as English, same placeholders, and the fallbacks.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>

#include "localization/localization_tables.h"

namespace tolvane {
namespace {

bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// How often `token` stands in `text` as a word of its own: where the token begins or ends with a
// letter, no ASCII letter may touch it there. "Tab" counts in "Super+Tab", "Tab-Taste" and
// "Tabキー", not in "Tabelle"; "Mac" counts in "Mac'te" and "このMac", not in "Machine".
int wordCount(std::string_view text, std::string_view token) {
  int count = 0;
  for (auto at = text.find(token); at != std::string_view::npos; at = text.find(token, at + 1)) {
    const auto end = at + token.size();
    const bool joinedBefore = isAsciiLetter(token.front()) && at > 0 && isAsciiLetter(text[at - 1]);
    const bool joinedAfter =
        isAsciiLetter(token.back()) && end < text.size() && isAsciiLetter(text[end]);
    if (!joinedBefore && !joinedAfter) ++count;
  }
  return count;
}

// What a translation must carry over unchanged: placeholders, key names, the product's name and
// line breaks, each with its count.
std::map<std::string, int> invariants(const std::string& text) {
  std::map<std::string, int> counts;
  for (const char* token :
       {"%@", "%d", "Super", "Alt", "Ctrl", "Shift", "Tab", "Space", "Tolvane", "\n"}) {
    if (const int count = wordCount(text, token)) counts[token] = count;
  }
  return counts;
}

// Names that belong to another desktop, as the tables once used them: its key symbols, the
// computer's name, its settings application, its menu bar, its permission and its keyboard lock.
constexpr std::string_view kForeignNames[] = {
    "⌘", "⌥", "⌃", "⇧", "⇥", "macOS", "Mac", "Macs", "Maca", "Macu", "Macach",
    // The settings application.
    "System Settings", "System Preferences", "Systemeinstellungen", "Réglages Système",
    "Ajustes del Sistema", "Ajustes do Sistema", "Impostazioni di Sistema", "Systeeminstellingen",
    "Ustawienia systemowe", "Системные настройки", "Sistem Ayarları", "システム設定", "시스템 설정",
    "系统设置", "系統設定",
    // The menu bar.
    "menu bar", "Menüleiste", "barra de menús", "barre des menus", "barra de menus",
    "barra dei menu", "menubalk", "pasku menu", "строке меню", "menü çubuğu", "メニューバー",
    "메뉴 막대", "菜单栏", "選單列",
    // The permission that lets a program read other programs' windows.
    "Accessibility", "Bedienungshilfen", "Accessibilité", "Accesibilidad", "Acessibilidade",
    "Accessibilità", "Toegankelijkheid", "Dostępność", "Dostępności", "Универсальный доступ",
    "Erişilebilirlik", "アクセシビリティ", "손쉬운 사용", "辅助功能", "輔助使用",
    // The keyboard lock of password fields.
    "Secure Input", "Sichere Eingabe", "Saisie sécurisée", "Entrada segura", "Entrada Segura",
    "Inserimento sicuro", "Beveiligde invoer", "Bezpieczne wprowadzanie", "Безопасный ввод",
    "güvenli giriş", "セキュア入力", "보안 입력", "安全输入", "安全輸入"};

TEST(StringTablesTest, EveryTableIsTranslatedKeepingTheKeysAndInvariantsAndNamesNoOtherDesktop) {
  const auto& english = stringTable(AppLanguage::en).entries();
  ASSERT_EQ(english.size(), 144u);
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
      for (std::string_view name : kForeignNames) {
        EXPECT_EQ(wordCount(text, name), 0) << key << ": " << name;
      }
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
