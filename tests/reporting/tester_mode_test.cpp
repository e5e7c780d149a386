// Tester mode on virtual time: the switch and its timer, adjacent upload windows, the exported
// text and its cut, the upload body, and a slow system log that must not hold the main thread.
#include "reporting/tester_mode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <tuple>

#include <nlohmann/json.hpp>

#include "backends/sim/sim_http_client.h"
#include "backends/sim/sim_process_log.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

constexpr std::string_view kSystemHeading = "\n\n== unified log (own process, since ";

std::size_t codePoints(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

class TesterModeTest : public ::testing::Test, protected test::SimServices {
 protected:
  TesterModeTest() : SimServices({{std::string(prefkey::kTesterModeEnabled), true}}) {
    diskLog.setObserver(
        [this](std::string_view line) { logLines.emplace_back(line.substr(line.find(' ') + 1)); });
  }

  TesterMode& mode(BundleInfo bundle = {.shortVersion = "1.4", .build = "140"}) {
    if (!mode_) {
      mode_ = std::make_unique<TesterMode>(TesterMode::Dependencies{preferences, http, clock, loop,
                                                                    random, system, diskLog, reader,
                                                                    bundle, CloudConfig(kBase)});
    }
    return *mode_;
  }
  std::size_t uploads() {
    mode().drain();
    return http.requests().size();
  }
  Json body(std::size_t i) {
    mode().drain();
    return Json::parse(http.requests().at(i).body);
  }
  // The system-log section of the i-th upload, from its "since" on.
  std::string systemSection(std::size_t i) {
    const std::string text = body(i)["log"];
    const auto at = text.find(kSystemHeading);
    return at == std::string::npos ? "" : text.substr(at + kSystemHeading.size());
  }

  static constexpr const char* kBase = "http://127.0.0.1:9";
  test::TempDir temp;
  // The uploads carry the log's file, so this one is written to disk.
  DebugLog diskLog{disk, clock, temp.path() + "/log"};
  sim::SimHttpClient http;
  sim::SimProcessLog processLog;
  ProcessLogReader* reader = &processLog;
  std::unique_ptr<TesterMode> mode_;
};

TEST_F(TesterModeTest, UploadsCoverAdjacentWindowsFromTheStoredExportTime) {
  // A fraction past a whole second: the boundary of a window is a whole second, and the
  // fraction between it and "now" belongs to the next window, not to both or neither.
  clock.advance(100.25);
  const double t0 = std::floor(clock.wallSeconds());
  const auto entry = [&](double at, const char* message) { processLog.add({at, "info", message}); };
  entry(t0 - 1800.5, "before the first window");
  entry(t0 - 1800, "first window opens");
  entry(t0 - 0.5, "first window closes");
  entry(t0 + 0.1, "second window opens");
  entry(t0 + 1799.9, "second window closes");
  entry(t0 + 1800, "after the second window");

  mode().start();
  loop.advance(TesterMode::kUploadIntervalSeconds);

  ASSERT_EQ(uploads(), 2u);
  const auto line = [](double at, const char* message) {
    return iso8601(at) + " [info] " + message;
  };
  EXPECT_EQ(systemSection(0), iso8601(t0 - 1800) + ")\n" + line(t0 - 1800, "first window opens") +
                                  "\n" + line(t0 - 0.5, "first window closes"));
  EXPECT_EQ(systemSection(1), iso8601(t0) + ")\n" + line(t0, "second window opens") + "\n" +
                                  line(t0 + 1799, "second window closes"));
  EXPECT_EQ(preferences.intValue(prefkey::kTesterLastExport), std::int64_t(t0 + 1800));

  // A later process goes on from the stored time.
  mode_.reset();
  EXPECT_EQ(mode().lastExport(), t0 + 1800);
}

TEST_F(TesterModeTest, OnlyWhileOnIsThereATimerAndSwitchingOffUploadsOnceMore) {
  preferences.set(prefkey::kTesterModeEnabled, false);
  int changes = 0;
  const auto subscription = mode().subscribe([&] { ++changes; });
  mode().start();
  loop.advance(TesterMode::kUploadIntervalSeconds);
  EXPECT_EQ(uploads(), 0u);

  mode().toggle();
  loop.advance(TesterMode::kUploadIntervalSeconds);
  EXPECT_EQ(uploads(), 2u);
  mode().toggle();
  EXPECT_EQ(preferences.boolValue(prefkey::kTesterModeEnabled), false);
  loop.advance(3 * TesterMode::kUploadIntervalSeconds);
  EXPECT_EQ(uploads(), 3u);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(logLines, (Lines{"tester: mode ON", "tester: mode OFF"}));
  // The final upload's app log ends with the reason it is the last one.
  EXPECT_NE(body(2)["log"].get<std::string>().find("tester: mode OFF\n\n\n=="), std::string::npos);
}

TEST_F(TesterModeTest, TheBodyNamesTheBuildAndTheInstallation) {
  // The bundle, and the version and build the body names.
  const std::tuple<BundleInfo, std::string, std::string> rows[] = {
      {{.shortVersion = "1.4", .build = "140"}, "1.4", "140"}, {{}, "dev", "0"}};
  for (const auto& [bundle, version, build] : rows) {
    SCOPED_TRACE(version);
    mode_.reset();
    logLines.clear();
    const auto before = http.requests().size();
    mode(bundle).start();
    ASSERT_EQ(uploads(), before + 1);
    // Method, headers and time-out follow from the endpoint (see the cloud config test).
    const HttpRequest request = http.requests().back();
    EXPECT_EQ(request.url, std::string(kBase) + "/api/testlog");
    Json sent = Json::parse(request.body);
    EXPECT_TRUE(sent["log"].get<std::string>().starts_with("== app log (DebugLog) ==\n"));
    sent.erase("log");
    EXPECT_EQ(sent, Json({{"type", "testlog"},
                          {"app", "tolvane"},
                          {"installID", *preferences.stringValue(prefkey::kCrashInstallID)},
                          {"appVersion", version},
                          {"build", build},
                          {"osVersion", "Debian GNU/Linux 12"}}));
    EXPECT_EQ(logLines, Lines{"tester: session start (v" + version + " build " + build + ")"});
  }
}

TEST(TesterLogText, KeepsBothHeadingsAndTheNewestCharactersWhole) {
  constexpr std::size_t kMax = TesterMode::kMaxLogCharacters;
  const std::vector<ProcessLogEntry> none;
  // An empty or failed system log keeps its heading.
  const std::string head =
      "== app log (DebugLog) ==\nA\n\n\n== unified log (own process, since "
      "2026-01-01T00:00:00Z)\n";
  const double t = sim::SimClock::kEpochWallSeconds;
  EXPECT_EQ(testerLogText("A\n", t, none, ""), head);
  EXPECT_EQ(testerLogText("A\n", t, std::nullopt, "gone"), head + "(oslog export failed: gone)");

  // The text around an empty tail; the tail goes in after the first heading.
  const std::string frame = testerLogText("", 0, none, "");
  const std::size_t afterHeading = frame.find('\n') + 1;
  std::string megabyte;
  for (int i = 0; megabyte.size() < 1000000; ++i)
    megabyte += "line " + std::to_string(i) + " é€😀\n";
  std::string twoByte;
  while (twoByte.size() < kMax + 100) twoByte += "é";
  // What the tail is, the tail, and whether the text sent is cut to the bound.
  const std::tuple<const char*, std::string, bool> rows[] = {
      {"exactly at the limit", std::string(kMax - frame.size(), 'a'), false},
      {"one byte over", std::string(kMax - frame.size() + 1, 'a'), true},
      // More bytes than the limit but fewer characters: all of it is kept.
      {"two-byte characters", twoByte, false},
      // The newest lines survive: what is sent ends the text.
      {"a megabyte of mixed lines", megabyte, true},
  };
  for (const auto& [what, tail, cut] : rows) {
    SCOPED_TRACE(what);
    std::string full = frame;
    full.insert(afterHeading, tail);
    const std::string sent = testerLogText(tail, 0, none, "");
    EXPECT_TRUE(full.ends_with(sent));
    EXPECT_EQ(validUTF8(sent), sent);
    EXPECT_EQ(codePoints(sent), cut ? kMax : codePoints(full));
  }
}

// The system log may take long to answer: the main thread must neither wait for it nor hold
// back the moved and stored export time.
class HeldProcessLog final : public ProcessLogReader {
 public:
  std::promise<void> release;
  /// Whether the read saw the release; read on the main thread, it would wait out its bound.
  bool sawRelease = false;

  std::optional<std::vector<ProcessLogEntry>> entriesSince(double, std::string&) override {
    sawRelease = released_.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    return std::vector<ProcessLogEntry>{};
  }

 private:
  std::shared_future<void> released_ = release.get_future().share();
};

TEST_F(TesterModeTest, TheMainThreadDoesNotWaitForTheSystemLog) {
  HeldProcessLog held;
  reader = &held;
  mode().upload();
  EXPECT_EQ(preferences.intValue(prefkey::kTesterLastExport), std::int64_t(clock.wallSeconds()));
  held.release.set_value();
  EXPECT_EQ(uploads(), 1u);
  EXPECT_TRUE(held.sawRelease);
}

}  // namespace
}  // namespace tolvane
