// Crashes of earlier runs: a real crash in a child process leaves a record that the next launch
// delivers once; corrupt records are dropped; coredump journal entries are parsed into the same
// shape. The journal itself is not driven here (no journald in the test container): its entries
// are parsed through crashFromCoredump, which takes the field values the journal would give.
#include "backends/system/journal_crash_diagnostics.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <set>
#include <tuple>

#include <nlohmann/json.hpp>

#include "backends/sim/sim_clock.h"
#include "backends/system/posix_file_system.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

using Json = nlohmann::json;
using Diagnostics = std::vector<CrashDiagnostic>;

// Coredump entries as a list; cursors are the entries' positions.
class ListedJournal final : public CoredumpJournal {
 public:
  std::vector<CoredumpEntry> entries;

  std::vector<CoredumpEntry> entriesAfter(const std::optional<std::string>& cursor,
                                          std::int64_t sinceUsec, std::size_t limit) override {
    std::vector<CoredumpEntry> after;
    bool passed = !cursor;
    for (const auto& entry : entries) {
      if (passed && entry.realtimeUsec >= sinceUsec && after.size() < limit) after.push_back(entry);
      passed = passed || entry.cursor == *cursor;
    }
    return after;
  }
  void add(std::int64_t pid, std::int64_t time, int signal) {
    const std::string number = std::to_string(entries.size());
    entries.push_back({"c" + number,
                       time * 1000000,
                       {std::to_string(signal), std::to_string(pid), std::to_string(time * 1000000),
                        "Stack trace of thread 1:\n#0  0x1 f (tolvane + 0x1)\n"}});
  }
};

class CrashRecordTest : public ::testing::Test {
 protected:
  CrashRecordTest() { files.writeFileSynced(corePattern, "core\n"); }

  // One subscription of a fresh instance, as one launch sees it.
  Diagnostics nextLaunch() {
    JournalCrashDiagnostics diagnostics({.recordFolder = folder,
                                         .journal = journal,
                                         .clock = clock,
                                         .osVersion = "Today OS",
                                         .arch = "x86_64",
                                         .corePatternFile = corePattern});
    std::promise<Diagnostics> delivered;
    diagnostics.subscribe([&](Diagnostics list) { delivered.set_value(std::move(list)); });
    auto future = delivered.get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    return future.get();
  }
  std::set<std::string> filesInFolder() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  test::TempDir temp;
  std::string folder = temp.path() + "/data/com.brenmoor.tolvane/crashes";
  std::string corePattern = temp.path() + "/core_pattern";
  PosixFileSystem files;
  ListedJournal journal;
  sim::SimClock clock;
};

// Each crash as "<source> <signal>", sorted.
std::vector<std::string> described(const Diagnostics& diagnostics) {
  std::vector<std::string> lines;
  for (const auto& d : diagnostics) {
    const Json stack = Json::parse(d.callStackJSON);
    lines.push_back(stack["source"].get<std::string>() + " " +
                    std::to_string(d.signal.value_or(0)));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The undefined-behaviour sanitizer would end the child itself, before the fault.
__attribute__((no_sanitize("null"))) void crashByNullWrite() {
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
}

TEST_F(CrashRecordTest, ACrashedChildLeavesARecordTheNextLaunchDeliversOnce) {
  // How the child crashes, the signal it ends by, and how its record names the signal.
  const std::tuple<void (*)(), int, std::string, std::string> rows[] = {
      {crashByNullWrite, SIGSEGV, "SIGSEGV", "SEGV_MAPERR at 0x0"},
      // A signal sent rather than caused by a fault: unless the handler raises it again, the
      // child lives on.
      {[] { ::raise(SIGBUS); }, SIGBUS, "SIGBUS", "SI_TKILL"},
  };
  for (const auto& [crash, signal, type, code] : rows) {
    SCOPED_TRACE(type);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const rlimit noCore{0, 0};
      ::setrlimit(RLIMIT_CORE, &noCore);
      if (!installCrashRecorder({folder, "Debian GNU/Linux 12", "x86_64"})) ::_exit(2);
      crash();
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal);

    EXPECT_EQ(files.linkFacts(folder).value_or(LinkFacts{}).permissions, 0700u);

    const Diagnostics first = nextLaunch();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].signal, signal);
    EXPECT_EQ(first[0].exceptionType, type);
    EXPECT_EQ(first[0].exceptionCode, code);
    EXPECT_EQ(first[0].osVersion, "Debian GNU/Linux 12");
    EXPECT_EQ(first[0].arch, "x86_64");
    const Json stack = Json::parse(first[0].callStackJSON);
    EXPECT_EQ(stack["source"], "record");
    // The crashing function lies in this test program: some frame names it as its image.
    bool inThisProgram = false;
    for (const auto& frame : stack["threads"][0]["frames"]) {
      EXPECT_TRUE(frame["address"].get<std::string>().starts_with("0x"));
      inThisProgram |= frame.value("image", "") == "tolvane_tests" && frame.contains("offset");
    }
    EXPECT_TRUE(inThisProgram) << stack.dump();

    EXPECT_TRUE(nextLaunch().empty());
    EXPECT_EQ(filesInFolder(), std::set<std::string>{"journal.state"});
  }
}

