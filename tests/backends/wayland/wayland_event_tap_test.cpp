// The Wayland tap against a fake session surface: what the core hears from trigger bindings
// and from the surface's keyboard, and when the surface holds the keyboard.
#include "backends/wayland/wayland_event_tap.h"

#include "backends/wayland/compositor_triggers.h"

#include <gtest/gtest.h>

#include <sstream>

#include "backends/sim/sim_clock.h"
#include "backends/sim/sim_run_loop.h"
#include "backends/sway/trigger_bindings.h"
#include "model/key_codes.h"

namespace tolvane::wayland {
namespace {

class FakeKeyboard final : public SessionKeyboard {
 public:
  void setHandler(Handler handler) override { handler_ = std::move(handler); }
  bool hold() override { return held_ = true; }
  void release() override { held_ = false; }
  bool isHeld() const override { return held_; }
  bool releaseFromAnyThread() override { return std::exchange(held_, false); }

  Handler handler_;
  bool held_ = false;
};

std::string describe(const KeyEvent& event) {
  std::string flags;
  if (event.flags & eventflags::kCommand) flags += "C";
  if (event.flags & eventflags::kShift) flags += "S";
  switch (event.type) {
    case KeyEventType::flagsChanged:
      return "flags:" + (flags.empty() ? "-" : flags);
    case KeyEventType::keyDown:
      return "down:" + std::to_string(event.keyCode) + ":" + flags;
    case KeyEventType::keyUp:
      return "up:" + std::to_string(event.keyCode);
    default:
      return "disabled";
  }
}

struct Row {
  const char* name;
  /// Steps, each after a comma: "trigger WORD", "enter [super] [shift]", "mods [super]", "key XKB
  /// KEYSYM", "lost", "gone" (the seat's keyboard went away), "advance SECONDS", "let-go", "held"
  /// (heard as "held" or "free"). The loop turns once after the last step.
  const char* steps;
  /// Every event the core heard, in order.
  std::string heard;
  bool heldAtEnd = false;
};

HeldModifiers modifiers(std::istringstream& words) {
  HeldModifiers held;
  for (std::string word; words >> word;) {
    if (word == "super") held.super = true;
    if (word == "shift") held.shift = true;
  }
  return held;
}

class WaylandEventTapTest : public ::testing::TestWithParam<Row> {
 protected:
  void run(const Row& row) {
    std::istringstream steps(row.steps);
    for (std::string step; std::getline(steps, step, ',');) {
      std::istringstream words(step);
      std::string verb;
      words >> verb;
      if (verb == "trigger") {
        std::string word;
        words >> word;
        EXPECT_TRUE(triggers_.handOff("trigger " + word));
      } else if (verb == "enter") {
        keyboard_.handler_.entered(modifiers(words), {});
      } else if (verb == "mods") {
        keyboard_.handler_.modifiers(modifiers(words));
      } else if (verb == "key") {
        SessionKey key;
        words >> key.xkbKeycode >> key.keysym;
        keyboard_.handler_.key(key, true);
      } else if (verb == "lost") {
        keyboard_.held_ = false;
        keyboard_.handler_.lost();
      } else if (verb == "gone") {
        keyboard_.handler_.gone();
      } else if (verb == "advance") {
        double seconds = 0;
        words >> seconds;
        loop_.advance(seconds);
      } else if (verb == "let-go") {
        EXPECT_TRUE(tap_.releaseFromAnyThread());
      } else if (verb == "held") {
        heard_ += keyboard_.held_ ? " held" : " free";
      }
    }
  }

  sim::SimClock clock_;
  sim::SimRunLoop loop_{clock_};
  FakeKeyboard keyboard_;
  std::optional<TriggerBindings::Refusal> refusal_;
  std::vector<sway::Binding> installed_;
  WaylandEventTap tap_{{.install =
                            [this](const std::vector<sway::Binding>& bindings) {
                              installed_ = bindings;
                              return refusal_;
                            },
                        .remove = [this] { installed_.clear(); }},
                       keyboard_,
                       loop_,
                       [] { return sway::triggerBindings({.interceptTab = true}); },
                       [](std::string_view) {}};
  WaylandHotKeys hotKeys_{{}};
  CompositorTriggers triggers_{tap_, hotKeys_};
  std::string heard_;

