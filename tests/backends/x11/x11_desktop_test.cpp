// The X11 desktop against Xvfb and openbox: activation, its answers, and the focus changes it
// notifies, which the focus history is kept from.
#include "backends/x11/x11_desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "backends/sim/sim_clock.h"
#include "backends/sim/sim_run_loop.h"
#include "support/x11/x_session.h"

namespace tolvane::test {
namespace {

using x11::X11Desktop;

/// One session with openbox, and the desktop under test on a connection of its own.
class X11DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(session.start()) << session.error(); }

  /// Builds the desktop, which reads what is on the display now.
  void makeDesktop() {
    desktop.reset();  // before the connection it uses
    connection = x11::Connection::open(session.display().c_str());
    EXPECT_TRUE(connection);
    desktop = std::make_unique<X11Desktop>(
        *connection, loop, [] { return false; },
        X11Desktop::Options{.applicationFolders = {}, .locale = "de_DE.UTF-8"});
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

  /// The attribute's value; nothing when the element answers an error or another type.
  template <typename T>
  std::optional<T> read(const AXElement& element, std::string_view attribute) {
    const auto result = desktop->copyAttribute(element, attribute);
    const T* value = result.value ? std::get_if<T>(&*result.value) : nullptr;
    return value ? std::optional<T>(*value) : std::nullopt;
  }
  /// The element's window number; 0 (no window) when the element answers none.
  std::uint32_t numberOf(const AXElement& element) {
    std::uint32_t number = 0;
    return desktop->windowNumber(element, number) == ax::kSuccess ? number : 0;
  }
  /// The element of `window`, found through the owner the desktop lists, as the core finds it.
  AXElement element(xcb_window_t window) {
    for (const auto& info : desktop->allWindows().value_or(std::vector<WindowInfo>{})) {
      if (info.number != window) continue;
      const AXElement app = desktop->applicationElement(static_cast<Pid>(*info.ownerPid));
      for (const auto& candidate :
           read<std::vector<AXElement>>(app, ax::kWindows).value_or(std::vector<AXElement>{})) {
        if (numberOf(candidate) == window) return candidate;
      }
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
  // Virtual time for the desktop's timers: none runs out unless a test lets time pass.
  sim::SimClock clock;
  sim::SimRunLoop loop{clock};
  std::unique_ptr<x11::Connection> connection;
  std::unique_ptr<X11Desktop> desktop;
};

TEST_F(X11DesktopTest, ActivationKeepsTheRaisedWindowAndFocusReachesObservers) {
  const auto client = session.startClient({TOLVANE_TEST_CLIENT, "--class", "Focus"}, 2);
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
