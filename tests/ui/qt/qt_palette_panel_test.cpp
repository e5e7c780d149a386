// The search palette as the user sees it: the painted panel, its matches, the long list, the
// message, typing and clicks.
#include "ui/qt/qt_palette_panel.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "platform/input_grab.h"
#include "settings/theme.h"
#include "ui/qt/palette_painting.h"

namespace tolvane {
namespace {

constexpr double kBodyTop = 46.5;  // the search row and its hairline

PalettePanelView describe(int count, int selected = 0) {
  PalettePanelView view;
  view.frame = Rect{40, 30, 600, 420};
  view.placeholder = "Search windows…";
  view.focusRequestID = 1;
  for (int i = 0; i < count; ++i) {
    PaletteRowView row{.windowID = 1000u + static_cast<std::uint32_t>(i), .index = i};
    row.title = "Quarterly report " + std::to_string(i + 1);
    row.subtitle = "Editor";
    row.titlePaint = {SemanticColor::primary, 1};
    row.subtitlePaint = {SemanticColor::secondary, 1};
    if (i < 9) row.shortcut = "⌘" + std::to_string(i + 1);
    row.shortcutPaint = {SemanticColor::primary, 0.3};
    if (i == selected) {
      row.selected = true;
      row.background = {SemanticColor::accent, 1};
      row.titlePaint = {SemanticColor::white, 1};
    }
    view.rows.push_back(row);
  }
  if (count > 0) view.selectedID = view.rows[static_cast<std::size_t>(selected)].windowID;
  view.hints = {{"↩", "Switch"}, {"⌘1–9", "Jump"}, {"↑↓", "Select"}, {"esc", "Close"}};
  return view;
}

/// A row's frame in the panel while the list is scrolled to the top.
QRect rowRect(int index) {
  const int top = static_cast<int>(kBodyTop + 6 + index * 39);
  return {6, top, 588, 38};
}

int differing(const QImage& a, const QImage& b, const QRect& area) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) count += a.pixel(x, y) != b.pixel(x, y);
  }
  return count;
}

bool isAccent(const QColor& colour) {
  const QColor accent =
      QColor::fromRgbF(theme::kAccent.red, theme::kAccent.green, theme::kAccent.blue);
  return std::abs(colour.red() - accent.red()) <= 2 && std::abs(colour.blue() - accent.blue()) <= 2;
}

class QtPalettePanelTest : public ::testing::Test {
 protected:
  QtPalettePanelTest() {
    panel.setQueryHandler([this](const std::string& text) { queries.push_back(text); });
    panel.setRowClickHandler([this](int row, int count) { clicks.emplace_back(row, count); });
  }

  QImage rendered() {
    QWidget& window = *panel.window();
    QImage image(window.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    window.render(&image);
    return image;
  }

  qt::QtPalettePanel panel{nullptr, [] { return false; }};
  std::vector<std::string> queries;
  std::vector<std::pair<int, int>> clicks;
};

TEST_F(QtPalettePanelTest, MatchedCharactersAreHighlightedInTheirRowOnly) {
  auto view = describe(5);
  view.query = "qr";
  panel.show(view);
  const QImage plain = rendered();
  EXPECT_EQ(panel.window()->geometry(), QRect(40, 30, 600, 420));
  EXPECT_TRUE(isAccent(plain.pixelColor(rowRect(0).topLeft() + QPoint(4, 19))));

  // "Q" and the "r" of "report", on the selected row and on another one.
  for (const int row : {0, 2}) {
    auto matched = view;
    matched.rows[static_cast<std::size_t>(row)].titleMatches = {{0, 1}, {10, 1}};
    panel.show(matched);
    const QImage image = rendered();
    EXPECT_GT(differing(plain, image, rowRect(row)), 0) << "row " << row;
    EXPECT_EQ(differing(plain, image, image.rect()), differing(plain, image, rowRect(row)));
    if (row == 2) {
      QDir().mkpath(QStringLiteral("artifacts"));
      image.save(QStringLiteral("artifacts/palette.png"));
    }
  }
  EXPECT_EQ(panel.searchField()->text(), QStringLiteral("qr"));
}

TEST_F(QtPalettePanelTest, ALongListScrollsTheSelectionIntoViewAndReportsClicksByIndex) {
  auto view = describe(1000, 999);
  panel.show(view);
  QWidget* list = panel.window()->childAt(300, 300);
  ASSERT_NE(list, nullptr);
  // The last row sits at the bottom of the list, where the accent now shows.
  const QImage image = rendered();
  const int bodyBottom = 420 - 28 - 1;
  EXPECT_TRUE(isAccent(image.pixelColor(10, bodyBottom - 8 - 19)));
  EXPECT_FALSE(isAccent(image.pixelColor(10, rowRect(0).center().y())));

  QTest::mouseClick(list, Qt::LeftButton, {},
                    list->mapFrom(panel.window(), QPoint(20, bodyBottom - 8 - 19)));
  QTest::mouseDClick(list, Qt::LeftButton, {},
                     list->mapFrom(panel.window(), QPoint(20, bodyBottom - 8 - 19)));
  ASSERT_FALSE(clicks.empty());
  EXPECT_EQ(clicks.front(), std::make_pair(999, 1));
  EXPECT_EQ(clicks.back(), std::make_pair(999, 2));
}

TEST_F(QtPalettePanelTest, TheMessageReplacesTheList) {
  auto view = describe(0);
  panel.show(view);
  const QImage empty = rendered();
  const QRect body(0, 50, 600, 330);
  view.message = PaletteMessageView{"magnifyingglass", "No matches", "Try a different search."};
  panel.show(view);
  EXPECT_GT(differing(empty, rendered(), body), 200);
  EXPECT_EQ(differing(empty, rendered(), QRect(0, 0, 600, 40)), 0) << "the search row stays";
}

TEST_F(QtPalettePanelTest, EditsAreReportedAndAnUnchangedQueryKeepsTheCaret) {
  panel.show(describe(3));
  QLineEdit* field = panel.searchField();
  QTest::keyClicks(field, "rep");
  EXPECT_EQ(queries, (std::vector<std::string>{"r", "re", "rep"}));
  field->setCursorPosition(1);
  auto view = describe(3);
  view.query = "rep";
  panel.show(view);
  EXPECT_EQ(field->cursorPosition(), 1);
  EXPECT_EQ(queries.size(), 3u) << "the core's own text is no edit";
}

/// A grab that answers as scripted, and can be lost on request.
class ScriptedGrab final : public InputGrab {
 public:
  Outcome take(std::uint32_t) override {
    ++takes;
    const Outcome outcome = answers.empty() ? Outcome::taken : answers.front();
    if (!answers.empty()) answers.erase(answers.begin());
    held = outcome == Outcome::taken;
    return outcome;
  }
  void release() override { held = false; }
  bool isHeld() const override { return held; }
  void setLostHandler(std::function<void()> handler) override { lost = std::move(handler); }
  void lose() {
    held = false;
    lost();
  }

