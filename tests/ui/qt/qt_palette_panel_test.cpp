// The search palette's hold on the keyboard: retried while busy, resigned once, never taken
// back after it is lost.
#include "ui/qt/qt_palette_panel.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "platform/input_grab.h"
#include "ui/qt/test_support.h"

namespace tolvane {
namespace {

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
    panel.show(test::paletteView(3));
    EXPECT_TRUE(QTest::qWaitFor([&] { return grab.held || resignations > 0; }, 5000)) << c.what;
    EXPECT_EQ(grab.takes, c.takes) << c.what;
    EXPECT_EQ(resignations, c.resignations) << c.what;
    EXPECT_EQ(log.size(), c.logLines) << c.what;
    if (!grab.held) continue;

    // Lost, then repainted before the loss is reported: reported all the same, not re-taken.
    grab.lose();
    panel.show(test::paletteView(3));
    EXPECT_TRUE(QTest::qWaitFor([&] { return resignations == 1; }, 5000)) << c.what;
    EXPECT_EQ(grab.takes, c.takes) << c.what;
  }
}

}  // namespace
}  // namespace tolvane
