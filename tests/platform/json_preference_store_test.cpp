// The JSON preference file: typed round trips, corrupt and unknown content, failed and
// interrupted saves, and concurrent use.
#include "platform/system/json_preference_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/app_settings.h"
#include "platform/sim/faulty_file_system.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_login_items.h"
#include "platform/sim/sim_system_log.h"
#include "platform/system/posix_file_system.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

using Strings = std::vector<std::string>;
using Json = nlohmann::json;

// 2026-12-06T06:29:52Z on the simulated clock.
constexpr double kCorruptionSecond = 339 * 86400 + 6 * 3600 + 29 * 60 + 52;
constexpr const char* kCorruptSuffix = ".corrupt-20261206T062952Z";

class JsonPreferenceStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root.empty());
    path = root + "/com.brenmoor.tolvane/preferences.json";
    clock.advance(kCorruptionSecond);
  }

  std::unique_ptr<JsonPreferenceStore> open(const std::string& at) {
    return std::make_unique<JsonPreferenceStore>(
        files, clock, at, [this](const std::string& line) { diagnostics.push_back(line); });
  }
  std::unique_ptr<JsonPreferenceStore> open() { return open(path); }

  void writeFile(const std::string& at, const std::string& text) {
    ASSERT_TRUE(disk.createDirectories(std::filesystem::path(at).parent_path()));
    ASSERT_TRUE(disk.writeFileSynced(at, text));
  }
  Json fileJson() { return Json::parse(disk.readFile(path).value_or("null")); }

  const test::TempDir temp;
  const std::string root = temp.path();
  std::string path;
  PosixFileSystem disk;
  sim::FaultyFileSystem files{disk};
  sim::SimClock clock;
  Strings diagnostics;
};

TEST_F(JsonPreferenceStoreTest, EveryValueKeepsItsTypeAcrossASaveAndALoad) {
  const std::vector<std::pair<std::string, PrefValue>> rows = {
      {"true", true},
      {"false", false},
      {"zero", std::int64_t{0}},
      {"negative", std::int64_t{-2048}},
      {"int64 min", std::numeric_limits<std::int64_t>::min()},
      {"int64 max", std::numeric_limits<std::int64_t>::max()},
      {"empty string", std::string()},
      {"text", std::string("Grüße \"quoted\" \\ tab\t nul") + '\0' + "end"},
      {"numeric-looking string", std::string("49")},
      {"empty list", Strings{}},
      {"list", Strings{"com.example.a", "", "ü"}},
  };
  auto store = open();
  for (const auto& [key, value] : rows) store->set(key, value);

  auto reloaded = open();
  for (const auto& [key, value] : rows) EXPECT_EQ(reloaded->value(key), value) << key;
  EXPECT_TRUE(diagnostics.empty());
  // Other programs read the file too: booleans must be JSON booleans, not 0 and 1.
  EXPECT_TRUE(fileJson()["true"].is_boolean());
  EXPECT_TRUE(fileJson()["zero"].is_number_integer());
}

