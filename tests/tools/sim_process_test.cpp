// tolvane-sim as a process: its exit status, and the last-resort hotkey restore when the
// process is terminated or killed, seen in the hotkey file it leaves behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "backends/system/posix_file_system.h"
#include "support/temp_dir.h"

namespace tolvane {
namespace {

/// A tolvane-sim child with its standard output on a pipe.
class SimProcess {
 public:
  /// `environment` ("NAME=value") comes before, and so wins over, this process's own.
  explicit SimProcess(std::vector<std::string> args, std::vector<std::string> environment = {}) {
    std::vector<char*> argv{const_cast<char*>(TOLVANE_SIM_EXECUTABLE)};
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    for (char** entry = environ; *entry; ++entry) envp.push_back(*entry);
    envp.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, STDERR_FILENO);
      close(out[0]);
      close(out[1]);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  /// Reads output until a line contains `text` (true) or the output ends (false). Blocks on
  /// the pipe: the child writes each line as it happens.
  bool readUntil(const std::string& text) {
    char c;
    std::string line;
    while (read(out_, &c, 1) == 1) {
      if (c != '\n') {
        line += c;
        continue;
      }
      lines_.push_back(line);
      if (line.find(text) != std::string::npos) return true;
      line.clear();
    }
    return false;
  }
  /// The wait status once the child has ended.
  int wait() {
    readUntil("\x01");  // the rest of the output
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return status;
  }
  void signal(int number) { kill(pid_, number); }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  std::vector<std::string> lines_;
};

std::string readFile(const std::string& path) {
  return system::PosixFileSystem().readFile(path).value_or("");
}

class SimProcessTest : public ::testing::Test {
 protected:
  SimProcessTest() {
    std::ofstream(scenario) << R"({
      "preferences": {"interceptCmdTab": true, "interceptAppCycle": true},
      "apps": [{"pid": 100, "name": "Editor", "frontmost": true,
                "windows": [{"number": 11}, {"number": 12}]}],
      "timeline": [{"action": "advance", "seconds": 1}]})";
  }

  test::TempDir temp;
  const std::string scenario = temp.path() + "/suppressed.json";
  const std::string hotKeys = temp.path() + "/hotkeys";
  const std::string suppressedState = "1 0\n2 0\n6 0\n";
  const std::string restoredState = "1 1\n2 1\n6 1\n";
};

TEST_F(SimProcessTest, ASignalRestoresTheHotKeysAndRemovesTheStateFolderYetStillEndsTheRun) {
  const std::string tmp = temp.path() + "/tmp";
  ASSERT_TRUE(std::filesystem::create_directory(tmp));
  const auto entries = [](const std::string& folder) {
    const std::filesystem::recursive_directory_iterator all(folder);
    return std::distance(begin(all), end(all));
  };
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    SimProcess sim({scenario, "--hotkeys", hotKeys, "--wait-for-signal"}, {"TMPDIR=" + tmp});
    ASSERT_TRUE(sim.readUntil("waiting for a signal"));
    EXPECT_EQ(readFile(hotKeys), suppressedState);
    // The run's folder, with the diagnostic log and its folder in it.
    EXPECT_GE(entries(tmp), 3);
    sim.signal(signal);
    const int status = sim.wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
    EXPECT_EQ(readFile(hotKeys), restoredState);
    EXPECT_NE(sim.lines().back().find("hotkey 6 enabled"), std::string::npos);
    EXPECT_EQ(entries(tmp), 0);
  }
  SimProcess sim({scenario}, {"TMPDIR=" + tmp});
  ASSERT_EQ(sim.wait(), 0);
  EXPECT_EQ(entries(tmp), 0);
}

TEST_F(SimProcessTest, AfterSigkillTheNextLaunchRestoresFirst) {
  {
    SimProcess sim({scenario, "--hotkeys", hotKeys, "--wait-for-signal"});
    ASSERT_TRUE(sim.readUntil("waiting for a signal"));
    sim.signal(SIGKILL);
    sim.wait();
  }
  // Nothing ran at the kill: the suppression outlived the process.
  EXPECT_EQ(readFile(hotKeys), suppressedState);

  SimProcess next({scenario, "--hotkeys", hotKeys});
  EXPECT_EQ(next.wait(), 0);
  // Straight after the launch line, before anything else happens, all three come back.
  ASSERT_GE(next.lines().size(), 4u);
  EXPECT_NE(next.lines()[0].find("launch"), std::string::npos);
  EXPECT_EQ(std::vector(next.lines().begin() + 1, next.lines().begin() + 4),
            (std::vector<std::string>{"0.000 hotkey 1 enabled", "0.000 hotkey 2 enabled",
                                      "0.000 hotkey 6 enabled"}));
  EXPECT_EQ(readFile(hotKeys), restoredState);
}

TEST_F(SimProcessTest, ExitStatusSaysWhetherTheScenarioRan) {
  const std::string broken = temp.path() + "/broken.json";
  std::ofstream(broken) << R"({"timeline": [{"action": "fly"}]})";
  // The arguments, and the exit status they end with.
  const std::pair<std::vector<std::string>, int> rows[] = {
      {{scenario}, 0},
      // The documented examples always run to their end.
      {{TOLVANE_SOURCE_DIR "/docs/scenarios/switcher-session.json"}, 0},
      {{TOLVANE_SOURCE_DIR "/docs/scenarios/misbehaving-desktop.json"}, 0},
      {{broken}, 2},
      {{temp.path() + "/missing.json"}, 1},
      {{"--no-such-option"}, 2},
  };
  for (const auto& [args, expected] : rows) {
    const int status = SimProcess(args).wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == expected) << args[0];
  }
}

}  // namespace
}  // namespace tolvane
