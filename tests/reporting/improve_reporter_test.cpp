// Usage reporting end to end: the queue file, batches, the service's answers, and what happens
// when the file, the threads or the server misbehave. HTTP is real, against the loopback mock.
#include "reporting/improve_reporter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/counting_http_client.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;
using Numbers = std::vector<std::int64_t>;

class ImproveReporterTest : public ::testing::Test, protected test::ReporterServices {
 protected:
  ImproveReporterTest() { clock.advance(30 * 86400); }

  void recordN(int count, const std::string& name = "activate.result") {
    for (int i = 0; i < count; ++i) reporter.record(name, {{"n", std::int64_t{i}}});
    reporter.drain();
  }
  // The "n" property of every event in the i-th upload.
  Numbers sentNumbers(std::size_t i) const {
    Numbers numbers;
    const auto body = Json::parse(mock.requests().at(i).body);
    for (const auto& e : body["events"]) numbers.push_back(e["p"]["n"].get<std::int64_t>());
    return numbers;
  }
  // The "n" property of every queued event in file order; -1 for a line that is no event.
  Numbers queuedNumbers() const {
    Numbers numbers;
    std::istringstream in(disk.readFile(queueFile).value_or(""));
    for (std::string line; std::getline(in, line);) {
      const auto event = Json::parse(line, nullptr, false);
      numbers.push_back(event.is_object() ? event.value(Json::json_pointer("/p/n"), -1) : -1);
    }
    return numbers;
  }
  static std::string eventLine(double t, int n) {
    return Json({{"t", t}, {"n", "session"}, {"p", {{"n", n}}}}).dump() + "\n";
  }
  void writeQueue(const std::string& text) {
    ASSERT_TRUE(disk.createDirectories(temp.path() + "/brenmoor"));
    ASSERT_TRUE(disk.writeFileSynced(queueFile, text));
  }

  test::CountingHttpClient http;
  ImproveReporter reporter{
      dependencies(http, clock, loop, {.shortVersion = "1.4", .build = "140"})};
};

TEST_F(ImproveReporterTest, QueuedEventsGoOutInBatchesOf200WithTheUploadBody) {
  recordN(450);
  for (int flush = 0; flush < 3; ++flush) ASSERT_TRUE(reporter.flushNow(true));
  ASSERT_EQ(mock.requestCount(), 3u);
  EXPECT_EQ(sentNumbers(0).size(), 200u);
  EXPECT_EQ(sentNumbers(1).front(), 200);
  EXPECT_EQ(sentNumbers(2).size(), 50u);
  EXPECT_EQ(sentNumbers(2).back(), 449);
  EXPECT_TRUE(queuedNumbers().empty());

  const auto request = mock.requests().front();
  EXPECT_EQ(request.path, "/api/improve");
  EXPECT_FALSE(request.header("Authorization")) << "no token provider, no token";
  auto body = Json::parse(request.body);
  body.erase("events");
  EXPECT_EQ(body, Json({{"app", "tolvane"},
                        {"installID", *preferences.stringValue(prefkey::kCrashInstallID)},
                        {"appVersion", "1.4"},
                        {"build", "140"},
                        {"os", "Debian GNU/Linux 12"},
                        {"arch", "x86_64"},
                        {"locale", "en_US"}}));
}

TEST_F(ImproveReporterTest, EventLinesCarryTimeNameAndCutPropertiesAndAFailedAppendLosesOne) {
  reporter.setTokenProvider([] { return std::string("tok"); });
  // 257 characters, the last two of two bytes each: the cut keeps 256 characters whole.
  reporter.record("enumerate.slow",
                  {{"who", std::string(255, 'x') + "éé"}, {"ms", std::int64_t{151}}});
  reporter.drain();
  const Json event = Json::parse(disk.readFile(queueFile).value_or(""), nullptr, false);
  EXPECT_EQ(event, Json({{"t", clock.wallSeconds()},
                         {"n", "enumerate.slow"},
                         {"p", {{"who", std::string(255, 'x') + "é"}, {"ms", 151}}}}));

  ASSERT_TRUE(reporter.flushNow(true));
  EXPECT_EQ(mock.requests().at(0).header("Authorization"), "Bearer tok");

  // A failed append loses only its own event.
  recordN(1);
  files.failAppends = true;
  recordN(1);
  files.failAppends = false;
  recordN(1);
  EXPECT_EQ(queuedNumbers(), (Numbers{0, 0}));
}

