// A private X display for one desktop test: Xvfb on a free display number, optionally openbox,
// client programs in their own process groups, and bounded waits on X events and properties.
#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/x11/x11_connection.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace tolvane::test {

/// Another X connection a wait must keep reading (the one of the service under test): its file
/// descriptor and a function that reads and dispatches what is queued, answering how many
/// events it handled. A drain that makes a round trip first is sure to see every event the
/// server sent before it.
struct PumpedConnection {
  PumpedConnection(int fd, std::function<int()> drain) : fd(fd), drain(std::move(drain)) {}
  /// A pipe or a child: the kernel keeps what is unread and wakes the poll, so it is read only
  /// before the wait's check. Read again just before the poll, a line arriving in between would
  /// be taken without a check and the poll would sleep to the bound.
  PumpedConnection(Source source)
      : fd(source.fd),
        drain([read = std::move(source.drain)] {
          read();
          return 0;
        }),
        queuesInProcess(false) {}
  int fd = -1;
  std::function<int()> drain;
  /// An X connection: events a reply brought in wait in libxcb's queue, where no poll sees them.
  bool queuesInProcess = true;
};

/// A client program the session started, with the managed windows it showed.
struct SpawnedClient {
  pid_t pid = -1;
  std::vector<xcb_window_t> windows;
};

/// One display per test. Everything it starts is killed when it is destroyed. Not copyable.
class XSession {
 public:
  /// How long any single wait may take before the test gives up: generous, because the machine
  /// may be loaded; a healthy run never comes near it.
  static constexpr std::chrono::milliseconds kBound{20000};

  XSession() = default;
  /// Clients first, the server last, so that nobody notices the display vanish mid-request.
  ~XSession() {
    while (!processes_.empty()) processes_.pop_back();
  }
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  /// Starts Xvfb on a display number it picks itself, connects to it, and with
  /// `withWindowManager` starts openbox and waits until it announces itself as an EWMH window
  /// manager. False (see error()) when any step failed.
  bool start(bool withWindowManager = true);
  /// Extra arguments for openbox (such as "--config-file", path); call before start().
  void setWindowManagerArguments(std::vector<std::string> arguments) {
    windowManagerArguments_ = std::move(arguments);
  }
  /// What went wrong in start(), for the test's failure message.
  const std::string& error() const { return error_; }

  /// The display name (":N").
  const std::string& display() const { return display_; }
  /// The session's own connection, for setting up and observing; tests must not hand it to the
  /// code under test, which opens its own.
  xcb_connection_t* xcb() const { return x_->xcb(); }
  xcb_window_t root() const { return x_->root(); }
  /// The atom with this name, interned on first use.
  xcb_atom_t atom(std::string_view name) { return x_->atom(name); }

  /// Starts `argv` with DISPLAY set, in a process group of its own, its output to `out`
  /// (/dev/null where -1); its pid, or -1.
  pid_t spawn(std::vector<std::string> argv, int out = -1);
  /// Ends a process this session started, with its group, and reaps it.
  void kill(pid_t pid);
  /// Starts a program and waits until `windows` windows with its pid are managed; nothing when
  /// it did not get there within `bound`.
  std::optional<SpawnedClient> startClient(const std::vector<std::string>& argv,
                                           std::size_t windows = 1,
                                           std::chrono::milliseconds bound = kBound);
  /// Starts `xterm -T title` and waits until the window manager manages its window.
  std::optional<SpawnedClient> startXterm(const std::string& title);

  /// Waits until `done()` holds, checking it again after each batch of X events on this
  /// session's connection or on any of `pumped`, and drains `pumped` once more when it does.
  /// False when the bound passed first.
  bool waitUntil(const std::function<bool()>& done,
                 const std::vector<PumpedConnection>& pumped = {},
                 std::chrono::milliseconds bound = kBound);
  /// Waits until the 32-bit list `property` of `window` satisfies `accept` (which sees nothing
  /// when the property is missing).
  bool waitForProperty(
      xcb_window_t window, std::string_view property,
      const std::function<bool(const std::optional<std::vector<std::uint32_t>>&)>& accept,
      const std::vector<PumpedConnection>& pumped = {});
  /// Selects property, structure and focus changes on `window`, so that waits wake up for
  /// them (and observers see a grab take the focus from it).
  void watch(xcb_window_t window);
  /// Sees every event of the session's own connection as a wait reads it, before `done` is
  /// asked: a wait can then end on an event itself rather than on a query made after it.
  void observeEvents(std::function<void(const xcb_generic_event_t&)> observer) {
    eventObserver_ = std::move(observer);
  }

  // --- Reading ----------------------------------------------------------------------------------

  /// A 32-bit list property (CARDINAL, WINDOW, ATOM); nothing when missing or unreadable.
  std::optional<std::vector<std::uint32_t>> values(xcb_window_t window, std::string_view property);
  /// The first value of a 32-bit property.
  std::optional<std::uint32_t> value(xcb_window_t window, std::string_view property);
  /// `_NET_CLIENT_LIST` in the window manager's order.
  std::vector<xcb_window_t> clientList();
  /// Managed windows whose `_NET_WM_PID` is `pid`.
  std::vector<xcb_window_t> clientsOf(pid_t pid);
  /// `_NET_ACTIVE_WINDOW`, or XCB_WINDOW_NONE.
  xcb_window_t activeWindow();

  // --- Windows of the session's own ------------------------------------------------------------

  /// Creates a top-level window (not yet mapped) and watches it.
  xcb_window_t createWindow(std::uint16_t width = 300, std::uint16_t height = 200);
  /// Sends a root client message as a pager would (`_NET_CURRENT_DESKTOP`, ...), through
  /// `through` (this session's connection when null).
  void sendRootMessage(xcb_window_t window, std::string_view type,
                       const std::vector<std::uint32_t>& data, xcb_connection_t* through = nullptr);
  /// Blocks until the server has processed every request sent so far.
  void sync();
  /// Waits until the window manager has handled every message sent so far through `through`
  /// (this session's connection when null): it asks for _NET_REQUEST_FRAME_EXTENTS on a
  /// fresh window and waits for the answer, which comes after everything sent before it.
  /// `pumped` keeps other connections read meanwhile.
  bool syncWindowManager(xcb_connection_t* through = nullptr,
                         const std::vector<PumpedConnection>& pumped = {});
  /// Ends the X server (the first process started), as a crash or logout would.
  void killServer();

 private:
  bool startServer();
  bool startWindowManager();
  bool wmReady();
  int drainOwn();

  TempDir home_;
  std::string error_;
  std::string display_;
  /// Started processes in the order they were started; the server first.
  std::vector<std::unique_ptr<ChildProcess>> processes_;
  std::unique_ptr<x11::Connection> x_;
  std::function<void(const xcb_generic_event_t&)> eventObserver_;
  std::vector<std::string> windowManagerArguments_;
};

}  // namespace tolvane::test
