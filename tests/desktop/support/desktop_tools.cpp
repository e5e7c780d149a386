// xdotool runs and openbox start-ups for the desktop tests.
#include "desktop/support/desktop_tools.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

namespace tolvane::test {

bool xdotool(XSession& session, std::vector<std::string> args) {
  args.insert(args.begin(), "xdotool");
  return runToExit(session, args);
}

bool runToExit(XSession& session, const std::vector<std::string>& args) {
  const pid_t pid = session.spawn(args);
  if (pid < 0) return false;
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  bool exited = false;
  if (fd >= 0) {
    exited = session.waitUntil(
        [fd] {
          pollfd p{fd, POLLIN, 0};
          return poll(&p, 1, 0) == 1;
        },
        {{fd, [] { return 0; }}});
    close(fd);
  }
  session.kill(pid);
  return exited;
}

bool startOpenboxWithBindings(XSession& session) {
  const xcb_window_t window = session.createWindow();
  xcb_map_window(session.xcb(), window);
  session.sync();
  if (session.spawn({"openbox", "--sm-disable"}) < 0) return false;
  return session.waitUntil([&] {
    const auto clients = session.clientList();
    return std::find(clients.begin(), clients.end(), window) != clients.end();
  });
}

}  // namespace tolvane::test
