// The last-resort restore, proved in child processes: whichever way a child ends, it enables
// hotkeys 1, 2 and 6 first, and a signal still ends it by that signal.
#include "input/emergency_restore.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace tolvane {
namespace {

// A window server whose only working part is the hotkey setter, which reports every call down a
// pipe with write(2), as a signal handler may.
class PipeWindowServer final : public WindowServer {
 public:
  explicit PipeWindowServer(int fd) : fd_(fd) {}
  bool hasSymbolicHotKeySetter() const override { return true; }
  int setSymbolicHotKeyEnabled(std::int32_t hotKey, bool enabled) override {
    const char text[3] = {static_cast<char>('0' + hotKey), enabled ? '+' : '-', ' '};
    return ::write(fd_, text, sizeof text) == sizeof text ? 0 : 1;
  }
  std::optional<bool> isSymbolicHotKeyEnabled(std::int32_t) override { return std::nullopt; }
  std::optional<std::vector<WindowInfo>> onScreenWindows() override { return std::nullopt; }
  std::optional<std::vector<WindowInfo>> allWindows() override { return std::nullopt; }
  std::optional<std::int32_t> mainConnectionID() override { return std::nullopt; }
  std::optional<std::vector<std::uint64_t>> copySpaces(std::int32_t, int) override {
    return std::nullopt;
  }
  std::optional<std::vector<std::uint32_t>> copyWindowsOnSpaces(
      std::int32_t, const std::vector<std::uint64_t>&) override {
    return std::nullopt;
  }
  bool hasRemoteTokens() const override { return false; }
  AXElement elementFromRemoteToken(const RemoteToken&) override { return nullptr; }
  bool isSecureInputEnabled() override { return false; }
  std::optional<Pid> secureInputHolderPid() override { return std::nullopt; }
  bool processExists(Pid) override { return false; }

 private:
  int fd_;
};

struct ChildEnd {
  int status = 0;
  std::string restored;
};

// Runs `body` in a child that installed the restore, and reports how it ended.
ChildEnd runChild(const std::function<void()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    static PipeWindowServer server(fds[1]);
    installNativeHotKeyEmergencyRestore(server);
    body();
    std::_Exit(99);  // not reached in any case below
  }
  ::close(fds[1]);
  ChildEnd end;
  char buffer[64];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) end.restored.append(buffer, n);
  ::close(fds[0]);
  ::waitpid(child, &end.status, 0);
  return end;
}

TEST(EmergencyRestoreTest, EveryWayOutEnablesTheHotkeysAndKeepsHowTheProcessEnds) {
  struct Row {
    const char* what;
    std::function<void()> body;
    int signal;  // 0: a normal exit
    const char* restored = "1+ 2+ 6+ ";
  };
  const Row rows[] = {
      {"SIGTERM", [] { std::raise(SIGTERM); }, SIGTERM},
      {"SIGINT", [] { std::raise(SIGINT); }, SIGINT},
      {"SIGHUP", [] { std::raise(SIGHUP); }, SIGHUP},
      {"exit", [] { std::exit(0); }, 0},
      // Thrown on a thread of its own, so no test framework catches it on the way out.
      {"uncaught exception", [] { std::thread([] { throw std::runtime_error("boom"); }).join(); },
       SIGABRT},
      // After a normal quit has restored, the window server may go before the process does:
      // the exit handler must no longer reach it.
      {"exit after disarming",
       [] {
         disarmNativeHotKeyEmergencyRestore();
         std::exit(0);
       },
       0, ""},
  };
  for (const auto& row : rows) {
    const auto end = runChild(row.body);
    EXPECT_EQ(end.restored, row.restored) << row.what;
    if (row.signal == 0) {
      EXPECT_TRUE(WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0) << row.what;
    } else {
      EXPECT_TRUE(WIFSIGNALED(end.status) && WTERMSIG(end.status) == row.signal) << row.what;
    }
  }
}

}  // namespace
}  // namespace tolvane
