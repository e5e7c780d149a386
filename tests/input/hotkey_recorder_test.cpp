// Hot-key combinations: their key names, modifier masks, chips and menu shortcuts; the
// recorder: what a key press while recording does to the stored combination, and what the
// control shows; and the palette hot key: one registration at a time, presses, and refusals
// told once.
#include "input/hotkey_recorder.h"

#include <gtest/gtest.h>

#include "backends/sim/sim_hot_keys.h"
#include "backends/sim/sim_key_monitor.h"
#include "input/global_hotkey.h"
#include "model/key_combo.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;
using Combo = std::pair<std::uint32_t, std::uint32_t>;
using namespace keycombo;
constexpr std::uint64_t kCapsLock = 0x10000;
constexpr std::uint32_t kSpace = 49;
constexpr std::uint32_t kK = 40;
constexpr std::uint32_t kOption = 2048;
constexpr std::uint32_t kControlShift = 4096 + 512;

TEST(KeyComboTest, NamesExactlyTheTableKeys) {
  std::size_t named = 0;
  for (std::uint32_t code = 0; code < 512; ++code) named += keyName(code).has_value();
  EXPECT_EQ(named, kNamedKeyCount);
  // Letters follow ANSI positions, digits their own order, F-keys theirs.
  const std::pair<std::uint32_t, const char*> rows[] = {
      {0, "A"},      {11, "B"},      {6, "Z"},        {29, "0"},
      {25, "9"},     {122, "F1"},    {111, "F12"},    {50, "`"},
      {42, "\\"},    {53, "Esc"},    {117, "Delete"}, {121, "Page Down"},
      {49, "Space"}, {36, "Return"}, {48, "Tab"},     {123, "Left"},
  };
  for (const auto& [code, name] : rows) EXPECT_EQ(keyName(code), name) << code;
}

TEST(KeyComboTest, SymbolsCarbonFlagsAndKeyEquivalents) {
  // Chips: modifiers in Ctrl, Alt, Shift, Super order, then the name or "?".
  EXPECT_EQ(symbols(49, 2048), (Strings{"Alt", "Space"}));
  EXPECT_EQ(symbols(0, 4096 + 256), (Strings{"Ctrl", "Super", "A"}));
  EXPECT_EQ(symbols(200, 0), (Strings{"?"}));
  EXPECT_EQ(symbols(53, 256 + 512 + 2048 + 4096),
            (Strings{"Ctrl", "Alt", "Shift", "Super", "Esc"}));

  constexpr std::uint64_t kFunction = 0x800000;
  const std::pair<std::uint64_t, std::uint32_t> flagRows[] = {
      {eventflags::kCommand | eventflags::kShift, 768},
      {kCapsLock | kFunction | 0xff, 0},
      {eventflags::kControl | eventflags::kOption | kCapsLock, 4096 + 2048},
  };
  for (const auto& [flags, mask] : flagRows) EXPECT_EQ(carbonFlags(flags), mask) << flags;

  // One-character names lower-cased, symbols for the editing keys the tray knows; Esc and the
  // function keys give none.
  const std::pair<std::uint32_t, std::optional<std::string>> equivalents[] = {
      {0, "a"},  {49, " "},  {53, std::nullopt}, {122, std::nullopt}, {123, "←"},
      {36, "↩"}, {121, "⇟"}, {29, "0"},          {42, "\\"},          {200, std::nullopt},
  };
  for (const auto& [code, equivalent] : equivalents) EXPECT_EQ(keyEquivalent(code), equivalent);
}

