// The real `tolvane` on a private headless GNOME Shell, as scenarios: the windows each starts
// with, then steps (keys typed through Mutter's remote desktop, the window expected focused, the
// log line awaited) that the one driver runs in order. The session's own rows come first:
// windows, focus, GNOME's own switcher and pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "desktops/driver/compositor_suite.h"
#include "desktops/gnome/support/gnome_session.h"

namespace tolvane::test {
namespace {

struct Scenario {
  std::string name;
  /// "app" or "app:title", opened in order (so the last is focused); "typing" is the window
  /// that records what it is typed.
  std::vector<std::string> windows;
  Steps steps;
};

/// The test client paints its windows this grey.
constexpr std::uint8_t kClientGrey = 0x80;

/// How many of the picture's pixels have the test client's grey.
std::size_t greyPixels(const Picture& picture) {
  std::size_t grey = 0;
  for (std::size_t at = 0; at + 3 <= picture.rgb.size(); at += 3) {
    grey += std::all_of(&picture.rgb[at], &picture.rgb[at + 3],
                        [](std::uint8_t value) { return value == kClientGrey; });
  }
  return grey;
}

void PrintTo(const Scenario& scenario, std::ostream* out) {
  *out << scenario.name;
}

class GnomeDesktop : public ::testing::TestWithParam<Scenario>, public CompositorSuite {
 protected:
  GnomeDesktop() : CompositorSuite(gnome, {}) { addActions(); }

  void SetUp() override {
    if (std::system("command -v gnome-shell > /dev/null")) {
      GTEST_SKIP() << "gnome-shell is not installed";
    }
    ASSERT_TRUE(gnome.start()) << gnome.error();
    for (const auto& window : GetParam().windows) {
      const auto colon = window.find(':');
      const std::string app = window.substr(0, colon);
      const std::string title = colon == std::string::npos ? app : window.substr(colon + 1);
      std::vector<std::string> flags;
      if (app == "typing") flags = {"--record", openTypingRecord()};
      ASSERT_TRUE(gnome.openWindow(app, title, flags)) << window << " focused: " << gnome.focused();
    }
  }

  void TearDown() override { tolvane.reset(); }
  void run(const Steps& steps) { verbs_.run(steps); }

  GnomeSession gnome{TOLVANE_WAYLAND_TEST_CLIENT, TOLVANE_GNOME_REMOTE_KEYS,
                     TOLVANE_GNOME_TEST_EXTENSION};

 private:
  void addActions();
  StepDriver verbs_{*this};
};

// What the user, the desktop and the session do.
void GnomeDesktop::addActions() {
  verbs_["minimize"] = [this](const Step& s) {
    ASSERT_TRUE(gnome.runOnEach(s.arg, "w.minimize();"));
  };
  // The screenshot covers the virtual monitor, and the test client's windows show in it over
  // the desktop: at least n whole windows of 32x32, and not the whole screen.
  verbs_["shows"] = [this](const Step& s) {
    const auto picture = gnome.screenshot(s.arg);
    ASSERT_TRUE(picture) << "no picture taken";
    EXPECT_EQ(picture->width, 1280);
    EXPECT_EQ(picture->height, 800);
    const std::size_t grey = greyPixels(*picture);
    EXPECT_GE(grey, std::size_t(s.n) * 32 * 32);
    EXPECT_LT(grey, picture->rgb.size() / 3 / 2);
  };
}

TEST_P(GnomeDesktop, Runs) {
  run(GetParam().steps);
}

// --- The session itself, without Tolvane ----------------------------------------------------

std::vector<Scenario> session() {
  return {
      // Minimizing the focused window hands the focus to the one below, as closing does.
      {"GnomeSession_ThePagersVerbsMoveTheFocus",
       {"one", "two", "three"},
       {"minimize three", "focused two", "focus one", "focused one", "close one", "focused two",
        "stays two"}},
      // GNOME's own switcher while no other holds the keys; keys typed after an earlier key
      // tool's end still reach the window.
      {"GnomeSession_AltTabSwitchesToThePreviousWindowAndKeysReachIt",
       {"typing", "one"},
       {"keys -M alt -k Tab -m alt", "focused typing", "keys abc", "typed abc"}},
      {"GnomeSession_AScreenshotShowsTheWindows", {"one", "two"}, {"shows:2 gnome-desktop"}},
  };
}

INSTANTIATE_TEST_SUITE_P(GnomeSession, GnomeDesktop, ::testing::ValuesIn(session()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tolvane::test