  bool create() {
    return tap_.create([this](const KeyEvent& event) {
      heard_ += (heard_.empty() ? "" : " ") + describe(event);
      // As the engine does: the modifier's release ends the session.
      if (event.type == KeyEventType::flagsChanged && !(event.flags & eventflags::kCommand)) {
        tap_.sessionEnded();
      }
      return TapVerdict::consume;
    });
  }
};

TEST_P(WaylandEventTapTest, Hears) {
  ASSERT_TRUE(create());
  run(GetParam());
  loop_.advance(0);
  EXPECT_EQ(heard_, GetParam().heard);
  EXPECT_EQ(keyboard_.held_, GetParam().heldAtEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, WaylandEventTapTest,
    ::testing::Values(
        // A tap released before the surface had the keyboard is seen at enter and commits. The
        // surface goes one turn later, after the activation the commit asks for.
        Row{"QuickTapSeenAtEnter", "trigger next, enter, held",
            "flags:C down:48:C up:48 flags:- held"},
        // A press in that turn starts on a fresh surface, which the old one's release spares.
        Row{"PressBeforeTheSurfaceWent", "trigger next, enter, trigger next, enter super",
            "flags:C down:48:C up:48 flags:- flags:C down:48:C up:48", true},
        Row{"TabTabThenRelease", "trigger next, enter super, trigger next, mods",
            "flags:C down:48:C up:48 down:48:C up:48 flags:-"},
        Row{"PreviousCarriesShift", "trigger previous, enter super", "flags:C down:48:CS up:48",
            true},
        // Digits by position: AZERTY's 1 key types "&" (0x26).
        Row{"DigitByPosition", "trigger next, enter super, key 10 38",
            "flags:C down:48:C up:48 down:18:C", true},
        Row{"EscapeBySymbol", "trigger next, enter super, key 9 65307",
            "flags:C down:48:C up:48 down:53:C", true},
        // The modifier is assumed down until the keyboard says otherwise, but not for ever.
        Row{"KeyboardNeverArrives", "trigger next, advance 0.9", "flags:C down:48:C up:48", true},
        Row{"KeyboardNeverArrivesEnds", "trigger next, advance 1.0",
            "flags:C down:48:C up:48 flags:-"},
        Row{"SurfaceLost", "trigger next, enter super, lost", "flags:C down:48:C up:48 flags:-"},
        // A keyboard that went held no key any more: the session commits and its surface goes
        // at once, entered or not, rather than a turn later or after the arrival timeout.
        Row{"KeyboardGoneMidSession", "trigger next, enter super, gone, held",
            "flags:C down:48:C up:48 flags:- free"},
        Row{"KeyboardGoneBeforeItArrived", "trigger next, gone, held",
            "flags:C down:48:C up:48 flags:- free"},
        // After the watchdog let go, the next press only tells the core; it starts nothing.
        Row{"PressAfterLetGo", "trigger next, enter super, let-go, trigger next",
            "flags:C down:48:C up:48 disabled"},
        Row{"UnboundTriggerIgnored", "trigger app-next", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WaylandEventTapTest, ARefusedBindingLeavesTheTapOffAndDisablingRemovesTheBindings) {
  refusal_ = TriggerBindings::Refusal{"Mod4+Tab", "Mod4+Tab is bound in sway's configuration"};
  EXPECT_FALSE(create());
  EXPECT_FALSE(tap_.isEnabled());
  EXPECT_EQ(tap_.failedCombination(), "Mod4+Tab");
  EXPECT_EQ(tap_.failureReason(), "Mod4+Tab is bound in sway's configuration");
  triggers_.fire(Trigger::next);
  EXPECT_FALSE(keyboard_.held_);
  // Enabled again once the combination is free; disabled, the tap takes the bindings back and
  // ends its hold.
  refusal_.reset();
  tap_.setEnabled(true);
  EXPECT_EQ(installed_.size(), 2u);
  triggers_.fire(Trigger::next);
  ASSERT_TRUE(keyboard_.held_);
  tap_.setEnabled(false);
  EXPECT_TRUE(installed_.empty());
  EXPECT_FALSE(keyboard_.held_);
}

TEST_F(WaylandEventTapTest, APaletteHandOffPressesTheHotKeyAndOtherMessagesPassOn) {
  ASSERT_TRUE(create());
  int pressed = 0;
  ASSERT_TRUE(hotKeys_.registerHotKey(keycode::kSpace, 2048, [&] { ++pressed; }));
  EXPECT_TRUE(triggers_.handOff("trigger palette"));
  EXPECT_TRUE(triggers_.handOff("trigger sideways"));
  EXPECT_FALSE(triggers_.handOff("show-settings"));
  EXPECT_EQ(pressed, 1);
  EXPECT_EQ(heard_, "");
}

}  // namespace
}  // namespace tolvane::wayland
