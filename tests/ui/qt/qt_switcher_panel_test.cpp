// The HUD as the user sees it: the painted panel, its window, hover and clicks.
#include "ui/qt/qt_switcher_panel.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "settings/theme.h"
#include "ui/qt/test_support.h"

namespace tolvane {
namespace {

using Slot = SwitcherSlotView;

QRect rectOf(const Slot& slot) {
  return QRect(static_cast<int>(slot.frame.x), static_cast<int>(slot.frame.y),
               static_cast<int>(slot.frame.width), static_cast<int>(slot.frame.height));
}

bool sameColour(const QColor& a, const QColor& b) {
  constexpr int kTolerance = 2;
  return std::abs(a.red() - b.red()) <= kTolerance &&
         std::abs(a.green() - b.green()) <= kTolerance &&
         std::abs(a.blue() - b.blue()) <= kTolerance &&
         std::abs(a.alpha() - b.alpha()) <= kTolerance;
}

/// Pixels that differ between two renderings, inside and outside `area`.
std::pair<int, int> differences(const QImage& a, const QImage& b, const QRect& area) {
  int inside = 0;
  int outside = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) ++(area.contains(x, y) ? inside : outside);
    }
  }
  return {inside, outside};
}

// A point in the slot's left padding, where nothing but its background is painted.
QPoint paddingOf(const Slot& slot) {
  return {rectOf(slot).left() + 4, rectOf(slot).center().y()};
}

class QtSwitcherPanelTest : public ::testing::Test, protected test::EnglishSwitcher {
 protected:
  QtSwitcherPanelTest() {
    panel.setClickHandler([this](int index) { clicks.push_back(index); });
  }

  QWidget& window() { return *panel.window(); }

  /// The window as it reaches the screen: painted over nothing, cut by its mask when it has one.
  QImage rendered() {
    QImage image(window().size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    window().render(&image);
    return image;
  }

  bool compositor = false;
  qt::QtSwitcherPanel panel{[this] { return compositor; }};
  std::vector<int> clicks;
};

TEST_F(QtSwitcherPanelTest, WindowTakesTheDescribedFrameNeverFocusAndKeepsItsPlaceWithoutAFrame) {
  EXPECT_EQ(panel.window(), nullptr);  // nothing is created before the first show
  panel.show(describe(5, 0));
  ASSERT_TRUE(panel.isVisible());
  EXPECT_EQ(window().geometry(), QRect(40, 30, 560, 228));
  const Qt::WindowFlags flags = window().windowFlags();
  for (const Qt::WindowType flag : {Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
                                    Qt::WindowDoesNotAcceptFocus, Qt::X11BypassWindowManagerHint}) {
    EXPECT_TRUE(flags.testFlag(flag)) << flag;
  }
  EXPECT_TRUE(window().testAttribute(Qt::WA_ShowWithoutActivating));

  auto unplaced = describe(10, 0);
  unplaced.frame.reset();
  panel.show(unplaced);
  EXPECT_EQ(window().geometry(), QRect(40, 30, 560, 438));

  panel.hide();
  EXPECT_FALSE(panel.isVisible());
}

TEST_F(QtSwitcherPanelTest, EachFieldOfARowChangesThatRowAndNothingElse) {
  struct Case {
    const char* field;
    std::function<void(Slot&)> change;
  };
  const Paint warn{SemanticColor::warn, 1};
  const Case cases[] = {
      {"title", [](Slot& s) { s.title = "Quarterly figures"; }},
      {"title font size", [](Slot& s) { s.titleFontSize = 16; }},
      {"title suffix", [](Slot& s) { s.titleSuffix = " — Editor"; }},
      {"minimized marker", [](Slot& s) { s.minimizedMarker = true; }},
      {"application name", [](Slot& s) { s.appName.reset(); }},
      {"badge number", [](Slot& s) { s.badgeNumber = 7; }},
      {"badge fill", [&](Slot& s) { s.badgeFill = warn; }},
      {"icon size", [](Slot& s) { s.iconSize = 16; }},
      {"background", [&](Slot& s) { s.background = warn; }},
  };
  const auto base = describe(5, 0);
  ASSERT_FALSE(base.slots[2].minimizedMarker);
  panel.show(base);
  const QImage before = rendered();
  for (const Case& c : cases) {
    auto view = base;
    c.change(view.slots[2]);
    panel.show(view);
    const auto [inside, outside] = differences(before, rendered(), rectOf(view.slots[2]));
    EXPECT_GT(inside, 0) << c.field << " is not painted";
    EXPECT_EQ(outside, 0) << c.field << " is painted outside its row";
  }
}

TEST_F(QtSwitcherPanelTest, TheSelectedRowIsFilledAndHoverTintsOnlyAnotherRowUnderThePointer) {
  const auto view = describe(5, 0);
  panel.show(view);
  const QImage plain = rendered();
  const QColor accent =
      QColor::fromRgbF(theme::kAccent.red, theme::kAccent.green, theme::kAccent.blue);
  EXPECT_TRUE(sameColour(plain.pixelColor(paddingOf(view.slots[0])), accent));
  EXPECT_TRUE(sameColour(plain.pixelColor(paddingOf(view.slots[2])),
                         window().palette().color(QPalette::Window)));

  QTest::mouseMove(&window(), rectOf(view.slots[2]).center());
  const auto [inside, outside] = differences(plain, rendered(), rectOf(view.slots[2]));
  EXPECT_GT(inside, 0);
  EXPECT_EQ(outside, 0);
  // Over the selected row the tint goes, and the selection shows as it was.
  QTest::mouseMove(&window(), rectOf(view.slots[0]).center());
  EXPECT_EQ(differences(plain, rendered(), {}), std::make_pair(0, 0));
}

TEST_F(QtSwitcherPanelTest, ClickOnARowReportsItsIndexAndTheOverflowTileNothing) {
  const auto view = describe(30, 0, {800, 400});
  panel.show(view);
  // The slot clicked, and the indexes reported.
  const std::pair<std::size_t, std::vector<int>> cases[] = {
      {0, {0}},                     // first column, top
      {10, {10}},                   // second column
      {view.slots.size() - 1, {}},  // the overflow tile
  };
  for (const auto& [slot, reported] : cases) {
    clicks.clear();
    QTest::mouseClick(&window(), Qt::LeftButton, {}, rectOf(view.slots[slot]).center());
    EXPECT_EQ(clicks, reported) << "slot " << slot;
  }

  // Pressing one row and letting go over another is no click.
  clicks.clear();
  QTest::mousePress(&window(), Qt::LeftButton, {}, rectOf(view.slots[1]).center());
  QTest::mouseRelease(&window(), Qt::LeftButton, {}, rectOf(view.slots[2]).center());
  EXPECT_TRUE(clicks.empty());
}

}  // namespace
}  // namespace tolvane
