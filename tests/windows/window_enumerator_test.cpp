// Window discovery and snapshots on the simulated desktop: what qualifies, what the cache keeps
// when an application is slow, hung, or lies, what a snapshot shows, and the entry that stands
// for an application without windows.
#include "windows/window_enumerator.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "model/switch_window.h"
#include "support/sim_services.h"
#include "support/window_list.h"

namespace tolvane {
namespace {

using Ids = std::vector<std::uint32_t>;
constexpr Pid kApp = 100;
using test::idsOf;

class WindowEnumeratorTest : public ::testing::Test, protected test::WindowServices {
 protected:
  WindowEnumeratorTest() {
    desktop.addApp({.pid = kApp, .localizedName = "Editor", .bundleID = "org.example.editor"});
  }
  Ids cached(Pid pid) { return idsOf(enumerator.snapshot(pid, true)); }
  std::set<std::uint32_t> allShown() {
    const auto ids = idsOf(enumerator.snapshot(std::nullopt, true));
    return {ids.begin(), ids.end()};
  }
};

TEST_F(WindowEnumeratorTest, OnlyStandardWindowsAndDialogsOfAUsableSizeQualify) {
  // What the window is, its subrole and size, and whether it is listed.
  const std::tuple<const char*, std::optional<AXValue>, std::optional<Size>, bool> rows[] = {
      {"standard window", std::string("AXStandardWindow"), Size{800, 600}, true},
      {"exactly 100 wide", std::string("AXDialog"), Size{100, 10}, true},
      {"99 x 99", std::string("AXStandardWindow"), Size{99, 99}, false},
      {"size unreadable", std::string("AXDialog"), std::nullopt, true},
      {"floating panel", std::string("AXFloatingWindow"), Size{800, 600}, false},
      {"no subrole", std::nullopt, Size{800, 600}, false},
      {"subrole of the wrong type", AXValue(std::int64_t{7}), Size{800, 600}, false},
  };
  // Window 501 is the first row's, 502 the second's, and so on.
  Ids listed;
  std::uint32_t number = 500;
  for (const auto& [what, subrole, size, qualifies] : rows) {
    desktop.addWindow({.number = ++number, .pid = kApp, .subrole = subrole, .size = size});
    if (qualifies) listed.push_back(number);
  }
  refresh(kApp);
  EXPECT_EQ(cached(kApp), listed);
}

TEST_F(WindowEnumeratorTest, AWindowlessApplicationHasOneEntryUntilItOpensAWindow) {
  EXPECT_TRUE(refresh(kApp));
  EXPECT_EQ(cached(kApp), Ids{SwitchWindow::appEntryID(kApp)});
  EXPECT_TRUE(enumerator.snapshot(std::nullopt, false).empty());
  desktop.addWindow({.number = 501, .pid = kApp});
  refresh(kApp);
  EXPECT_EQ(cached(kApp), Ids{501});
}

TEST_F(WindowEnumeratorTest, ACutShortRefreshKeepsEveryCachedWindowAndNamesTheSlowApplication) {
  // Without a bundle identifier, the process id names it.
  desktop.addApp({.pid = 200});
  desktop.addWindow({.number = 601, .pid = 200});
  desktop.setCallCost(200, 0.2);
  EXPECT_FALSE(refresh(200));
  EXPECT_EQ(linesStartingWith("slow app AX: pid 200 200 ms (list may be partial)").size(), 1u);
  EXPECT_EQ(usage.events.back().properties.at("app"), EventValue(std::string("?")));
  EXPECT_EQ(usage.events.back().properties.at("ms"), EventValue(std::int64_t{200}));

  for (std::uint32_t n = 501; n <= 510; ++n) desktop.addWindow({.number = n, .pid = kApp});
  ASSERT_TRUE(refresh(kApp));
  desktop.setCallCost(kApp, 0.02);  // about halfway through the list at the deadline
  desktop.closeWindow(501);
  EXPECT_FALSE(refresh(kApp));
  EXPECT_EQ(cached(kApp).size(), 10u);
  EXPECT_EQ(linesStartingWith("slow app AX: org.example.editor").size(), 1u);
  ASSERT_EQ(usage.events.size(), 2u);
  EXPECT_EQ(usage.events[1].name, "enumerate.slow");
  EXPECT_EQ(usage.events[1].properties.at("partial"), EventValue(true));
}

TEST_F(WindowEnumeratorTest, AHungApplicationCostsOneTimeoutAndKeepsItsWindows) {
  for (std::uint32_t n : {501u, 502u}) desktop.addWindow({.number = n, .pid = kApp});
  ASSERT_TRUE(refresh(kApp));
  desktop.setMessagingTimeout(desktop.systemWideElement(), 0.1);
  desktop.setHung(kApp, true);
  const double before = clock.now();
  EXPECT_FALSE(refresh(kApp));
  EXPECT_LE(clock.now() - before, 0.15 + 0.1);
  EXPECT_EQ(cached(kApp), (Ids{501, 502}));
}

TEST_F(WindowEnumeratorTest, NothingAnApplicationReportsCanBreakDiscovery) {
  desktop.addWindow({.number = 501, .pid = kApp, .reportedNumber = 0});
  desktop.addWindow({.number = 502, .pid = kApp, .windowNumberReadable = false});
  desktop.addWindow({.number = 503, .pid = kApp, .subrole = AXValue(Size{1, 2})});
  desktop.addWindow({.number = 504, .pid = kApp, .title = std::nullopt, .size = std::nullopt});
  EXPECT_TRUE(refresh(kApp));
  EXPECT_EQ(cached(kApp), Ids{504});

  const auto app = this->app(kApp);
  desktop.quitApp(kApp);  // gone between the workspace's answer and the refresh
  EXPECT_FALSE(enumerator.refreshApp(app, clock.now() + 0.15, std::nullopt, true, false));
  EXPECT_TRUE(enumerator.snapshot(std::nullopt, true).empty());
}

TEST_F(WindowEnumeratorTest, WindowsOnOtherSpacesAreMergedThroughTheResolver) {
  desktop.addWindow({.number = 501, .pid = kApp});
  desktop.addWindow({.number = 502, .pid = kApp, .space = 2});
  desktop.addWindow({.number = 503, .pid = kApp, .size = Size{50, 50}, .space = 2});
  desktop.addWindow({.number = 504, .pid = kApp, .space = 3});
  desktop.placeRemoteToken(kApp, 10, 502);
  desktop.placeRemoteToken(kApp, 11, 503);
  desktop.placeRemoteToken(kApp, 12, 504);
  const auto map = resolver.windowIDsAcrossSpaces();
  EXPECT_TRUE(refresh(kApp, map));
  EXPECT_EQ(cached(kApp), (Ids{501, 502, 504}));
  EXPECT_EQ(linesStartingWith("merge reject"),
            std::vector<std::string>{"merge reject id=503 subrole=AXStandardWindow err=0 (too "
                                     "small) app=org.example.editor"});

  // Rejected for good: not looked at, nor logged, again; a dead element is forgotten silently.
  desktop.closeWindow(504);
  refresh(kApp, map);
  EXPECT_EQ(linesStartingWith("merge reject").size(), 1u);
  EXPECT_EQ(resolver.knownIDs(kApp), (std::set<std::uint32_t>{501, 502, 503}));
}

TEST_F(WindowEnumeratorTest, WithoutTheMapRememberedElementsAreLookedAtAgain) {
  desktop.available.copySpaces = false;
  for (std::uint32_t n : {501u, 502u, 503u}) desktop.addWindow({.number = n, .pid = kApp});
  refresh(kApp);                // all three seen in the application's own list
  desktop.moveToSpace(502, 2);  // still alive: kept through its remembered element
  desktop.moveToSpace(503, 2);
  desktop.closeWindow(503);  // dead: forgotten, silently
  ASSERT_FALSE(resolver.windowIDsAcrossSpaces());
  EXPECT_TRUE(refresh(kApp));
  EXPECT_EQ(cached(kApp), (Ids{501, 502}));  // a dead window does not linger in the cache
  EXPECT_EQ(resolver.knownIDs(kApp), (std::set<std::uint32_t>{501, 502}));
  EXPECT_TRUE(linesStartingWith("merge reject").empty());
}

TEST_F(WindowEnumeratorTest, SnapshotsFilterBySettingsAndMakeNoCalls) {
  desktop.addApp({.pid = 200, .bundleID = "org.example.mail", .hidden = true});
  desktop.addApp({.pid = 300});  // no bundle identifier: never excluded
  desktop.addWindow({.number = 501, .pid = kApp});
  desktop.addWindow({.number = 502, .pid = kApp, .minimized = true});
  desktop.addWindow({.number = 601, .pid = 200});
  desktop.addWindow({.number = 701, .pid = 300});
  for (Pid pid : {kApp, Pid{200}, Pid{300}}) refresh(pid);
  settings.setShowMinimizedWindows(false);
  settings.setShowHiddenAppWindows(false);

  const int ax = desktop.axCalls();
  const int ws = desktop.windowServerCalls();
  EXPECT_EQ(allShown(), (std::set<std::uint32_t>{501, 701}));
  EXPECT_EQ(cached(kApp), (Ids{501, 502}));  // scoped: minimized shown
  EXPECT_EQ(cached(200), Ids{601});          // scoped: hidden shown
  EXPECT_TRUE(enumerator.snapshot(200, true)[0].appIsHidden());
  settings.setExcludedBundleIDs({"org.example.mail", ""});
  EXPECT_TRUE(cached(200).empty());  // excluded, scoped or not
  EXPECT_EQ(cached(300), Ids{701});
  // Hidden is read when the snapshot is taken, not kept from the refresh.
  settings.setExcludedBundleIDs({});
  desktop.setHidden(200, false);
  EXPECT_EQ(allShown(), (std::set<std::uint32_t>{501, 601, 701}));
  EXPECT_EQ(desktop.axCalls(), ax);
  EXPECT_EQ(desktop.windowServerCalls(), ws);
}

TEST(SwitchWindowTest, ApplicationEntriesFollowTheNamingAndIdRules) {
  using Expected = std::tuple<std::uint32_t, std::string, std::optional<std::string>>;
  // The application, then the entry's id, name and bundle identifier.
  const std::pair<RunningApp, Expected> rows[] = {
      {{.pid = 1234, .localizedName = "Files", .bundleID = "org.gnome.Nautilus"},
       {4294966061u, "Files", "org.gnome.Nautilus"}},
      // No localized name: the bundle identifier stands in; neither: a question mark.
      {{.pid = 1, .bundleID = "org.example.tool"},
       {4294967294u, "org.example.tool", "org.example.tool"}},
      {{.pid = 0}, {4294967295u, "?", std::nullopt}},
      {{.pid = 42, .localizedName = "Mail", .hidden = true}, {~42u, "Mail", std::nullopt}},
  };
  for (const auto& [app, expected] : rows) {
    const auto entry = SwitchWindow::appEntry(app, nullptr);
    EXPECT_EQ(Expected(entry.id(), entry.appName(), entry.bundleID()), expected) << app.pid;
    // Untitled and never minimized; hidden as its application is.
    EXPECT_EQ(
        std::tuple(entry.isAppEntry(), entry.title(), entry.isMinimized(), entry.appIsHidden()),
        std::tuple(true, std::string(), false, app.hidden))
        << app.pid;
  }
}

}  // namespace
}  // namespace tolvane
