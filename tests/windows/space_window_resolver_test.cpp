// Windows on other Spaces: the all-Spaces map, and the element-id search that finds their
// elements across as many refreshes as its deadlines need.
#include "windows/space_window_resolver.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/sim_services.h"

namespace tolvane {
namespace {

using Numbers = std::set<std::uint32_t>;
constexpr Pid kApp = 100;

class SpaceWindowResolverTest : public ::testing::Test, protected test::WindowServices {
 protected:
  SpaceWindowResolverTest() {
    desktop.addApp({.pid = kApp, .localizedName = "Editor", .bundleID = "org.example.editor"});
    desktop.addWindow({.number = 501, .pid = kApp, .title = "here"});
    desktop.addWindow({.number = 502, .pid = kApp, .title = "there", .space = 2});
    desktop.addWindow({.number = 503, .pid = kApp, .title = "further", .space = 3});
  }
  std::map<std::uint32_t, AXElement> resolveWithin(const Numbers& ids, double seconds) {
    return resolver.resolve(kApp, ids, clock.now() + seconds);
  }
};

TEST_F(SpaceWindowResolverTest, MapsLayerZeroWindowsOfEverySpaceUnlessAFunctionIsMissing) {
  desktop.addApp({.pid = 200});
  desktop.addWindow({.number = 601, .pid = 200, .space = 2});
  desktop.addWindow({.number = 602, .pid = 200, .layer = 25});  // a panel above normal windows
  EXPECT_EQ(resolver.windowIDsAcrossSpaces(), (SpaceMap{{kApp, {501, 502, 503}}, {200, {601}}}));

  // Any missing private function means no map.
  bool sim::PrivateFunctions::*const functions[] = {&sim::PrivateFunctions::mainConnectionID,
                                                    &sim::PrivateFunctions::copySpaces,
                                                    &sim::PrivateFunctions::copyWindowsOnSpaces};
  for (auto function : functions) {
    sim::PrivateFunctions available;
    available.*function = false;
    desktop.available = available;
    EXPECT_FALSE(resolver.windowIDsAcrossSpaces());
  }

  // Without remote tokens only known elements come back, and nothing is searched.
  sim::PrivateFunctions available;
  available.remoteTokens = false;
  desktop.available = available;
  EXPECT_TRUE(resolveWithin({502}, 1e9).empty());
  EXPECT_TRUE(linesStartingWith("resolve ").empty());
}

TEST_F(SpaceWindowResolverTest, AnInterruptedSearchResumesWhereItStoppedAndTriesEachIdOnce) {
  desktop.placeRemoteToken(kApp, 1500, 502);
  desktop.setCallCost(kApp, 0.0001);  // each id costs a creation and a number query
  std::map<std::uint32_t, AXElement> found;
  for (int refresh = 0; refresh < 20 && found.empty(); ++refresh) {
    found = resolveWithin({502}, 0.05);
  }
  ASSERT_EQ(found.size(), 1u);
  EXPECT_FALSE(resolver.scanCursor(kApp));

  const std::regex range(
      R"(resolve pid=100 wanted=1 resolved=(\d) gaveUp=\[.*\] scanned=(\d+)\.\.(\d+)( \(budget\))?)");
  std::int64_t next = 0;
  const auto lines = linesStartingWith("resolve ");
  ASSERT_GT(lines.size(), 2u);  // the search really was spread over several refreshes
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, range)) << lines[i];
    EXPECT_EQ(std::stoll(m[2]), next) << lines[i];
    next = std::stoll(m[3]);
    EXPECT_EQ(m[4].matched, i + 1 < lines.size()) << lines[i];
  }
  EXPECT_EQ(next, 1501);  // ended just after the id that held the window

  const int calls = desktop.axCalls();
  EXPECT_EQ(resolveWithin({502}, 0.05).size(), 1u);  // from memory now
  EXPECT_EQ(desktop.axCalls(), calls);
  EXPECT_EQ(linesStartingWith("resolve ").size(), lines.size());
}

TEST_F(SpaceWindowResolverTest, NumbersAWholeSearchMissesAreNotSearchedAgain) {
  desktop.placeRemoteToken(kApp, 7, 502);
  EXPECT_EQ(resolveWithin({502, 503}, 1e9).size(), 1u);
  EXPECT_EQ(linesStartingWith("resolve ").back(),
            "resolve pid=100 wanted=2 resolved=1 gaveUp=[503] scanned=0..30000");
  const int calls = desktop.axCalls();
  const auto again = resolveWithin({503}, 1e9);
  EXPECT_TRUE(again.empty());
  EXPECT_EQ(desktop.axCalls(), calls);
  EXPECT_EQ(linesStartingWith("resolve ").size(), 1u);

  // The application's own list showing it brings it back into play.
  std::uint32_t number = 0;
  auto element = desktop.elementFromRemoteToken(makeRemoteToken(kApp, 7));
  ASSERT_EQ(desktop.windowNumber(element, number), ax::kSuccess);
  resolver.noteSeen(kApp, 503, element);
  EXPECT_EQ(resolveWithin({503}, 1e9).size(), 1u);
}

TEST_F(SpaceWindowResolverTest, PruningForgetsWhatTheWindowServerNoLongerLists) {
  desktop.placeRemoteToken(kApp, 20000, 502);
  desktop.setCallCost(kApp, 0.001);
  resolveWithin({502, 503}, 0.0);  // stops after the first id: a cursor stays
  resolver.noteRejected(kApp, 503);
  ASSERT_TRUE(resolver.scanCursor(kApp));
  desktop.closeWindow(503);
  resolver.windowIDsAcrossSpaces();
  EXPECT_EQ(resolver.rejected(kApp), Numbers{});
  EXPECT_TRUE(resolver.scanCursor(kApp));  // the process still has windows

  desktop.quitApp(kApp);
  resolver.windowIDsAcrossSpaces();
  EXPECT_FALSE(resolver.scanCursor(kApp));
  EXPECT_EQ(resolver.knownIDs(kApp), Numbers{});
}

}  // namespace
}  // namespace tolvane
