// The X11 desktop against Xvfb and openbox: applications and their names, window attributes,
// desktops as Spaces, activation, notifications, trust, and a display that goes away.
#include "platform/x11/x11_desktop.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "desktop/support/x_session.h"
#include "diagnostics/debug_log.h"
#include "focus/mru_order.h"
#include "focus/window_activator.h"
#include "platform/sim/faulty_file_system.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_login_items.h"
#include "platform/sim/sim_preference_store.h"
#include "platform/sim/sim_run_loop.h"
#include "platform/sim/sim_system_log.h"
#include "platform/system/posix_file_system.h"
#include "settings/app_settings.h"
#include "support/recorded_usage.h"
#include "support/temp_dir.h"
#include "windows/background_refresh.h"
#include "windows/space_window_resolver.h"
#include "windows/window_enumerator.h"

#ifndef TOLVANE_TEST_CLIENT
#define TOLVANE_TEST_CLIENT ""
#endif

namespace tolvane::test {
namespace {

using x11::ActivationWatch;
using x11::X11Desktop;
using Numbers = std::set<std::uint32_t>;

constexpr std::string_view kTestClient = TOLVANE_TEST_CLIENT;

Numbers asSet(const std::vector<xcb_window_t>& windows) {
  return Numbers(windows.begin(), windows.end());
}

/// The core's window discovery and activation built on a desktop, wired as the application
/// wires them, on the fixture's virtual time; the log keeps its lines in memory.
struct CoreOnDesktop {
  CoreOnDesktop(X11Desktop& desktop, sim::SimClock& clock, sim::SimRunLoop& loop)
      : desktop(desktop), clock(clock), loop(loop) {
    noDisk.failCreates = true;
    log.setObserver([this](std::string_view line) {
      lines.emplace_back(line.substr(line.find(' ') + 1));  // without the timestamp
    });
  }
  /// The window as the enumerator would list it.
  SwitchWindow record(xcb_window_t window, const AXElement& element) {
    const Pid pid = *desktop.pidOf(element);
    return SwitchWindow({.id = window,
                         .axWindow = element,
                         .pid = pid,
                         .appName = SwitchWindow::appNameFor(*desktop.application(pid))});
  }
  std::vector<std::string> linesStartingWith(std::string_view prefix) const {
    std::vector<std::string> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [&](const std::string& line) { return line.starts_with(prefix); });
    return found;
  }
  /// Refreshes every application as a background pass does, then lists what the switcher
  /// would show.
  std::vector<SwitchWindow> switcherList() {
    for (const auto& app : desktop.runningApplications()) refresh.refreshSingle(app.pid);
    return enumerator.snapshot(std::nullopt, true);
  }

