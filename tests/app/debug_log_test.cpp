// The diagnostic log on a real temporary folder: line format, rotation, a deleted file, failing
// folders and appends, the export tail and concurrent writers.
#include "app/debug_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/faulty_file_system.h"
#include "platform/sim/sim_clock.h"
#include "platform/system/posix_file_system.h"
#include "support/temp_dir.h"

namespace tolvane {
namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

class DebugLogTest : public ::testing::Test {
 protected:
  std::string read(const std::string& path) const { return disk.readFile(path).value_or(""); }
  bool exists(const std::string& path) const { return disk.exists(path); }
  std::string stamp() const { return iso8601(clock.wallSeconds()); }

  const test::TempDir temp;
  const std::string root = temp.path();
  // Two levels that do not exist yet, so the log must create the folder with its parents.
  const std::string dir = root + "/share/Tolvane";
  system::PosixFileSystem disk;
  sim::FaultyFileSystem files{disk};
  sim::SimClock clock;
  DebugLog log{files, clock, dir};
};

TEST(Iso8601, FormatsUTCWholeSeconds) {
  struct Row {
    double wallSeconds;
    const char* text;
  };
  const Row rows[] = {
      {0, "1970-01-01T00:00:00Z"},
      {1796538592, "2026-12-06T06:29:52Z"},
      // Fractions are dropped, never rounded up into the next second.
      {1796538592.999, "2026-12-06T06:29:52Z"},
      {1709251199, "2024-02-29T23:59:59Z"},
      {946684800, "2000-01-01T00:00:00Z"},
      // Before the epoch the second still counts towards the past.
      {-0.5, "1969-12-31T23:59:59Z"},
  };
  for (const auto& row : rows) EXPECT_EQ(iso8601(row.wallSeconds), row.text) << row.wallSeconds;
}

TEST_F(DebugLogTest, LinesAreTimestampSpaceMessageLineFeed) {
  std::vector<std::string> observed;
  log.setObserver([&](std::string_view line) { observed.emplace_back(line); });
  log.log("started");
  clock.advance(3723.75);
  log.log("fenêtre «Übersicht» activée");
  EXPECT_EQ(read(log.filePath()),
            "2026-01-01T00:00:00Z started\n2026-01-01T01:02:03Z fenêtre «Übersicht» activée\n");
  EXPECT_EQ(observed, (std::vector<std::string>{
                          "2026-01-01T00:00:00Z started",
                          "2026-01-01T01:02:03Z fenêtre «Übersicht» activée",
                      }));
  EXPECT_EQ(log.filePath(), dir + "/tester.log");
  EXPECT_EQ(log.rotatedPath(), dir + "/tester.log.1");
}

TEST_F(DebugLogTest, RotatesOnlyWhenTheLinePassesTheLimit) {
  const std::string line = stamp() + " next\n";
  struct Row {
    const char* what;
    std::int64_t room;  // bytes left below the limit before the line
    bool rotates;
  };
  const Row rows[] = {
      {"line fills the file exactly", static_cast<std::int64_t>(line.size()), false},
      {"line passes the limit by one byte", static_cast<std::int64_t>(line.size()) - 1, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(disk.createDirectories(dir));
    const std::string existing(static_cast<std::size_t>(DebugLog::kMaxFileBytes - row.room), 'x');
    ASSERT_TRUE(disk.writeFileSynced(log.filePath(), existing));
    ASSERT_TRUE(disk.writeFileSynced(log.rotatedPath(), "older rotation\n"));
    DebugLog fresh(files, clock, dir);
    fresh.log("next");
    if (row.rotates) {
      EXPECT_EQ(read(log.rotatedPath()), existing);
      EXPECT_EQ(read(log.filePath()), line);
    } else {
      EXPECT_EQ(read(log.rotatedPath()), "older rotation\n");
      EXPECT_EQ(read(log.filePath()), existing + line);
    }
  }
}

TEST_F(DebugLogTest, LongRunKeepsEveryFileWithinTheLimitAndLosesNoRecentLine) {
  const std::string padding(60, '.');
  // About 5,600 of these lines fill a file, so this run rotates twice and the first rotated
  // file is itself replaced.
  const int written = 15000;
  for (int n = 0; n < written; ++n) log.log("line " + std::to_string(n) + " " + padding);
  const auto rotated = read(log.rotatedPath());
  const auto current = read(log.filePath());
  EXPECT_LE(rotated.size(), static_cast<std::size_t>(DebugLog::kMaxFileBytes));
  EXPECT_GT(rotated.size(), static_cast<std::size_t>(DebugLog::kMaxFileBytes) - 100);
  EXPECT_LE(current.size(), static_cast<std::size_t>(DebugLog::kMaxFileBytes));

  // Together the two files hold an unbroken run of the most recent lines.
  const auto lines = splitLines(rotated + current);
  ASSERT_FALSE(lines.empty());
  const int first = written - static_cast<int>(lines.size());
  EXPECT_GT(first, 0);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i],
              stamp() + " line " + std::to_string(first + static_cast<int>(i)) + " " + padding);
  }
}

TEST_F(DebugLogTest, DeletedFileComesBackAtTheNextExistenceCheck) {
  log.log("line 1");
  ASSERT_TRUE(disk.remove(log.filePath()));
  // Until the check the open handle keeps writing into the deleted file.
  for (int n = 2; n < DebugLog::kExistenceCheckInterval; ++n) log.log("line " + std::to_string(n));
  EXPECT_FALSE(exists(log.filePath()));

  log.log("line 256");
  log.log("line 257");
  EXPECT_EQ(read(log.filePath()), stamp() + " line 256\n" + stamp() + " line 257\n");
}

