// The keyring store against a real GNOME keyring on a private bus: values across instances,
// one labelled item per account, refused values, and a service that never answers.
#include "backends/system/secret_service_store.h"

#include <gio/gio.h>
#include <libsecret/secret.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "backends/sim/sim_clock.h"
#include "backends/system/posix_file_system.h"
#include "backends/system/secret_store_choice.h"
#include "backends/system/secret_values.h"
#include "diagnostics/debug_log.h"
#include "support/keyring_session.h"
#include "support/secret_store_contract.h"
#include "support/temp_dir.h"

namespace tolvane::system {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

const Strings kAccounts = {"cloudToken", "cloudEmail", "cloudTier", "cloudDeviceID"};

// Sends libsecret to another bus name for one scope, through the variable it reads at every
// connection.
class ServiceName {
 public:
  explicit ServiceName(const char* name) { ::setenv("SECRET_SERVICE_BUS_NAME", name, 1); }
  ~ServiceName() { ::unsetenv("SECRET_SERVICE_BUS_NAME"); }
  ServiceName(const ServiceName&) = delete;
  ServiceName& operator=(const ServiceName&) = delete;
};

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
  std::unique_ptr<SecretServiceStore> open(std::chrono::milliseconds answerWait = 10s) {
    std::string whyNot;
    auto store = SecretServiceStore::open(
        {.schemaName = schemaName(),
         .accounts = kAccounts,
         .answerWait = answerWait,
         .diagnostic = [this](const std::string& line) { diagnostics.push_back(line); }},
        whyNot);
    this->whyNot = whyNot;
    return store;
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
  }  // the destructor lets the queued writes finish
  auto next = open();
  ASSERT_TRUE(next) << whyNot;
  test::expectContractSecrets(*next);
  EXPECT_EQ(labelsInKeyring("cloudToken"), Strings{"Tolvane cloudToken"});
  EXPECT_EQ(labelsInKeyring("cloudTier"), Strings{});
  EXPECT_TRUE(diagnostics.empty()) << diagnostics.front();
}

TEST_F(SecretServiceStoreTest, AValuePastTheLimitIsRefusedAndTheStoredOneKept) {
  auto store = open();
  ASSERT_TRUE(store) << whyNot;
  store->set("cloudToken", "kept");
  store->set("cloudToken", std::string(kMaxSecretValueBytes + 1, 'v'));
  EXPECT_EQ(store->get("cloudToken"), "kept");
  store->flush();
  EXPECT_EQ(open()->get("cloudToken"), "kept");
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0].rfind("secret refused account=cloudToken reason=value longer", 0), 0u)
      << diagnostics[0];
}

TEST_F(SecretServiceStoreTest, NoStoreWhenNoServiceOwnsTheName) {
  const ServiceName nobody("org.example.NoSecrets");
  EXPECT_FALSE(open());
  EXPECT_NE(whyNot.find("no Secret Service answered: "), std::string::npos) << whyNot;
}

// Owns a bus name whose service receives every call and never answers, as a keyring stuck
// behind a prompt would.
class SilentService {
 public:
  explicit SilentService(const char* name) {
    static const char kIntrospection[] =
        "<node><interface name='org.freedesktop.Secret.Service'>"
        "<method name='OpenSession'><arg type='s' direction='in'/><arg type='v' direction='in'/>"
        "<arg type='v' direction='out'/><arg type='o' direction='out'/></method>"
        "</interface></node>";
    connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    node_ = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable kIgnoreEveryCall = {
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
           GDBusMethodInvocation* call, gpointer self) {
          // Kept, never answered: the caller waits until it gives up.
          static_cast<SilentService*>(self)->calls_.push_back(g_object_ref(call));
        },
        nullptr,
        nullptr,
        {}};
    registration_ = g_dbus_connection_register_object(connection_, "/org/freedesktop/secrets",
                                                      node_->interfaces[0], &kIgnoreEveryCall, this,
                                                      nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", name, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, nullptr);
    if (reply) g_variant_unref(reply);
  }
  ~SilentService() {
    g_dbus_connection_unregister_object(connection_, registration_);
    for (auto* call : calls_) g_object_unref(call);
    g_dbus_node_info_unref(node_);
    g_object_unref(connection_);
  }

 private:
  GDBusConnection* connection_ = nullptr;
  GDBusNodeInfo* node_ = nullptr;
  guint registration_ = 0;
  std::vector<GDBusMethodInvocation*> calls_;
};

TEST_F(SecretServiceStoreTest, OpeningGivesUpOnAServiceThatNeverAnswers) {
  SilentService silent("org.example.SilentSecrets");
  const ServiceName silentName("org.example.SilentSecrets");
  EXPECT_FALSE(open(300ms));
  EXPECT_EQ(whyNot, "no Secret Service answered within 300 ms");
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

  auto keyring = makeSecretStore(bundle, paths, kAccounts, disk, ::getuid(), log);
  keyring->set("cloudToken", "in the keyring");
  EXPECT_TRUE(notices.empty());
  {
    const ServiceName nobody("org.example.NoSecrets");
    makeSecretStore(bundle, paths, kAccounts, disk, ::getuid(), log)
        ->set("cloudToken", "in the file");
  }
  const std::string path = temp.path() + "/data/" + bundle.identifier + "/secrets.json";
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].rfind("secrets not in a keyring reason=no Secret Service answered", 0), 0u)
      << notices[0];
  EXPECT_NE(notices[0].find(path), std::string::npos) << notices[0];
  EXPECT_NE(disk.readFile(path).value_or("").find("in the file"), std::string::npos);
  keyring.reset();
  EXPECT_EQ(makeSecretStore(bundle, paths, kAccounts, disk, ::getuid(), log)->get("cloudToken"),
            "in the keyring");
}

}  // namespace
}  // namespace tolvane::system
