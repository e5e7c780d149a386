// The Wayland desktop mapping against a fake toplevel source and a fake sway tree, on the
// simulated run loop: grouping and pids, focus, notifications, activation answers, Spaces.
#include "backends/wayland/wayland_desktop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backends/sim/sim_clock.h"
#include "backends/sim/sim_run_loop.h"

namespace tolvane::wayland {
namespace {

using sway::SwayView;

constexpr Pid kOwnPid = 4242;

/// Holds the toplevels as a compositor would announce them; records every request.
class FakeSource final : public ToplevelSource {
 public:
  std::vector<ToplevelState> toplevels() const override { return list; }
  void setObserver(Observer o) override { observer = std::move(o); }
  bool activate(ToplevelId id) override {
    activations.push_back(id);
    return find(id) != list.end();
  }
  bool close(ToplevelId id) override { return find(id) != list.end(); }
  bool setMinimized(ToplevelId id, bool minimized) override {
    if (minimized) minimizeRequests.push_back(id);
    return find(id) != list.end();
  }

  /// One `done` for `state`.
  void done(const ToplevelState& state) {
    if (auto it = find(state.id); it != list.end()) {
      *it = state;
    } else {
      list.push_back(state);
    }
    observer.changed(state);
  }
  void setActivated(ToplevelId id, bool on) {
    ToplevelState state = *find(id);
    state.activated = on;
    done(state);
  }
  void remove(ToplevelId id) {
    list.erase(find(id));
    observer.closed(id);
  }

  std::vector<ToplevelState> list;
  Observer observer;
  std::vector<ToplevelId> activations;
  std::vector<ToplevelId> minimizeRequests;

 private:
  std::vector<ToplevelState>::iterator find(ToplevelId id) {
    return std::find_if(list.begin(), list.end(), [id](const auto& s) { return s.id == id; });
  }
};

ToplevelState top(ToplevelId id, std::string appId, bool activated = false,
                  std::string title = "") {
  return ToplevelState{.id = id,
                       .title = title.empty() ? "t" + std::to_string(id) : title,
                       .appId = std::move(appId),
                       .activated = activated};
}

/// `state` with what Plasma adds: its pid and virtual desktops, where "all" stands for the
/// on-all-desktops state and "skip" for skip-switcher.
ToplevelState plasma(ToplevelState state, std::int32_t pid,
                     std::vector<std::string> desktops = {}) {
  state.pid = pid;
  for (auto& desktop : desktops) {
    if (desktop == "all") {
      state.onAllDesktops = true;
    } else if (desktop == "skip") {
      state.skipSwitcher = true;
    } else {
      state.desktops.push_back(std::move(desktop));
    }
  }
  return state;
}

SwayView view(std::int64_t con, Pid pid, std::string appId, std::string title,
              std::string workspace = "1", int rank = 0, bool visible = true) {
  return SwayView{.conId = con,
                  .pid = pid,
                  .appId = std::move(appId),
                  .title = std::move(title),
                  .workspace = std::move(workspace),
                  .workspaceVisible = visible,
                  .focusRank = rank};
}

class WaylandDesktopTest : public ::testing::Test {
 public:  // the table rows drive the fixture
  void start(bool withSway) {
    WaylandDesktop::Sway sway;
    if (withSway) {
      sway.views = [this] { return views; };
      sway.focusByCon = [this](std::int64_t con) {
        focusedCons.push_back(con);
        return true;
      };
    }
    desktop = std::make_unique<WaylandDesktop>(
        source, loop, std::move(sway),
        WaylandDesktop::Options{.ownAppId = "tolvane",
                                .ownPid = kOwnPid,
                                .applicationFolders = {"/nonexistent/tolvane-test"},
                                .locale = "C"});
    for (auto event :
         {WorkspaceEvent::launched, WorkspaceEvent::activated, WorkspaceEvent::terminated}) {
      desktop->addObserver(event, [this, event](const RunningApp& app) {
        static const char* names[] = {"launched ", "activated ", "terminated "};
        log.push_back(names[static_cast<int>(event)] + app.bundleID.value_or("?"));
      });
    }
  }
  /// Follows "AXFocusedWindowChanged" of every running application.
  void observeFocus() {
    for (const auto& app : desktop->runningApplications()) {
      int error = 0;
      auto observer = desktop->createObserver(
          app.pid,
          [this](const AXElement& element) {
            std::uint32_t number = 0;
            desktop->windowNumber(element, number);
            log.push_back("focus " + std::to_string(number));
          },
          error);
      ASSERT_EQ(observer->addNotification(desktop->applicationElement(app.pid),
                                          ax::kFocusedWindowChanged),
                ax::kSuccess);
      observers.push_back(std::move(observer));
    }
  }
  Pid ownerOf(ToplevelId id) {
    const auto windows = desktop->allWindows();
    for (const auto& info : *windows) {
      if (info.number == static_cast<std::int64_t>(id)) return static_cast<Pid>(*info.ownerPid);
    }
    return 0;
  }
  /// The numbers of a window list, in its order.
  template <typename Windows>
  static std::vector<std::int64_t> numbers(const Windows& windows) {
    std::vector<std::int64_t> numbers;
    for (const auto& info : *windows) numbers.push_back(*info.number);
    return numbers;
  }
  std::vector<std::int64_t> onScreen() { return numbers(desktop->onScreenWindows()); }
  /// Activates `pid` and returns the answer as "none" / "true" / "false" once `drive` ran.
  std::string answerAfter(Pid pid, const std::function<void()>& drive) {
    auto answer = std::make_shared<std::string>("none");
    desktop->activate(pid, [answer](bool ok) { *answer = ok ? "true" : "false"; });
    EXPECT_EQ(*answer, "none") << "answered from inside activate()";
    drive();
    loop.runUntilIdle();
    return *answer;
  }