TEST_F(DebugLogTest, UnwritableFolderStoresNothingAndRecoversWhenWritable) {
  std::vector<std::string> observed;
  log.setObserver([&](std::string_view line) { observed.emplace_back(line); });
  files.failCreates = true;
  log.log("lost 1");
  log.log("lost 2");
  EXPECT_FALSE(exists(dir));
  EXPECT_EQ(log.tail(), "");
  EXPECT_EQ(observed.size(), 2u);

  files.failCreates = false;
  log.log("kept");
  EXPECT_EQ(read(log.filePath()), stamp() + " kept\n");
}

TEST_F(DebugLogTest, RealUnwritableFoldersStoreNothing) {
  // A regular file where a parent folder should be stops everyone, root included.
  const std::string blocked = root + "/blocked";
  ASSERT_TRUE(disk.writeFileSynced(blocked, "not a folder"));
  std::vector<std::string> folders = {blocked + "/Tolvane"};
  // Root ignores permission bits, so a read-only parent only stops a normal user.
  if (::geteuid() != 0) {
    const std::string readOnly = root + "/readonly";
    ASSERT_TRUE(disk.createDirectories(readOnly));
    ASSERT_EQ(::chmod(readOnly.c_str(), 0500), 0);
    folders.push_back(readOnly + "/Tolvane");
  }
  for (const auto& folder : folders) {
    SCOPED_TRACE(folder);
    DebugLog unwritable(disk, clock, folder);
    unwritable.log("nowhere to go");
    unwritable.log("still nowhere");
    EXPECT_FALSE(exists(folder));
    EXPECT_EQ(unwritable.tail(), "");
  }
}

TEST_F(DebugLogTest, FailedAppendDropsTheLineAndLaterLinesAreStored) {
  log.log("before");
  files.failAppends = true;
  log.log("dropped");
  files.failAppends = false;
  log.log("after 1");
  log.log("after 2");
  EXPECT_EQ(read(log.filePath()),
            stamp() + " before\n" + stamp() + " after 1\n" + stamp() + " after 2\n");
}

TEST_F(DebugLogTest, TailJoinsRotatedThenCurrent) {
  EXPECT_EQ(log.tail(), "");
  ASSERT_TRUE(disk.createDirectories(dir));
  ASSERT_TRUE(disk.writeFileSynced(log.filePath(), "new\n"));
  EXPECT_EQ(log.tail(), "new\n");
  ASSERT_TRUE(disk.writeFileSynced(log.rotatedPath(), "old\n"));
  EXPECT_EQ(log.tail(), "old\nnew\n");
}

TEST_F(DebugLogTest, TailCountsCharactersNotBytes) {
  ASSERT_TRUE(disk.createDirectories(dir));
  // 200,000 two-byte characters then 100,000 three-byte ones: a cut by bytes would land inside
  // the three-byte run, and a cut by characters keeps 162,144 of the two-byte ones.
  ASSERT_TRUE(disk.writeFileSynced(log.rotatedPath(), repeat("é", 200000)));
  ASSERT_TRUE(disk.writeFileSynced(log.filePath(), repeat("€", 100000)));
  const std::string tail = log.tail();
  EXPECT_EQ(tail, repeat("é", DebugLog::kTailCharacters - 100000) + repeat("€", 100000));

  // Four-byte characters with an odd ASCII byte in front: the cut must not split one either.
  ASSERT_TRUE(disk.writeFileSynced(log.rotatedPath(), "a"));
  ASSERT_TRUE(disk.writeFileSynced(log.filePath(), repeat("😀", DebugLog::kTailCharacters)));
  EXPECT_EQ(log.tail(), repeat("😀", DebugLog::kTailCharacters));
}

TEST_F(DebugLogTest, TailReplacesMalformedBytesInsteadOfDroppingTheFile) {
  ASSERT_TRUE(disk.createDirectories(dir));
  // A write cut off inside "€" (E2 82 AC), then an overlong encoding of "/", then a stray byte.
  ASSERT_TRUE(disk.writeFileSynced(log.rotatedPath(), "cut \xE2\x82"));
  ASSERT_TRUE(disk.writeFileSynced(log.filePath(), "\nover \xC0\xAF stray \xFF ok €\n"));
  EXPECT_EQ(log.tail(), "cut \uFFFD\nover \uFFFD stray \uFFFD ok €\n");
}

TEST_F(DebugLogTest, ConcurrentWritersNeverInterleaveLines) {
  constexpr int kLinesPerThread = 2000;
  const std::string padding(50, '-');
  auto writer = [&](char name) {
    for (int i = 0; i < kLinesPerThread; ++i) {
      log.log(std::string("thread ") + name + " " + std::to_string(i) + " " + padding);
    }
  };
  std::thread a(writer, 'A');
  std::thread b(writer, 'B');
  a.join();
  b.join();

  const std::regex shape("2026-01-01T00:00:00Z thread ([AB]) ([0-9]+) -{50}");
  int next[2] = {0, 0};
  const auto lines = splitLines(read(log.filePath()));
  ASSERT_EQ(lines.size(), 2u * kLinesPerThread);
  for (const auto& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
    int& expected = next[match[1] == "A" ? 0 : 1];
    EXPECT_EQ(std::stoi(match[2]), expected++);
  }
}

}  // namespace
}  // namespace tolvane