  X11Desktop& desktop;
  sim::SimClock& clock;
  sim::SimRunLoop& loop;
  system::PosixFileSystem disk;
  sim::FaultyFileSystem noDisk{disk};
  DebugLog log{noDisk, clock, "/nonexistent/tolvane-tests"};
  std::vector<std::string> lines;
  sim::SimPreferenceStore preferences{{{"launchAtLogin", false}}};
  sim::SimLoginItems loginItems;
  sim::SimSystemLog systemLog;
  AppSettings settings{preferences, loginItems, systemLog, log};
  RecordedUsage usage;
  MRUOrder order;
  SpaceWindowResolver resolver{desktop, desktop, clock, log};
  WindowEnumerator enumerator{{desktop, desktop, resolver, settings, order, clock, log, usage}};
  WindowActivator activator{{desktop, desktop, order, clock, log, usage, preferences}};
  BackgroundRefresh refresh{
      {desktop, desktop, resolver, enumerator, settings, preferences, loop, clock, log}};
};

/// One session with openbox, and the desktop under test on a connection of its own.
class X11DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.start(withWindowManager)) << session.error();
    std::filesystem::create_directories(applications());
  }

  std::string applications() const { return folder.path() + "/share/applications"; }

  void writeEntry(const std::string& file, const std::string& text) {
    std::ofstream(applications() + "/" + file) << text;
  }

  /// Builds the desktop, which reads what is on the display now.
  X11Desktop& makeDesktop() {
    desktop.reset();  // before the connection it uses
    connection = x11::Connection::open(session.display().c_str());
    EXPECT_TRUE(connection);
    desktop = std::make_unique<X11Desktop>(
        *connection, loop, [this] { return secureInput; },
        X11Desktop::Options{.applicationFolders = {applications()}, .locale = "de_DE.UTF-8"});
    return *desktop;
  }

  /// The desktop's connection, read while a wait runs, as the application's loop would, and
  /// the loop's work that is due. The round trip first makes sure that everything the server
  /// sent before is read.
  std::vector<PumpedConnection> pumped() {
    return {{xcb_get_file_descriptor(connection->xcb()), [this] {
               xcb_connection_t* c = connection->xcb();
               std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
               const int dispatched = connection->dispatchPending();
               loop.runUntilIdle();
               return dispatched;
             }}};
  }
  bool eventually(const std::function<bool()>& done) { return session.waitUntil(done, pumped()); }

  std::optional<SpawnedClient> startTestClient(std::vector<std::string> args,
                                               std::size_t windows = 2) {
    args.insert(args.begin(), std::string(kTestClient));
    return session.startClient(args, windows);
  }

  /// A window of the session's own, standing for an application's window; it claims this
  /// process's pid unless the test says otherwise.
  xcb_window_t ownWindow(const std::function<void(xcb_window_t)>& setup = {}) {
    const xcb_window_t window = session.createWindow();
    session.setValues(window, "_NET_WM_PID", "CARDINAL", {static_cast<std::uint32_t>(getpid())});
    if (setup) setup(window);
    EXPECT_TRUE(session.mapAndWaitManaged(window));
    return window;
  }

  std::vector<AXElement> windowsOf(Pid pid) {
    auto result = desktop->copyAttribute(desktop->applicationElement(pid), ax::kWindows);
    if (result.error != ax::kSuccess || !result.value) return {};
    return std::get<std::vector<AXElement>>(*result.value);
  }
  Numbers numbersOf(Pid pid) {
    Numbers numbers;
    for (const auto& element : windowsOf(pid)) {
      std::uint32_t number = 0;
      EXPECT_EQ(desktop->windowNumber(element, number), ax::kSuccess);
      numbers.insert(number);
    }
    return numbers;
  }
  /// The element of `window`, found through its owner as the core finds it.
  AXElement element(xcb_window_t window) {
    for (const auto& info : desktop->allWindows().value_or(std::vector<WindowInfo>{})) {
      if (info.number != window) continue;
      for (const auto& candidate : windowsOf(static_cast<Pid>(*info.ownerPid))) {
        std::uint32_t number = 0;
        if (desktop->windowNumber(candidate, number) == ax::kSuccess && number == window) {
          return candidate;
        }
      }
    }
    return nullptr;
  }
  std::optional<Pid> ownerOf(xcb_window_t window) {
    for (const auto& info : desktop->allWindows().value_or(std::vector<WindowInfo>{})) {
      if (info.number == window) return static_cast<Pid>(*info.ownerPid);
    }
    return std::nullopt;
  }
  Numbers numbers(const std::optional<std::vector<WindowInfo>>& list) {
    Numbers result;
    for (const auto& info : list.value_or(std::vector<WindowInfo>{})) {
      result.insert(static_cast<std::uint32_t>(*info.number));
    }
    return result;
  }
  bool isActive(xcb_window_t window) { return session.activeWindow() == window; }
  /// Focuses `window` as a pager would and waits until the window manager has nothing more to
  /// do: openbox focuses new windows itself, a moment after it lists them.
  void settleFocusOn(xcb_window_t window) {
    session.sendRootMessage(window, "_NET_ACTIVE_WINDOW", {2, 0, 0});
    ASSERT_TRUE(session.waitUntil([&] { return isActive(window); }));
    ASSERT_TRUE(session.syncWindowManager());
    ASSERT_TRUE(isActive(window));
  }

  bool withWindowManager = true;
  XSession session;
  TempDir folder;
  bool secureInput = false;
  // Virtual time for the desktop's timers: a bound runs out when a test says so.
  sim::SimClock clock;
  sim::SimRunLoop loop{clock};
  std::unique_ptr<x11::Connection> connection;
  std::unique_ptr<X11Desktop> desktop;
};

class X11DesktopWithClientTest : public X11DesktopTest {
 protected:
  void SetUp() override {
    if (kTestClient.empty()) GTEST_SKIP() << "built without the test client";
    X11DesktopTest::SetUp();
  }
};

// --- Applications -----------------------------------------------------------------------------

TEST_F(X11DesktopWithClientTest, ApplicationsAreProcessesNamedByTheirDesktopEntries) {
  writeEntry("org.example.Viewer.desktop",
             "[Desktop Entry]\nType=Application\nName=Viewer\nName[de]=Betrachter\nExec=viewer\n");
  writeEntry("editor.desktop",
             "[Desktop Entry]\nType=Application\nName=Editor\nStartupWMClass=editor-main\n");
  writeEntry("notes.desktop",
             "[Desktop Entry]\nType=Application\nName=Notes\nName[de]=Notizen (de)\n"
             "Name[de_DE]=Notizen\n");
  writeEntry("ghost.desktop",
             "[Desktop Entry]\nType=Application\nName=Ghost\nHidden=true\nStartupWMClass=Ghost\n");
  struct Row {
    const char* why;
    std::vector<std::string> args;
    std::string bundleID;
    std::string name;
    std::string entry;  // the desktop file, when one was resolved
  };
  const std::vector<Row> rows = {
      {"the GTK application id names the entry",
       {"--gtk-id", "org.example.Viewer", "--class", "Unrelated"},
       "org.example.Viewer",
       "Betrachter",
       "org.example.Viewer.desktop"},
      {"StartupWMClass matches the class without regard to case",
       {"--class", "EDITOR-Main"},
       "editor",
       "Editor",
       "editor.desktop"},
      {"the file name matches the instance; de_DE is preferred to de",
       {"--instance", "Notes", "--class", "Other"},
       "notes",
       "Notizen",
       "notes.desktop"},
      {"a hidden entry counts as none: the class names the application",
       {"--class", "Ghost"},
       "Ghost",
       "Ghost",
       ""},
  };
  std::vector<SpawnedClient> clients;
  for (const auto& row : rows) {
    auto client = startTestClient(row.args);
    ASSERT_TRUE(client) << row.why;
    clients.push_back(*client);
  }
  makeDesktop();

  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].why);
    const auto app = desktop->application(clients[i].pid);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->bundleID, rows[i].bundleID);
    EXPECT_EQ(app->localizedName, rows[i].name);
    if (rows[i].entry.empty()) {
      EXPECT_FALSE(app->bundleLocation);
    } else {
      EXPECT_EQ(app->bundleLocation, applications() + "/" + rows[i].entry);
    }
    EXPECT_EQ(app->activationPolicy, ActivationPolicy::regular);
    EXPECT_FALSE(app->hidden);
    EXPECT_EQ(numbersOf(clients[i].pid), asSet(clients[i].windows));
  }
  const auto running = desktop->runningApplications();
  for (const auto& client : clients) {
    EXPECT_EQ(std::count_if(running.begin(), running.end(),
                            [&](const RunningApp& app) { return app.pid == client.pid; }),
              1);
  }
}

