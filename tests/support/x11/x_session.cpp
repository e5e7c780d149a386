// Starting and tearing down a private display, and the bounded waits desktop tests are built on.
#include "support/x11/x_session.h"

#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace tolvane::test {

namespace {

using Clock = std::chrono::steady_clock;

using x11::Reply;

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

/// Waits until `pipe` received the line `line`, or any line when it is empty.
bool waitForLine(PipeText& pipe, const std::string& line) {
  pipe.closeWriteEnd();
  const auto received = [&] {
    const std::string text = "\n" + pipe.text();
    return line.empty() ? text.find('\n', 1) != std::string::npos
                        : text.find("\n" + line + "\n") != std::string::npos;
  };
  return waitOn(received, {pipe.source()}, XSession::kBound);
}

}  // namespace

bool XSession::start(bool withWindowManager) {
  // The machine may be busy with builds: the display, its clients and Tolvane, all started from
  // here, run ahead of them, as a desktop session's programs run ahead of batch work. Tolvane's
  // keyboard watchdog would otherwise see the load as a stall of its own (only root may).
  setpriority(PRIO_PROCESS, 0, -10);
  if (home_.path().empty()) {
    error_ = "no temporary folder";
    return false;
  }
  if (!startServer()) return false;
  return !withWindowManager || startWindowManager();
}

bool XSession::startServer() {
  // Xvfb picks a free display itself and writes its number once it accepts connections: no
  // polling for a socket, no race with other test programs.
  PipeText ready;
  if (spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp",
             "-noreset"},
            ready.writeEnd()) < 0) {
    error_ = "cannot start Xvfb";
    return false;
  }
  if (!waitForLine(ready, "")) {
    error_ = "Xvfb did not report a display";
    return false;
  }
  display_ = ":" + ready.text().substr(0, ready.text().find('\n'));

  x_ = x11::Connection::open(display_.c_str());
  if (!x_) {
    error_ = "cannot connect to " + display_;
    return false;
  }
  watch(root());
  return true;
}

bool XSession::wmReady() {
  const auto check = value(root(), "_NET_SUPPORTING_WM_CHECK");
  if (!check || value(*check, "_NET_SUPPORTING_WM_CHECK") != check) return false;
  const auto supported = values(root(), "_NET_SUPPORTED").value_or(std::vector<std::uint32_t>{});
  const auto lists = [&](std::string_view name) {
    return std::find(supported.begin(), supported.end(), atom(name)) != supported.end();
  };
  return lists("_NET_CLIENT_LIST") && lists("_NET_ACTIVE_WINDOW");
}

bool XSession::startWindowManager() {
  // openbox announces itself on the root window before it has finished starting, and requests
  // that reach it in between can sit unread until some later event wakes it. Its --startup
  // command runs when it is done, so the command's output on our pipe is the sign to go on.
  PipeText started;
  std::vector<std::string> argv = {"openbox", "--sm-disable", "--startup", "echo started"};
  argv.insert(argv.end(), windowManagerArguments_.begin(), windowManagerArguments_.end());
  if (spawn(argv, started.writeEnd()) < 0) {
    error_ = "cannot start openbox";
    return false;
  }
  // openbox writes its own messages to the same output.
  if (!waitForLine(started, "started")) {
    error_ = "openbox did not finish starting";
    return false;
  }
  // The root is watched since the connection opened, so no announcement can slip by unseen.
  if (!waitUntil([this] { return wmReady(); })) {
    error_ = "openbox did not announce itself";
    return false;
  }
  return true;
}

// --- Processes --------------------------------------------------------------------------------

pid_t XSession::spawn(std::vector<std::string> argv, int out) {
  if (argv.empty()) return -1;
  // setpriv execs the program in its own place (same pid) after arranging that it gets SIGTERM
  // should this process die without its destructors: a crashed test leaves no display behind.
  argv.insert(argv.begin(), {"setpriv", "--pdeathsig", "TERM", "--"});
  // The session's own config folder: openbox reads its stock configuration, not the caller's.
  const Environment environment = {{"DISPLAY", display_},
                                   {"XDG_CONFIG_HOME", home_.path() + "/config"},
                                   {"XDG_CACHE_HOME", home_.path() + "/cache"}};
  auto child = std::make_unique<ChildProcess>(std::move(argv), environment, out);
  if (!child->started()) return -1;
  processes_.push_back(std::move(child));
  return processes_.back()->pid();
}

void XSession::kill(pid_t pid) {
  const auto it = std::find_if(processes_.begin(), processes_.end(),
                               [pid](const auto& child) { return child->pid() == pid; });
  if (it != processes_.end()) processes_.erase(it);
}

std::optional<SpawnedClient> XSession::startClient(const std::vector<std::string>& argv,
                                                   std::size_t windows,
                                                   std::chrono::milliseconds bound) {
  const pid_t pid = spawn(argv);
  if (pid < 0) return std::nullopt;
  SpawnedClient client{.pid = pid};
  const bool shown = waitUntil(
      [&] {
        client.windows = clientsOf(pid);
        return client.windows.size() >= windows;
      },
      {}, bound);
  if (!shown) return std::nullopt;
  for (auto window : client.windows) watch(window);
  return client;
}

std::optional<SpawnedClient> XSession::startXterm(const std::string& title) {
  // A command that waits forever instead of a shell: nothing reads the caller's rc files.
  return startClient({"xterm", "-T", title, "-e", "sleep", "infinity"});
}

// --- Waiting --------------------------------------------------------------------------------

