// The onboarding window on Qt: every block and footer button reports the user's action, and
// the core's repaint of the same page happens in place.
#include "ui/qt/qt_onboarding_window.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QTest>
#include <string>
#include <vector>

#include "ui/qt/onboarding_blocks.h"
#include "ui/qt/settings_widgets.h"
#include "ui/qt/test_support.h"

namespace tolvane::qt {
namespace {

/// A permission page with one block of each kind; every action writes what it got into `calls`.
OnboardingWindowView everyBlock(std::vector<std::string>& calls, bool granted = false) {
  const auto record = [&calls](std::string what) {
    return [&calls, what] { calls.push_back(what); };
  };
  OnboardingWindowView view;
  view.windowTitle = "Welcome to Tolvane";
  view.blocks = {
      OnboardingIcon{},
      OnboardingHeading{"One required permission"},
      OnboardingText{"Tolvane needs a window manager.", true},
      OnboardingRequirement{.id = "wm",
                            .title = "Window manager",
                            .reason = "Lists windows",
                            .granted = granted,
                            .buttonTitle = granted ? "Allowed" : "Allow",
                            .onButton = record("allow")},
      OnboardingKeyRow{.chips = {"Alt", "Space"}, .searchSymbol = true, .meaning = "Search"},
      OnboardingConsent{.id = "improve",
                        .title = "Help improve Tolvane",
                        .body = "Anonymous",
                        .onChange = [&calls](bool on) { calls.push_back(on ? "on" : "off"); }},
      OnboardingLink{.title = "Open the settings", .action = record("link")},
  };
  view.waitingText = granted ? "" : "Waiting";
  view.pageCount = 4;
  view.pageIndex = 1;
  view.back = OnboardingButton{"Back", record("back")};
  view.secondary = OnboardingButton{"Skip for now", record("skip")};
  view.primary = OnboardingButton{"Continue", record("continue")};
  view.primaryEnabled = !granted;
  return view;
}

TEST(QtOnboardingWindowTest, BlocksAndButtonsReportTheUsersActionsAndRepaintInPlace) {
  std::vector<std::string> calls;
  QtOnboardingWindow window;
  window.show(everyBlock(calls));
  EXPECT_EQ(window.window()->windowTitle(), QStringLiteral("Welcome to Tolvane"));
  EXPECT_EQ(window.window()->windowType(), Qt::Window);
  EXPECT_EQ(window.window()->width(), 360);
  EXPECT_FALSE(window.grabImage().isNull());

  auto* requirement = window.content()->findChild<QWidget*>(QStringLiteral("wm"));
  QPointer<SwitchControl> consent = window.content()->findChild<SwitchControl*>();
  QTest::mouseClick(requirement->findChild<PillButton*>(), Qt::LeftButton);
  QTest::mouseClick(consent, Qt::LeftButton);
  QTest::mouseClick(window.content()->findChild<LinkButton*>(), Qt::LeftButton);
  // The footer's buttons in order: Back, the secondary and the primary.
  const auto footer = window.window()->findChildren<PillButton*>();
  for (PillButton* button : footer) {
    if (!requirement->isAncestorOf(button)) QTest::mouseClick(button, Qt::LeftButton);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"allow", "on", "link", "back", "skip", "continue"}));

  calls.clear();
  window.show(everyBlock(calls, true));  // granted: same blocks, new values
  test::dropRetiredWidgets();
  EXPECT_EQ(window.content()->findChild<SwitchControl*>(), consent.data());
  EXPECT_FALSE(consent->isChecked());
  EXPECT_TRUE(requirement->findChild<PillButton*>()->isHidden());
  EXPECT_FALSE(requirement->findChild<StatusBadge*>()->isHidden());
  QTest::mouseClick(footer.back(), Qt::LeftButton);  // primary, now disabled
  EXPECT_TRUE(calls.empty());
}

}  // namespace
}  // namespace tolvane::qt