TEST_F(X11DesktopTest, WindowsWithoutATrustworthyPidAreGroupedByTheirXClient) {
  const auto claim = [this](std::optional<std::uint32_t> pid, const char* machine = nullptr) {
    return ownWindow([=, this](xcb_window_t window) {
      if (pid) {
        session.setValues(window, "_NET_WM_PID", "CARDINAL", {*pid});
      } else {
        xcb_delete_property(session.xcb(), window, session.atom("_NET_WM_PID"));
      }
      if (machine) session.setBytes(window, "WM_CLIENT_MACHINE", "STRING", machine);
    });
  };
  struct Row {
    const char* why;
    xcb_window_t window;
    std::optional<Pid> owner;  // nothing: grouped by its X client
  };
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::vector<Row> rows = {
      {"no _NET_WM_PID", claim(std::nullopt), std::nullopt},
      {"pid 0", claim(0), std::nullopt},
      {"a negative pid", claim(0xFFFFFFFF), std::nullopt},
      {"beyond any pid Linux hands out", claim(4194305), std::nullopt},
      {"a process on another machine", claim(getppid(), "elsewhere.invalid"), std::nullopt},
      {"the desktop's own process, from a window it did not create", claim(getpid(), host),
       std::nullopt},
      {"a live process on this machine", claim(getppid(), host), getppid()},
  };
  makeDesktop();
  std::set<Pid> synthetic;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    const auto owner = ownerOf(row.window);
    ASSERT_TRUE(owner);
    if (row.owner) {
      EXPECT_EQ(*owner, *row.owner);
      continue;
    }
    EXPECT_GE(*owner, X11Desktop::kSyntheticPidBase);
    EXPECT_TRUE(desktop->processExists(*owner));
    EXPECT_TRUE(numbersOf(*owner).count(row.window));
    synthetic.insert(*owner);
  }
  // All of them came from the session's one connection: one X client, one application.
  EXPECT_EQ(synthetic.size(), 1u);
  EXPECT_FALSE(desktop->processExists(*synthetic.begin() + 1));
}

TEST_F(X11DesktopTest, OwnWindowsAreKnownByTheirConnectionNotByTheirPid) {
  // Another client's window that claims the desktop's process, as any client can.
  const xcb_window_t impostor = ownWindow();
  makeDesktop();
  // A window of the desktop's own connection, as Qt makes Tolvane's windows.
  xcb_connection_t* own = connection->xcb();
  const xcb_window_t mine = xcb_generate_id(own);
  xcb_create_window(own, XCB_COPY_FROM_PARENT, mine, session.root(), 0, 0, 300, 200, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_map_window(own, mine);
  xcb_flush(own);
  ASSERT_TRUE(eventually([&] { return ownerOf(mine).has_value(); }));

  EXPECT_EQ(ownerOf(mine), desktop->ownPid());
  const auto impostorOwner = ownerOf(impostor);
  ASSERT_TRUE(impostorOwner);
  EXPECT_GE(*impostorOwner, X11Desktop::kSyntheticPidBase);

  CoreOnDesktop core{*desktop, clock, loop};
  std::set<std::uint32_t> listed;
  for (const auto& window : core.switcherList()) listed.insert(window.id());
  EXPECT_TRUE(listed.count(impostor));
  EXPECT_FALSE(listed.count(mine));
}

// --- Window attributes ------------------------------------------------------------------------

TEST_F(X11DesktopTest, WindowAttributesComeFromTheWindowsProperties) {
  struct Row {
    const char* why;
    std::function<void(xcb_window_t)> setup;
    std::optional<std::string> title;  // nothing: the window has none (-25212)
    std::string subrole;
  };
  const std::string standard(ax::kStandardWindow);
  const std::vector<Row> rows = {
      {"_NET_WM_NAME is UTF-8",
       [&](xcb_window_t w) { session.setBytes(w, "_NET_WM_NAME", "UTF8_STRING", "Grüße"); },
       "Grüße", standard},
      {"WM_NAME is Latin-1",
       [&](xcb_window_t w) { session.setBytes(w, "WM_NAME", "STRING", "caf\xe9"); }, "café",
       standard},
      {"_NET_WM_NAME wins over WM_NAME",
       [&](xcb_window_t w) {
         session.setBytes(w, "WM_NAME", "STRING", "legacy");
         session.setBytes(w, "_NET_WM_NAME", "UTF8_STRING", "modern");
       },
       "modern", standard},
      {"malformed UTF-8 is repaired: a bad byte, a cut sequence, a surrogate",
       [&](xcb_window_t w) {
         session.setBytes(w, "_NET_WM_NAME", "UTF8_STRING", "ok\xff\xc3(\xed\xa0\x80!");
       },
       "ok\uFFFD\uFFFD(\uFFFD!", standard},
      {"no title at all", nullptr, std::nullopt, standard},
      {"a dialog",
       [&](xcb_window_t w) {
         session.setValues(w, "_NET_WM_WINDOW_TYPE", "ATOM",
                           {session.atom("_NET_WM_WINDOW_TYPE_DIALOG")});
       },
       std::nullopt, std::string(ax::kDialog)},
      {"a transient window without a type is a dialog",
       [&](xcb_window_t w) {
         session.setValues(w, "WM_TRANSIENT_FOR", "WINDOW", {session.root()});
       },
       std::nullopt, std::string(ax::kDialog)},
      {"other types keep their own names",
       [&](xcb_window_t w) {
         session.setValues(w, "_NET_WM_WINDOW_TYPE", "ATOM",
                           {session.atom("_NET_WM_WINDOW_TYPE_UTILITY")});
       },
       std::nullopt, "_NET_WM_WINDOW_TYPE_UTILITY"},
  };
  std::vector<xcb_window_t> windows;
  for (const auto& row : rows) windows.push_back(ownWindow(row.setup));
  makeDesktop();

  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].why);
    const AXElement window = element(windows[i]);
    ASSERT_TRUE(window);
    const auto title = desktop->copyAttribute(window, ax::kTitle);
    if (rows[i].title) {
      ASSERT_EQ(title.error, ax::kSuccess);
      EXPECT_EQ(std::get<std::string>(*title.value), *rows[i].title);
    } else {
      EXPECT_EQ(title.error, ax::kNoValue);
    }
    const auto subrole = desktop->copyAttribute(window, ax::kSubrole);
    ASSERT_EQ(subrole.error, ax::kSuccess);
    EXPECT_EQ(std::get<std::string>(*subrole.value), rows[i].subrole);
    const auto role = desktop->copyAttribute(window, ax::kRole);
    EXPECT_EQ(std::get<std::string>(*role.value), "AXWindow");
    const auto size = desktop->copyAttribute(window, ax::kSize);
    ASSERT_EQ(size.error, ax::kSuccess);
    EXPECT_EQ(std::get<Size>(*size.value).width, 300);
    EXPECT_EQ(std::get<Size>(*size.value).height, 200);
    EXPECT_FALSE(std::get<bool>(*desktop->copyAttribute(window, ax::kMinimized).value));
  }
}

