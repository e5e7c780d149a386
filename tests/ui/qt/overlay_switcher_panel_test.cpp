// The HUD painted ahead into an overlay canvas: a show of the prepared view puts up exactly what
// painting it at the show would, and a preparation that no longer matches is never shown.
#include "ui/qt/overlay_switcher_panel.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <functional>
#include <vector>

#include "ui/qt/test_support.h"

namespace tolvane {
namespace {

/// Keeps the last frame painted, as a compositor would show it.
class FrameCanvas final : public qt::OverlayCanvas {
 public:
  explicit FrameCanvas(int scale) : scale_(scale) {}

  std::optional<QRect> area() const override { return QRect(0, 0, 1280, 800); }
  int scale() const override { return scale_; }
  void paint(std::function<void(const Frame&)> painter, const QRect& bounds,
             const QRect&) override {
    // Stale pixels, as a reused buffer holds them: a frame must paint every one of its own.
    shown = QImage(bounds.size() * scale_, QImage::Format_ARGB32_Premultiplied);
    shown.fill(Qt::magenta);
    painter({reinterpret_cast<std::uint32_t*>(shown.bits()), shown.width(), shown.height(),
             static_cast<int>(shown.bytesPerLine()), scale_, bounds.x(), bounds.y()});
  }
  void clear() override { shown = QImage(); }
  void setClickHandler(std::function<void(QPointF)>) override {}
  bool holdKeyboard(KeyboardHandler) override { return false; }
  void releaseKeyboard() override {}

  QImage shown;

 private:
  int scale_;
};

class OverlaySwitcherPanelTest : public ::testing::TestWithParam<int>,
                                 protected test::EnglishSwitcher {
 protected:
  SwitcherPanelView describe(int selection) {
    return EnglishSwitcher::describe(12, selection, {1280, 800});
  }

  FrameCanvas canvas{GetParam()};
  // One part per turn of the loop, from the first: the preparation spans many painters.
  qt::OverlaySwitcherPanel panel{
      canvas, qt::AppIcons(), {}, {.firstStepMillis = 0, .stepNanos = 0}};
};

TEST_P(OverlaySwitcherPanelTest, AShowPutsUpWhatPaintingAtTheShowWouldWhateverWasPrepared) {
  struct Case {
    const char* name;
    std::vector<int> prepared;  // selections prepared in turn
    bool waitForPreparation;
    int shown;
  };
  const Case cases[] = {
      {"prepared whole", {1}, true, 1},
      {"shown halfway through preparing", {1}, false, 1},
      {"prepared again after a move", {1, 2}, true, 2},
      {"moved after preparing", {1}, true, 3},
      {"nothing prepared", {}, false, 1},
  };
  for (const Case& c : cases) {
    for (int selection : c.prepared) {
      panel.prepare(describe(selection));
      // Each turn of the loop paints one part; a bound, not a time, ends a preparation stuck.
      for (int turn = 0; c.waitForPreparation && !panel.isPrepared() && turn < 1000; ++turn) {
        QCoreApplication::processEvents();
      }
      ASSERT_EQ(panel.isPrepared(), c.waitForPreparation) << c.name;
    }
    if (!c.waitForPreparation && !c.prepared.empty()) QCoreApplication::processEvents();
    panel.show(describe(c.shown));
    // What a panel that prepared nothing shows.
    FrameCanvas unprepared(GetParam());
    qt::OverlaySwitcherPanel fresh(unprepared, qt::AppIcons());
    fresh.show(describe(c.shown));
    EXPECT_TRUE(canvas.shown == unprepared.shown) << c.name;
    EXPECT_FALSE(panel.isPrepared()) << c.name;
    panel.hide();
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, OverlaySwitcherPanelTest, ::testing::Values(1, 2));

}  // namespace
}  // namespace tolvane
