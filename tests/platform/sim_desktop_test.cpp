// The simulated desktop: Spaces, slow and hung applications, dead elements, remote tokens,
// notification delivery and the call counters that other tests rely on.
#include "platform/sim/sim_desktop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane::sim {
namespace {

using Numbers = std::vector<std::uint32_t>;

class SimDesktopTest : public ::testing::Test {
 protected:
  SimDesktopTest() {
    desktop.addApp({.pid = 300, .bundleID = "org.example.editor"});
    desktop.addWindow({.number = 101, .pid = 300, .title = "one"});
    desktop.addWindow({.number = 102, .pid = 300, .space = 2});
    desktop.addWindow({.number = 103, .pid = 300, .minimized = true});
  }

  AXElement window(std::uint32_t number) {
    for (const auto& element : windowsOf(300)) {
      std::uint32_t n = 0;
      if (desktop.windowNumber(element, n) == ax::kSuccess && n == number) return element;
    }
    return nullptr;
  }
  std::vector<AXElement> windowsOf(Pid pid) {
    auto result = desktop.copyAttribute(desktop.applicationElement(pid), ax::kWindows);
    if (result.error != ax::kSuccess || !result.value) return {};
    return std::get<std::vector<AXElement>>(*result.value);
  }
  Numbers numbersOf(const std::vector<AXElement>& elements) {
    Numbers numbers;
    for (const auto& element : elements) {
      std::uint32_t n = 0;
      EXPECT_EQ(desktop.windowNumber(element, n), ax::kSuccess);
      numbers.push_back(n);
    }
    return numbers;
  }

