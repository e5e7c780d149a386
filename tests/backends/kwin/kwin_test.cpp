// Tolvane's side of KWin without KWin: the key names KWin is given, the script's settings, and
// the precomposed call of a crash or a stall, sent through a real bus to a real receiver.
#include <poll.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "backends/kwin/emergency_call.h"
#include "backends/kwin/kwin_bus.h"
#include "backends/kwin/kwin_keys.h"
#include "backends/kwin/kwin_script.h"
#include "support/keyring_session.h"

namespace tolvane::kwin {
namespace {

TEST(KWinKeysTest, SwayCombosBecomeKWinSequencesAndQtNumbers) {
  const struct {
    const char* sway;
    const char* sequence;  // nullptr: no name in KWin
    int qtKey;
  } rows[] = {
      {"Mod4+Tab", "Meta+Tab", 0x10000000 | 0x01000001},
      {"Mod4+Shift+Tab", "Meta+Shift+Backtab", 0x10000000 | 0x02000000 | 0x01000002},
      {"Mod4+grave", "Meta+`", 0x10000000 | 0x60},
      // Qt folds Shift into the key the key above Tab types with it.
      {"Mod4+Shift+grave", "Meta+~", 0x10000000 | 0x7e},
      {"Mod1+space", "Alt+Space", 0x08000000 | 0x20},
      {"Ctrl+Mod1+p", "Ctrl+Alt+P", 0x04000000 | 0x08000000 | 'P'},
      {"Super+F5", "Meta+F5", 0x10000000 | 0x01000034},
      {"Mod4+comma", nullptr, 0},
      {"Hyper+Tab", nullptr, 0},
      {"Mod4+nosuchkey", nullptr, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.sway);
    const auto shortcut = kwinShortcutOf(row.sway);
    EXPECT_EQ(shortcut.has_value(), row.sequence != nullptr);
    if (shortcut && row.sequence) {
      EXPECT_EQ(shortcut->sequence, row.sequence);
      EXPECT_EQ(shortcut->qtKey, row.qtKey);
    }
  }
}

TEST(KWinScriptTest, TheScriptIsToldItsCallerAndOnlyTheShortcutsKWinCanName) {
  const std::string text =
      composeScript({.service = ":1.7\"",
                     .shortcuts = {{"Mod4+Tab", Trigger::next}, {"Mod4+comma", Trigger::palette}}});
  const std::string prefix = "var tolvane = ";
  ASSERT_EQ(text.rfind(prefix, 0), 0u);
  const auto settings =
      nlohmann::json::parse(text.substr(prefix.size(), text.find(";\n") - prefix.size()));
  EXPECT_EQ(settings["service"], ":1.7\"");
  EXPECT_EQ(
      settings["shortcuts"],
      nlohmann::json::parse(R"([{"name":"Tolvane: next","sequence":"Meta+Tab","word":"next"}])"));
  EXPECT_NE(text.find("registerShortcut"), std::string::npos);
}

TEST(EmergencyCallTest, ThePrecomposedCallReachesItsReceiverThroughTheBus) {
  ASSERT_EQ(test::KeyringSession::shared().problem(), "");
  std::string error;
  const auto receiver = KWinBus::connect(error);
  ASSERT_TRUE(receiver) << error;
  std::vector<std::string> words;
  ASSERT_TRUE(
      receiver->serve({.trigger = [&](std::string_view word) { words.emplace_back(word); }}));
  EmergencyCall call;
  ASSERT_TRUE(call.prepare(composeMethodCall(receiver->uniqueName(), kTriggerPath,
                                             kTriggerInterface, "Trigger", "app-previous", 9)));
  ASSERT_TRUE(call.send());
  call.disarm();
  EXPECT_FALSE(call.send());
  for (int polls = 0; polls < 100 && words.empty(); ++polls) {
    pollfd ready{receiver->fd(), POLLIN, 0};
    ::poll(&ready, 1, 100);
    ASSERT_TRUE(receiver->process());
  }
  EXPECT_EQ(words, std::vector<std::string>{"app-previous"});
}

}  // namespace
}  // namespace tolvane::kwin
