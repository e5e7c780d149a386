// The last-resort restore, proved in child processes: whichever way a child ends, it enables
// hotkeys 1, 2 and 6 first, and a signal still ends it by that signal.
#include "input/emergency_restore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "backends/sim/sim_run_loop.h"
#include "backends/system/posix_file_system.h"
#include "hotkey_file.h"
#include "support/temp_dir.h"

namespace tolvane {
namespace {

// Runs `body` in a child that installed the restore over a file of hotkeys, and returns how the
// child ended. The file's server writes with plain system calls, as a signal handler may.
int runChild(const std::string& hotKeyFile, const std::function<void()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    static sim::SimClock clock;
    static sim::SimRunLoop loop{clock};
    static sim::SimDesktop desktop{clock, loop};
    static simtool::Trace trace{clock, ::open("/dev/null", O_WRONLY)};
    static simtool::FileHotKeyServer server{desktop, trace, hotKeyFile};
    installNativeHotKeyEmergencyRestore(server);
    body();
    std::_Exit(99);  // not reached in any case below
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

TEST(EmergencyRestoreTest, EveryWayOutEnablesTheHotkeysAndKeepsHowTheProcessEnds) {
  constexpr const char* kSuppressed = "1 0\n2 0\n6 0\n";
  const test::TempDir temp;
  const std::string hotKeyFile = temp.path() + "/hotkeys";
  system::PosixFileSystem files;
  struct Row {
    const char* what;
    std::function<void()> body;
    int signal;  // 0: a normal exit
    std::string hotKeys = "1 1\n2 1\n6 1\n";
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
       0, kSuppressed},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(files.writeFileSynced(hotKeyFile, kSuppressed));
    const int status = runChild(hotKeyFile, row.body);
    EXPECT_EQ(files.readFile(hotKeyFile), row.hotKeys) << row.what;
    if (row.signal == 0) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << row.what;
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << row.what;
    }
  }
}

}  // namespace
}  // namespace tolvane