  SimClock clock;
  SimRunLoop loop{clock};
  SimDesktop desktop{clock, loop};
};

TEST_F(SimDesktopTest, AXWindowsListsOnlyTheCurrentSpaceWhileTheWindowServerListsAll) {
  EXPECT_EQ(numbersOf(windowsOf(300)), (Numbers{101, 103}));
  const auto connection = desktop.mainConnectionID().value();
  const auto spaces = desktop.copySpaces(connection, 7).value();
  EXPECT_EQ(spaces, (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(desktop.copyWindowsOnSpaces(connection, spaces), (Numbers{101, 102, 103}));

  desktop.setCurrentSpace(2);
  EXPECT_EQ(numbersOf(windowsOf(300)), (Numbers{102}));
  ASSERT_TRUE(desktop.moveToSpace(101, 2));
  EXPECT_EQ(numbersOf(windowsOf(300)), (Numbers{101, 102}));

  desktop.available.copySpaces = false;
  EXPECT_EQ(desktop.copySpaces(connection, 7), std::nullopt);
}

TEST_F(SimDesktopTest, SlowApplicationCostsVirtualTimePerCall) {
  ASSERT_TRUE(desktop.setCallCost(300, 0.025));
  const auto element = window(101);  // the list, then the number of its first entry
  EXPECT_DOUBLE_EQ(clock.now(), 0.05);
  const auto title = desktop.copyAttribute(element, ax::kTitle);
  EXPECT_EQ(std::get<std::string>(title.value.value()), "one");
  EXPECT_DOUBLE_EQ(clock.now(), 0.075);
}

TEST_F(SimDesktopTest, HungApplicationCostsTheTimeoutInForceAndCannotComplete) {
  struct Row {
    std::optional<double> systemWide, element;
    double cost;
  };
  for (const auto& row : {Row{{}, {}, 6.0}, Row{0.3, {}, 0.3}, Row{0.3, 0.1, 0.1}}) {
    SimClock c;
    SimRunLoop l{c};
    SimDesktop d{c, l};
    d.addApp({.pid = 7, .hung = true});
    const auto app = d.applicationElement(7);
    if (row.systemWide) d.setMessagingTimeout(d.systemWideElement(), *row.systemWide);
    if (row.element) d.setMessagingTimeout(app, *row.element);
    EXPECT_EQ(d.copyAttribute(app, ax::kWindows).error, ax::kCannotComplete);
    EXPECT_DOUBLE_EQ(c.now(), row.cost);
  }
}

TEST_F(SimDesktopTest, ClosedWindowsAndQuitApplicationsAnswerInvalidElement) {
  const auto closed = window(101), survivor = window(103), app = desktop.applicationElement(300);
  ASSERT_TRUE(desktop.closeWindow(101));
  ASSERT_TRUE(desktop.addWindow({.number = 101, .pid = 300}));  // a reused number stays dead
  std::uint32_t n = 0;
  EXPECT_EQ(desktop.copyAttribute(closed, ax::kRole).error, ax::kInvalidUIElement);
  EXPECT_EQ(desktop.windowNumber(closed, n), ax::kInvalidUIElement);
  EXPECT_EQ(desktop.performAction(closed, ax::kRaise), ax::kInvalidUIElement);
  EXPECT_EQ(desktop.copyAttribute(survivor, ax::kRole).error, ax::kSuccess);

  ASSERT_TRUE(desktop.quitApp(300));
  desktop.addApp({.pid = 300});  // a relaunch under the same pid revives nothing
  for (const auto& element : {survivor, app}) {
    EXPECT_EQ(desktop.copyAttribute(element, ax::kRole).error, ax::kInvalidUIElement);
  }
  EXPECT_EQ(desktop.events(), std::vector<std::string>{});
}

TEST_F(SimDesktopTest, RemoteTokensResolveOnlyAtThePlacedIdWithAValidLayout) {
  desktop.placeRemoteToken(300, 1200, 102);
  desktop.setCallCost(300, 0.5);  // every id tried costs, found or not
  const auto token = makeRemoteToken(300, 1200);
  EXPECT_EQ(token[0] + (token[1] << 8), 300);
  EXPECT_EQ(std::vector<int>(token.begin() + 8, token.begin() + 12),
            (std::vector<int>{0x6f, 0x63, 0x6f, 0x63}));
  EXPECT_EQ(token[12] + (token[13] << 8), 1200);

  std::uint32_t n = 0;
  ASSERT_EQ(desktop.windowNumber(desktop.elementFromRemoteToken(token), n), ax::kSuccess);
  EXPECT_EQ(n, 102u);
  EXPECT_EQ(desktop.elementFromRemoteToken(makeRemoteToken(300, 1199)), nullptr);
  EXPECT_EQ(desktop.elementFromRemoteToken(makeRemoteToken(301, 1200)), nullptr);
  EXPECT_DOUBLE_EQ(clock.now(), 1.5);  // two ids of application 300 and one number query
  for (std::size_t corrupt : {4u, 8u, 11u}) {
    auto bad = token;
    bad[corrupt] ^= 1;
    EXPECT_EQ(desktop.elementFromRemoteToken(bad), nullptr) << corrupt;
  }
  desktop.available.remoteTokens = false;
  EXPECT_FALSE(desktop.hasRemoteTokens());
  EXPECT_EQ(desktop.elementFromRemoteToken(token), nullptr);
}

TEST_F(SimDesktopTest, NotificationsArriveThroughTheRunLoopOnly) {
  std::vector<std::string> heard;
  for (auto event :
       {WorkspaceEvent::launched, WorkspaceEvent::activated, WorkspaceEvent::terminated}) {
    desktop.addObserver(event, [&, event](const RunningApp& app) {
      heard.push_back(std::to_string(static_cast<int>(event)) + ":" + std::to_string(app.pid) +
                      (app.terminated ? " gone" : ""));
    });
  }
  int error = 0;
  auto observer = desktop.createObserver(
      300,
      [&](const AXElement& element) {
        std::uint32_t n = 0;
        desktop.windowNumber(element, n);
        heard.push_back("focus " + std::to_string(n));
      },
      error);
  ASSERT_EQ(error, ax::kSuccess);
  ASSERT_EQ(observer->addNotification(desktop.applicationElement(300), ax::kFocusedWindowChanged),
            ax::kSuccess);

  desktop.launchApp({.pid = 400});
  desktop.setFrontmost(300);
  desktop.setFocusedWindow(300, 103);
  desktop.quitApp(400);
  EXPECT_TRUE(heard.empty());
  loop.runUntilIdle();
  EXPECT_EQ(heard, (std::vector<std::string>{"0:400", "1:300", "focus 103", "2:400 gone"}));
  EXPECT_EQ(desktop.stackingOrder().front(), 103u);

  desktop.setFocusedWindow(300, 101);
  observer.reset();  // dropped before delivery: nothing arrives
  EXPECT_EQ(desktop.registeredNotifications(300), 0);
  loop.runUntilIdle();
  EXPECT_EQ(heard.size(), 4u);
}

TEST_F(SimDesktopTest, CountersCountEveryCallAndEffectsAreRecorded) {
  desktop.setHidden(300, true);
  desktop.runningApplications();
  desktop.frontmostPid();
  desktop.applicationElement(300);
  EXPECT_EQ(desktop.axCalls(), 0);
  EXPECT_EQ(desktop.windowServerCalls(), 0);

  const auto element = window(103);  // list, then numbers of 101 and 103
  EXPECT_EQ(desktop.axCalls(), 3);
  desktop.setAttribute(element, ax::kMinimized, AXValue(false));
  desktop.unhide(300);
  desktop.setAttribute(element, ax::kMain, AXValue(true));
  desktop.performAction(element, ax::kRaise);
  EXPECT_TRUE(desktop.activate(300));
  EXPECT_EQ(desktop.axCalls(), 6);
  EXPECT_EQ(desktop.events(),
            (std::vector<std::string>{"setMinimized 103 false", "unhide 300", "setMain 103",
                                      "raise 103", "activate 300 accepted"}));
  EXPECT_TRUE(std::get<bool>(desktop.copyAttribute(element, ax::kMain).value.value()));

  const auto onScreen = desktop.onScreenWindows().value();
  ASSERT_EQ(onScreen.size(), 2u);  // 102 is on another Space
  EXPECT_EQ(onScreen[0].number, 103);
  EXPECT_EQ(onScreen[1].number, 101);
  EXPECT_EQ(desktop.windowServerCalls(), 1);
}

}  // namespace
}  // namespace tolvane::sim