struct HotkeyRecorderTest : ::testing::Test, test::WindowServices {
  Combo stored() const {
    return Combo(*preferences.intValue("paletteKeyCode"),
                 *preferences.intValue("paletteModifiers"));
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
    bool stillRecording;  // after a beep
    std::optional<Combo> stored;
  };
  const Row rows[] = {
      {"Control-Shift-K", 40, eventflags::kControl | eventflags::kShift, false, {{40, 4608}}},
      {"Shift-Escape is a combination", 53, eventflags::kShift, false, {{53, 512}}},
      {"Escape alone cancels", 53, 0, false, std::nullopt},
      {"a plain letter", 0, 0, true, std::nullopt},
      {"Caps Lock is no modifier", 0, kCapsLock, true, std::nullopt},
      {"Control-F13 has no name", 105, eventflags::kControl, true, std::nullopt},
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
    EXPECT_EQ(interaction.beeps, row.stillRecording ? 1 : 0);
    EXPECT_EQ(stored(), row.stored.value_or(Combo{7, 256}));
    // The key code is assigned (and applied) first, then the mask.
    EXPECT_EQ(registered.size(), row.stored ? 2u : 0u);
    if (row.stored) {
      EXPECT_EQ(registered.back(), *row.stored);
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
  EXPECT_EQ(stored(), (Combo{49, 2048}));
  EXPECT_FALSE(recorder.isCustomized());
  EXPECT_EQ(registered.back(), (Combo{49, 2048}));

  // Closed while recording: the monitor goes with it.
  {
    HotkeyRecorder closing{{settings, monitor, interaction, l10n}};
    closing.click();
    EXPECT_EQ(monitor.monitorCount(), 1u);
  }
  EXPECT_EQ(monitor.monitorCount(), 0u);
}

class GlobalHotKeyTest : public ::testing::Test, protected test::SimServices {
 protected:
  GlobalHotKeyTest() {
    log.setNoticeObserver([this](std::string_view notice) { notices.emplace_back(notice); });
    hotKey.setOnTrigger([this] { ++triggers; });
  }

  std::vector<std::string> notices;  // what a user who started Tolvane in a terminal sees
  sim::SimHotKeys hotKeys;
  GlobalHotKey hotKey{hotKeys, log};
  int triggers = 0;
};

TEST_F(GlobalHotKeyTest, EachRegistrationReplacesThePreviousOneAndDestructionUnregisters) {
  hotKey.registerCombo(kSpace, kOption);
  hotKey.registerCombo(kSpace, kOption);
  ASSERT_EQ(hotKeys.registrations().size(), 1u);
  EXPECT_TRUE(hotKeys.press(kSpace, kOption));
  EXPECT_EQ(triggers, 1);

  hotKey.registerCombo(kK, kControlShift);
  EXPECT_FALSE(hotKeys.press(kSpace, kOption));
  EXPECT_TRUE(hotKeys.press(kK, kControlShift));
  EXPECT_EQ(triggers, 2);
  EXPECT_EQ(hotKeys.registrations().size(), 1u);

  // A hot key without an action takes presses and does nothing; destroyed, it unregisters.
  {
    GlobalHotKey silent(hotKeys, log);
    silent.registerCombo(kSpace, kOption);
    EXPECT_TRUE(hotKeys.press(kSpace, kOption));
  }
  EXPECT_EQ(triggers, 2);
  EXPECT_EQ(hotKeys.registrations().size(), 1u);  // the first one's own
}

TEST_F(GlobalHotKeyTest, ARefusalLeavesNoHotKeyAndIsLoggedOncePerCombination) {
  hotKeys.ownElsewhere(kSpace, kOption, "Alt+space is grabbed by another program");
  hotKey.registerCombo(kK, kControlShift);
  hotKey.registerCombo(kSpace, kOption);
  EXPECT_TRUE(hotKeys.registrations().empty());
  EXPECT_FALSE(hotKey.isRegistered());
  ASSERT_TRUE(hotKey.isRefused());
  EXPECT_EQ(*hotKey.refusal(),
            (HotKeyRefusal{kSpace, kOption, "Alt+space is grabbed by another program"}));

  // The settings apply the hot key again on each change; the log tells the story once.
  hotKey.registerCombo(kSpace, kOption);
  EXPECT_EQ(linesStartingWith("palette hotkey refused keyCode=49 modifiers=2048 "
                              "reason=Alt+space is grabbed by another program")
                .size(),
            1u);
  EXPECT_EQ(notices.size(), 1u);

  hotKeys.releaseElsewhere(kSpace, kOption);
  hotKey.registerCombo(kSpace, kOption);
  EXPECT_FALSE(hotKey.isRefused());
  EXPECT_TRUE(hotKeys.press(kSpace, kOption));
  EXPECT_EQ(triggers, 1);
}

}  // namespace
}  // namespace tolvane
