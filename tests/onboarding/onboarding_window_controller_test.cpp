// The first-run guide on the simulated desktop: where it opens, how the requirement page waits
// and moves on, what the pages show and store, and how finishing or closing it ends a showing.
#include "onboarding/onboarding_window_controller.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "backends/sim/sim_described_window.h"
#include "model/key_codes.h"
#include "model/key_combo.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

constexpr double kTick = OnboardingWindowController::kReevaluateSeconds;

class OnboardingTest : public ::testing::Test, protected test::WindowServices {
 protected:
  std::string text(std::string_view key) const { return l10n.string(key); }
  const OnboardingWindowView& shown() const { return window.view(); }

  /// Every block of type `Block` on the painted page.
  template <typename Block>
  std::vector<Block> blocks() const {
    std::vector<Block> found;
    for (const auto& block : shown().blocks) {
      if (const auto* b = std::get_if<Block>(&block)) found.push_back(*b);
    }
    return found;
  }
  std::string heading() const {
    const auto headings = blocks<OnboardingHeading>();
    return headings.empty() ? "" : headings.front().text;
  }
  bool showsText(const std::string& wanted) const {
    return std::ranges::any_of(blocks<OnboardingText>(),
                               [&](const auto& t) { return t.text == wanted; });
  }
  OnboardingRequirement requirement(const std::string& id) const {
    for (const auto& r : blocks<OnboardingRequirement>()) {
      if (r.id == id) return r;
    }
    ADD_FAILURE() << "no requirement " << id;
    return {};
  }

  /// Runs an action as a backend does: from its own copy, because the action may replace the
  /// painted description it came from.
  template <typename... Args>
  static void press(const std::function<void(Args...)>& action, Args... args) {
    ASSERT_TRUE(action);
    auto copy = action;
    copy(args...);
  }
  void pressPrimary() {
    ASSERT_TRUE(shown().primaryEnabled);
    press(shown().primary.action);
  }
  void showAndWalkTo(const std::string& title) {
    controller.show();
    for (int i = 0; i < 4 && heading() != title; ++i) pressPrimary();
    ASSERT_EQ(heading(), title);
  }

  sim::SimOnboardingWindow window;
  Permissions permissions{desktop, desktop, log};
  std::optional<std::string> keysProblem, manualBindings;
  int settingsOpened = 0;
  OnboardingWindowController controller{
      {window, settings, l10n, loop, log, desktop, permissions, [this] { return keysProblem; },
       [this] { ++settingsOpened; }, [this] { return manualBindings; }}};
};

TEST_F(OnboardingTest, OpensOnTheWelcomeOrThePermissionPageAndAnOpenGuideComesForward) {
  controller.show();
  EXPECT_EQ(shown().windowTitle, text("menu.guide"));
  EXPECT_EQ(heading(), text("onb.tagline"));
  EXPECT_EQ(shown().pageIndex, 0);
  EXPECT_FALSE(shown().back);
  EXPECT_EQ(window.broughtToFront, 1);

  // Asked again for the permission page, the same window moves there and comes forward.
  controller.show(true);
  EXPECT_EQ(heading(), text("onb.permTitle"));
  EXPECT_EQ(shown().pageIndex, 1);
  EXPECT_EQ(window.opened, 1);
  EXPECT_EQ(window.broughtToFront, 2);
}

TEST_F(OnboardingTest, AKeysProblemIsExplainedAndTheUserGoesOnPastIt) {
  keysProblem = "Super+Tab is grabbed by another program";
  controller.show(true);
  loop.advance(3 * kTick);
  EXPECT_EQ(heading(), text("onb.permTitle"));
  EXPECT_TRUE(shown().waitingText.empty());
  EXPECT_TRUE(requirement("accessibility").granted);
  const auto keys = requirement("switcherKeys");
  EXPECT_FALSE(keys.granted);
  EXPECT_FALSE(keys.onButton);
  // The tables may not have the text yet; then its key stands in, without the reason.
  std::string explanation = text("perm.keysBusy");
  if (const auto at = explanation.find("%@"); at != std::string::npos) {
    explanation.replace(at, 2, *keysProblem);
  }
  EXPECT_TRUE(showsText(explanation));
  press(blocks<OnboardingLink>().at(0).action);
  EXPECT_EQ(settingsOpened, 1);

  // What cannot be fixed here does not hold the page: Continue goes on.
  EXPECT_FALSE(shown().secondary);
  pressPrimary();
  EXPECT_EQ(heading(), text("onb.tutTitle"));
}

// A compositor that lets no program bind keys: the page gives the lines for its configuration,
// and cannot tell whether they were added.
TEST_F(OnboardingTest, TheLinesADesktopNeedsToBindTheKeysAreShown) {
  manualBindings = "bindsym --no-repeat Mod4+Tab exec tolvane trigger next\n";
  controller.show(true);
  EXPECT_TRUE(showsText(text("perm.keysManual")));
  EXPECT_TRUE(showsText(*manualBindings));
  EXPECT_FALSE(requirement("switcherKeys").granted);
  pressPrimary();
  EXPECT_EQ(heading(), text("onb.tutTitle"));
}

TEST_F(OnboardingTest, TheConsentSwitchesStoreTheirSettings) {
  showAndWalkTo(text("onb.readyTitle"));
  EXPECT_EQ(shown().primary.title, text("onb.startCta"));
  const auto consents = blocks<OnboardingConsent>();
  ASSERT_EQ(consents.size(), 2u);
  EXPECT_EQ(consents[0].on, settings.improveDataSharing());
  EXPECT_EQ(consents[1].on, settings.crashReportingEnabled());
  press(consents[0].onChange, false);
  press(consents[1].onChange, false);
  EXPECT_FALSE(settings.improveDataSharing());
  EXPECT_FALSE(settings.crashReportingEnabled());
  EXPECT_EQ(preferences.value(prefkey::kCrashReportingEnabled), std::optional<PrefValue>(false));
  for (const auto& consent : blocks<OnboardingConsent>()) EXPECT_FALSE(consent.on) << consent.id;
}

TEST_F(OnboardingTest, FinishingAndClosingEarlyBothEndTheGuideForGood) {
  struct Row {
    const char* what;
    std::function<void()> end;
    const char* page;
    const char* logLine;
  };
  const Row rows[] = {
      {"finish", [this] { pressPrimary(); }, "onb.readyTitle", "onboarding: completed"},
      {"close on the tutorial", [this] { window.closeByUser(); }, "onb.tutTitle",
       "onboarding: closed page=tutorial"},
  };
  for (const auto& row : rows) {
    settings.setOnboardingCompleted(false);
    logLines.clear();
    showAndWalkTo(text(row.page));
    const auto stale = shown();
    row.end();
    EXPECT_TRUE(settings.onboardingCompleted()) << row.what;
    EXPECT_FALSE(controller.isOpen()) << row.what;
    EXPECT_FALSE(window.isVisible()) << row.what;
    // A late close report and the buttons of the last painted page reach nothing.
    window.closeByUser();
    press(stale.primary.action);
    press(stale.back->action);
    EXPECT_EQ(linesStartingWith("onboarding: c"), std::vector<std::string>{row.logLine})
        << row.what;
  }

  // From the menu afterwards: the welcome page again, and the guide stays done.
  controller.show();
  EXPECT_EQ(heading(), text("onb.tagline"));
  EXPECT_EQ(window.opened, 3);
  EXPECT_TRUE(settings.onboardingCompleted());
}

}  // namespace
}  // namespace tolvane
