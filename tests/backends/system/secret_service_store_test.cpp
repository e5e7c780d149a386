// The keyring store against a real GNOME keyring on a private bus: values across instances,
// one labelled item per account, refused values, and the fallback to the private file.
#include "backends/system/secret_service_store.h"

#include <libsecret/secret.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "backends/sim/sim_clock.h"
#include "backends/system/posix_file_system.h"
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
    GHashTable* attributes =
        secret_attributes_build(schema.get(), "account", account.c_str(), nullptr);
    GList* items = secret_service_search_sync(nullptr, schema.get(), attributes, SECRET_SEARCH_ALL,
                                              nullptr, nullptr);
    g_hash_table_unref(attributes);
    Strings labels;
    for (GList* at = items; at; at = at->next) {
      gchar* label = secret_item_get_label(SECRET_ITEM(at->data));
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