TEST_F(X11DesktopTest, MinimizedFollowsTheHiddenStateBothWays) {
  const auto xterm = session.startXterm("to minimize");
  ASSERT_TRUE(xterm);
  const xcb_window_t w = xterm->windows.front();
  makeDesktop();
  const AXElement window = element(w);
  ASSERT_TRUE(window);

  const auto minimized = [&] {
    return std::get<bool>(*desktop->copyAttribute(window, ax::kMinimized).value);
  };
  ASSERT_TRUE(session.minimize(w));
  EXPECT_TRUE(eventually(minimized));

  EXPECT_EQ(desktop->setAttribute(window, ax::kMinimized, false), ax::kSuccess);
  EXPECT_TRUE(
      eventually([&] { return !session.hasState(w, "_NET_WM_STATE_HIDDEN") && isActive(w); }));
  EXPECT_FALSE(minimized());

  EXPECT_EQ(desktop->setAttribute(window, ax::kMinimized, true), ax::kSuccess);
  EXPECT_TRUE(eventually([&] { return session.hasState(w, "_NET_WM_STATE_HIDDEN"); }));
}

TEST_F(X11DesktopTest, KeptAttributesFollowTheirWindowsChanges) {
  const xcb_window_t w = ownWindow([&](xcb_window_t window) {
    session.setBytes(window, "_NET_WM_NAME", "UTF8_STRING", "before");
  });
  makeDesktop();
  const AXElement window = element(w);
  ASSERT_TRUE(window);
  const auto title = [&] { return desktop->copyAttribute(window, ax::kTitle); };
  const auto size = [&] { return desktop->copyAttribute(window, ax::kSize); };
  ASSERT_EQ(std::get<std::string>(*title().value), "before");
  ASSERT_EQ(std::get<Size>(*size().value).width, 300);

  session.setBytes(w, "_NET_WM_NAME", "UTF8_STRING", "after");
  EXPECT_TRUE(eventually([&] { return std::get<std::string>(*title().value) == "after"; }));
  session.setValues(w, "_NET_WM_WINDOW_TYPE", "ATOM", {session.atom("_NET_WM_WINDOW_TYPE_DIALOG")});
  EXPECT_TRUE(eventually([&] {
    return std::get<std::string>(*desktop->copyAttribute(window, ax::kSubrole).value) ==
           ax::kDialog;
  }));
  // A client's own resize request, which the window manager grants.
  const std::uint32_t wider[] = {420, 260};
  xcb_configure_window(session.xcb(), w, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, wider);
  xcb_flush(session.xcb());
  EXPECT_TRUE(eventually([&] {
    const auto now = std::get<Size>(*size().value);
    return now.width == 420 && now.height == 260;
  }));
}

// --- Desktops and activation --------------------------------------------------------------------