TEST_F(CrashRecordTest, CorruptRecordsAreRemovedWithoutDelivery) {
  const std::string head = "tolvane-crash-record 1\npid 42\ntime 1700000000\n";
  const std::string tail = "code 1\naddress 0x0\narch x86_64\nframe 0x401000\nend\n";
  const std::string good = head + "signal 11\nos good\n" + tail;
  // With the tail's own frame, one past the cap.
  std::string tooManyFrames;
  for (std::size_t i = 0; i < kMaxCrashFrames; ++i) tooManyFrames += "frame 0x1\n";
  const std::pair<std::string, std::string> records[] = {
      {"good", good},
      {"no-end", head + "signal 11\nos a\ncode 1\n"},
      {"after-end", good + "frame 0x1\n"},
      {"no-signal", head + "os b\n" + tail},
      {"signal-0", head + "signal 0\nos c\n" + tail},
      {"bad-frame", head + "signal 11\nos e\nframe 0xZZ\n" + tail},
      {"unknown-key", head + "signal 11\nos g\nshell rm -rf\n" + tail},
      {"control", head + "signal 11\nos h\x1b[2J\n" + tail},
      // One past the 256 bytes a text field may hold.
      {"long-os", head + "signal 11\nos " + std::string(257, 'o') + "\n" + tail},
      {"many-frames", head + "signal 11\nos i\n" + tooManyFrames + tail},
      {"huge", good + std::string(kMaxCrashRecordBytes, '#')},
      {"garbage", std::string("\x00\xff\xfe\n", 4)},
  };
  ASSERT_TRUE(files.createDirectories(folder));
  for (const auto& [name, text] : records) {
    ASSERT_TRUE(files.writeFileSynced(folder + "/" + name + ".crash", text));
  }
  // A link is never followed: it goes, the file it names stays.
  const std::string elsewhere = temp.path() + "/elsewhere";
  ASSERT_TRUE(files.writeFileSynced(elsewhere, good));
  ASSERT_EQ(::symlink(elsewhere.c_str(), (folder + "/link.crash").c_str()), 0);
  // A handler still writing keeps its file; one that died mid-write an hour ago does not.
  ASSERT_TRUE(files.writeFileSynced(folder + "/fresh.partial", "tolvane-crash-record 1\n"));
  ASSERT_TRUE(files.writeFileSynced(folder + "/stale.partial", "tolvane-crash-record 1\n"));
  const timespec longAgo[2] = {{1, 0}, {1, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (folder + "/stale.partial").c_str(), longAgo, 0), 0);

  const Diagnostics delivered = nextLaunch();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].osVersion, "good");
  EXPECT_EQ(filesInFolder(), (std::set<std::string>{"fresh.partial", "journal.state"}));
  EXPECT_TRUE(files.exists(elsewhere));
}

TEST_F(CrashRecordTest, JournalEntriesAndRecordsOfOneCrashGoOutOnceAcrossLaunches) {
  using Lines = std::vector<std::string>;
  const auto now = static_cast<std::int64_t>(clock.wallSeconds());
  const auto writeRecord = [&](std::int64_t pid, std::int64_t time, int signal) {
    const std::string number = std::to_string(pid);
    ASSERT_TRUE(files.writeFileSynced(
        folder + "/" + number + ".crash",
        "tolvane-crash-record 1\npid " + number + "\ntime " + std::to_string(time) + "\nsignal " +
            std::to_string(signal) + "\ncode 0\naddress 0x0\nos R\narch x86_64\nend\n"));
  };
  ASSERT_TRUE(files.createDirectories(folder));
  journal.add(100, now - 100, SIGSEGV);
  journal.add(200, now - 50, SIGABRT);
  writeRecord(300, now - 40, SIGBUS);
  journal.add(999, now - 40 * 86400, SIGFPE);  // older than a first launch looks back

  // Without systemd-coredump the journal is not asked: only the record goes out.
  EXPECT_EQ(described(nextLaunch()), Lines{"record 7"});

  ASSERT_TRUE(files.writeFileSynced(corePattern, "|/lib/systemd/systemd-coredump %P %u %g %s\n"));
  writeRecord(100, now - 99, SIGSEGV);  // the record of the journal's first crash
  writeRecord(400, now - 30, SIGILL);
  EXPECT_EQ(described(nextLaunch()), (Lines{"journal 11", "journal 6", "record 4"}));

  // systemd-coredump wrote its entries of the records' crashes only after that launch read them.
  journal.add(300, now - 40, SIGBUS);
  journal.add(400, now - 31, SIGILL);
  journal.add(500, now - 10, SIGSEGV);
  journal.entries.push_back({"c-bad", now * 1000000, {"x", "1", "1", ""}});
  EXPECT_EQ(described(nextLaunch()), Lines{"journal 11"});
  EXPECT_TRUE(nextLaunch().empty());
}

