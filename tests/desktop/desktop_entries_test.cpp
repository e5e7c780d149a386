// Desktop entries without a display: parsing, Exec arguments, locale keys, folder precedence,
// re-reading changed folders, icons, and the text repair applied to window titles.
#include "backends/x11/desktop_entries.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "backends/x11/x11_ewmh.h"
#include "support/temp_dir.h"

namespace tolvane::x11 {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

TEST(DesktopEntryTest, OnlyTheMainGroupOfVisibleApplicationsCounts) {
  struct Row {
    const char* why;
    std::string text;
    std::optional<std::string> name;
  };
  const std::vector<Row> rows = {
      {"an application", "[Desktop Entry]\nType=Application\nName=Files\n", "Files"},
      {"escapes and spaces around '='", "[Desktop Entry]\nType = Application\nName = A\\sB\\\\C\n",
       "A B\\C"},
      {"an action group does not override the entry",
       "[Desktop Entry]\nType=Application\nName=Files\n[Desktop Action new]\nName=New Window\n",
       "Files"},
      {"a link is not an application", "[Desktop Entry]\nType=Link\nName=Web\n", std::nullopt},
      {"keys outside the main group do not count", "Type=Application\nName=X\n", std::nullopt},
  };
  for (const auto& row : rows) {
    const auto entry = parseDesktopEntry(row.text);
    EXPECT_EQ(entry ? std::optional(entry->name) : std::nullopt, row.name) << row.why;
  }
}

TEST(DesktopEntryTest, ExecArgumentsUndoQuotingAndExpandFieldCodes) {
  struct Row {
    const char* why;
    std::string exec;
    std::optional<std::vector<std::string>> args;
  };
  const std::vector<Row> rows = {
      {"file and URL codes disappear", "viewer --new-window %U %f",
       std::vector<std::string>{"viewer", "--new-window"}},
      {"quoted arguments keep spaces and escaped quotes", R"("/opt/My App/app" --name "a \"b\"")",
       std::vector<std::string>{"/opt/My App/app", "--name", "a \"b\""}},
      {"icon, name and location", "app %i --title=%c --from=%k",
       std::vector<std::string>{"app", "--icon", "app-icon", "--title=Nom", "--from=/x.desktop"}},
      {"a literal percent", "app 100%%", std::vector<std::string>{"app", "100%"}},
      {"an open quote is malformed", "app \"unfinished", std::nullopt},
      {"nothing to run", "%U", std::nullopt},
  };
  for (const auto& row : rows) {
    const DesktopEntry entry{
        .path = "/x.desktop", .name = "Name", .exec = row.exec, .icon = "app-icon"};
    EXPECT_EQ(execArguments(entry, "Nom"), row.args) << row.why;
  }
}

TEST(DesktopEntryTest, LocaleKeysGoFromMostToLeastSpecific) {
  using Keys = std::vector<std::string>;
  EXPECT_EQ(localeKeys("de_DE.UTF-8@euro"), (Keys{"de_DE@euro", "de_DE", "de@euro", "de"}));
  EXPECT_EQ(localeKeys("pt_BR.UTF-8"), (Keys{"pt_BR", "pt"}));
  EXPECT_EQ(localeKeys("sr@latin"), (Keys{"sr@latin", "sr"}));
  EXPECT_EQ(localeKeys("C.UTF-8"), Keys{});
  EXPECT_EQ(localeKeys(""), Keys{});
}

TEST(DesktopEntriesTest, EarlierFoldersWinAndSubfoldersMakeIds) {
  test::TempDir dir;
  const fs::path user = fs::path(dir.path()) / "user/applications";
  const fs::path system = fs::path(dir.path()) / "system/applications";
  write(user / "editor.desktop", "[Desktop Entry]\nType=Application\nName=Mine\n");
  write(system / "editor.desktop",
        "[Desktop Entry]\nType=Application\nName=System\nStartupWMClass=Ed\n");
  write(system / "kde4/kate.desktop", "[Desktop Entry]\nType=Application\nName=Kate\n");
  DesktopEntries entries({user.string(), system.string()}, "C");

  const DesktopEntry* editor = entries.byID("editor");
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->name, "Mine");
  EXPECT_EQ(editor->path, (user / "editor.desktop").string());
  // The hidden system file's StartupWMClass is not there to match.
  EXPECT_EQ(entries.byWMClass("ed", "Ed"), nullptr);
  ASSERT_TRUE(entries.byID("kde4-kate"));
  EXPECT_EQ(entries.byWMClass("KDE4-KATE", ""), entries.byID("kde4-kate"));
}

TEST(DesktopEntriesTest, AMissReadsAChangedFolderAgain) {
  test::TempDir dir;
  const fs::path folder = fs::path(dir.path()) / "applications";
  write(folder / "one.desktop", "[Desktop Entry]\nType=Application\nName=One\n");
  // File times are coarse: put the scanned state clearly in the past.
  fs::last_write_time(folder, fs::last_write_time(folder) - std::chrono::hours(1));
  DesktopEntries entries({folder.string()}, "C");
  ASSERT_TRUE(entries.byID("one"));
  EXPECT_FALSE(entries.byID("two"));

  write(folder / "two.desktop", "[Desktop Entry]\nType=Application\nName=Two\n");
  ASSERT_TRUE(entries.byID("two"));
  EXPECT_EQ(entries.byID("two")->name, "Two");
}

TEST(DesktopEntriesTest, IconsAreFoundInTheThemeAndMustBePNG) {
  test::TempDir dir;
  const fs::path share = fs::path(dir.path()) / "share";
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "pixels";
  write(share / "icons/hicolor/48x48/apps/small.png", png + "48");
  write(share / "icons/hicolor/128x128/apps/small.png", png + "128");
  write(share / "pixmaps/old.png", png + "pixmap");
  write(share / "pixmaps/fake.png", "GIF89a");
  write(share / "absolute.png", png + "absolute");
  DesktopEntries entries({(share / "applications").string()}, "C");

  const auto icon = [&](const std::string& name) { return entries.iconPNG({.icon = name}); };
  EXPECT_EQ(icon("small"), png + "128");
  EXPECT_EQ(icon("small.png"), png + "128");
  EXPECT_EQ(icon("old"), png + "pixmap");
  EXPECT_EQ(icon((share / "absolute.png").string()), png + "absolute");
  EXPECT_EQ(icon("fake"), std::nullopt);
  EXPECT_EQ(icon("missing"), std::nullopt);
}

TEST(TitleTextTest, MalformedUTF8BecomesReplacementCharacters) {
  const std::string r = "\uFFFD";
  struct Row {
    const char* why;
    std::string in;
    std::string out;
  };
  const std::vector<Row> rows = {
      {"valid text passes", "Grüße, 世界 🎉", "Grüße, 世界 🎉"},
      {"a stray continuation byte", "a\x80z", "a" + r + "z"},
      {"a sequence cut by the end", "ab\xe4\xb8", "ab" + r},
      {"a sequence cut by ASCII", "\xe4(", r + "("},
      {"an overlong slash", "\xc0\xaf", r},
      {"a surrogate", "\xed\xa0\x80", r},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", r},
      {"an impossible lead byte", "\xff", r},
  };
  for (const auto& row : rows) EXPECT_EQ(repairUtf8(row.in), row.out) << row.why;
  EXPECT_EQ(latin1ToUtf8("caf\xe9 \xff"), "café ÿ");
}

}  // namespace
}  // namespace tolvane::x11
