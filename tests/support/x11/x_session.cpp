// Starting and tearing down a private display, and the bounded waits desktop tests are built on.
#include "support/x11/x_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

extern char** environ;

namespace tolvane::test {

namespace {

using Clock = std::chrono::steady_clock;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> own(T* reply) {
  return Reply<T>(reply, &std::free);
}

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

/// The environment of a child: ours, with the display and the session's own config folder
/// (so openbox reads its stock configuration, not the caller's).
std::vector<std::string> childEnvironment(const std::string& display, const std::string& home) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view text(*entry);
    if (text.starts_with("DISPLAY=") || text.starts_with("XDG_CONFIG_HOME=") ||
        text.starts_with("XDG_CACHE_HOME=")) {
      continue;
    }
    env.emplace_back(text);
  }
  env.push_back("DISPLAY=" + display);
  env.push_back("XDG_CONFIG_HOME=" + home + "/config");
  env.push_back("XDG_CACHE_HOME=" + home + "/cache");
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

/// Spawns with stdin from and output to /dev/null, in a new process group; `passed` names
/// descriptors of ours that the child gets as another number (its stdout, say).
pid_t spawnProcess(std::vector<std::string> argv, std::vector<std::string> env,
                   const std::vector<std::pair<int, int>>& passed = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  for (const auto& [ours, theirs] : passed)
    posix_spawn_file_actions_adddup2(&actions, ours, theirs);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);

  // setpriv execs the program in its own place (same pid) after arranging that it gets SIGTERM
  // should this process die without its destructors: a crashed test leaves no display behind.
  argv.insert(argv.begin(), {"setpriv", "--pdeathsig", "TERM", "--"});
  auto args = pointers(argv);
  auto envp = pointers(env);
  pid_t pid = -1;
  const int failed = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return failed ? -1 : pid;
}

/// Reads lines from `fd` until `accept` takes one, the end, or the bound; the accepted line
/// (without its newline), or nothing.
std::optional<std::string> readLine(int fd, const std::function<bool(std::string_view)>& accept) {
  std::string text;
  const auto deadline = Clock::now() + XSession::kBound;
  for (;;) {
    for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n')) {
      std::string line = text.substr(0, end);
      text.erase(0, end + 1);
      if (accept(line)) return line;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, millisecondsUntil(deadline)) <= 0) return std::nullopt;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

/// A pipe whose write end is at a descriptor number no child uses for anything else.
struct Pipe {
  Pipe() {
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC) == 0) {
      read = fds[0];
      write = fds[1];
    }
  }
  ~Pipe() {
    if (read >= 0) close(read);
    closeWrite();
  }
  void closeWrite() {
    if (write >= 0) close(write);
    write = -1;
  }
  int read = -1;
  int write = -1;
};

}  // namespace

PumpedConnection pumpInto(int fd, std::string& text) {
  return {fd, [fd, &text] {
            char buffer[4096];
            int count = 0;
            ssize_t n;
            while ((n = read(fd, buffer, sizeof buffer)) > 0) {
              text.append(buffer, static_cast<std::size_t>(n));
              ++count;
            }
            return count;
          }};
}

XSession::~XSession() {
  // Clients first, the server last, so that nobody notices the display vanish mid-request.
  for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
    ::kill(-*it, SIGTERM);
    reap(*it);
  }
  if (connection_) xcb_disconnect(connection_);
}

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
  // Xvfb picks a free display itself and writes its number to the descriptor once it accepts
  // connections: no polling for a socket, no race with other test programs.
  Pipe ready;
  const pid_t server = spawnProcess(
      {"Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"},
      childEnvironment(":0", home_.path()), {{ready.write, 3}});
  ready.closeWrite();
  if (server < 0) {
    error_ = "cannot start Xvfb";
    return false;
  }
  processes_.push_back(server);
  const auto number = readLine(ready.read, [](std::string_view line) { return !line.empty(); });
  if (!number) {
    error_ = "Xvfb did not report a display";
    return false;
  }
  display_ = ":" + *number;

  connection_ = xcb_connect(display_.c_str(), nullptr);
  if (xcb_connection_has_error(connection_)) {
    error_ = "cannot connect to " + display_;
    return false;
  }
  root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
  watch(root_);
  return true;
}

bool XSession::wmReady() {
  const auto check = value(root_, "_NET_SUPPORTING_WM_CHECK");
  if (!check || value(*check, "_NET_SUPPORTING_WM_CHECK") != check) return false;
  const auto supported = values(root_, "_NET_SUPPORTED").value_or(std::vector<std::uint32_t>{});
  const auto lists = [&](std::string_view name) {
    return std::find(supported.begin(), supported.end(), atom(name)) != supported.end();
  };
  return lists("_NET_CLIENT_LIST") && lists("_NET_ACTIVE_WINDOW");
}

