// The X11 desktop against Xvfb and openbox: applications and their names, the processes windows
// belong to, window attributes, and activation with the focus changes it notifies.
#include "backends/x11/x11_desktop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "backends/sim/sim_clock.h"
#include "backends/sim/sim_run_loop.h"
#include "desktop/support/x_session.h"
#include "support/temp_dir.h"

namespace tolvane::test {
namespace {

using x11::X11Desktop;
using Numbers = std::set<std::uint32_t>;

/// One session with openbox, and the desktop under test on a connection of its own.
class X11DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(session.start()) << session.error(); }

  std::string applications() const { return folder.path() + "/share/applications"; }

  /// Builds the desktop, which reads what is on the display now.
  void makeDesktop() {
    desktop.reset();  // before the connection it uses
    connection = x11::Connection::open(session.display().c_str());
    EXPECT_TRUE(connection);
    desktop = std::make_unique<X11Desktop>(
        *connection, loop, [] { return false; },
        X11Desktop::Options{.applicationFolders = {applications()}, .locale = "de_DE.UTF-8"});
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

  /// Starts the two-window client with `options` ("--class Name").
  std::optional<SpawnedClient> startTestClient(const std::string& options) {
    std::vector<std::string> args{TOLVANE_TEST_CLIENT};
    std::istringstream words(options);
    for (std::string word; words >> word;) args.push_back(word);
    return session.startClient(args, 2);
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

  /// The attribute's value; nothing when the element answers an error or another type.
  template <typename T>
  std::optional<T> read(const AXElement& element, std::string_view attribute) {
    const auto result = desktop->copyAttribute(element, attribute);
    const T* value = result.value ? std::get_if<T>(&*result.value) : nullptr;
    return value ? std::optional<T>(*value) : std::nullopt;
  }
  std::vector<AXElement> windowsOf(Pid pid) {
    return read<std::vector<AXElement>>(desktop->applicationElement(pid), ax::kWindows)
        .value_or(std::vector<AXElement>{});
  }
  /// The element's window number; 0 (no window) when the element answers none.
  std::uint32_t numberOf(const AXElement& element) {
    std::uint32_t number = 0;
    return desktop->windowNumber(element, number) == ax::kSuccess ? number : 0;
  }
  Numbers numbersOf(Pid pid) {
    Numbers numbers;
    for (const auto& element : windowsOf(pid)) numbers.insert(numberOf(element));
    return numbers;
  }
  std::optional<Pid> ownerOf(xcb_window_t window) {
    for (const auto& info : desktop->allWindows().value_or(std::vector<WindowInfo>{})) {
      if (info.number == window) return static_cast<Pid>(*info.ownerPid);
    }
    return std::nullopt;
  }
  /// The element of `window`, found through its owner as the core finds it.
  AXElement element(xcb_window_t window) {
    const auto owner = ownerOf(window);
    for (const auto& candidate : owner ? windowsOf(*owner) : std::vector<AXElement>{}) {
      if (numberOf(candidate) == window) return candidate;
    }
    return nullptr;
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

  XSession session;
  TempDir folder;
  // Virtual time for the desktop's timers: none runs out unless a test lets time pass.
  sim::SimClock clock;
  sim::SimRunLoop loop{clock};
  std::unique_ptr<x11::Connection> connection;
  std::unique_ptr<X11Desktop> desktop;
};

// --- Applications -----------------------------------------------------------------------------

TEST_F(X11DesktopTest, ApplicationsComeAndGoWithTheClientListNamedByDesktopEntries) {
  std::filesystem::create_directories(applications());
  const auto entry = [&](const std::string& file, const std::string& keys) {
    std::ofstream(applications() + "/" + file) << "[Desktop Entry]\nType=Application\n" << keys;
  };
  entry("org.example.Viewer.desktop", "Name=Viewer\nName[de]=Betrachter\nExec=viewer\n");
  entry("editor.desktop", "Name=Editor\nStartupWMClass=editor-main\n");
  entry("notes.desktop", "Name=Notes\nName[de]=Notizen (de)\nName[de_DE]=Notizen\n");
  entry("ghost.desktop", "Name=Ghost\nHidden=true\nStartupWMClass=Ghost\n");
  entry("helper.desktop", "Name=Helper\nNoDisplay=true\n");
  struct Row {
    const char* why;
    std::string options;
    std::string bundleID;
    std::string name;
    bool resolved;  // the bundle is the entry named by the bundle id
  };
  const std::vector<Row> rows = {
      {"the GTK application id names the entry", "--gtk-id org.example.Viewer --class Unrelated",
       "org.example.Viewer", "Betrachter", true},
      {"StartupWMClass matches the class without regard to case", "--class EDITOR-Main", "editor",
       "Editor", true},
      {"the file name matches the instance; de_DE is preferred to de",
       "--instance Notes --class Other", "notes", "Notizen", true},
      {"a hidden entry counts as none: the class names the application", "--class Ghost", "Ghost",
       "Ghost", false},
  };
  makeDesktop();
  // What a user can pick to exclude: by name in their language, without hidden or unlisted
  // entries; a name is found for an unlisted one all the same.
  EXPECT_EQ(desktop->installedApplications(),
            (std::vector<InstalledApplication>{
                {"org.example.Viewer", "Betrachter"}, {"editor", "Editor"}, {"notes", "Notizen"}}));
  EXPECT_EQ(desktop->displayName("helper"), "Helper");
  EXPECT_EQ(desktop->displayName("ghost"), std::nullopt);
  std::vector<RunningApp> launched;
  std::vector<RunningApp> terminated;
  desktop->addObserver(WorkspaceEvent::launched,
                       [&](const RunningApp& app) { launched.push_back(app); });
  desktop->addObserver(WorkspaceEvent::terminated,
                       [&](const RunningApp& app) { terminated.push_back(app); });

  std::vector<SpawnedClient> clients;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    const auto client = startTestClient(row.options);
    ASSERT_TRUE(client);
    clients.push_back(*client);
    const Numbers windows(client->windows.begin(), client->windows.end());
    ASSERT_TRUE(eventually([&] { return numbersOf(client->pid) == windows; }));
    // Launched once, by its first window; the second does not launch it again.
    ASSERT_EQ(launched.size(), clients.size());
    EXPECT_EQ(launched.back().pid, client->pid);
    EXPECT_EQ(launched.back().bundleID, row.bundleID);
    const auto app = desktop->application(client->pid);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->bundleID, row.bundleID);
    EXPECT_EQ(app->localizedName, row.name);
    EXPECT_EQ(app->bundleLocation,
              row.resolved ? std::optional(applications() + "/" + row.bundleID + ".desktop")
                           : std::nullopt);
  }

  // Its last window gone, an application terminates, and its elements die with it.
  const SpawnedClient ghost = clients.back();
  const AXElement window = element(ghost.windows.front());
  const AXElement app = desktop->applicationElement(ghost.pid);
  session.kill(ghost.pid);
  ASSERT_TRUE(eventually([&] { return !terminated.empty(); }));
  EXPECT_EQ(terminated.front().pid, ghost.pid);
  EXPECT_EQ(terminated.front().bundleID, "Ghost");
  EXPECT_TRUE(terminated.front().terminated);
  EXPECT_FALSE(desktop->application(ghost.pid));
  EXPECT_EQ(desktop->copyAttribute(app, ax::kWindows).error, ax::kInvalidUIElement);
  EXPECT_EQ(desktop->copyAttribute(window, ax::kTitle).error, ax::kInvalidUIElement);
}

TEST_F(X11DesktopTest, AWindowsProcessIsItsTrustworthyPidElseItsXClient) {
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
      {"a process on another machine", claim(getppid(), "elsewhere.invalid"), std::nullopt},
      // A fixed fault: such a window was taken for one of Tolvane's own, which the switcher
      // never lists.
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

  // The desktop's own windows are those its connection created, as Qt makes Tolvane's.
  xcb_connection_t* own = connection->xcb();
  const xcb_window_t mine = xcb_generate_id(own);
  xcb_create_window(own, XCB_COPY_FROM_PARENT, mine, session.root(), 0, 0, 300, 200, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_map_window(own, mine);
  xcb_flush(own);
  ASSERT_TRUE(eventually([&] { return ownerOf(mine).has_value(); }));
  EXPECT_EQ(ownerOf(mine), desktop->ownPid());
}

// --- Window attributes ------------------------------------------------------------------------

TEST_F(X11DesktopTest, WindowAttributesComeFromTheWindowsPropertiesAndFollowThem) {
  const auto property = [&](const char* name, const char* type, std::string text) {
    return [=, this](xcb_window_t w) { session.setBytes(w, name, type, text); };
  };
  const auto typed = [&](const char* type) {
    return [=, this](xcb_window_t w) {
      session.setValues(w, "_NET_WM_WINDOW_TYPE", "ATOM", {session.atom(type)});
    };
  };
  struct Row {
    const char* why;
    std::function<void(xcb_window_t)> setup;
    std::optional<std::string> title;  // nothing: the window has none
    std::string subrole;
  };
  const std::string standard(ax::kStandardWindow);
  const std::string dialog(ax::kDialog);
  const std::vector<Row> rows = {
      {"WM_NAME is Latin-1", property("WM_NAME", "STRING", "caf\xe9"), "café", standard},
      {"malformed UTF-8 is repaired", property("_NET_WM_NAME", "UTF8_STRING", "ok\xff!"),
       "ok\uFFFD!", standard},
      {"a dialog without a title", typed("_NET_WM_WINDOW_TYPE_DIALOG"), std::nullopt, dialog},
  };
  std::vector<xcb_window_t> windows;
  for (const auto& row : rows) windows.push_back(ownWindow(row.setup));
  makeDesktop();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].why);
    const AXElement window = element(windows[i]);
    ASSERT_TRUE(window);
    EXPECT_EQ(read<std::string>(window, ax::kTitle), rows[i].title);
    EXPECT_EQ(desktop->copyAttribute(window, ax::kTitle).error,
              rows[i].title ? ax::kSuccess : ax::kNoValue);
    EXPECT_EQ(read<std::string>(window, ax::kSubrole), rows[i].subrole);
  }

  // What the desktop kept of a window follows the window's own changes; _NET_WM_NAME, once
  // there, wins over WM_NAME.
  const xcb_window_t w = windows.front();
  const AXElement window = element(w);
  const auto minimized = [&] { return read<bool>(window, ax::kMinimized) == true; };
  ASSERT_EQ(read<bool>(window, ax::kMinimized), false);
  session.setBytes(w, "_NET_WM_NAME", "UTF8_STRING", "Grüße");
  EXPECT_TRUE(eventually([&] { return read<std::string>(window, ax::kTitle) == "Grüße"; }));

  // Minimized follows the hidden state both ways.
  ASSERT_TRUE(session.minimize(w));
  EXPECT_TRUE(eventually(minimized));
  EXPECT_EQ(desktop->setAttribute(window, ax::kMinimized, false), ax::kSuccess);
  EXPECT_TRUE(
      eventually([&] { return !session.hasState(w, "_NET_WM_STATE_HIDDEN") && isActive(w); }));
  EXPECT_FALSE(minimized());
  EXPECT_EQ(desktop->setAttribute(window, ax::kMinimized, true), ax::kSuccess);
  EXPECT_TRUE(eventually([&] { return session.hasState(w, "_NET_WM_STATE_HIDDEN"); }));
}

