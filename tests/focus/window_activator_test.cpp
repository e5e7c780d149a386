// Bringing a window forward: the live minimized state, unhiding, raising, the log lines, the
// usage event, and application entries.
#include "focus/window_activator.h"

#include <gtest/gtest.h>

#include "settings/preference_keys.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using Properties = std::map<std::string, EventValue>;

class WindowActivatorTest : public ::testing::Test, protected test::WindowServices {
 protected:
  WindowActivatorTest() {
    desktop.addApp({.pid = 100, .localizedName = "Editor", .bundleID = "org.example.editor"});
    desktop.addWindow({.number = 11, .pid = 100, .title = "Notes"});
  }
  /// Window `number` as a snapshot taken now shows it.
  SwitchWindow windowRecord(std::uint32_t number) {
    refresh(100);
    for (const auto& w : enumerator.snapshot(100, true)) {
      if (w.id() == number) return w;
    }
    ADD_FAILURE() << "no window " << number;
    return SwitchWindow({});
  }
};

TEST_F(WindowActivatorTest, UnminimizesByTheLiveStateFallingBackToTheSnapshot) {
  struct Row {
    const char* what;
    bool live, readable, snapshot, unminimized;
  };
  const Row rows[] = {
      {"minimized now", true, true, false, true},
      {"restored since the snapshot", false, true, true, false},
      {"unreadable, snapshot says minimized", true, false, true, true},
      {"unreadable, snapshot says not", true, false, false, false},
  };
  for (const auto& row : rows) {
    desktop.setHung(100, false);
    desktop.setMinimized(11, row.snapshot);
    const auto window = windowRecord(11);
    desktop.setMinimized(11, row.live);
    desktop.clearEvents();
    // A hung application answers no read; its calls can then only be counted.
    desktop.setHung(100, !row.readable);
    const int before = desktop.axCalls();
    activator.activate(window);
    if (row.readable) {
      const auto& events = desktop.events();
      const bool sent =
          std::find(events.begin(), events.end(), "setMinimized 11 false") != events.end();
      EXPECT_EQ(sent, row.unminimized) << row.what;
    } else {
      // Read minimized, (unminimize,) set main, raise.
      EXPECT_EQ(desktop.axCalls() - before, row.unminimized ? 4 : 3) << row.what;
    }
  }
}

TEST_F(WindowActivatorTest, AHiddenApplicationIsUnhiddenAndARefusingOrGoneOneStillPromoted) {
  desktop.setHidden(100, true);
  auto window = windowRecord(11);
  desktop.clearEvents();
  EXPECT_TRUE(activator.activate(window));
  EXPECT_EQ(desktop.events(), (std::vector<std::string>{"unhide 100", "setMain 11", "raise 11",
                                                        "activate 100 accepted"}));
  ASSERT_EQ(usage.events.size(), 1u);
  EXPECT_EQ(usage.events[0].name, "activate.result");
  EXPECT_EQ(usage.events[0].properties, (Properties{{"method", std::string("axRaise")},
                                                    {"app", std::string("org.example.editor")},
                                                    {"minimized", false},
                                                    {"ok", true},
                                                    {"ms", std::int64_t{0}}}));

  // A refusing or gone application: the window is still promoted, and the failure reported.
  desktop.setAcceptsActivation(100, false);
  EXPECT_FALSE(activator.activate(window));
  desktop.quitApp(100);
  tracker.order().bump(5);
  EXPECT_FALSE(activator.activate(window));
  EXPECT_EQ(tracker.order().ids().front(), 11u);
  EXPECT_EQ(linesStartingWith("activate pid=100").back(), "activate pid=100 window=11 ok=false");
  EXPECT_EQ(usage.events.back().properties.at("ok"), EventValue(false));
}

TEST_F(WindowActivatorTest, ALateAnswerIsLoggedAndReportedWhenItComes) {
  struct Row {
    bool accepts;
    double answerSeconds;
  };
  // A late yes and a late no.
  for (const auto& row : {Row{true, 0.25}, Row{false, 0.5}}) {
    SCOPED_TRACE(row.accepts);
    desktop.setAcceptsActivation(100, row.accepts);
    desktop.setActivationAnswerSeconds(100, row.answerSeconds);
    const auto window = windowRecord(11);
    tracker.order().bump(5);
    usage.events.clear();
    logLines.clear();

    EXPECT_TRUE(activator.activate(window)) << "undecided yet";
    EXPECT_EQ(tracker.order().ids().front(), 11u) << "promoted at once";
    loop.advance(row.answerSeconds / 2);
    EXPECT_TRUE(linesStartingWith("activate pid=").empty());
    EXPECT_TRUE(usage.events.empty());

    loop.advance(row.answerSeconds);
    EXPECT_EQ(linesStartingWith("activate pid="),
              std::vector<std::string>{std::string("activate pid=100 window=11 ok=") +
                                       (row.accepts ? "true" : "false")});
    ASSERT_EQ(usage.events.size(), 1u);
    EXPECT_EQ(usage.events[0].properties.at("ok"), EventValue(row.accepts));
    EXPECT_EQ(usage.events[0].properties.at("ms"),
              EventValue(std::int64_t(row.answerSeconds * 1000)));
  }
  // An answer that finds its activator gone is dropped.
  usage.events.clear();
  {
    WindowActivator shortLived{{desktop, desktop, tracker.order(), clock, log, usage, preferences}};
    shortLived.activate(windowRecord(11));
  }
  loop.advance(1);
  EXPECT_TRUE(usage.events.empty());
}

TEST_F(WindowActivatorTest, ApplicationEntriesAreReopenedOrActivatedAndTesterModeLogsTitles) {
  desktop.addApp({.pid = 200,
                  .localizedName = "Files",
                  .bundleLocation = "/usr/share/applications/files.desktop"});
  desktop.addApp({.pid = 300, .localizedName = "Tool"});
  preferences.set(prefkey::kTesterModeEnabled, true);
  for (Pid pid : {Pid{200}, Pid{300}}) {
    desktop.clearEvents();
    EXPECT_TRUE(activator.activate(SwitchWindow::appEntry(app(pid), nullptr)));
    EXPECT_EQ(tracker.order().ids().front(), SwitchWindow::appEntryID(pid));
    EXPECT_EQ(usage.events.back().properties.at("method"), EventValue(std::string("reopen")));
  }
  EXPECT_EQ(linesStartingWith("activate app"),
            (std::vector<std::string>{
                "activate app pid=200 (windowless entry)", "activate app=Files (no windows)",
                "activate app pid=300 (windowless entry)", "activate app=Tool (no windows)"}));
  EXPECT_EQ(desktop.events(), std::vector<std::string>{"activate 300 accepted"});

  // Tester mode logs a window's title, or its application's name when it has none.
  desktop.addWindow({.number = 12, .pid = 100});  // untitled
  activator.activate(windowRecord(11));
  activator.activate(windowRecord(12));
  EXPECT_EQ(linesStartingWith("activate title="),
            (std::vector<std::string>{"activate title=Notes app=Editor",
                                      "activate title=Editor app=Editor"}));
}

}  // namespace
}  // namespace tolvane