bool XSession::startWindowManager() {
  // openbox announces itself on the root window before it has finished starting, and requests
  // that reach it in between can sit unread until some later event wakes it. Its --startup
  // command runs when it is done, so the command's output on our pipe is the sign to go on.
  Pipe started;
  std::vector<std::string> argv = {"openbox", "--sm-disable", "--startup", "echo started"};
  argv.insert(argv.end(), windowManagerArguments_.begin(), windowManagerArguments_.end());
  const pid_t wm =
      spawnProcess(argv, childEnvironment(display_, home_.path()), {{started.write, 1}});
  started.closeWrite();
  if (wm < 0) {
    error_ = "cannot start openbox";
    return false;
  }
  processes_.push_back(wm);
  // openbox writes its own messages to the same output.
  if (!readLine(started.read, [](std::string_view line) { return line == "started"; })) {
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

xcb_atom_t XSession::atom(std::string_view name) {
  if (auto it = atoms_.find(name); it != atoms_.end()) return it->second;
  auto reply = own(xcb_intern_atom_reply(
      connection_,
      xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data()),
      nullptr));
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  if (atom != XCB_ATOM_NONE) atoms_.emplace(std::string(name), atom);
  return atom;
}

// --- Processes --------------------------------------------------------------------------------

pid_t XSession::spawn(const std::vector<std::string>& argv) {
  if (argv.empty()) return -1;
  const pid_t pid = spawnProcess(argv, childEnvironment(display_, home_.path()));
  if (pid > 0) processes_.push_back(pid);
  return pid;
}

void XSession::reap(pid_t pid) {
  // A pidfd turns "has it exited?" into something poll can wait on, so no sleeping loop.
  // glibc 2.36 declares pidfd_open without C linkage; the system call is the same.
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd >= 0) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(kBound.count())) <= 0) ::kill(-pid, SIGKILL);
    close(fd);
  } else {
    ::kill(-pid, SIGKILL);
  }
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void XSession::kill(pid_t pid) {
  auto it = std::find(processes_.begin(), processes_.end(), pid);
  if (it == processes_.end()) return;
  processes_.erase(it);
  ::kill(-pid, SIGTERM);
  reap(pid);
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
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
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
  const auto drainAll = [&] {
    int count = drainOwn();
    for (const auto& other : pumped) count += other.drain();
    return count;
  };
  for (;;) {
    drainAll();
    if (done()) {
      // Events sent before `done` held have reached the other connections by now (their drain
      // makes a round trip first): let them see those too.
      for (const auto& other : pumped) other.drain();
      return true;
    }
    // Checking may itself have read events into a queue (replies and events share the
    // socket): handle those before blocking, or poll would wait for the next one.
    if (drainAll() > 0) continue;
    if (xcb_connection_has_error(connection_)) return false;
    const int timeout = millisecondsUntil(deadline);
    if (timeout == 0) return false;
    std::vector<pollfd> fds{{xcb_get_file_descriptor(connection_), POLLIN, 0}};
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
                             (window == root_ ? XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY : 0);
  xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection_);
}

// --- Reading --------------------------------------------------------------------------------

std::optional<std::vector<std::uint32_t>> XSession::values(xcb_window_t window,
                                                           std::string_view property) {
  auto reply = own(xcb_get_property_reply(
      connection_, xcb_get_property(connection_, 0, window, atom(property), XCB_ATOM_ANY, 0, 4096),
      nullptr));
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
  return values(root_, "_NET_CLIENT_LIST").value_or(std::vector<std::uint32_t>{});
}

std::vector<xcb_window_t> XSession::clientsOf(pid_t pid) {
  // Every request first, then every reply: one round trip, not one per window, so that a wait
  // on a client with a thousand windows does not spend its bound asking.
  const auto windows = clientList();
  const xcb_atom_t pidAtom = atom("_NET_WM_PID");
  std::vector<xcb_get_property_cookie_t> cookies;
  cookies.reserve(windows.size());
  for (auto window : windows) {
    cookies.push_back(xcb_get_property(connection_, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1));
  }
  std::vector<xcb_window_t> result;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    auto reply = own(xcb_get_property_reply(connection_, cookies[i], nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) continue;
    const auto* claimed = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    if (*claimed == static_cast<std::uint32_t>(pid)) result.push_back(windows[i]);
  }
  return result;
}

xcb_window_t XSession::activeWindow() {
  return value(root_, "_NET_ACTIVE_WINDOW").value_or(XCB_WINDOW_NONE);
}

// --- Own windows ----------------------------------------------------------------------------

xcb_window_t XSession::createWindow(std::uint16_t width, std::uint16_t height) {
  const xcb_window_t window = xcb_generate_id(connection_);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
  xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, width, height, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  watch(window);
  return window;
}

void XSession::destroyWindow(xcb_window_t window) {
  xcb_destroy_window(connection_, window);
  xcb_flush(connection_);
}

void XSession::sendRootMessage(xcb_window_t window, std::string_view type,
                               const std::vector<std::uint32_t>& data) {
  sendRootMessage(connection_, window, type, data);
}

void XSession::sendRootMessage(xcb_connection_t* through, xcb_window_t window,
                               std::string_view type, const std::vector<std::uint32_t>& data) {
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = atom(type);
  for (std::size_t i = 0; i < data.size() && i < 5; ++i) message.data.data32[i] = data[i];
  xcb_send_event(through, 0, root_,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(through);
}

bool XSession::syncWindowManager(xcb_connection_t* through,
                                 const std::vector<PumpedConnection>& pumped) {
  const xcb_window_t probe = createWindow(1, 1);
  // The probe must exist before the request reaches the window manager.
  sync();
  sendRootMessage(through ? through : connection_, probe, "_NET_REQUEST_FRAME_EXTENTS", {});
  const bool answered = waitForProperty(
      probe, "_NET_FRAME_EXTENTS", [](const auto& extents) { return extents.has_value(); }, pumped);
  destroyWindow(probe);
  return answered;
}

void XSession::killServer() {
  if (!processes_.empty()) kill(processes_.front());
}

void XSession::sync() {
  own(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

}  // namespace tolvane::test