TEST_F(JsonPreferenceStoreTest, UnusableFilesGiveAnEmptyDomainAndCorruptOnesAreMovedAside) {
  struct Row {
    const char* what;
    std::optional<std::string> content;  // nothing: no file at all
    bool corrupt;
  };
  const std::string tooDeep = "{\"a\":" + std::string(300, '[') + std::string(300, ']') + "}";
  const Row rows[] = {
      // Nothing to read is a first launch, not an error.
      {"missing", std::nullopt, false},
      {"empty", "", false},
      {"blank", " \n\t", false},
      // Anything else that is not one JSON object is kept as evidence, never overwritten.
      {"truncated", "{\"interceptCmdTab\": tru", true},
      {"not JSON", "interceptCmdTab = false\n", true},
      {"array at top level", "[\"interceptCmdTab\"]", true},
      {"string at top level", "\"prefs\"", true},
      {"trailing garbage", "{\"interceptCmdTab\": false} {}", true},
      {"invalid UTF-8", "{\"languageCode\": \"\xff\"}", true},
      {"nested too deep", tooDeep, true},
  };
  int n = 0;
  for (const auto& row : rows) {
    diagnostics.clear();
    const std::string at = root + "/" + std::to_string(++n) + "/preferences.json";
    if (row.content) writeFile(at, *row.content);
    auto store = open(at);
    EXPECT_EQ(store->value("interceptCmdTab"), std::nullopt) << row.what;
    EXPECT_EQ(store->value("languageCode"), std::nullopt) << row.what;
    EXPECT_TRUE(store->persists()) << row.what;

    const std::string moved = at + kCorruptSuffix;
    if (row.corrupt) {
      EXPECT_EQ(diagnostics,
                Strings{"preferences file corrupt reason=not a JSON object movedTo=" + moved})
          << row.what;
      EXPECT_EQ(disk.readFile(moved), row.content) << row.what;
      EXPECT_FALSE(disk.exists(at)) << row.what;
    } else {
      EXPECT_TRUE(diagnostics.empty()) << row.what;
      EXPECT_FALSE(disk.exists(moved)) << row.what;
    }
    store->set("interceptCmdTab", false);
    EXPECT_EQ(open(at)->value("interceptCmdTab"), PrefValue(false)) << row.what;
    if (row.corrupt) {
      EXPECT_EQ(disk.readFile(moved), row.content) << row.what;
    }
  }
}

TEST_F(JsonPreferenceStoreTest, CorruptFilesInTheSameSecondKeepSeparateCopies) {
  writeFile(path, "first garbage");
  open();
  writeFile(path, "second garbage");
  open();
  EXPECT_EQ(disk.readFile(path + kCorruptSuffix), "first garbage");
  EXPECT_EQ(disk.readFile(path + kCorruptSuffix + "-2"), "second garbage");
  ASSERT_EQ(diagnostics.size(), 2u);
  EXPECT_NE(diagnostics[1].find(path + kCorruptSuffix + "-2"), std::string::npos);
}

TEST_F(JsonPreferenceStoreTest, ACorruptFileThatCannotBeMovedIsNeverOverwritten) {
  writeFile(path, "{ half a file");
  files.failRenames = true;
  auto store = open();
  files.failRenames = false;

  store->set("interceptCmdTab", false);
  EXPECT_EQ(store->value("interceptCmdTab"), PrefValue(false));
  EXPECT_FALSE(store->persists());
  EXPECT_EQ(disk.readFile(path), "{ half a file");
  EXPECT_EQ(diagnostics, Strings{"preferences file corrupt reason=not a JSON object path=" + path +
                                 " move failed, file left in place, changes stay in memory"});
}

TEST_F(JsonPreferenceStoreTest, UnrepresentableValuesAreHiddenButSurviveEveryRewrite) {
  // Just past the signed 64-bit range, and a whole number written as a fraction, included.
  const Json unknown = Json::parse(R"({"huge": 9223372036854775808, "mixed": ["a", 1],
      "nested": {"a": [1, {"b": 2}]}, "nothing": null, "ratio": 1.0})");
  Json original = unknown;
  original["paletteKeyCode"] = 50;
  writeFile(path, original.dump());

  auto store = open();
  EXPECT_EQ(store->value("paletteKeyCode"), PrefValue(std::int64_t{50}));
  for (const auto& [key, member] : unknown.items()) {
    EXPECT_EQ(store->value(key), std::nullopt) << key;
  }
  EXPECT_EQ(
      diagnostics,
      Strings{"preferences values skipped keys=huge,mixed,nested,nothing,ratio path=" + path});

  store->set("interceptCmdTab", false);
  for (const auto& [key, member] : unknown.items()) {
    EXPECT_EQ(fileJson()[key], member) << key;
  }

  // Our own writes still replace or remove such a key.
  store->set("ratio", std::int64_t{2});
  store->remove("nothing");
  EXPECT_EQ(fileJson()["ratio"], 2);
  EXPECT_FALSE(fileJson().contains("nothing"));
  EXPECT_EQ(fileJson()["nested"], unknown["nested"]);
}