int XSession::drainOwn() {
  int count = 0;
  while (xcb_generic_event_t* event = xcb_poll_for_event(xcb())) {
    if (eventObserver_) eventObserver_(*event);
    std::free(event);
    ++count;
  }
  return count;
}

bool XSession::waitUntil(const std::function<bool()>& done,
                         const std::vector<PumpedConnection>& pumped,
                         std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  const auto drainQueued = [&] {
    int count = drainOwn();
    for (const auto& other : pumped) {
      if (other.queuesInProcess) count += other.drain();
    }
    return count;
  };
  for (;;) {
    drainQueued();
    for (const auto& other : pumped) {
      if (!other.queuesInProcess) other.drain();
    }
    if (done()) {
      // Events sent before `done` held have reached the other connections by now (their drain
      // makes a round trip first): let them see those too.
      for (const auto& other : pumped) other.drain();
      return true;
    }
    // Checking may itself have read events into a queue (replies and events share the
    // socket): handle those before blocking, or poll would wait for the next one.
    if (drainQueued() > 0) continue;
    // With the display gone (a row ends the server) only the other sources can still bring
    // what is awaited: the program's log and its end.
    const bool displayGone = x_->hasFailed();
    if (displayGone && pumped.empty()) return false;
    const int timeout = millisecondsUntil(deadline);
    if (timeout == 0) return false;
    std::vector<pollfd> fds;
    if (!displayGone) fds.push_back({xcb_get_file_descriptor(xcb()), POLLIN, 0});
    for (const auto& other : pumped) fds.push_back({other.fd, POLLIN, 0});
    poll(fds.data(), fds.size(), timeout);
  }
}

bool XSession::waitForProperty(
    xcb_window_t window, std::string_view property,
    const std::function<bool(const std::optional<std::vector<std::uint32_t>>&)>& accept,
    const std::vector<PumpedConnection>& pumped) {
  watch(window);
  return waitUntil([&] { return accept(values(window, property)); }, pumped);
}

void XSession::watch(xcb_window_t window) {
  const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                             XCB_EVENT_MASK_FOCUS_CHANGE |
                             (window == root() ? XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY : 0);
  xcb_change_window_attributes(xcb(), window, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(xcb());
}

// --- Reading --------------------------------------------------------------------------------

std::optional<std::vector<std::uint32_t>> XSession::values(xcb_window_t window,
                                                           std::string_view property) {
  Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      xcb(), xcb_get_property(xcb(), 0, window, atom(property), XCB_ATOM_ANY, 0, 4096), nullptr));
  if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 32) return std::nullopt;
  const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
  const int count = xcb_get_property_value_length(reply.get()) / 4;
  return std::vector<std::uint32_t>(data, data + count);
}

std::optional<std::uint32_t> XSession::value(xcb_window_t window, std::string_view property) {
  auto list = values(window, property);
  if (!list || list->empty()) return std::nullopt;
  return list->front();
}

std::vector<xcb_window_t> XSession::clientList() {
  return values(root(), "_NET_CLIENT_LIST").value_or(std::vector<std::uint32_t>{});
}

std::vector<xcb_window_t> XSession::clientsOf(pid_t pid) {
  // Every request first, then every reply: one round trip, not one per window, so that a wait
  // on a client with a thousand windows does not spend its bound asking.
  const auto windows = clientList();
  const xcb_atom_t pidAtom = atom("_NET_WM_PID");
  std::vector<xcb_get_property_cookie_t> cookies;
  cookies.reserve(windows.size());
  for (auto window : windows) {
    cookies.push_back(xcb_get_property(xcb(), 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1));
  }
  std::vector<xcb_window_t> result;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(xcb(), cookies[i], nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) continue;
    const auto* claimed = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    if (*claimed == static_cast<std::uint32_t>(pid)) result.push_back(windows[i]);
  }
  return result;
}

xcb_window_t XSession::activeWindow() {
  return value(root(), "_NET_ACTIVE_WINDOW").value_or(XCB_WINDOW_NONE);
}

// --- Own windows ----------------------------------------------------------------------------

xcb_window_t XSession::createWindow(std::uint16_t width, std::uint16_t height) {
  const xcb_window_t window = xcb_generate_id(xcb());
  xcb_create_window(xcb(), XCB_COPY_FROM_PARENT, window, root(), 0, 0, width, height, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, x_->screen().root_visual, 0, nullptr);
  watch(window);
  return window;
}

void XSession::sendRootMessage(xcb_window_t window, std::string_view type,
                               const std::vector<std::uint32_t>& data, xcb_connection_t* through) {
  if (!through) through = xcb();
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = atom(type);
  for (std::size_t i = 0; i < data.size() && i < 5; ++i) message.data.data32[i] = data[i];
  xcb_send_event(through, 0, root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(through);
}

bool XSession::syncWindowManager(xcb_connection_t* through,
                                 const std::vector<PumpedConnection>& pumped) {
  const xcb_window_t probe = createWindow(1, 1);
  // The probe must exist before the request reaches the window manager.
  sync();
  sendRootMessage(probe, "_NET_REQUEST_FRAME_EXTENTS", {}, through);
  const bool answered = waitForProperty(
      probe, "_NET_FRAME_EXTENTS", [](const auto& extents) { return extents.has_value(); }, pumped);
  xcb_destroy_window(xcb(), probe);
  xcb_flush(xcb());
  return answered;
}

void XSession::killServer() {
  if (!processes_.empty()) processes_.erase(processes_.begin());
}

void XSession::sync() {
  Reply<xcb_get_input_focus_reply_t>(
      xcb_get_input_focus_reply(xcb(), xcb_get_input_focus(xcb()), nullptr));
}

}  // namespace tolvane::test