TEST_F(X11DesktopTest, OtherDesktopsAreSpacesTheCoreCanReachAndActivate) {
  const auto here = session.startXterm("here");
  const auto there = session.startXterm("there");
  ASSERT_TRUE(here && there);
  const xcb_window_t a = here->windows.front();
  const xcb_window_t b = there->windows.front();
  makeDesktop();
  // Pager request: move b to desktop 1 (the second).
  session.sendRootMessage(b, "_NET_WM_DESKTOP", {1, 2});
  ASSERT_TRUE(eventually([&] {
    return desktop->copyWindowsOnSpaces(X11Desktop::kConnectionID, {2}) ==
           std::vector<std::uint32_t>{b};
  }));

  const auto connectionID = desktop->mainConnectionID();
  ASSERT_EQ(connectionID, X11Desktop::kConnectionID);
  EXPECT_EQ(desktop->copySpaces(*connectionID, 7), (std::vector<std::uint64_t>{1, 2, 3, 4}));
  EXPECT_EQ(desktop->copyWindowsOnSpaces(*connectionID, {1}), std::vector<std::uint32_t>{a});
  EXPECT_EQ(desktop->copySpaces(*connectionID + 1, 7), std::nullopt);
  EXPECT_TRUE(numbers(desktop->onScreenWindows()).count(a));
  EXPECT_FALSE(numbers(desktop->onScreenWindows()).count(b));
  EXPECT_EQ(numbers(desktop->allWindows()), (Numbers{a, b}));

  // The core's own discovery: the all-Spaces map, then a refresh of b's application, without
  // remote tokens.
  CoreOnDesktop core{*desktop, clock, loop};
  const auto map = core.resolver.windowIDsAcrossSpaces();
  ASSERT_TRUE(map);
  EXPECT_EQ(map->at(there->pid), Numbers{b});
  ASSERT_TRUE(core.enumerator.refreshApp(*desktop->application(there->pid), clock.now() + 0.15, map,
                                         true, false));
  const auto snapshot = core.enumerator.snapshot(there->pid, true);
  ASSERT_EQ(snapshot.size(), 1u);
  EXPECT_EQ(snapshot.front().id(), b);
  EXPECT_EQ(snapshot.front().title(), "there");

  EXPECT_TRUE(core.activator.activate(snapshot.front()));
  EXPECT_TRUE(eventually(
      [&] { return session.value(session.root(), "_NET_CURRENT_DESKTOP") == 1u && isActive(b); }));
}