TEST_F(JsonPreferenceStoreTest, AValueOfTheWrongTypeYieldsTheSettingsDefault) {
  writeFile(path, R"({"launchAtLogin": false, "paletteKeyCode": "49x", "interceptCmdTab": 0,
                      "excludedBundleIDs": ["a", 2], "paletteModifiers": 256})");
  auto store = open();
  sim::FaultyFileSystem noDisk{disk};
  noDisk.failCreates = true;
  DebugLog debugLog(noDisk, clock, root + "/logs");
  sim::SimLoginItems loginItems;
  sim::SimSystemLog systemLog;
  AppSettings settings(*store, loginItems, systemLog, debugLog);
  EXPECT_EQ(settings.paletteKeyCode(), 49);
  EXPECT_EQ(settings.paletteModifiers(), 256);
  EXPECT_TRUE(settings.interceptCmdTab());
  EXPECT_TRUE(settings.excludedBundleIDs().empty());
  EXPECT_FALSE(settings.launchAtLogin());
}

TEST_F(JsonPreferenceStoreTest, AnInterruptedSaveLeavesThePreviousFileWhole) {
  auto store = open();
  store->set("paletteKeyCode", std::int64_t{1});
  files.failRenames = true;  // the process dies after writing the temporary file
  store->set("paletteKeyCode", std::int64_t{2});
  EXPECT_EQ(store->value("paletteKeyCode"), PrefValue(std::int64_t{2}));
  EXPECT_EQ(diagnostics, Strings{"preferences save failed path=" + path +
                                 " changes stay in memory until the next save"});

  // A real crash would leave the temporary file behind; the next launch must ignore it.
  writeFile(path + ".tmp", "{\"paletteKeyCode\": 2");
  files.failRenames = false;
  diagnostics.clear();
  EXPECT_EQ(open()->value("paletteKeyCode"), PrefValue(std::int64_t{1}));
  EXPECT_TRUE(diagnostics.empty());
}

TEST_F(JsonPreferenceStoreTest, AFullDiskLosesOnlyTheFailedWrites) {
  auto store = open();
  files.failWrites = true;
  store->set("a", true);
  store->set("b", std::int64_t{7});
  EXPECT_EQ(diagnostics.size(), 2u);
  EXPECT_EQ(store->value("a"), PrefValue(true));
  EXPECT_FALSE(disk.exists(path));

  files.failWrites = false;
  store->set("c", std::string("x"));
  auto reloaded = open();
  EXPECT_EQ(reloaded->value("a"), PrefValue(true));
  EXPECT_EQ(reloaded->value("b"), PrefValue(std::int64_t{7}));
  EXPECT_EQ(reloaded->value("c"), PrefValue(std::string("x")));
}

TEST_F(JsonPreferenceStoreTest, RemovalsPersistAndRemovingAnAbsentKeyWritesNothing) {
  auto store = open();
  store->set("languageCode", std::string("de"));
  store->remove("languageCode");
  EXPECT_EQ(open()->value("languageCode"), std::nullopt);

  files.failWrites = true;
  store->remove("never-set");
  EXPECT_EQ(files.refusals, 0);
  EXPECT_TRUE(diagnostics.empty());
}

TEST_F(JsonPreferenceStoreTest, ReadersOnAnotherThreadSeeOnlyWholeValues) {
  auto store = open();
  constexpr std::int64_t kWrites = 40;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    std::int64_t last = -1;
    while (!done.load()) {
      auto v = store->intValue("counter");
      if (!v) continue;
      EXPECT_GE(*v, last) << "values go back in time";
      last = *v;
      EXPECT_EQ(store->stringListValue("list").value_or(Strings{}).size() % 2, 0u);
    }
  });
  for (std::int64_t i = 0; i < kWrites; ++i) {
    store->set("list", Strings(static_cast<std::size_t>(2 * i), "x"));
    store->set("counter", i);
  }
  done = true;
  reader.join();
  EXPECT_EQ(open()->value("counter"), PrefValue(kWrites - 1));
}

}  // namespace
}  // namespace tolvane::system