// --- Activation
// -----------------------------------------------------------------------------------

TEST_F(X11DesktopTest, ActivationKeepsTheRaisedWindowAndFocusReachesObservers) {
  const auto client = startTestClient("--class Focus");
  const auto other = session.startXterm("other");
  ASSERT_TRUE(client && other);
  const xcb_window_t w1 = client->windows[0];
  const xcb_window_t w2 = client->windows[1];
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
        EXPECT_EQ(desktop->pidOf(window), client->pid);
        focused.push_back(numberOf(window));
      },
      error);
  ASSERT_EQ(error, ax::kSuccess);
  const AXElement app = desktop->applicationElement(client->pid);
  ASSERT_EQ(observer->addNotification(app, ax::kFocusedWindowChanged), ax::kSuccess);

  // As the activator does it: raise the chosen window, then activate its application.
  std::vector<bool> answers;
  const auto raiseThenActivate = [&](xcb_window_t window) {
    EXPECT_EQ(desktop->performAction(element(window), ax::kRaise), ax::kSuccess);
    EXPECT_TRUE(desktop->activate(client->pid, [&](bool ok) { answers.push_back(ok); }));
  };
  raiseThenActivate(w2);
  // Never from inside the call: only the event handler delivers.
  EXPECT_TRUE(focused.empty() && activated.empty() && answers.empty());
  ASSERT_TRUE(eventually([&] { return !answers.empty(); }));
  EXPECT_EQ(answers, std::vector<bool>{true});
  EXPECT_EQ(focused, std::vector<std::uint32_t>{w2});
  EXPECT_EQ(activated, std::vector<Pid>{client->pid});
  EXPECT_EQ(desktop->frontmostPid(), client->pid);

  // Another window of the same application: focus moves, the application stays frontmost, and
  // once the window manager has handled everything the window just raised is still the one.
  raiseThenActivate(w1);
  ASSERT_TRUE(eventually([&] { return answers.size() == 2; }));
  EXPECT_TRUE(answers.back());
  EXPECT_EQ(focused, (std::vector<std::uint32_t>{w2, w1}));
  EXPECT_EQ(activated.size(), 1u);
  ASSERT_TRUE(session.syncWindowManager(connection->xcb(), pumped()));
  EXPECT_TRUE(isActive(w1));

  // Another application: the workspace hears it, this observer does not. Activated alone, an
  // application comes back with the window it had when it lost the focus.
  session.sendRootMessage(other->windows.front(), "_NET_ACTIVE_WINDOW", {2, 0, 0});
  ASSERT_TRUE(eventually([&] { return activated.size() == 2; }));
  EXPECT_EQ(activated.back(), other->pid);
  EXPECT_EQ(focused.size(), 2u);
  EXPECT_EQ(numberOf(read<AXElement>(app, ax::kFocusedWindow).value_or(nullptr)), w1);
  EXPECT_TRUE(desktop->activate(client->pid, {}));
  EXPECT_TRUE(eventually([&] { return isActive(w1); }));
}

}  // namespace
}  // namespace tolvane::test
