// The palette's model (the snapshot it opens with, ranking and ties, selection moves) and its
// description: which message an empty list shows, shortcuts, matched characters, and titles
// made safe to paint.
#include "palette/palette_model.h"

#include <gtest/gtest.h>

#include "palette/palette_snapshot.h"
#include "palette/palette_view.h"
#include "support/sim_services.h"
#include "support/window_list.h"

namespace tolvane {
namespace {

SwitchWindow window(std::uint32_t id, std::string title, std::string app) {
  return SwitchWindow({.id = id, .pid = 7, .title = std::move(title), .appName = std::move(app)});
}

using test::idsOf;

TEST(PaletteModelTest, RanksBestFirstAndKeepsRecencyAmongEqualScores) {
  // Most recently used first.
  PaletteModel model([] {
    return std::vector{window(1, "Quarterly report", "Pages"), window(2, "Inbox", "Mail"),
                       window(3, "", "Notes"), window(4, "Mail merge", "Pages")};
  });
  model.reload();
  EXPECT_EQ(idsOf(model.visible()), (std::vector<std::uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(model.selectedID(), 1u);
  EXPECT_EQ(model.focusRequestID(), 1u);
  const std::pair<std::string, std::vector<std::uint32_t>> rows[] = {
      {"mail", {2, 4}},     // both earn 20: recency decides
      {"notes", {3}},       // an untitled window is found by its application's name
      {"pages", {4, 1}},    // a run at a word start beats scattered letters
      {" ", {1, 2, 3, 4}},  // a space is a query: every candidate has one
      {"zz", {}},
  };
  for (const auto& [query, expected] : rows) {
    model.setQuery(query);
    EXPECT_EQ(idsOf(model.visible()), expected) << query;
    EXPECT_EQ(model.selectedID(),
              expected.empty() ? std::nullopt : std::optional(expected.front()));
  }
  model.setQuery("pa");
  EXPECT_EQ(model.rowText(0).appNameMatches, (std::vector<TextRange>{{0, 2}}));
  EXPECT_TRUE(model.rowText(0).titleMatches.empty());

  // A tie among more windows than an unstable sort keeps in order (16 with libstdc++).
  const auto many = test::editorWindows(40);
  PaletteModel crowd([&many] { return many; });
  crowd.reload();
  crowd.setQuery("doc");
  EXPECT_EQ(idsOf(crowd.visible()), idsOf(many));
}

TEST(PaletteModelTest, SelectionMovesClampWithoutWrapping) {
  PaletteModel model([] {
    return std::vector{window(1, "a", "A"), window(2, "b", "B"), window(3, "c", "C")};
  });
  model.reload();
  // The moves from the first row, and the row selected after them.
  const std::pair<std::vector<int>, std::optional<std::size_t>> rows[] = {
      {{+1}, 1}, {{+1, +1, +1}, 2}, {{-1}, 0}, {{+1, -1, -1}, 0}, {{+5}, 2},
  };
  for (const auto& [steps, expected] : rows) {
    model.refresh();
    for (int step : steps) model.moveSelection(step);
    EXPECT_EQ(model.selectionIndex(), expected);
  }
  // With nothing selected, either direction selects the first row; an empty list stays empty.
  model.setQuery("zz");
  model.moveSelection(+1);
  EXPECT_EQ(model.selectedWindow(), std::nullopt);
}

TEST(PaletteModelTest, TheSnapshotNeedsThePermissionAndLeavesApplicationEntriesOut) {
  test::WindowServices world;
  world.desktop.addApp({.pid = 100, .localizedName = "Editor"});
  world.desktop.addWindow({.number = 11, .pid = 100, .title = "Budget"});
  world.desktop.addApp({.pid = 200, .localizedName = "Empty"});  // no window: an app entry
  world.refresh(200);
  const PaletteSnapshotSources sources{world.desktop,    world.desktop,  world.resolver,
                                       world.enumerator, world.settings, world.clock};
  world.desktop.setTrusted(false);
  EXPECT_TRUE(takePaletteSnapshot(sources).empty());
  EXPECT_FALSE(world.enumerator.isCached(100));  // nobody was asked
  world.desktop.setTrusted(true);
  EXPECT_EQ(idsOf(takePaletteSnapshot(sources)), std::vector<std::uint32_t>{11});
}

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
