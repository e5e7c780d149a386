// The JSON preference file: typed round trips, corrupt and unknown content, failed and
// interrupted saves, and concurrent use.
#include "platform/system/json_preference_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/faulty_file_system.h"
#include "platform/sim/sim_clock.h"
#include "platform/system/posix_file_system.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

using Strings = std::vector<std::string>;
using Json = nlohmann::json;
using I64 = std::int64_t;

constexpr const char* kCorruptSuffix = ".corrupt-20261206T062952Z";  // the simulated clock's time
constexpr const char* kCorruptLine = "preferences file corrupt reason=not a JSON object ";

class JsonPreferenceStoreTest : public ::testing::Test {
 protected:
  JsonPreferenceStoreTest() { clock.advance(339 * 86400 + 6 * 3600 + 29 * 60 + 52); }

  std::unique_ptr<JsonPreferenceStore> open() {
    return std::make_unique<JsonPreferenceStore>(
        files, clock, path, [this](const std::string& line) { diagnostics.push_back(line); });
  }
  void writeFile(const std::string& at, const std::string& text) {
    ASSERT_TRUE(disk.createDirectories(dir));
    ASSERT_TRUE(disk.writeFileSynced(at, text));
  }
  Json fileJson() { return Json::parse(disk.readFile(path).value_or("null")); }

  const test::TempDir temp;
  const std::string dir = temp.path() + "/com.brenmoor.tolvane";
  const std::string path = dir + "/preferences.json";
  PosixFileSystem disk;
  sim::FaultyFileSystem files{disk};
  sim::SimClock clock;
  Strings diagnostics;
};

TEST_F(JsonPreferenceStoreTest, EveryValueKeepsItsTypeAcrossASaveAndALoad) {
  const I64 kMin = std::numeric_limits<I64>::min(), kMax = std::numeric_limits<I64>::max();
  const std::string text = std::string("Grüße \"quoted\" \\ tab\t nul") + '\0' + "end";
  const Strings list = {"com.example.a", "", "ü"};
  const PrefValue values[] = {true, false,     I64(0), kMin, kMax, std::string(), std::string("49"),
                              text, Strings(), list};
  auto store = open();
  for (std::size_t i = 0; i < std::size(values); ++i) store->set(std::to_string(i), values[i]);
  store->set("removed", true);
  store->remove("removed");

  auto reloaded = open();
  for (std::size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(reloaded->value(std::to_string(i)), values[i]) << i;
  }
  EXPECT_EQ(reloaded->value("removed"), std::nullopt);
  EXPECT_TRUE(diagnostics.empty());
}

TEST_F(JsonPreferenceStoreTest, UnusableFilesGiveAnEmptyDomainAndCorruptOnesAreMovedAside) {
  const std::string tooDeep = "{\"a\":" + std::string(300, '[') + std::string(300, ']') + "}";
  // Nothing to read is a first launch; from kFirstCorrupt on, none is one JSON object.
  constexpr std::size_t kFirstCorrupt = 3;
  const std::optional<std::string> contents[] = {
      std::nullopt,  "",        " \n\t",         "{\"a\": tru",
      "a = false\n", "[\"a\"]", "{\"a\": 1} {}", "{\"a\": \"\xff\"}",
      tooDeep};
  for (std::size_t i = 0; i < std::size(contents); ++i) {
    const bool corrupt = i >= kFirstCorrupt;
    // All in the same second: each keeps its own copy.
    std::string moved = path + kCorruptSuffix;
    if (i > kFirstCorrupt) moved += "-" + std::to_string(i - kFirstCorrupt + 1);
    if (contents[i]) writeFile(path, *contents[i]);
    diagnostics.clear();
    auto store = open();
    EXPECT_EQ(store->value("a"), std::nullopt) << i;
    EXPECT_EQ(diagnostics, corrupt ? Strings{kCorruptLine + ("movedTo=" + moved)} : Strings{}) << i;
    // A fresh file is saved, and the original bytes stay aside untouched.
    store->set("a", false);
    EXPECT_EQ(open()->value("a"), PrefValue(false)) << i;
    EXPECT_EQ(disk.readFile(moved), corrupt ? contents[i] : std::nullopt) << i;
  }
}

