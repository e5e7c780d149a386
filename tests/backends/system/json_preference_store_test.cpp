// The JSON preference file: typed round trips, corrupt and unknown content, and failed and
// interrupted saves.
#include "backends/system/json_preference_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <tuple>

#include "backends/sim/faulty_file_system.h"
#include "backends/sim/sim_clock.h"
#include "backends/system/posix_file_system.h"
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
    ASSERT_TRUE(disk.createDirectories(parentFolder(at)));
    ASSERT_TRUE(disk.writeFileSynced(at, text));
  }
  std::optional<LinkFacts::Kind> kindAt(const std::string& at) const {
    const auto facts = disk.linkFacts(at);
    return facts ? std::optional(facts->kind) : std::nullopt;
  }
  Json fileJson() { return Json::parse(disk.readFile(path).value_or("null")); }
  // What is at the file's name; a bounded read never waits on a FIFO.
  auto snapshot() const { return std::pair(kindAt(path), disk.readRegularFile(path, 64).content); }

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
      std::nullopt, "", " \n\t", "{\"a\": tru", "a = false\n", "[\"a\"]", "{\"a\": 1} {}", tooDeep};
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

TEST_F(JsonPreferenceStoreTest, AnEditByHandIsTakenUpAndABrokenOneIsNeverOverwritten) {
  auto store = open();
  store->set("a", true);
  store->set("b", I64(1));
  EXPECT_FALSE(store->reload()) << "our own save is no change";

  writeFile(path, R"({"a": false, "b": 1, "future": {"x": 1}})");
  EXPECT_TRUE(store->reload());
  EXPECT_EQ(store->value("a"), PrefValue(false));
  store->set("b", I64(2));
  EXPECT_EQ(fileJson()["future"], Json({{"x", 1}})) << "what the edit added survives a save";

  std::filesystem::remove(path);
  EXPECT_FALSE(store->reload()) << "a removed file changes nothing";
  EXPECT_EQ(store->value("b"), PrefValue(I64(2)));

  const std::string broken = R"({"a": tru)";
  writeFile(path, broken);
  diagnostics.clear();
  EXPECT_FALSE(store->reload());
  EXPECT_EQ(store->value("a"), PrefValue(false));
  EXPECT_EQ(disk.readFile(path), broken) << "left alone while the user may still be editing";
  store->set("a", true);
  EXPECT_EQ(disk.readFile(path + kCorruptSuffix), broken) << "moved aside before the save";
  EXPECT_EQ(fileJson()["a"], true);
  EXPECT_EQ(diagnostics.size(), 1u);
}

TEST(ParsePreferenceDocument, AMemberThatDoesNotParseCostsOnlyItself) {
  // The text, what a save writes and the members dropped. Texts that are no one object at
  // all are set aside whole (see the unusable files above).
  const std::tuple<const char*, const char*, Strings> rows[] = {
      // Numbers past the range of a double, which the JSON library refuses in any document.
      {R"({"a": true, "n": 1e400})", R"({"a": true})", {"n"}},
      // A comma inside a nested value separates no members.
      {R"({"n": -1e400, "b": ["x", 1], "c": {"d": 1e400, "e": 2}})",
       R"({"b": ["x", 1]})",
       {"n", "c"}},
      // Damaged members: a cut value, a missing value, bytes that are not UTF-8, a stray comma.
      {R"({"a": 1, "t": tru, "k", "z": "end"})", R"({"a": 1, "z": "end"})", {"t", "k"}},
      {"{\"u\": \"\xff\", \"a\": 2,}", R"({"a": 2})", {"u"}},
      // A valid file reads as it always did, the last of two equal keys winning.
      {R"({"a": 1, "b": ["x", "y"], "a": 3})", R"({"a": 3, "b": ["x", "y"]})", {}},
  };
  for (const auto& [text, written, dropped] : rows) {
    const auto document = parsePreferenceDocument(text);
    ASSERT_TRUE(document) << text;
    EXPECT_EQ(Json::parse(serializePreferenceDocument(*document)), Json::parse(written)) << text;
    EXPECT_EQ(document->dropped, dropped) << text;
  }
}