TEST(CoredumpEntryTest, FieldsAndStackTraceBecomeADiagnostic) {
  const std::string message =
      "Process 4242 (tolvane) of user 1000 dumped core.\n\n"
      "Module libc.so.6 with build-id 0123abcd\n"
      "Stack trace of thread 4242:\n"
      "#0  0x00007f0c1a28ae2c __pthread_kill_implementation (libc.so.6 + 0x8ae2c)\n"
      "#1  0x000055d0c0001234 n/a (/home/alice/bin/tolvane + 0x1234)\n"
      "#2  0x00007f0c1a200000 n/a\n"
      "#3  garbage line\n"
      "Stack trace of thread 4243:\n"
      "#0  0x00007f0c1a2f0000 poll\x1b[1m (libc.so.6 + 0xf0000)\n"
      "ELF object binary architecture: AMD x86-64\n";
  const auto crash =
      crashFromCoredump({"11", "4242", "1700000000123456", message}, "Debian 12", "x86_64");
  ASSERT_TRUE(crash);
  EXPECT_EQ(crash->pid, 4242);
  EXPECT_EQ(crash->time, 1700000000);
  EXPECT_EQ(crash->diagnostic.signal, 11);
  EXPECT_EQ(crash->diagnostic.exceptionType, "SIGSEGV");
  EXPECT_FALSE(crash->diagnostic.exceptionCode);
  EXPECT_EQ(crash->diagnostic.osVersion, "Debian 12");
  EXPECT_EQ(Json::parse(crash->diagnostic.callStackJSON),
            Json::parse(R"({"source":"journal","threads":[
              {"crashed":true,"frames":[
                {"address":"0x7f0c1a28ae2c","function":"__pthread_kill_implementation",
                 "image":"libc.so.6","offset":568876},
                {"address":"0x55d0c0001234","image":"tolvane","offset":4660},
                {"address":"0x7f0c1a200000"}]},
              {"frames":[{"address":"0x7f0c1a2f0000","function":"poll?[1m",
                          "image":"libc.so.6","offset":983040}]}]})"));

  // Bounded: at most 16 threads of 64 frames, whatever the entry holds.
  std::string huge;
  for (int t = 0; t < 40; ++t) {
    huge += "Stack trace of thread 1:\n";
    for (int f = 0; f < 100; ++f) huge += "#" + std::to_string(f) + "  0x1 f (x + 0x1)\n";
  }
  const auto bounded = crashFromCoredump({"6", "1", "0", huge}, "", "");
  ASSERT_TRUE(bounded);
  const Json threads = Json::parse(bounded->diagnostic.callStackJSON)["threads"];
  EXPECT_EQ(threads.size(), 16u);
  EXPECT_EQ(threads[15]["frames"].size(), kMaxCrashFrames);

  // Entries whose numbers cannot be trusted are no crash.
  const CoredumpFields malformed[] = {
      {"", "1", "0", ""},   {"65", "1", "0", ""},  {"11x", "1", "0", ""},
      {"11", "0", "0", ""}, {"11", "1", "-1", ""}, {"11", "1", "99999999999999999999999", ""},
  };
  for (const auto& fields : malformed) {
    EXPECT_FALSE(crashFromCoredump(fields, "", "")) << fields.signal << "/" << fields.pid;
  }
  // Only a pipe to systemd-coredump writes entries.
  EXPECT_TRUE(coredumpHandlesCrashes(
      "|/lib/systemd/systemd-coredump %P %u %g %s %t 9223372036854775808 %h\n"));
  EXPECT_FALSE(coredumpHandlesCrashes("core"));
  EXPECT_FALSE(coredumpHandlesCrashes("|/usr/share/apport/apport %p"));
}

}  // namespace
}  // namespace tolvane::system