  std::vector<Outcome> answers;
  int takes = 0;
  bool held = false;
  std::function<void()> lost;
};

TEST(QtPaletteGrabTest, ABusyKeyboardIsRetriedThenResignedOnceAndALostHoldIsNotTakenBack) {
  using Outcome = InputGrab::Outcome;
  struct Case {
    const char* what;
    std::vector<Outcome> answers;
    int takes;
    int resignations;
    std::size_t logLines;
  };
  const int attempts = qt::QtPalettePanel::kGrabAttempts;
  const Case cases[] = {
      {"taken at once", {}, 1, 0, 0},
      {"free on the third try", {Outcome::busy, Outcome::busy}, 3, 0, 0},
      {"held elsewhere throughout", std::vector<Outcome>(attempts, Outcome::busy), attempts, 1, 1},
      {"no display", {Outcome::failed}, 1, 1, 1},
  };
  for (const Case& c : cases) {
    ScriptedGrab grab;
    grab.answers = c.answers;
    std::vector<std::string> log;
    qt::QtPalettePanel panel(
        &grab, [] { return false; }, [&](std::string_view line) { log.emplace_back(line); });
    int resignations = 0;
    panel.setResignHandler([&] {
      ++resignations;
      panel.hide();
    });
    panel.show(describe(3));
    EXPECT_TRUE(QTest::qWaitFor([&] { return grab.held || resignations > 0; }, 5000)) << c.what;
    EXPECT_EQ(grab.takes, c.takes) << c.what;
    EXPECT_EQ(resignations, c.resignations) << c.what;
    EXPECT_EQ(log.size(), c.logLines) << c.what;
    if (!grab.held) continue;

    // Lost, then repainted before the loss is reported: reported all the same, not re-taken.
    grab.lose();
    panel.show(describe(3));
    EXPECT_TRUE(QTest::qWaitFor([&] { return resignations == 1; }, 5000)) << c.what;
    EXPECT_EQ(grab.takes, c.takes) << c.what;
  }
}

TEST(PaletteTextTest, ByteRangesBecomeUtf16RangesAndControlsNeverReachThePainter) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<TextRange> bytes;
    std::vector<std::pair<int, int>> utf16;
  };
  const Case cases[] = {
      {"ascii", "report", {{0, 1}, {2, 3}}, {{0, 1}, {2, 3}}},
      {"two-byte letters", "café au", {{3, 2}, {6, 2}}, {{3, 1}, {5, 2}}},
      {"outside the basic plane", "a😀b", {{1, 4}, {5, 1}}, {{1, 2}, {3, 1}}},
      {"right to left", "שלום x", {{0, 4}, {9, 1}}, {{0, 2}, {5, 1}}},
      {"past the end", "ab", {{1, 10}, {5, 1}}, {{1, 1}}},
  };
  for (const Case& c : cases) EXPECT_EQ(qt::utf16Ranges(c.text, c.bytes), c.utf16) << c.what;

  const QString safe = qt::paintableText("a\tb\nc\x1b[0m\u202Ed");
  EXPECT_EQ(safe.size(), 11);  // one for one
  for (const QChar c : safe) EXPECT_NE(c.category(), QChar::Other_Control);
  EXPECT_FALSE(safe.contains(QChar(0x202E)));
}

}  // namespace
}  // namespace tolvane
