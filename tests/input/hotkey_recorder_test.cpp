// The hot-key recorder: what a key press while recording does to the stored combination, and
// what the control shows.
#include "input/hotkey_recorder.h"

#include <gtest/gtest.h>

#include "backends/sim/sim_key_monitor.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;
constexpr std::uint64_t kCapsLock = 0x10000;

struct HotkeyRecorderTest : ::testing::Test, test::WindowServices {
  std::pair<std::int64_t, std::int64_t> stored() const {
    return {*preferences.intValue("paletteKeyCode"), *preferences.intValue("paletteModifiers")};
  }

  sim::SimKeyMonitor monitor;
  sim::SimUserInteraction interaction;
  HotkeyRecorder recorder{{settings, monitor, interaction, l10n}};
};

TEST_F(HotkeyRecorderTest, AKeyPressWhileRecordingStoresAValidCombinationOrBeeps) {
  struct Row {
    const char* what;
    std::uint16_t keyCode;
    std::uint64_t flags;
    bool stillRecording;
    int beeps;
    std::optional<std::pair<std::int64_t, std::int64_t>> stored;
  };
  const Row rows[] = {
      {"Control-Shift-K", 40, eventflags::kControl | eventflags::kShift, false, 0, {{40, 4608}}},
      {"Shift-Escape is a combination", 53, eventflags::kShift, false, 0, {{53, 512}}},
      {"Escape alone cancels", 53, 0, false, 0, std::nullopt},
      {"a plain letter", 0, 0, true, 1, std::nullopt},
      {"Caps Lock is no modifier", 0, kCapsLock, true, 1, std::nullopt},
      {"Control-F13 has no name", 105, eventflags::kControl, true, 1, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    settings.setPaletteKeyCode(7);
    settings.setPaletteModifiers(256);
    registered.clear();
    interaction.beeps = 0;
    recorder.click();
    EXPECT_TRUE(monitor.press(row.keyCode, row.flags));  // never reaches the window
    EXPECT_EQ(recorder.isRecording(), row.stillRecording);
    EXPECT_EQ(monitor.monitorCount(), row.stillRecording ? 1u : 0u);
    EXPECT_EQ(interaction.beeps, row.beeps);
    EXPECT_EQ(stored(), row.stored.value_or(std::pair<std::int64_t, std::int64_t>{7, 256}));
    if (row.stored) {
      // The key code is assigned (and applied) first, then the mask.
      EXPECT_EQ(registered.size(), 2u);
      EXPECT_EQ(registered.back(),
                (std::pair<std::uint32_t, std::uint32_t>(row.stored->first, row.stored->second)));
    } else {
      EXPECT_TRUE(registered.empty());
    }
    recorder.leftScreen();
    EXPECT_EQ(monitor.monitorCount(), 0u);
  }
}

TEST_F(HotkeyRecorderTest, ShowsChipsOrPromptResetsOnlyCustomCombosAndLetsGoWhenClosed) {
  EXPECT_EQ(recorder.view().chips, (Strings{"Alt", "Space"}));
  EXPECT_FALSE(recorder.view().showsReset);

  recorder.click();
  const auto recording = recorder.view();
  EXPECT_TRUE(recording.recording);
  EXPECT_TRUE(recording.chips.empty());
  EXPECT_EQ(recording.prompt, "Type shortcut…");
  recorder.click();  // a second click stops without a change
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_FALSE(monitor.press(40, eventflags::kControl));

  recorder.click();
  monitor.press(40, eventflags::kControl | eventflags::kCommand);
  const auto customized = recorder.view();
  EXPECT_EQ(customized.chips, (Strings{"Ctrl", "Super", "K"}));
  EXPECT_TRUE(customized.showsReset);
  EXPECT_TRUE(customized.prompt.empty());

  recorder.reset();
  EXPECT_EQ(stored(), (std::pair<std::int64_t, std::int64_t>{49, 2048}));
  EXPECT_FALSE(recorder.isCustomized());
  EXPECT_EQ(registered.back(), (std::pair<std::uint32_t, std::uint32_t>{49, 2048}));

  // Closed while recording: the monitor goes with it.
  {
    HotkeyRecorder closing{{settings, monitor, interaction, l10n}};
    closing.click();
    EXPECT_EQ(monitor.monitorCount(), 1u);
  }
  EXPECT_EQ(monitor.monitorCount(), 0u);
}

}  // namespace
}  // namespace tolvane
