// The diagnostic log on a real temporary folder: line format, failing folders and appends,
// and the export tail (rotated file, then current).
#include "diagnostics/debug_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "backends/sim/faulty_file_system.h"
#include "backends/sim/sim_clock.h"
#include "backends/system/posix_file_system.h"
#include "support/temp_dir.h"

namespace tolvane {
namespace {

constexpr std::size_t kTail = DebugLog::kTailCharacters;

std::string repeat(std::string_view piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// What logging `messages` leaves in the file while the simulated clock stands at its start.
std::string lines(std::initializer_list<std::string_view> messages) {
  std::string text;
  for (auto message : messages) text += "2026-01-01T00:00:00Z " + std::string(message) + "\n";
  return text;
}

class DebugLogTest : public ::testing::Test {
 protected:
  // The files by their literal names, so a renamed file shows up as missing content.
  std::string read(const std::string& name) const {
    return disk.readFile(dir + "/" + name).value_or("");
  }
  void put(const std::string& name, const std::optional<std::string>& content) {
    ASSERT_TRUE(disk.createDirectories(dir));
    if (!content) return (void)disk.remove(dir + "/" + name);
    ASSERT_TRUE(disk.writeFileSynced(dir + "/" + name, *content));
  }

  const test::TempDir temp;
  // Two levels that do not exist yet, so the log must create the folder with its parents.
  const std::string dir = temp.path() + "/share/Tolvane";
  system::PosixFileSystem disk;
  sim::FaultyFileSystem files{disk};
  sim::SimClock clock;
  DebugLog log{files, clock, dir};
};

TEST_F(DebugLogTest, LinesAreTimestampSpaceEscapedMessageLineFeed) {
  std::string observed;
  log.setObserver([&](std::string_view line) { observed += std::string(line) + "\n"; });
  const std::pair<std::string, std::string> rows[] = {
      // Control characters are escaped, so that no message forges a line.
      {"open https://a.example\n2026-01-01T00:00:00Z forged",
       "open https://a.example\\n2026-01-01T00:00:00Z forged"},
      {std::string("nul \0 esc \x1b del \x7f", 17), "nul \\x00 esc \\x1b del \\x7f"},
      // Backslashes and text beyond ASCII stay as they are.
      {"C:\\path\\n fenêtre «Übersicht»", "C:\\path\\n fenêtre «Übersicht»"},
  };
  std::string expected;
  for (const auto& [message, written] : rows) {
    log.log(message);
    expected += lines({written});
  }
  clock.advance(3723.75);
  log.log("later");
  expected += "2026-01-01T01:02:03Z later\n";
  EXPECT_EQ(read("tester.log"), expected);
  EXPECT_EQ(observed, expected);
}

// The size is taken from the file already there; the line that fills it to the bound stays,
// the next one starts a fresh file and the full one replaces the older rotated file.
TEST_F(DebugLogTest, RotatesWhenTheNextLineWouldPassTheBound) {
  const std::string full = lines({repeat("a", DebugLog::kMaxFileBytes - 22 - 30)});
  put("tester.log.1", "older\n");
  put("tester.log", full);
  log.log("12345678");  // 30 bytes with its timestamp and line feed: exactly the bound
  EXPECT_EQ(read("tester.log.1"), "older\n");
  log.log("b");
  EXPECT_TRUE(read("tester.log.1") == full + lines({"12345678"})) << "the full file, whole";
  EXPECT_EQ(read("tester.log"), lines({"b"}));
}

TEST_F(DebugLogTest, TailIsRotatedThenCurrentCutToTheLastCharacters) {
  struct Row {
    const char* what;
    std::optional<std::string> rotated, current;
    std::string tail;
  };
  const Row rows[] = {
      {"no file", std::nullopt, std::nullopt, ""},
      {"rotated first", "old\n", "new\n", "old\nnew\n"},
      // A cut by bytes would land inside the three-byte run.
      {"two- then three-byte", repeat("é", 200000), repeat("€", 100000),
       repeat("é", kTail - 100000) + repeat("€", 100000)},
      // A write cut off inside "€", an overlong "/", a stray byte: each becomes one U+FFFD.
      {"malformed", "cut \xE2\x82", "\nover \xC0\xAF stray \xFF ok €\n",
       "cut \uFFFD\nover \uFFFD stray \uFFFD ok €\n"},
      // A file beyond the bound is someone else's: left unread.
      {"too large", "old\n", repeat("a", DebugLog::kMaxTailFileBytes + 1), "old\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    put("tester.log.1", row.rotated);
    put("tester.log", row.current);
    EXPECT_EQ(log.tail(), row.tail);
  }
  // A FIFO never holds the read; each refusal is logged.
  std::vector<std::string> seen;
  log.setObserver([&seen](std::string_view line) { seen.emplace_back(line.substr(21)); });
  put("tester.log.1", "old\n");  // the refusal just logged rotated the large file there
  put("tester.log", std::nullopt);
  ASSERT_EQ(::mkfifo((dir + "/tester.log").c_str(), 0600), 0);
  EXPECT_EQ(log.tail(), "old\n");
  EXPECT_EQ(seen, std::vector<std::string>{"log file refused path=" + dir +
                                           "/tester.log reason=not a regular file"});
}

}  // namespace
}  // namespace tolvane
