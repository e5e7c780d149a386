// The GNOME tray menu without GNOME: what the Shell extension is sent, and what each id it may
// send back runs.
#include "backends/gnome/gnome_status_item.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

namespace tolvane::gnome {
namespace {

using Json = nlohmann::json;
using Kind = MenuEntry::Kind;

TEST(GnomeStatusItemTest, AnIdRunsTheEnabledItemItNamesAndNothingElse) {
  GnomeStatusItem item([](const std::string&) {}, [] { return true; });
  std::string ran;
  const auto run = [&ran](std::string name) { return [&ran, name] { ran = name; }; };
  item.setMenu({{.title = "first", .action = run("first")},
                {.kind = Kind::separator, .action = run("separator")},
                {.title = "windows",
                 .action = run("parent"),
                 .submenu = {{.title = "nested", .action = run("nested")}}},
                {.kind = Kind::header, .title = "header", .action = run("header")},
                {.title = "disabled", .enabled = false, .action = run("disabled")}});
  std::string deep = "2";
  for (int level = 1; level < 40; ++level) deep += ".0";
  // The id, and the item it runs; nothing for entries that are not items to run, one past the
  // end, and ids malformed, too deep or too long.
  std::map<std::string, std::string> rows{{"0", "first"}, {"2.0", "nested"}, {deep, ""}};
  for (std::string id :
       {"1", "2", "3", "4", "9", "2.1", "", "0.", ".0", "a", "-1", "0x1", "99999999999999999999"}) {
    rows[id] = "";
  }
  for (const auto& [id, runs] : rows) {
    SCOPED_TRACE(id);
    ran.clear();
    item.activated(id);
    EXPECT_EQ(ran, runs);
  }
}

TEST(GnomeStatusItemTest, TheExtensionIsSentWhatItCanShowFromTheFirstAppearanceOn) {
  std::vector<std::string> sent;
  GnomeStatusItem item([&sent](const std::string& json) { sent.push_back(json); },
                       [] { return true; });
  std::vector<MenuEntry> entries{
      // 300 code points; a cut by bytes would split the "é" at the 256th.
      {.title = std::string(255, 'x') + "é" + std::string(44, 'y'),
       .checked = true,
       .keyEquivalent = "p",
       .iconBundleID = "org.example"},
      {.kind = Kind::separator, .title = "unseen"},
      {.kind = Kind::header, .title = "bad \xff"},
      {.title = "1",
       .enabled = false,
       .submenu = {{.title = "2", .submenu = {{.title = "3", .submenu = {{.title = "4"}}}}}}}};
  entries.resize(250, MenuEntry{.title = "more"});
  item.setMenuWillOpenHandler([&] { item.setMenu(entries); });
  bool open = false;
  item.setMenuVisibilityHandler([&open](bool shown) { open = shown; });
  item.opening();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(open);
  Json menu = Json::parse(sent.front());
  // 200 entries in all: the six above (the fourth level is dropped) and 194 more.
  ASSERT_EQ(menu.size(), 198u);
  EXPECT_EQ(menu.back(), Json({{"kind", "item"}, {"title", "more"}}));
  menu.erase(menu.begin() + 4, menu.end());
  EXPECT_EQ(menu, Json::parse(R"([{"kind": "item", "checked": true, "title": ")" +
                              std::string(255, 'x') + R"(é"}, {"kind": "separator"},
    {"kind": "header", "title": "bad \ufffd"},
    {"kind": "item", "title": "1", "enabled": false, "submenu": [{"kind": "item", "title": "2",
      "submenu": [{"kind": "item", "title": "3"}]}]}])"));
  // A new instance of the extension gets the same menu; the close is heard.
  item.sendAgain();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], sent[0]);
  item.closed();
  EXPECT_FALSE(open);
}

}  // namespace
}  // namespace tolvane::gnome