TEST_F(X11DesktopTest, AnActivationIsReportedAsTheWindowManagerCarriedItOut) {
  const xcb_window_t a = ownWindow();
  const xcb_window_t b = ownWindow();
  const xcb_window_t doomed = ownWindow();
  settleFocusOn(a);
  makeDesktop();
  CoreOnDesktop core{*desktop, clock, loop};
  struct Row {
    const char* why;
    xcb_window_t window;
    bool destroyFirst;
    /// Virtual time to let pass: the answer comes from the bound, not from an event.
    bool waitsForBound;
    bool ok;
  };
  const Row rows[] = {
      {"a live window: accepted once the window manager made it active", b, false, false, true},
      {"the active window: nothing changes, the bound's look at the server confirms it", b, false,
       true, true},
      {"a window destroyed right before: refused once the window manager dropped it", doomed, true,
       false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    const AXElement window = element(row.window);
    ASSERT_TRUE(window);
    // The session's windows claim this process's pid, which is the desktop's own: they are
    // grouped by their X client instead.
    const std::string line = "activate pid=" + std::to_string(*desktop->pidOf(window)) +
                             " window=" + std::to_string(row.window) +
                             " ok=" + (row.ok ? "true" : "false");
    if (row.destroyFirst) {
      session.destroyWindow(row.window);
      session.sync();
    }
    const auto before = core.lines.size();
    const double started = clock.now();
    core.activator.activate(core.record(row.window, window));
    // The call never waits for the window manager: the answer comes from handling its events
    // (or the bound's timer) later, as the main thread goes on.
    EXPECT_EQ(core.lines.size(), before);
    if (row.waitsForBound) {
      ASSERT_TRUE(session.syncWindowManager(connection->xcb(), pumped()));
      EXPECT_EQ(core.lines.size(), before) << "answered before the bound";
      loop.advance(ActivationWatch::kBoundSeconds);
    }
    ASSERT_TRUE(eventually([&] { return core.lines.size() > before; }));
    EXPECT_EQ(core.linesStartingWith("activate pid=").back(), line);
    EXPECT_EQ(core.usage.events.back().properties.at("ms"),
              EventValue(static_cast<std::int64_t>((clock.now() - started) * 1000)));
    EXPECT_EQ(core.usage.events.back().properties.at("ok"), EventValue(row.ok));
  }
}

TEST_F(X11DesktopWithClientTest, ActivatingAnApplicationKeepsTheWindowJustRaised) {
  const auto client = startTestClient({});
  const auto other = session.startXterm("other");
  ASSERT_TRUE(client && other);
  const xcb_window_t w1 = client->windows[0];
  const xcb_window_t w2 = client->windows[1];
  settleFocusOn(other->windows.front());
  makeDesktop();

  // As the activator does it: raise the chosen window, then activate its application.
  const auto raiseThenActivate = [&](xcb_window_t window) {
    EXPECT_EQ(desktop->performAction(element(window), ax::kRaise), ax::kSuccess);
    EXPECT_TRUE(desktop->activate(client->pid, {}));
  };
  raiseThenActivate(w2);
  ASSERT_TRUE(eventually([&] { return isActive(w2); }));
  raiseThenActivate(w1);
  ASSERT_TRUE(eventually([&] { return isActive(w1); }));
  // Everything the desktop sent has been handled, and w1 is still the one.
  ASSERT_TRUE(session.syncWindowManager(connection->xcb(), pumped()));
  EXPECT_TRUE(isActive(w1));

  // Activated alone, an application comes back with its most recently active window.
  EXPECT_TRUE(desktop->activate(other->pid, {}));
  ASSERT_TRUE(eventually([&] { return isActive(other->windows.front()); }));
  EXPECT_TRUE(desktop->activate(client->pid, {}));
  EXPECT_TRUE(eventually([&] { return isActive(w1); }));
  EXPECT_FALSE(desktop->activate(X11Desktop::kSyntheticPidBase - 1, {}));
}

// --- Notifications ------------------------------------------------------------------------------

TEST_F(X11DesktopWithClientTest, FocusChangesReachObserversAndTheWorkspace) {
  const auto client = startTestClient({"--class", "Focus"});
  const auto other = session.startXterm("other");
  ASSERT_TRUE(client && other);
  settleFocusOn(other->windows.front());
  makeDesktop();

  std::vector<Pid> activated;
  desktop->addObserver(WorkspaceEvent::activated,
                       [&](const RunningApp& app) { activated.push_back(app.pid); });
  std::vector<std::uint32_t> focused;
  int error = ax::kFailure;
  auto observer = desktop->createObserver(
      client->pid,
      [&](const AXElement& window) {
        std::uint32_t number = 0;
        EXPECT_EQ(desktop->windowNumber(window, number), ax::kSuccess);
        EXPECT_EQ(desktop->pidOf(window), client->pid);
        focused.push_back(number);
      },
      error);
  ASSERT_EQ(error, ax::kSuccess);
  const AXElement app = desktop->applicationElement(client->pid);
  EXPECT_EQ(observer->addNotification(app, ax::kFocusedWindowChanged), ax::kSuccess);
  EXPECT_EQ(observer->addNotification(app, ax::kFocusedWindowChanged),
            X11Desktop::kNotificationAlreadyRegistered);
  EXPECT_EQ(
      observer->addNotification(desktop->applicationElement(other->pid), ax::kFocusedWindowChanged),
      ax::kFailure);

  const xcb_window_t w2 = client->windows[1];
  EXPECT_EQ(desktop->performAction(element(w2), ax::kRaise), ax::kSuccess);
  EXPECT_TRUE(desktop->activate(client->pid, {}));
  // Never from inside the call: only the event handler delivers.
  EXPECT_TRUE(focused.empty());
  EXPECT_TRUE(activated.empty());
  ASSERT_TRUE(eventually([&] { return focused == std::vector<std::uint32_t>{w2}; }));
  EXPECT_EQ(activated, std::vector<Pid>{client->pid});
  EXPECT_EQ(desktop->frontmostPid(), client->pid);

  // Another window of the same application: focus moves, the application stays frontmost.
  const xcb_window_t w1 = client->windows[0];
  session.sendRootMessage(w1, "_NET_ACTIVE_WINDOW", {2, 0, 0});
  ASSERT_TRUE(eventually([&] { return focused.size() == 2; }));
  EXPECT_EQ(focused.back(), w1);
  EXPECT_EQ(activated.size(), 1u);
  const auto focusedAttribute = desktop->copyAttribute(app, ax::kFocusedWindow);
  ASSERT_EQ(focusedAttribute.error, ax::kSuccess);
  std::uint32_t number = 0;
  desktop->windowNumber(std::get<AXElement>(*focusedAttribute.value), number);
  EXPECT_EQ(number, w1);

  // Another application: the workspace hears it, this observer does not.
  session.sendRootMessage(other->windows.front(), "_NET_ACTIVE_WINDOW", {2, 0, 0});
  ASSERT_TRUE(eventually([&] { return activated.size() == 2; }));
  EXPECT_EQ(activated.back(), other->pid);
  EXPECT_EQ(focused.size(), 2u);
  // The application's focused window is the one it had when it lost the focus.
  desktop->windowNumber(std::get<AXElement>(*desktop->copyAttribute(app, ax::kFocusedWindow).value),
                        number);
  EXPECT_EQ(number, w1);
}

TEST_F(X11DesktopWithClientTest, LaunchAndTerminationFollowTheClientList) {
  makeDesktop();
  std::vector<RunningApp> launched;
  std::vector<RunningApp> terminated;
  desktop->addObserver(WorkspaceEvent::launched,
                       [&](const RunningApp& app) { launched.push_back(app); });
  desktop->addObserver(WorkspaceEvent::terminated,
                       [&](const RunningApp& app) { terminated.push_back(app); });

  const auto client = startTestClient({"--class", "Launched"});
  ASSERT_TRUE(client);
  ASSERT_TRUE(eventually([&] { return !launched.empty(); }));
  EXPECT_EQ(launched.front().pid, client->pid);
  EXPECT_EQ(launched.front().bundleID, "Launched");
  ASSERT_TRUE(eventually([&] { return numbersOf(client->pid) == asSet(client->windows); }));
  EXPECT_EQ(launched.size(), 1u);  // the second window does not launch it again
  const AXElement window = element(client->windows.front());
  const AXElement app = desktop->applicationElement(client->pid);

  session.kill(client->pid);
  ASSERT_TRUE(eventually([&] { return !terminated.empty(); }));
  EXPECT_EQ(terminated.front().pid, client->pid);
  EXPECT_EQ(terminated.front().bundleID, "Launched");
  EXPECT_TRUE(terminated.front().terminated);
  EXPECT_FALSE(desktop->application(client->pid));
  EXPECT_EQ(desktop->copyAttribute(app, ax::kWindows).error, ax::kInvalidUIElement);
  EXPECT_EQ(desktop->copyAttribute(window, ax::kTitle).error, ax::kInvalidUIElement);
  EXPECT_FALSE(desktop->processExists(client->pid));
}

// --- What X11 has and has not -------------------------------------------------------------------

TEST_F(X11DesktopTest, SecureInputComesFromTheProbeAndPrivateFunctionsAreAbsent) {
  makeDesktop();
  EXPECT_FALSE(desktop->isSecureInputEnabled());
  secureInput = true;
  EXPECT_TRUE(desktop->isSecureInputEnabled());
  EXPECT_EQ(desktop->secureInputHolderPid(), std::nullopt);
  EXPECT_FALSE(desktop->hasRemoteTokens());
  EXPECT_FALSE(desktop->hasSymbolicHotKeySetter());
  EXPECT_NE(desktop->setSymbolicHotKeyEnabled(1, false), 0);
  EXPECT_EQ(desktop->isSymbolicHotKeyEnabled(1), std::nullopt);
  EXPECT_TRUE(desktop->isProcessTrusted());
  EXPECT_EQ(desktop->permissionSettingsURL(), std::nullopt);
}

TEST_F(X11DesktopTest, ALostDisplayFailsEveryCallWithoutCrashing) {
  const auto xterm = session.startXterm("doomed");
  ASSERT_TRUE(xterm);
  makeDesktop();
  const AXElement window = element(xterm->windows.front());
  ASSERT_TRUE(window);
  ASSERT_FALSE(desktop->connectionLost());

  session.killServer();
  // The loss is noticed when the connection is next read, as the event loop reads it; what
  // the desktop kept is of no use from then on.
  connection->dispatchPending();
  EXPECT_TRUE(desktop->connectionLost());
  EXPECT_EQ(desktop->copyAttribute(window, ax::kTitle).error, ax::kCannotComplete);
  EXPECT_EQ(connection->dispatchPending(), 0);
  EXPECT_EQ(desktop->copyAttribute(window, ax::kMinimized).error, ax::kCannotComplete);
  EXPECT_EQ(desktop->performAction(window, ax::kRaise), ax::kCannotComplete);
  EXPECT_FALSE(desktop->activate(xterm->pid, {}));
  EXPECT_EQ(desktop->onScreenWindows(), std::nullopt);
  EXPECT_EQ(desktop->mainConnectionID(), std::nullopt);
  int error = ax::kSuccess;
  EXPECT_FALSE(desktop->createObserver(
      xterm->pid, [](const AXElement&) {}, error));
  EXPECT_EQ(error, ax::kCannotComplete);
}

// --- Trust ------------------------------------------------------------------------------------

class X11TrustTest : public X11DesktopTest {
 protected:
  X11TrustTest() { withWindowManager = false; }

  /// Makes the session look like a window manager: a check window pointing at `self`, and
  /// `_NET_SUPPORTED` listing `features`.
  xcb_window_t announce(std::vector<std::string> features, bool pointsBack = true) {
    const xcb_window_t check = session.createWindow(1, 1);
    session.setValues(check, "_NET_SUPPORTING_WM_CHECK", "WINDOW",
                      {pointsBack ? check : session.root()});
    std::vector<std::uint32_t> atoms;
    for (const auto& name : features) atoms.push_back(session.atom(name));
    session.setValues(session.root(), "_NET_SUPPORTED", "ATOM", atoms);
    session.setValues(session.root(), "_NET_SUPPORTING_WM_CHECK", "WINDOW", {check});
    session.sync();
    return check;
  }
};

TEST_F(X11TrustTest, TrustMeansAnEWMHWindowManagerRuns) {
  struct Row {
    const char* why;
    std::vector<std::string> features;
    bool pointsBack;
    bool trusted;
  };
  const std::vector<Row> rows = {
      {"client list and active window", {"_NET_CLIENT_LIST", "_NET_ACTIVE_WINDOW"}, true, true},
      {"no active window", {"_NET_CLIENT_LIST", "_NET_WM_NAME"}, true, false},
      {"no client list", {"_NET_ACTIVE_WINDOW"}, true, false},
      {"a check window that does not point back (a stale property)",
       {"_NET_CLIENT_LIST", "_NET_ACTIVE_WINDOW"},
       false,
       false},
  };
  makeDesktop();
  EXPECT_FALSE(desktop->isProcessTrusted()) << "no window manager at all";
  int error = ax::kSuccess;
  EXPECT_FALSE(desktop->createObserver(
      getpid(), [](const AXElement&) {}, error));
  EXPECT_EQ(error, X11Desktop::kAPIDisabled);
  EXPECT_EQ(desktop->mainConnectionID(), std::nullopt);

  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    const xcb_window_t check = announce(row.features, row.pointsBack);
    makeDesktop();
    EXPECT_EQ(desktop->isProcessTrusted(), row.trusted);
    session.destroyWindow(check);
  }
}