TEST_F(JsonPreferenceStoreTest, ACorruptFileThatCannotBeMovedIsNeverOverwritten) {
  writeFile(path, "{ half a file");
  files.failRenames = true;
  auto store = open();
  files.failRenames = false;
  store->set("a", false);
  EXPECT_EQ(store->value("a"), PrefValue(false));
  EXPECT_EQ(disk.readFile(path), "{ half a file");
  EXPECT_EQ(diagnostics, Strings{kCorruptLine + ("path=" + path) +
                                 " move failed, file left in place, changes stay in memory"});
}

TEST_F(JsonPreferenceStoreTest, UnrepresentableValuesAreHiddenButSurviveEveryRewrite) {
  // Just past the signed 64-bit range, and a whole number written as a fraction, included.
  const Json unknown = Json::parse(R"({"huge": 9223372036854775808, "mixed": ["a", 1],
      "nested": {"a": [1, {"b": 2}]}, "nothing": null, "ratio": 1.0})");
  writeFile(path, unknown.dump());
  auto store = open();
  for (const auto& [key, member] : unknown.items()) EXPECT_EQ(store->value(key), std::nullopt);
  EXPECT_EQ(
      diagnostics,
      Strings{"preferences values skipped keys=huge,mixed,nested,nothing,ratio path=" + path});

  store->set("interceptCmdTab", false);
  for (const auto& [key, member] : unknown.items()) EXPECT_EQ(fileJson()[key], member) << key;
  // Our own writes still replace or remove such a key.
  store->set("ratio", I64{2});
  store->remove("nothing");
  EXPECT_EQ(fileJson()["ratio"], 2);
  EXPECT_FALSE(fileJson().contains("nothing"));
}

TEST_F(JsonPreferenceStoreTest, AFailedSaveKeepsThePreviousFileAndTheValueInMemory) {
  // A failed rename: the process died after writing the temporary file; a failed write: disk full.
  for (auto fault : {&sim::FaultyFileSystem::failRenames, &sim::FaultyFileSystem::failWrites}) {
    diagnostics.clear();
    auto store = open();
    store->set("a", I64(1));
    files.*fault = true;
    store->set("a", I64(2));
    store->remove("never-set");  // nothing to save, so nothing to fail
    EXPECT_EQ(diagnostics, Strings{"preferences save failed path=" + path +
                                   " changes stay in memory until the next save"});
    // A real crash would leave the temporary file behind; the next launch must ignore it.
    writeFile(path + ".tmp", "{\"a\": 2");
    EXPECT_EQ(open()->value("a"), PrefValue(I64(1)));
    files.*fault = false;
    store->set("b", true);
    EXPECT_EQ(open()->value("a"), PrefValue(I64(2))) << "the next save writes it";
  }
}

TEST_F(JsonPreferenceStoreTest, ReadersOnAnotherThreadSeeOnlyWholeValues) {
  auto store = open();
  std::atomic<bool> done{false};
  std::thread reader([&] {
    for (I64 last = -1; !done.load();) {
      const I64 counter = store->intValue("counter").value_or(-1);
      EXPECT_GE(counter, last) << "values go back in time";
      last = counter;
      EXPECT_EQ(store->stringListValue("list").value_or(Strings{}).size() % 2, 0u);
    }
  });
  for (I64 i = 0; i < 40; ++i) {
    store->set("list", Strings(static_cast<std::size_t>(2 * i), "x"));
    store->set("counter", i);
  }
  done = true;
  reader.join();
  EXPECT_EQ(open()->value("counter"), PrefValue(I64(39)));
}

}  // namespace
}  // namespace tolvane::system