  sim::SimClock clock;
  sim::SimRunLoop loop{clock};
  FakeSource source;
  std::vector<SwayView> views;
  std::vector<std::int64_t> focusedCons;
  std::vector<std::string> log;
  std::unique_ptr<WaylandDesktop> desktop;
  std::vector<std::unique_ptr<AXObserver>> observers;
};

TEST_F(WaylandDesktopTest, GroupsByAppIdAndChoosesPids) {
  struct Row {
    bool withSway;
    std::vector<ToplevelState> toplevels;
    std::vector<SwayView> views;
    /// Per toplevel: its pid, "own", or "s<n>" for the n-th synthetic pid.
    std::string owners;
  };
  const std::vector<Row> rows = {
      // Sway's pid, when one application alone has it; the same title pairs in creation order.
      {true,
       {top(1, "foot", false, "x"), top(2, "foot", false, "x")},
       {view(11, 300, "foot", "x"), view(10, 300, "foot", "x")},
       "300 300"},
      // Two app_ids of one process (a terminal server) are no application's alone.
      {true,
       {top(1, "a"), top(2, "b"), top(3, "c")},
       {view(1, 500, "a", "t1"), view(2, 500, "b", "t2"), view(3, 600, "c", "t3")},
       "s1 s2 600"},
      // Our own windows are ours, whatever sway says; a pid of ours elsewhere is not believed.
      {true,
       {top(1, "tolvane"), top(2, "evil")},
       {view(1, 700, "tolvane", "t1"), view(2, kOwnPid, "evil", "t2")},
       "own s1"},
      // Without sway nothing names a process; windows without app_id are each their own.
      {false, {top(1, "foot"), top(2, "foot"), top(3, ""), top(4, "")}, {}, "s1 s1 s2 s3"},
      // The compositor's pids take the same rules, but one of ours makes the window ours; a
      // window for no switcher is absent.
      {false,
       {plasma(top(1, "kate"), 900), plasma(top(2, "kate"), 900), plasma(top(3, "qt"), kOwnPid),
        plasma(top(4, "y"), 901), plasma(top(5, "z"), 901),
        plasma(top(6, "w"), WaylandDesktop::kSyntheticPidBase + 1), plasma(top(7, "v"), 902),
        plasma(top(8, "v"), 903), plasma(top(9, "panel"), 904, {"skip"})},
       {},
       "900 900 own s1 s2 s3 s4 s4 absent"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.owners);
    source.list = row.toplevels;
    views = row.views;
    start(row.withSway);
    std::map<Pid, std::string> labels;
    std::string owners;
    int synthetic = 0;
    for (const auto& state : row.toplevels) {
      const Pid pid = ownerOf(state.id);
      if (!labels.count(pid) && pid >= WaylandDesktop::kSyntheticPidBase) {
        EXPECT_TRUE(desktop->processExists(pid));
        labels[pid] = "s" + std::to_string(++synthetic);
      }
      if (!labels.count(pid)) labels[pid] = pid == kOwnPid ? "own" : std::to_string(pid);
      owners += (owners.empty() ? "" : " ") + (pid == 0 ? "absent" : labels[pid]);
    }
    EXPECT_EQ(owners, row.owners);
    EXPECT_EQ(desktop->runningApplications().size(), labels.size() - labels.count(0));
    desktop.reset();
  }
}

TEST_F(WaylandDesktopTest, PidLearntLaterRelaunchesAndSyntheticPidsEndWithTheApp) {
  source.list = {top(1, "foot", true)};
  start(true);
  const Pid synthetic = ownerOf(1);
  ASSERT_GE(synthetic, WaylandDesktop::kSyntheticPidBase);
  source.done(top(2, "foot"));  // sway still has no view: the pid is kept
  EXPECT_EQ(ownerOf(2), synthetic);
  views = {view(1, 300, "foot", "t1"), view(2, 300, "foot", "t2")};
  desktop->swayTreeChanged();
  EXPECT_EQ(ownerOf(1), 300);
  EXPECT_EQ(log, (std::vector<std::string>{"terminated foot", "launched foot", "activated foot"}));
  EXPECT_FALSE(desktop->processExists(synthetic));
  EXPECT_EQ(desktop->frontmostPid(), 300);
  // A window sway shows before the shell relays the event is asked about at once.
  views.push_back(view(3, 800, "bar", "t3"));
  source.done(top(3, "bar"));
  EXPECT_EQ(ownerOf(3), 800);
  EXPECT_EQ(log.back(), "launched bar");
}

TEST_F(WaylandDesktopTest, FocusFollowsTheLatestActivationAndSurvivesGaps) {
  source.list = {top(1, "a", true), top(2, "b")};
  start(false);
  const Pid a = ownerOf(1);
  const Pid b = ownerOf(2);
  EXPECT_EQ(desktop->frontmostPid(), a);
  source.done(top(3, "b", true));  // maps activated before 1's deactivation arrives
  EXPECT_EQ(desktop->frontmostPid(), b);
  source.setActivated(1, false);
  source.setActivated(3, false);  // our overlay takes the keyboard
  EXPECT_EQ(desktop->frontmostPid(), b);
  source.setActivated(1, true);
  EXPECT_EQ(desktop->frontmostPid(), a);
  EXPECT_EQ(log, (std::vector<std::string>{"activated b", "activated a"}));
  EXPECT_EQ(onScreen(), (std::vector<std::int64_t>{1, 3, 2}));
}

TEST_F(WaylandDesktopTest, AWindowFocusedAgainIsFrontAgain) {
  source.list = {top(1, "a"), top(2, "b"), top(3, "c", true)};
  start(false);
  observeFocus();
  for (ToplevelId next : {2, 1, 2, 3}) {
    for (const auto& state : std::vector(source.list)) {
      if (state.activated) source.setActivated(state.id, false);
    }
    source.setActivated(next, true);
  }
  // 2, focused before 1 and again after it, is behind 3 alone: its first focus does not count.
  EXPECT_EQ(onScreen(), (std::vector<std::int64_t>{3, 2, 1}));
  EXPECT_EQ(numbers(desktop->allWindows()), onScreen());
  EXPECT_EQ(log, (std::vector<std::string>{"focus 2", "activated b", "focus 1", "activated a",
                                           "focus 2", "activated b", "focus 3", "activated c"}));
}

TEST_F(WaylandDesktopTest, NotificationsComeInOrderOnceTheStateIsConsistent) {
  source.list = {top(1, "a", true), top(2, "a")};
  start(false);
  observeFocus();
  desktop->addObserver(WorkspaceEvent::launched, [this](const RunningApp& app) {
    // The state is complete when observers run: the new application has its window.
    const auto windows = desktop->copyAttribute(desktop->applicationElement(app.pid), ax::kWindows);
    log.push_back("windows " +
                  std::to_string(std::get<std::vector<AXElement>>(*windows.value).size()));
  });
  source.setActivated(2, true);
  source.setActivated(1, false);
  source.setActivated(2, true);  // still activated: no news
  source.done(top(3, "c", true));
  source.setActivated(2, false);
  source.remove(3);
  source.setActivated(1, true);
  EXPECT_EQ(log, (std::vector<std::string>{"focus 2", "launched c", "windows 1", "activated c",
                                           "terminated c", "focus 1", "activated a"}));
}

TEST_F(WaylandDesktopTest, ActivationAnswers) {
  struct Row {
    const char* name;
    std::function<void(WaylandDesktopTest&)> drive;
    std::string answer;
  };
  const std::vector<Row> rows = {
      {"activated", [](auto& t) { t.source.setActivated(2, true); }, "true"},
      {"bound passes", [](auto& t) { t.loop.advance(WaylandDesktop::kActivationBoundSeconds); },
       "false"},
      {"another window activated",
       [](auto& t) {
         t.source.setActivated(1, true);
         t.loop.advance(1);
       },
       "false"},
      {"closes", [](auto& t) { t.source.remove(2); }, "false"},
      {"superseded", [](auto& t) { t.desktop->activate(t.ownerOf(1), nullptr); }, "false"},
      {"source withdrawn", [](auto& t) { t.source.observer.finished(); }, "false"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    source.list = {top(1, "a"), top(2, "b")};
    source.activations.clear();
    start(false);
    EXPECT_EQ(answerAfter(ownerOf(2), [&] { row.drive(*this); }), row.answer);
    EXPECT_EQ(source.activations.front(), 2u);
    desktop.reset();
  }
  source.list = {top(1, "a")};
  start(false);
  EXPECT_EQ(answerAfter(12345, [] {}), "false");  // no such application: refused, from the loop
}

TEST_F(WaylandDesktopTest, RestoringAMinimizedWindowActivatesItOnce) {
  auto minimized = top(2, "a");
  minimized.minimized = true;
  source.list = {top(1, "a", true), minimized};
  start(false);
  const auto windows =
      desktop->copyAttribute(desktop->applicationElement(ownerOf(2)), ax::kWindows);
  const AXElement element = std::get<std::vector<AXElement>>(*windows.value)[1];
  EXPECT_EQ(std::get<bool>(*desktop->copyAttribute(element, ax::kMinimized).value), true);
  EXPECT_EQ(desktop->copyAttribute(element, ax::kSize).error, ax::kNoValue);
  EXPECT_EQ(desktop->onScreenWindows()->size(), 1u);
  // The activator's sequence: restore, make main, raise, activate the application.
  EXPECT_EQ(desktop->setAttribute(element, ax::kMinimized, false), ax::kSuccess);
  EXPECT_EQ(desktop->setAttribute(element, ax::kMain, true), ax::kSuccess);
  EXPECT_EQ(desktop->performAction(element, ax::kRaise), ax::kSuccess);
  EXPECT_EQ(answerAfter(ownerOf(2), [&] { source.done(top(2, "a", true)); }), "true");
  EXPECT_EQ(source.activations, (std::vector<ToplevelId>{2, 2}));  // no third request
  EXPECT_EQ(desktop->setAttribute(element, ax::kMinimized, true), ax::kSuccess);
  EXPECT_EQ(source.minimizeRequests, (std::vector<ToplevelId>{2}));
}

TEST_F(WaylandDesktopTest, FirstHistoryFollowsSwaysFocusOrder) {
  source.list = {top(1, "a"), top(2, "b", true), top(3, "a"), top(4, "c")};
  views = {view(1, 0, "a", "t1", "1", 2), view(2, 0, "b", "t2", "1", 0),
           view(3, 0, "a", "t3", "2", 1)};
  start(true);
  EXPECT_EQ(onScreen(), (std::vector<std::int64_t>{2, 3, 1, 4}));
  const auto focused =
      desktop->copyAttribute(desktop->applicationElement(ownerOf(1)), ax::kFocusedWindow);
  std::uint32_t number = 0;
  desktop->windowNumber(std::get<AXElement>(*focused.value), number);
  EXPECT_EQ(number, 3u);
  desktop.reset();
  start(false);  // without sway: the activated one, then the order of announcement
  EXPECT_EQ(onScreen(), (std::vector<std::int64_t>{2, 1, 3, 4}));
}

TEST_F(WaylandDesktopTest, SpacesAreWorkspacesOrDesktopsOrOneAndAHiddenOneIsShownBeforeActivating) {
  source.list = {top(1, "a", true), top(2, "b"), top(3, "c"), top(4, "d")};
  views = {view(10, 0, "a", "t1", "1"), view(20, 0, "b", "t2", "2: web", 0, false),
           view(30, 0, "c", "t3", ""), view(40, 0, "d", "t4", "1")};  // the scratchpad is no Space
  start(true);
  const auto id = *desktop->mainConnectionID();
  EXPECT_EQ(*desktop->copySpaces(id, 7), (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(*desktop->copyWindowsOnSpaces(id, {2}), (std::vector<std::uint32_t>{2}));
  // Sway is asked to focus a window's container only when its workspace is hidden.
  desktop->activate(ownerOf(4), nullptr);
  EXPECT_TRUE(focusedCons.empty());
  desktop->activate(ownerOf(2), nullptr);
  EXPECT_EQ(focusedCons, (std::vector<std::int64_t>{20}));
  EXPECT_EQ(source.activations, (std::vector<ToplevelId>{4, 2}));
  views = {view(20, 0, "b", "t2", "2: web"), view(10, 0, "a", "t1", "3")};
  desktop->swayTreeChanged();
  EXPECT_EQ(*desktop->copySpaces(id, 7), (std::vector<std::uint64_t>{2, 3}));
  EXPECT_EQ(*desktop->copyWindowsOnSpaces(id, {2, 3}), (std::vector<std::uint32_t>{1, 2}));
  desktop.reset();
  start(false);
  EXPECT_EQ(*desktop->copySpaces(id, 7), (std::vector<std::uint64_t>{1}));
  EXPECT_EQ(*desktop->copyWindowsOnSpaces(id, {1}), (std::vector<std::uint32_t>{1, 2, 3, 4}));
  desktop.reset();
  // Plasma's desktop ids keep their Space while the process lives; "all" is on every one.
  source.list = {plasma(top(1, "a"), 0, {"d-uuid-2"}), plasma(top(2, "b"), 0, {"all"}),
                 plasma(top(3, "c"), 0, {"d-uuid-1", "d-uuid-2"})};
  start(false);
  EXPECT_EQ(*desktop->copySpaces(id, 7), (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(*desktop->copyWindowsOnSpaces(id, {1}), (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(*desktop->copyWindowsOnSpaces(id, {2}), (std::vector<std::uint32_t>{2, 3}));
  source.done(plasma(top(1, "a"), 0, {"skip"}));  // now for no switcher: gone
  source.done(plasma(top(3, "c"), 0, {"d-uuid-1"}));
  EXPECT_EQ(*desktop->copySpaces(id, 7), (std::vector<std::uint64_t>{2}));
  EXPECT_EQ(*desktop->copyWindowsOnSpaces(id, {2}), (std::vector<std::uint32_t>{2, 3}));
  EXPECT_EQ(numbers(desktop->allWindows()), (std::vector<std::int64_t>{2, 3}));
}

}  // namespace
}  // namespace tolvane::wayland