TEST_F(ImproveReporterTest, TheAnswerDecidesWhetherTheBatchStaysAndBadOrOldLinesGoEitherWay) {
  // The reply (none: no server listens at the address), and whether the batch stays. A 4xx is
  // never to be taken, so it is not retried forever.
  const std::pair<std::optional<test::MockReply>, bool> rows[] = {
      {test::MockReply::json(200, "{}"), false},
      {test::MockReply::json(499, "[]"), false},
      {test::MockReply::json(500, "{}"), true},
      {std::nullopt, true},
  };
  std::size_t sent = 0;
  for (const auto& [reply, kept] : rows) {
    SCOPED_TRACE(reply ? std::to_string(reply->status) : "unreachable");
    const double now = clock.wallSeconds();
    writeQueue(eventLine(now - 60, 1) + "garbage\n" + std::string("\x00\xff\xfe junk\n", 9) +
               eventLine(now - 8 * 86400, 99) +  // eight days old
               R"({"t":"yesterday","n":"x","p":{}}
{"n":"no time"}
[1,2]
)" + eventLine(now - 30, 2) +
               R"({"t":12)");  // truncated last line, no line feed
    auto deps = dependencies(http, clock, loop);
    if (reply) {
      mock.reply("/api/improve", *reply);
    } else {
      deps.cloud = CloudConfig("http://127.0.0.1:1");
    }
    ImproveReporter fresh(std::move(deps));
    fresh.record("late", {{"n", std::int64_t{3}}});  // must not be glued to the partial line
    fresh.drain();
    ASSERT_TRUE(fresh.flushNow(true));
    if (reply) {
      EXPECT_EQ(sentNumbers(sent++), (Numbers{1, 2, 3}));
    }
    EXPECT_EQ(queuedNumbers(), kept ? (Numbers{1, 2, 3}) : Numbers{});
  }
}

TEST_F(ImproveReporterTest, AQueueFileTooLargeOrNotARegularFileIsNeverRead) {
  // Too large to be the reporter's: deleted unread. A FIFO: left alone, and said only once.
  writeQueue(std::string(ImproveReporter::kMaxQueueFileBytes + 1, '\n'));
  ASSERT_TRUE(reporter.flushNow(true));
  EXPECT_FALSE(disk.exists(queueFile));
  ASSERT_EQ(::mkfifo(queueFile.c_str(), 0600), 0);
  for (int flush = 0; flush < 2; ++flush) ASSERT_TRUE(reporter.flushNow(true));
  EXPECT_EQ(mock.requestCount(), 0u);
  const std::string refused = "usage queue refused path=" + queueFile + " reason=";
  EXPECT_EQ(reporterLines, (std::vector<std::string>{refused + "larger than 8388608 bytes, deleted",
                                                     refused + "not a regular file"}));
}

TEST_F(ImproveReporterTest, ABatchThatStaysLosesWhatExpiredWhileItWasInTheAir) {
  const double now = clock.wallSeconds();
  writeQueue(eventLine(now - ImproveReporter::kMaxEventAgeSeconds + 10, 1) +
             eventLine(now - 60, 2));
  mock.reply("/api/improve", test::MockReply::json(503, "{}"));
  mock.holdReplies();
  reporter.flushNow(false);
  ASSERT_TRUE(mock.waitForRequests(1));
  EXPECT_EQ(sentNumbers(0), (Numbers{1, 2}));
  clock.advance(20);
  mock.releaseReplies();
  ASSERT_TRUE(http.waitForReplies(1));
  reporter.drain();
  EXPECT_EQ(queuedNumbers(), (Numbers{2}));
}