TEST_F(JsonPreferenceStoreTest, FilesThatCannotBeReadOrMovedAsideAreNeverReplaced) {
  const std::string atCap = "{\"a\":\"" + std::string(kMaxPreferenceFileBytes - 8, 'x') + "\"}";
  ASSERT_EQ(atCap.size(), kMaxPreferenceFileBytes);
  const std::string inMemory = " left in place, changes stay in memory";
  const std::string tooLarge = "preferences file corrupt reason=larger than " +
                               std::to_string(kMaxPreferenceFileBytes) + " bytes movedTo=" + path +
                               kCorruptSuffix;
  // How the file is placed, the diagnostics (none only where the file is read), and whether the
  // store saves.
  const std::tuple<const char*, std::function<void()>, Strings, bool> rows[] = {
      // A FIFO stands for every name that is no regular file: a device or a folder reads alike.
      {"a FIFO",
       [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
       {"preferences file not a regular file path=" + path + inMemory},
       false},
      {"one byte past the cap", [&] { writeFile(path, atCap + " "); }, {tooLarge}, true},
      {"exactly the cap", [&] { writeFile(path, atCap); }, {}, true},
      {"corrupt and cannot be moved",
       [&] {
         writeFile(path, "{ half a file");
         files.failRenames = true;
       },
       {kCorruptLine + ("path=" + path) + " move failed, file" + inMemory},
       false},
  };
  for (const auto& [what, place, expected, persists] : rows) {
    SCOPED_TRACE(what);
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(disk.createDirectories(dir));
    place();
    const auto before = snapshot();
    diagnostics.clear();
    auto store = open();
    files.failRenames = false;
    EXPECT_EQ(diagnostics, expected);
    EXPECT_EQ(store->persists(), persists);
    EXPECT_EQ(store->value("a").has_value(), expected.empty());
    store->set("b", true);
    EXPECT_EQ(store->value("b"), PrefValue(true));
    if (persists) {
      EXPECT_EQ(fileJson()["b"], true);
    } else {
      EXPECT_EQ(snapshot(), before) << "was replaced";
    }
  }
}

TEST_F(JsonPreferenceStoreTest, LinksAtTheFileOrItsOldTemporaryNameAreNeverFollowedWrongly) {
  // A link placed where the temporary file used to be written: our bytes must not reach its
  // target, and the link must not become the preference file.
  writeFile(dir + "/victim", "victim");
  ASSERT_EQ(::symlink("victim", (path + ".tmp").c_str()), 0);
  open()->set("a", true);
  EXPECT_EQ(disk.readFile(dir + "/victim"), "victim");
  EXPECT_EQ(kindAt(path + ".tmp"), LinkFacts::Kind::symlink);
  EXPECT_EQ(kindAt(path), LinkFacts::Kind::regular);

  // A dotfile manager's link stays a link; the file it points to takes every change.
  const std::string real = temp.path() + "/dotfiles/tolvane.json";
  writeFile(real, R"({"kept": 1})");
  ASSERT_TRUE(disk.remove(path));
  ASSERT_EQ(::symlink("../dotfiles/tolvane.json", path.c_str()), 0);
  auto store = open();
  EXPECT_EQ(store->value("kept"), PrefValue(I64{1}));
  store->set("a", false);
  EXPECT_EQ(kindAt(path), LinkFacts::Kind::symlink);
  EXPECT_EQ(Json::parse(disk.readFile(real).value_or("null")),
            Json::parse(R"({"a": false, "kept": 1})"));
  EXPECT_TRUE(diagnostics.empty());
}

// Unrepresentable members are kept for the file's sake; members that do not parse at all are
// named once and gone.
TEST_F(JsonPreferenceStoreTest, UnrepresentableValuesAreHiddenButSurviveEveryRewrite) {
  // Just past the signed 64-bit range, and a whole number written as a fraction, included.
  const Json unknown = Json::parse(R"({"huge": 9223372036854775808, "mixed": ["a", 1],
      "nested": {"a": [1, {"b": 2}]}, "nothing": null, "ratio": 1.0})");
  writeFile(path, "{\"x,\\n\": 1e400, \"n\": 1e400, " + unknown.dump().substr(1));
  auto store = open();
  for (const auto& [key, member] : unknown.items()) EXPECT_EQ(store->value(key), std::nullopt);
  EXPECT_EQ(
      diagnostics,
      (Strings{"preferences values dropped keys=x\\x2c\\x0a,n path=" + path,
               "preferences values skipped keys=huge,mixed,nested,nothing,ratio path=" + path}));

  store->set("interceptCmdTab", false);
  for (const auto& [key, member] : unknown.items()) EXPECT_EQ(fileJson()[key], member) << key;
  EXPECT_EQ(fileJson().size(), unknown.size() + 1);
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
    const auto temporary = [](const auto& entry) {
      return entry.path().filename().string().find(".tmp-") != std::string::npos;
    };
    EXPECT_EQ(std::count_if(std::filesystem::directory_iterator(dir), {}, temporary), 0)
        << "a failed save leaves its temporary file";
    // A real crash would leave the temporary file behind; the next launch must ignore it.
    writeFile(path + ".tmp", "{\"a\": 2");
    EXPECT_EQ(open()->value("a"), PrefValue(I64(1)));
    files.*fault = false;
    store->set("b", true);
    EXPECT_EQ(open()->value("a"), PrefValue(I64(2))) << "the next save writes it";
  }
}

}  // namespace
}  // namespace tolvane::system