TEST_F(X11TrustTest, TrustFollowsTheWindowManagerComingAndGoing) {
  makeDesktop();
  const xcb_window_t check = announce({"_NET_CLIENT_LIST", "_NET_ACTIVE_WINDOW"});
  EXPECT_TRUE(eventually([&] { return desktop->isProcessTrusted(); }));
  // A window manager that dies leaves its root properties behind, but its check window goes.
  session.destroyWindow(check);
  EXPECT_TRUE(eventually([&] { return !desktop->isProcessTrusted(); }));
}

// --- Answers to activations ------------------------------------------------------------------

/// A session that only pretends to be a window manager: activation requests reach nobody, and
/// the test plays the window manager's part by naming the active window itself.
class X11SilentWindowManagerTest : public X11TrustTest {
 protected:
  void SetUp() override {
    X11TrustTest::SetUp();
    announce({"_NET_CLIENT_LIST", "_NET_ACTIVE_WINDOW"});
    for (xcb_window_t* window : {&first, &second}) {
      *window = session.createWindow();
      session.setValues(*window, "_NET_WM_PID", "CARDINAL", {static_cast<std::uint32_t>(getpid())});
    }
    listClients({first, second});
    makeDesktop();
  }
  void listClients(const std::vector<xcb_window_t>& windows) {
    session.setValues(session.root(), "_NET_CLIENT_LIST", "WINDOW", windows);
    session.sync();
  }
  void nameActive(xcb_window_t window) {
    session.setValues(session.root(), "_NET_ACTIVE_WINDOW", "WINDOW", {window});
    session.sync();
  }
  /// Raises `window` and activates its application, as the activator does.
  void activate(xcb_window_t window) {
    EXPECT_EQ(desktop->performAction(element(window), ax::kRaise), ax::kSuccess);
    EXPECT_TRUE(desktop->activate(*desktop->pidOf(element(window)),
                                  [this, window](bool ok) { answers.emplace_back(window, ok); }));
  }