TEST_F(ImproveReporterTest, AClearWhileABatchIsInTheAirIsNeverUndoneByItsReply) {
  recordN(3);
  mock.holdReplies();
  reporter.flushNow(false);
  ASSERT_TRUE(mock.waitForRequests(1));
  reporter.clearQueue();
  // The same second and properties as the cleared events: three of these are the same bytes,
  // which the batch's "taken" reply must not remove.
  recordN(4);
  mock.releaseReplies();
  ASSERT_TRUE(http.waitForReplies(1));
  reporter.drain();
  EXPECT_EQ(queuedNumbers(), (Numbers{0, 1, 2, 3}));
}

TEST_F(ImproveReporterTest, AHungServerBoundsTheWaitAndNeverGetsABatchTwice) {
  recordN(5);
  mock.holdReplies();
  auto waiting = std::async(std::launch::async, [this] { return reporter.flushNow(true); });
  ASSERT_TRUE(mock.waitForRequests(1));
  clock.advance(ImproveReporter::kSyncFlushWaitSeconds);
  EXPECT_FALSE(waiting.get());  // gave up after 2 s of the clock
  EXPECT_EQ(queuedNumbers().size(), 5u);

  EXPECT_TRUE(reporter.flushNow(true));  // in flight: nothing to do
  recordN(2);                            // recorded while the batch is in the air
  mock.releaseReplies();
  ASSERT_TRUE(http.waitForReplies(1));
  reporter.drain();
  EXPECT_EQ(mock.requestCount(), 1u);
  EXPECT_EQ(queuedNumbers(), (Numbers{0, 1}));  // the batch went; the two late events stayed
}

TEST_F(ImproveReporterTest, RecordFromManyThreadsLosesAndSplitsNothing) {
  constexpr int kThreads = 4;
  constexpr int kEach = 250;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i) {
        reporter.record("session",
                        {{"n", std::int64_t{t * kEach + i}}, {"pad", std::string(200, 'p')}});
      }
    });
  }
  for (auto& thread : threads) thread.join();
  reporter.drain();
  std::vector<bool> seen(kThreads * kEach);
  for (const auto n : queuedNumbers()) seen.at(static_cast<std::size_t>(n)) = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kThreads * kEach);
}

TEST_F(ImproveReporterTest, SwitchingSharingOffClearsTheQueueAndStopsRecording) {
  recordN(3);
  preferences.set(prefkey::kImproveDataSharing, false);
  reporter.clearQueue();  // as the settings store asks when sharing goes off
  reporter.drain();
  EXPECT_FALSE(disk.exists(queueFile));
  recordN(3);
  EXPECT_FALSE(disk.exists(queueFile));
  EXPECT_TRUE(reporter.flushNow(true));
  EXPECT_EQ(mock.requestCount(), 0u);

  // Off at the next launch too: start() deletes whatever an older version left.
  writeQueue(eventLine(1, 0));
  reporter.start();
  reporter.drain();
  EXPECT_FALSE(disk.exists(queueFile));
}

TEST_F(ImproveReporterTest, FlushesRunAfterAMinuteThenEveryFifteenMinutesAndAtQuit) {
  reporter.start();
  std::size_t sent = 0;
  // Neither flush comes a second early.
  for (const double wait : {60.0, 900.0}) {
    recordN(1);
    loop.advance(wait - 1);
    reporter.drain();
    EXPECT_EQ(mock.requestCount(), sent);
    loop.advance(1);
    ASSERT_TRUE(mock.waitForRequests(++sent));
    ASSERT_TRUE(http.waitForReplies(static_cast<int>(sent)));
  }
  recordN(1);
  reporter.applicationWillTerminate();
  EXPECT_EQ(mock.requestCount(), 3u);
  EXPECT_TRUE(queuedNumbers().empty());
}

}  // namespace
}  // namespace tolvane
