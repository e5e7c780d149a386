// The palette hot key: one registration at a time, presses, and refusals told once.
#include "input/global_hotkey.h"

#include <gtest/gtest.h>

#include "backends/sim/sim_hot_keys.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

constexpr std::uint32_t kSpace = 49;
constexpr std::uint32_t kK = 40;
constexpr std::uint32_t kOption = 2048;
constexpr std::uint32_t kControlShift = 4096 + 512;

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
