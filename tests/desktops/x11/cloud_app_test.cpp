// The real `tolvane` against a real tolvane-server (SQLite in the test's folder): an account made
// on the server's own sign-in page (the test plays the browser: an xdg-open on PATH notes the
// page, and the callback is handed over as a second start would), the token in the Secret
// Service of a private session bus, a setting carried from one configuration folder to another,
// a sign-out the server honours, and a crash reported once at the next launch, as the server
// stored it.
#include <sqlite3.h>
#include <sys/stat.h>

#include <httplib.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "backends/system/secret_service_store.h"
#include "desktops/x11/support/tolvane_desktop.h"
#include "support/keyring_session.h"
#include "support/x11/desktop_tools.h"
#include "testing/browser_sign_in.h"
#include "testing/server_process.h"

namespace tolvane::test {
namespace {

using Json = nlohmann::json;
using server::testing::ServerProcess;

constexpr const char* kEmail = "ada@example.org";
constexpr const char* kPassword = "correct horse battery";

/// What the keyring holds for `account` under Tolvane's schema, read as a new store reads it.
std::optional<std::string> keyringValue(const std::string& account) {
  std::string whyNot;
  auto store = system::SecretServiceStore::open(
      {.schemaName = "com.brenmoor.tolvane", .accounts = {account}}, whyNot);
  return store ? store->get(account) : std::nullopt;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TolvaneOnServer : public TolvaneDesktop {
 protected:
  void SetUp() override {
    std::string whyNot;
    // Cheap hashing: the cost of the defaults buys nothing in a test.
    server = ServerProcess::start(
        TOLVANE_SERVER_EXECUTABLE,
        {"--db", database(), "--argon2-memory", "256", "--argon2-passes", "1"}, whyNot);
    ASSERT_TRUE(server) << whyNot;
    ASSERT_NO_FATAL_FAILURE(prepare({.freeAltSpace = true}));
    // The browser: notes the page and opens nothing.
    const std::string bin = home.path() + "/bin";
    std::filesystem::create_directories(bin);
    std::ofstream(bin + "/xdg-open") << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " << opened() << "\n";
    chmod((bin + "/xdg-open").c_str(), 0755);
    environment = {{"PATH", bin + ":" + std::getenv("PATH")},
                   {"TOLVANE_BASE_URL", server->baseURL()}};
  }
  void TearDown() override {
    // Tolvane first: the server's stop waits out the keep-alive of every connection left open.
    tolvane.reset();
    server.reset();
  }
  std::string database() const { return home.path() + "/server.db"; }
  std::string opened() const { return home.path() + "/opened-urls"; }

  /// Asks Tolvane to sign in, submits the server's page as the user ("signup" makes the
  /// account, "signin" uses it) and hands the callback back, until the account is signed in.
  void signIn(const std::string& action) {
    const int exchanges = tolvane->count("cloud exchange: signed in");
    ASSERT_EQ(tolvane->sendURL("tolvane://test-sign-in"), 0);
    ASSERT_TRUE(waitForLog("cloud sign-in: opened=true", exchanges + 1)) << tolvane->log();
    // The opener runs detached: the page is noted a moment after Tolvane logs that it started.
    std::string page;
    ASSERT_TRUE(pollUntil([&] {
      std::istringstream lines(readFile(opened()));
      int count = 0;
      for (std::string line; std::getline(lines, line); ++count) page = line;
      return count > pagesOpened_;
    }));
    ++pagesOpened_;
    std::string whyNot;
    const auto callback =
        server::testing::submitSignInPage(page, kEmail, kPassword, action, whyNot);
    ASSERT_TRUE(callback) << whyNot << "\n" << server->errors();
    ASSERT_EQ(tolvane->sendURL(*callback), 0);
    ASSERT_TRUE(waitForLog("cloud exchange: signed in", exchanges + 1)) << tolvane->log() << "\n"
                                                                        << server->output();
  }
  /// The status of GET /api/me with `token`, as any client of the server would see it.
  int accountStatus(const std::string& token) {
    httplib::Client client(server->baseURL());
    const auto reply = client.Get("/api/me", {{"Authorization", "Bearer " + token}});
    return reply ? reply->status : -1;
  }
  /// The bodies the server stored in one of its upload tables, oldest first.
  std::vector<Json> uploads(const std::string& table) {
    std::vector<Json> bodies;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(database().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* rows = nullptr;
      const std::string sql = "SELECT body FROM " + table + " ORDER BY id";
      sqlite3_prepare_v2(db, sql.c_str(), -1, &rows, nullptr);
      while (rows && sqlite3_step(rows) == SQLITE_ROW) {
        bodies.push_back(Json::parse(reinterpret_cast<const char*>(sqlite3_column_text(rows, 0)),
                                     nullptr, false));
      }
      sqlite3_finalize(rows);
    }
    sqlite3_close(db);
    return bodies;
  }

  std::unique_ptr<ServerProcess> server;
  TempDir machineB;

 private:
  int pagesOpened_ = 0;
};

TEST_F(TolvaneOnServer, CarriesASettingToAnotherMachineAndRevokesTheTokenAtSignOut) {
  const auto& keyring = KeyringSession::shared();
  if (!keyring.problem().empty()) GTEST_SKIP() << "no Secret Service: " << keyring.problem();
  launch();
  ASSERT_NO_FATAL_FAILURE(signIn("signup"));
  // A new account holds nothing: this machine's settings become its first revision.
  ASSERT_NO_FATAL_FAILURE(run({"log sync: pushed version=1", "count:0 not in a keyring"}));
  const std::string token = keyringValue("cloudToken").value_or("");
  ASSERT_EQ(accountStatus(token), 200) << server->output();
  EXPECT_EQ(keyringValue("cloudEmail"), kEmail);

  // The keyring is shared with the second machine: it must start signed out.
  Steps steps = kRecordCtrlShiftK;
  steps.insert(steps.end(), {"log sync: pushed version=2", "url tolvane://test-sign-out",
                             "log cloud sign-out: logout reply=200"});
  ASSERT_NO_FATAL_FAILURE(run(steps));
  EXPECT_EQ(keyringValue("cloudToken"), std::nullopt);
  EXPECT_EQ(accountStatus(token), 401) << server->output();
  ASSERT_NO_FATAL_FAILURE(run({"quit"}));

  launch(&machineB);
  ASSERT_NO_FATAL_FAILURE(run({"count:1 palette hotkey registered keyCode=49 modifiers=2048"}));
  ASSERT_NO_FATAL_FAILURE(signIn("signin"));
  ASSERT_NO_FATAL_FAILURE(run(
      {"log sync: applied version=2", "log palette hotkey registered keyCode=40 modifiers=4608"}));
  const auto stored = Json::parse(readFile(preferencesPath(&machineB)), nullptr, false);
  EXPECT_EQ(stored.value("paletteKeyCode", 0), 40);
  EXPECT_EQ(stored.value("paletteModifiers", 0), 4608);
}

TEST_F(TolvaneOnServer, ACrashIsReportedOnceAtTheNextLaunch) {
  launch();
  ASSERT_NO_FATAL_FAILURE(run({"url tolvane://test-crash", "killed:" + std::to_string(SIGSEGV)}));
  launch();
  ASSERT_NO_FATAL_FAILURE(run({"log crash reports: delivered=1 sending"}));
  ASSERT_TRUE(pollUntil([&] { return !uploads("crash_uploads").empty(); })) << server->output();
  const auto crashes = uploads("crash_uploads");
  ASSERT_EQ(crashes.size(), 1u);
  EXPECT_EQ(crashes[0]["type"], "crash");
  EXPECT_EQ(crashes[0]["app"], "tolvane");
  EXPECT_EQ(crashes[0]["signal"], SIGSEGV);
  EXPECT_TRUE(crashes[0]["callStack"].is_object());
  // The body as the service received it, for the record of the run.
  if (const char* artifacts = std::getenv("TOLVANE_TEST_ARTIFACTS")) {
    std::ofstream(std::string(artifacts) + "/crash-report.json") << crashes[0].dump(2);
  }
  ASSERT_NO_FATAL_FAILURE(run({"quit", "launch", "log crash reports: delivered=0"}));
  EXPECT_EQ(uploads("crash_uploads").size(), 1u);
}

}  // namespace
}  // namespace tolvane::test
