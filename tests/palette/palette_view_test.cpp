// The palette's description: which message an empty list shows, shortcuts, matched
// characters, and titles made safe to paint.
#include "palette/palette_view.h"

#include <gtest/gtest.h>

#include "support/sim_services.h"
#include "support/window_list.h"

namespace tolvane {
namespace {

struct ViewWorld : test::SwitcherServices {
  std::vector<SwitchWindow> windows;
  PaletteModel model{[this] { return windows; }};
  PalettePanelView describe(bool trusted = true) {
    return describePalette(model, l10n, trusted, std::nullopt, "Ctrl+K");
  }
};

TEST(PaletteViewTest, AnEmptyListExplainsWhy) {
  ViewWorld world;
  struct Row {
    bool haveWindows;
    std::string query;
    bool trusted;
    std::optional<std::string> title;
  };
  const Row rows[] = {
      {false, "", true, "No windows"},
      {true, "zz", true, "No matches"},
      {false, "", false, "Window manager needed"},
      {false, "x", false, "Window manager needed"},
      {true, "", false, std::nullopt},  // rows to show: no message
  };
  for (const auto& row : rows) {
    world.windows = row.haveWindows ? test::editorWindows(2) : std::vector<SwitchWindow>{};
    world.model.reload();
    world.model.setQuery(row.query);
    const auto view = world.describe(row.trusted);
    EXPECT_EQ(view.message ? std::optional(view.message->title) : std::nullopt, row.title)
        << row.query;
  }
  // The empty list names the hotkey in use, not the default one.
  world.windows.clear();
  world.model.reload();
  EXPECT_TRUE(world.describe().message->body.ends_with("anytime with Ctrl+K."));
}

TEST(PaletteViewTest, RowsCarryShortcutsMatchesAndPaintableText) {
  ViewWorld world;
  world.windows = test::editorWindows(12);
  world.windows.insert(world.windows.begin(),
                       SwitchWindow({.id = 7,
                                     .title = "Line\none\x1b[31m\xc2\x85\xff",
                                     .appName = "T\tApp",
                                     .isMinimized = true}));
  world.model.reload();
  auto view = world.describe();
  ASSERT_EQ(view.rows.size(), 13u);
  EXPECT_EQ(view.rows[8].shortcut, "Super+9");
  EXPECT_EQ(view.rows[9].shortcut, std::nullopt);
  EXPECT_TRUE(view.rows[0].selected);
  EXPECT_EQ(view.rows[0].background, (Paint{SemanticColor::accent, 1}));
  EXPECT_EQ(view.rows[0].titlePaint, (Paint{SemanticColor::white, 1}));
  EXPECT_EQ(view.rows[1].titlePaint, (Paint{SemanticColor::primary, 1}));
  // Newline, escape, C1 and the invalid byte each become U+FFFD.
  EXPECT_EQ(view.rows[0].title, "Line\uFFFDone\uFFFD[31m\uFFFD\uFFFD");
  EXPECT_EQ(view.rows[0].subtitle, "T\uFFFDApp");
  EXPECT_TRUE(view.rows[0].minimizedMarker);
  EXPECT_EQ(view.rows[0].iconWindowID, 7u);

  // Ranges are bytes of the painted texts, split between title and application name.
  world.model.setQuery("one app");
  view = world.describe();
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0].titleMatches, (std::vector<TextRange>{{7, 3}}));
  EXPECT_EQ(view.rows[0].subtitleMatches, (std::vector<TextRange>{{4, 3}}));
  world.model.setQuery("c 4 ed");
  view = world.describe();
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0].title, "Doc 4");
  EXPECT_EQ(view.rows[0].titleMatches, (std::vector<TextRange>{{2, 3}}));
  EXPECT_EQ(view.rows[0].subtitleMatches, (std::vector<TextRange>{{0, 2}}));
}

}  // namespace
}  // namespace tolvane
