// The secret stores: the private file (private modes, round trips across instances, files
// refused or set aside) and the keyring against a real GNOME keyring on a private bus (values
// across instances, one labelled item per account, refused values, and the fallback to the
// private file).
#include <libsecret/secret.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>

#include "backends/sim/sim_clock.h"
#include "backends/system/file_secret_store.h"
#include "backends/system/posix_file_system.h"
#include "backends/system/secret_service_store.h"
#include "backends/system/secret_store_choice.h"
#include "backends/system/secret_values.h"
#include "support/keyring_session.h"
#include "support/secret_store_contract.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

const Strings kAccounts = {"cloudToken", "cloudEmail", "cloudTier", "cloudDeviceID"};

class FileSecretStoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<FileSecretStore> open(std::uint32_t uid = ::getuid()) {
    return std::make_unique<FileSecretStore>(
        disk, path, uid, [this](const std::string& line) { diagnostics.push_back(line); });
  }

  const test::TempDir temp;
  const std::string dir = temp.path() + "/data/com.brenmoor.tolvane";
  const std::string path = dir + "/secrets.json";
  PosixFileSystem disk;
  std::vector<std::string> diagnostics;
};

TEST_F(FileSecretStoreTest, ValuesSurviveANewInstanceInAPrivateFolderAndFile) {
  // A permissive umask must not widen what the store creates.
  const mode_t previous = ::umask(0);
  test::writeContractSecrets(*open());
  ::umask(previous);
  EXPECT_EQ(disk.linkFacts(dir).value_or(LinkFacts{}).permissions, 0700u);
  EXPECT_EQ(disk.linkFacts(path).value_or(LinkFacts{}).permissions, 0600u);
  test::expectContractSecrets(*open());
  EXPECT_TRUE(diagnostics.empty()) << diagnostics.front();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // no temporaries
}

TEST_F(FileSecretStoreTest, AFileOthersCouldTouchIsLeftAloneAndOneThatIsNoObjectIsSetAside) {
  struct Row {
    const char* name;
    std::string text;
    std::function<void()> arrange;  // after the file is written 0600
    std::uint32_t uid = ::getuid();
  };
  const std::string leaked = "{\"cloudToken\": \"leaked\"}";
  const Row refused[] = {
      {"readable by others", leaked, [&] { ::chmod(path.c_str(), 0604); }},
      {"owned by another user", leaked, [] {}, ::getuid() + 1},
      {"a link to a private file", leaked,
       [&] {
         ASSERT_EQ(::rename(path.c_str(), (temp.path() + "/elsewhere").c_str()), 0);
         ASSERT_EQ(::symlink((temp.path() + "/elsewhere").c_str(), path.c_str()), 0);
       }},
      {"in a folder others may write to", leaked, [&] { ::chmod(dir.c_str(), 0777); }},
      // Set aside rather than refused, below: what the file holds cannot be kept.
      {"torn while written", "{\"cloudToken\": \"ab", [] {}},
      {"too large", "{\"cloudToken\": \"" + std::string(kMaxSecretFileBytes, 'x') + "\"}", [] {}},
  };
  for (const auto& row : refused) {
    SCOPED_TRACE(row.name);
    const bool setAside = row.text != leaked;
    std::filesystem::remove_all(temp.path() + "/data");
    std::filesystem::remove(temp.path() + "/elsewhere");
    diagnostics.clear();
    ASSERT_TRUE(disk.createDirectories(dir));
    ASSERT_TRUE(disk.writeFileSynced(path, row.text));
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    row.arrange();
    auto store = open(row.uid);
    EXPECT_EQ(store->get("cloudToken"), std::nullopt);
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_TRUE(diagnostics[0].starts_with(setAside ? "secrets file corrupt reason="
                                                    : "secrets file refused reason="))
        << diagnostics[0];
    store->set("cloudToken", "new");
    EXPECT_EQ(store->get("cloudToken"), "new");  // kept in memory for this run
    EXPECT_EQ(store->persists(), setAside);
    EXPECT_EQ(disk.readFile(setAside ? path + ".corrupt" : path), row.text);
    // Only a file set aside is replaced: a refused one is refused again.
    EXPECT_EQ(open(row.uid)->get("cloudToken"),
              setAside ? std::optional<std::string>("new") : std::nullopt);
  }
}

class SecretServiceStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& problem = test::KeyringSession::shared().problem();
    if (!problem.empty()) GTEST_SKIP() << "no Secret Service to test against: " << problem;
  }

  // Each test has a schema of its own, so tests sharing the process's keyring never meet.
  std::string schemaName() const {
    return std::string("com.brenmoor.tolvane.test.") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  std::unique_ptr<SecretServiceStore> open() {
    return SecretServiceStore::open(
        {.schemaName = schemaName(),
         .accounts = kAccounts,
         .answerWait = 10s,
         .diagnostic = [this](const std::string& line) { diagnostics.push_back(line); }},
        whyNot);
  }

  // The labels of the keyring's items for `account` under this test's schema, read past the
  // store through libsecret itself.
  Strings labelsInKeyring(const std::string& account) const {
    std::unique_ptr<SecretSchema, decltype(&secret_schema_unref)> schema(
        secret_schema_new(schemaName().c_str(), SECRET_SCHEMA_NONE, "account",
                          SECRET_SCHEMA_ATTRIBUTE_STRING, nullptr),
        secret_schema_unref);
    GList* items = secret_password_search_sync(schema.get(), SECRET_SEARCH_ALL, nullptr, nullptr,
                                               "account", account.c_str(), nullptr);
    Strings labels;
    for (GList* at = items; at; at = at->next) {
      gchar* label = secret_retrievable_get_label(SECRET_RETRIEVABLE(at->data));
      labels.emplace_back(label ? label : "");
      g_free(label);
    }
    g_list_free_full(items, g_object_unref);
    return labels;
  }

  Strings diagnostics;
  std::string whyNot;
};

TEST_F(SecretServiceStoreTest, AValueSetByOneStoreIsReadByTheNextFromOneLabelledItem) {
  {
    auto store = open();
    ASSERT_TRUE(store) << whyNot;
    test::writeContractSecrets(*store);
    // Refused, and the value stored before it kept.
    store->set("cloudToken", std::string(kMaxSecretValueBytes + 1, 'v'));
    EXPECT_EQ(store->get("cloudToken"), test::kAwkwardSecret);
  }  // the destructor lets the queued writes finish
  auto next = open();
  ASSERT_TRUE(next) << whyNot;
  test::expectContractSecrets(*next);
  EXPECT_EQ(labelsInKeyring("cloudToken"), Strings{"Tolvane cloudToken"});
  EXPECT_EQ(labelsInKeyring("cloudTier"), Strings{});
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_TRUE(diagnostics[0].starts_with("secret refused account=cloudToken reason=value longer"))
      << diagnostics[0];
}

TEST_F(SecretServiceStoreTest, TheChoiceFallsBackToThePrivateFileAndSaysSoOnce) {
  const test::TempDir temp;
  PosixFileSystem disk;
  sim::SimClock clock;
  DebugLog log(disk, clock, temp.path() + "/log");
  Strings notices;
  log.setNoticeObserver([&](std::string_view line) { notices.emplace_back(line); });
  const UserPaths paths{.configHome = temp.path(), .dataHome = temp.path() + "/data"};
  const BundleInfo bundle{.identifier = schemaName()};
  const auto choose = [&] {
    return makeSecretStore(bundle, paths, kAccounts, disk, ::getuid(), log);
  };

  auto keyring = choose();
  keyring->set("cloudToken", "in the keyring");
  EXPECT_TRUE(notices.empty());
  // Another bus name, through the variable libsecret reads at every connection: nobody answers.
  ::setenv("SECRET_SERVICE_BUS_NAME", "org.example.NoSecrets", 1);
  choose()->set("cloudToken", "in the file");
  ::unsetenv("SECRET_SERVICE_BUS_NAME");
  const std::string path = temp.path() + "/data/" + bundle.identifier + "/secrets.json";
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(
      notices[0].starts_with("secrets not in a keyring reason=no Secret Service answered: "))
      << notices[0];
  EXPECT_NE(notices[0].find(path), std::string::npos) << notices[0];
  EXPECT_NE(disk.readFile(path).value_or("").find("in the file"), std::string::npos);
  keyring.reset();
  EXPECT_EQ(choose()->get("cloudToken"), "in the keyring");
}

}  // namespace
}  // namespace tolvane::system