  using Answers = std::vector<std::pair<xcb_window_t, bool>>;
  xcb_window_t first = XCB_WINDOW_NONE;
  xcb_window_t second = XCB_WINDOW_NONE;
  Answers answers;
};

TEST_F(X11SilentWindowManagerTest, TheAnswerIsWhatTheWindowManagerDidWithinTheBound) {
  constexpr double kHalf = ActivationWatch::kBoundSeconds / 2;
  // Nobody acts on the request: refused when the bound runs out, not before.
  activate(first);
  loop.advance(kHalf);
  EXPECT_TRUE(answers.empty());
  loop.advance(kHalf);
  EXPECT_EQ(answers, (Answers{{first, false}}));

  // The window manager passes through another window, then makes this one active: accepted as
  // soon as that is seen, with no time passed.
  answers.clear();
  activate(first);
  nameActive(second);
  nameActive(first);
  ASSERT_TRUE(eventually([&] { return !answers.empty(); }));
  EXPECT_EQ(answers, (Answers{{first, true}}));

  // Active already: the window manager changes nothing; at the bound the server confirms it.
  answers.clear();
  activate(first);
  loop.advance(kHalf);
  EXPECT_TRUE(answers.empty());
  loop.advance(kHalf);
  EXPECT_EQ(answers, (Answers{{first, true}}));

  // A newer request supersedes the one waiting, which is refused at once; the newer one is
  // refused as soon as its window leaves the client list, active or not.
  answers.clear();
  activate(second);
  activate(first);
  loop.runUntilIdle();
  EXPECT_EQ(answers, (Answers{{second, false}}));
  listClients({second});
  ASSERT_TRUE(eventually([&] { return answers.size() == 2; }));
  EXPECT_EQ(answers.back(), std::make_pair(first, false));
  loop.advance(ActivationWatch::kBoundSeconds);
  EXPECT_EQ(answers.size(), 2u) << "one answer per request";
}

// The test plays the window manager: the client list says what the test wants, and a window
// stays listed after it is destroyed.
using X11HandMadeListTest = X11TrustTest;

TEST_F(X11HandMadeListTest, AWindowDestroyedWhileListedAnswersInvalidElement) {
  announce({"_NET_CLIENT_LIST", "_NET_ACTIVE_WINDOW"});
  const xcb_window_t w = session.createWindow();
  session.setBytes(w, "_NET_WM_NAME", "UTF8_STRING", "doomed");
  session.setValues(session.root(), "_NET_CLIENT_LIST", "WINDOW", {w});
  makeDesktop();
  const AXElement window = element(w);
  ASSERT_TRUE(window);
  const std::string_view attributes[] = {ax::kTitle,     ax::kSubrole, ax::kRole,
                                         ax::kMinimized, ax::kMain,    ax::kSize};
  for (auto attribute : attributes) {
    EXPECT_EQ(desktop->copyAttribute(window, attribute).error, ax::kSuccess) << attribute;
  }

  session.destroyWindow(w);
  session.sync();
  for (const auto& pump : pumped()) pump.drain();
  // Still listed, but what the desktop kept of the window went with its DestroyNotify.
  ASSERT_TRUE(ownerOf(w));
  for (auto attribute : attributes) {
    EXPECT_EQ(desktop->copyAttribute(window, attribute).error, ax::kInvalidUIElement) << attribute;
  }
  EXPECT_EQ(desktop->setAttribute(window, ax::kMain, true), ax::kInvalidUIElement);
  EXPECT_EQ(desktop->performAction(window, ax::kRaise), ax::kInvalidUIElement);

  session.setValues(session.root(), "_NET_CLIENT_LIST", "WINDOW", {});
  ASSERT_TRUE(eventually([&] { return !ownerOf(w); }));
  std::uint32_t number = 0;
  EXPECT_EQ(desktop->windowNumber(window, number), ax::kInvalidUIElement);
}

}  // namespace
}  // namespace tolvane::test
