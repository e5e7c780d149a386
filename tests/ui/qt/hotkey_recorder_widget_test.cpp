// The recorder widget: sizes of its parts, what a click reaches, and leaving the screen.
#include "ui/qt/hotkey_recorder_widget.h"

#include <gtest/gtest.h>

#include <QTest>

namespace tolvane::qt {
namespace {

HotkeyRecorderView chips(std::vector<std::string> parts, bool reset) {
  HotkeyRecorderView view;
  view.chips = std::move(parts);
  view.showsReset = reset;
  return view;
}

TEST(HotkeyRecorderWidgetTest, ChipsAreAtLeastTwentyWideAndSitInsideTheRecorder) {
  const QFont font;
  const auto geometry = recorderGeometry(chips({"Ctrl", "Shift", "Space"}, false), font);
  ASSERT_EQ(geometry.chips.size(), 3u);
  EXPECT_EQ(geometry.recorder.height(), HotkeyRecorderView::kHeight);
  for (const QRectF& chip : geometry.chips) {
    EXPECT_GE(chip.width(), KeyChipStyle::kMinWidth);
    EXPECT_EQ(chip.height(), KeyChipStyle::kHeight);
    EXPECT_TRUE(geometry.recorder.contains(chip));
  }
  EXPECT_GT(geometry.chips[2].width(), geometry.chips[0].width());  // "Space" is wider
  EXPECT_EQ(geometry.chips[0].left(), 6);
  EXPECT_TRUE(geometry.reset.isEmpty());

  HotkeyRecorderView recording;
  recording.recording = true;
  recording.prompt = "Type shortcut…";
  recording.horizontalInset = 10;
  const auto prompt = recorderGeometry(recording, font);
  EXPECT_TRUE(prompt.chips.empty());
  EXPECT_GT(prompt.recorder.width(), 20);
}

TEST(HotkeyRecorderWidgetTest, ClicksReachTheRecorderOrTheResetButtonAndHidingIsReported) {
  HotkeyRecorderWidget widget;
  int clicks = 0, resets = 0, hides = 0;
  widget.setClickHandler([&] { ++clicks; });
  widget.setResetHandler([&] { ++resets; });
  widget.setHiddenHandler([&] { ++hides; });
  widget.setView(chips({"Alt", "Space"}, true));
  widget.show();
  const auto geometry = recorderGeometry(widget.view(), widget.font());
  EXPECT_EQ(widget.size(), geometry.size.toSize());

  QTest::mouseClick(&widget, Qt::LeftButton, {}, geometry.chips[1].center().toPoint());
  QTest::mouseClick(&widget, Qt::LeftButton, {}, geometry.reset.center().toPoint());
  QTest::mouseClick(&widget, Qt::RightButton, {}, geometry.chips[0].center().toPoint());
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(resets, 1);

  widget.setView(chips({"Alt", "Space"}, false));  // no reset button: its place does nothing
  QTest::mouseClick(&widget, Qt::LeftButton, {}, geometry.reset.center().toPoint());
  EXPECT_EQ(resets, 1);
  widget.hide();
  EXPECT_EQ(hides, 1);
}

}  // namespace
}  // namespace tolvane::qt
