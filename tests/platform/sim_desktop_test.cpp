// The simulated desktop's misbehaviours whose meaning other tests take for granted: Spaces, hung
// applications and remote tokens.
#include "backends/sim/sim_desktop.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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

TEST_F(SimDesktopTest, HungApplicationCostsTheTimeoutInForceAndCannotComplete) {
  // The system-wide timeout, the element's own, and what one call then costs.
  using Timeout = std::optional<double>;
  const std::tuple<Timeout, Timeout, double> rows[] = {
      {{}, {}, 6.0}, {0.3, {}, 0.3}, {0.3, 0.1, 0.1}};
  desktop.addApp({.pid = 7, .hung = true});
  const auto app = desktop.applicationElement(7);
  for (const auto& [systemWide, element, cost] : rows) {
    if (systemWide) desktop.setMessagingTimeout(desktop.systemWideElement(), *systemWide);
    if (element) desktop.setMessagingTimeout(app, *element);
    const double before = clock.now();
    EXPECT_EQ(desktop.copyAttribute(app, ax::kWindows).error, ax::kCannotComplete);
    EXPECT_NEAR(clock.now() - before, cost, 1e-9);
  }
}

TEST_F(SimDesktopTest, RemoteTokensResolveOnlyAtThePlacedIdWithAValidLayout) {
  desktop.placeRemoteToken(300, 1200, 102);
  desktop.setCallCost(300, 0.5);  // every id tried costs, found or not
  const auto token = makeRemoteToken(300, 1200);

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

}  // namespace
}  // namespace tolvane::sim
