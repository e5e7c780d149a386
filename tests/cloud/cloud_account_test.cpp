// The cloud account end to end: browser sign-in, callback, token exchange, refresh and sign-out
// against the loopback mock through the real HTTP client, the main thread on the simulated loop.
#include "cloud/cloud_account.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <future>
#include <regex>
#include <tuple>

#include <nlohmann/json.hpp>

#include "backends/system/openssl_digest.h"
#include "backends/system/secret_store_choice.h"
#include "cloud/cloud_sync.h"
#include "cloud/pkce.h"
#include "support/counting_http_client.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;
using Items = std::map<std::string, std::string>;
using Reply = test::MockReply;

const CloudAccountState kSignedOut{};
// A state of the right form that no sign-in issued.
constexpr const char* kForeignState = "abcdefghijklmnopqrstu_";

CloudAccountState signedIn(std::string email, std::string tier) {
  return {.signedIn = true, .email = std::move(email), .tier = std::move(tier)};
}

class CloudAccountTest : public ::testing::Test, protected test::SimServices {
 protected:
  /// What the sign-in page was opened with.
  struct Opened {
    std::string challenge;
    std::string state;
  };

  CloudAccount& account(const CloudConfig& config) {
    account_ = std::make_unique<CloudAccount>(CloudAccount::Dependencies{
        secrets, http, loop, desktop.workspace(), random, digest, config, log});
    subscription = account_->subscribe([this] { ++published; });
    return *account_;
  }
  CloudAccount& account() { return account_ ? *account_ : account(cloud); }

  // Signs in with the browser; the opened address must list app, challenge and state in order.
  Opened signIn() {
    desktop.clearEvents();
    account().signIn();
    static const std::regex opened(
        "openURL http://127\\.0\\.0\\.1:\\d+/app/connect\\?app=tolvane"
        "&challenge=([A-Za-z0-9_-]{43})&state=([A-Za-z0-9_-]{22})");
    std::smatch match;
    if (desktop.events().size() != 1 || !std::regex_match(desktop.events()[0], match, opened)) {
      ADD_FAILURE() << "no sign-in page: " << ::testing::PrintToString(desktop.events());
      return {};
    }
    return {match[1], match[2]};
  }
  static std::string callback(const std::string& code, const std::string& state) {
    return "tolvane://auth?code=" + code + "&state=" + state;
  }
  // Waits until the HTTP client has handed over `replies` replies in all, then runs the main
  // thread's share of them.
  void settle(int replies) {
    ASSERT_TRUE(http.waitForReplies(replies));
    loop.runUntilIdle();
  }
  // An account signed in at `config`'s service.
  void storeAccount(const CloudConfig* config = nullptr) {
    secrets.set(secretkey::kCloudToken, "tok");
    secrets.set(secretkey::kCloudTokenBase, (config ? *config : cloud).baseURL());
    secrets.set(secretkey::kCloudEmail, "old@example.org");
    secrets.set(secretkey::kCloudTier, "pro");
    secrets.set(secretkey::kCloudDeviceID, "device-1");
  }

  test::ScriptedRandom random;
  const system::OpenSslDigest digest{};
  test::MockBackend mock;
  const CloudConfig cloud{mock.baseURL()};
  // Nothing listens there: every request ends without a reply.
  const CloudConfig offline{"http://127.0.0.1:1"};
  test::CountingHttpClient http;
  int published = 0;
  Notifier::Subscription subscription;
  std::unique_ptr<CloudAccount> account_;
};

TEST_F(CloudAccountTest, OnlyAnExchangeReplyWithAUsableTokenSignsIn) {
  // The token endpoint's reply, and the state after it.
  const std::pair<Reply, CloudAccountState> rows[] = {
      // No tier: "free".
      {{200, R"({"token":"tok-1","email":"a@b.c"})"}, signedIn("a@b.c", "free")},
      {{200, R"({"token":"tok-1","email":"a@b.c","tier":"pro"})"}, signedIn("a@b.c", "pro")},
      // A tier or e-mail that is no string, or no text to show, counts as absent.
      {{200, R"({"token":"tok-1","email":7,"tier":["pro"]})"}, signedIn("", "free")},
      {{200, R"({"token":"tok-1","email":"a\nb","tier":"p\u0000"})"}, signedIn("", "free")},
      // No token, none that fits a header line, no JSON or a refusal: nothing changes.
      {{200, R"({"email":"a@b.c"})"}, kSignedOut},
      {{200, R"({"token":""})"}, kSignedOut},
      {{200, R"({"token":"t\r\nX-Evil: 1"})"}, kSignedOut},
      {{200, R"({"token":42})"}, kSignedOut},
      {{200, "garbage"}, kSignedOut},
      {{401, R"({"token":"tok-1"})"}, kSignedOut},
  };
  int replies = 0;
  std::vector<std::string> verifiers;
  for (const auto& [reply, state] : rows) {
    SCOPED_TRACE(std::to_string(reply.status) + " " + reply.body);
    secrets.remove(secretkey::kCloudToken);
    account(cloud);
    published = 0;
    mock.reply("/api/app/token", reply);
    const Opened opened = signIn();
    ASSERT_TRUE(account().handleCallback(callback("code-1", opened.state)));
    settle(++replies);
    EXPECT_EQ(account().state(), state);
    EXPECT_EQ(published, state.signedIn ? 1 : 0);
    const auto token = state.signedIn ? std::optional<std::string>("tok-1") : std::nullopt;
    EXPECT_EQ(account().token(), token);
    EXPECT_EQ(secrets.get(secretkey::kCloudToken), token);

    // The code, the verifier of the page's challenge and this machine's id, made once.
    const auto request = mock.requests().back();
    EXPECT_EQ(request.path, "/api/app/token");
    const Json body = Json::parse(request.body);
    ASSERT_EQ(body.size(), 3u) << body;
    EXPECT_EQ(body["code"], "code-1");
    verifiers.push_back(body["verifier"]);
    EXPECT_EQ(pkceChallenge(digest, verifiers.back()), opened.challenge);
    const std::string device = body["deviceId"];
    EXPECT_TRUE(std::regex_match(device, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB]"
                                                    "[0-9A-F]{3}-[0-9A-F]{12}")))
        << device;
    if (state.signedIn) {
      EXPECT_EQ(secrets.items(), (Items{{secretkey::kCloudToken, "tok-1"},
                                        {secretkey::kCloudTokenBase, cloud.baseURL()},
                                        {secretkey::kCloudEmail, state.email},
                                        {secretkey::kCloudTier, state.tier},
                                        {secretkey::kCloudDeviceID, device}}));
    }
  }
  for (const auto& line : logged()) {
    EXPECT_EQ(line.find("tok-1"), std::string::npos) << line;
    EXPECT_EQ(line.find("code-1"), std::string::npos) << line;
    for (const auto& verifier : verifiers) EXPECT_EQ(line.find(verifier), std::string::npos);
  }
}

TEST_F(CloudAccountTest, OnlyTheCallbackOfThePendingSignInStartsAnExchange) {
  const std::string stale = signIn().state;
  const std::string latest = signIn().state;
  // Another host, a state no sign-in made, and the state of a sign-in made again since: refused,
  // nothing sent, and the latest sign-in stays pending.
  for (const std::string& url : {"tolvane://settings?code=c&state=" + latest,
                                 callback("c", kForeignState), callback("c", stale)}) {
    EXPECT_FALSE(account().handleCallback(url)) << url;
  }
  EXPECT_EQ(http.sentCount(), 0);
  EXPECT_EQ(account().state(), kSignedOut);
  // Taken once only.
  EXPECT_TRUE(account().handleCallback(callback("c", latest)));
  EXPECT_FALSE(account().handleCallback(callback("c", latest)));
  EXPECT_EQ(http.sentCount(), 1);
  settle(1);
}

TEST_F(CloudAccountTest, WithoutSecureRandomBytesNothingStarts) {
  using Bytes = std::vector<std::uint8_t>;
  // Too few bytes for the verifier, or for the state: no sign-in page, nothing pending.
  for (const auto& script : {std::deque{Bytes(31, 7)}, std::deque{Bytes(32, 7), Bytes(15, 7)}}) {
    random.script = script;
    account().signIn();
    EXPECT_TRUE(desktop.events().empty()) << script.back().size();
  }
  EXPECT_FALSE(account().handleCallback(callback("c", kForeignState)));

  // Too few for a new device id: no exchange, and the sign-in stays pending.
  random.script = {Bytes(32, 1), Bytes(16, 2), Bytes(15, 3)};
  const std::string state = signIn().state;
  EXPECT_FALSE(account().handleCallback(callback("c", state)));
  EXPECT_EQ(http.sentCount(), 0);
  EXPECT_FALSE(secrets.get(secretkey::kCloudDeviceID));
  EXPECT_TRUE(account().handleCallback(callback("c", state)));
  settle(1);
}

TEST_F(CloudAccountTest, AStoredTokenOfNoUseHereIsNoAccountAndAsksNothing) {
  // The token and the service that issued it, as stored (absent when empty). A stored account
  // that is one is signed in at start: the store and refresh cases show it.
  const std::pair<const char*, std::string> rows[] = {
      // Another service's token, or one stored before tokens kept their service: sent nowhere.
      {"tok", "http://127.0.0.1:1"},
      {"tok", ""},
      {"", cloud.baseURL()},
  };
  secrets.set(secretkey::kCloudEmail, "a@b.c");
  const auto store = [this](const char* key, const std::string& value) {
    value.empty() ? secrets.remove(key) : secrets.set(key, value);
  };
  for (const auto& [token, base] : rows) {
    store(secretkey::kCloudToken, token);
    store(secretkey::kCloudTokenBase, base);
    EXPECT_EQ(account(cloud).state(), kSignedOut) << token << base;
    account().refresh();  // nothing to ask with
    account().signOut();  // and nothing to forget: another service's token stays
    EXPECT_EQ(secrets.get(secretkey::kCloudToken).value_or(""), token);
  }
  EXPECT_EQ(http.sentCount(), 0);
}

TEST_F(CloudAccountTest, AStoreStillOpeningHoldsUpNothingAndTheAccountArrivesWhenItOpens) {
  // The refresh's reply must not reach the loop before the state is read.
  mock.holdReplies();
  std::promise<void> keyringAnswers;
  std::future<void> answered = keyringAnswers.get_future();
  std::atomic<bool> storeOpened = false;
  system::OpeningSecretStore opening(loop, [&answered, &storeOpened, this] {
    // Bounded only so that a start that waits for the store fails here instead of hanging.
    answered.wait_for(std::chrono::seconds(10));
    storeOpened = true;
    return std::make_unique<test::MemorySecretStore>(
        Items{{secretkey::kCloudToken, "tok"},
              {secretkey::kCloudTokenBase, cloud.baseURL()},
              {secretkey::kCloudEmail, "a@b.c"}});
  });
  CloudAccount waiting({opening, http, loop, desktop.workspace(), random, digest, cloud, log});
  int changes = 0;
  const auto subscription = waiting.subscribe([&] { ++changes; });
  waiting.start();
  // Settings sync asks for the token on every change the user makes on the main thread.
  CloudSync sync(CloudSync::following(waiting, {.settings = settings,
                                                .preferences = preferences,
                                                .secrets = opening,
                                                .http = http,
                                                .runLoop = loop,
                                                .cloud = cloud,
                                                .log = log}));
  sync.start();
  settings.setExcludedBundleIDs({"org.example.changed"});
  EXPECT_FALSE(storeOpened) << "a settings change waited for the secret store";
  EXPECT_EQ(waiting.state(), kSignedOut);
  EXPECT_EQ(http.sentCount(), 0);

  keyringAnswers.set_value();
  EXPECT_EQ(opening.get(secretkey::kCloudTier), std::nullopt);  // returns once it is open
  loop.runUntilIdle();
  EXPECT_EQ(waiting.state(), signedIn("a@b.c", "free"));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(waiting.token(), "tok");
  // The refresh asked for at start, and the sync's pull once the account is signed in.
  EXPECT_EQ(http.sentCount(), 2);
  mock.releaseReplies();
}

TEST_F(CloudAccountTest, RefreshSignsOutOnlyOn401AndOtherwiseKeepsWhatItHas) {
  storeAccount();
  const Items stored = secrets.items();
  Items refreshed = stored, storedOffline = stored;
  refreshed[secretkey::kCloudEmail] = "new@b.c";
  refreshed[secretkey::kCloudTier] = "free";
  storedOffline[secretkey::kCloudTokenBase] = offline.baseURL();
  // The reply to the refresh (none: nothing answers), and the state and secrets after it.
  const CloudAccountState kept = signedIn("old@example.org", "pro");
  const std::tuple<std::optional<Reply>, CloudAccountState, Items> rows[] = {
      {Reply{200, R"({"email":"new@b.c"})"}, signedIn("new@b.c", "free"), refreshed},
      // The token is no longer valid: the account goes, the device id stays.
      {Reply{401, "{}"}, kSignedOut, {{secretkey::kCloudDeviceID, "device-1"}}},
      // Every other failure leaves everything as it was.
      {Reply{500, "{}"}, kept, stored},
      {Reply{409, "{}"}, kept, stored},
      {Reply{200, "garbage"}, kept, stored},
      {Reply{200, "[]"}, kept, stored},
      {std::nullopt, kept, storedOffline},
  };
  int replies = 0;
  for (const auto& [reply, state, items] : rows) {
    SCOPED_TRACE(reply ? std::to_string(reply->status) + " " + reply->body : "none");
    const CloudConfig& config = reply ? cloud : offline;
    storeAccount(&config);
    if (reply) mock.reply("/api/me", *reply);
    account(config).start();
    published = 0;
    settle(++replies);
    EXPECT_EQ(account().state(), state);
    EXPECT_EQ(secrets.items(), items);
    EXPECT_EQ(published, state == kept ? 0 : 1);
  }
  const auto request = mock.requests().at(0);
  EXPECT_EQ(request.path, "/api/me");
  EXPECT_EQ(request.header("Authorization"), "Bearer tok");
}

TEST_F(CloudAccountTest, ARefreshAnsweredAfterSignOutDoesNotBringTheAccountBack) {
  storeAccount();
  mock.reply("/api/me", {200, R"({"email":"old@example.org"})"});
  mock.holdReplies();
  account().refresh();
  ASSERT_TRUE(mock.waitForRequests(1));
  account().signOut();
  mock.releaseReplies();
  settle(2);
  EXPECT_EQ(account().state(), kSignedOut);
  EXPECT_EQ(secrets.items(), (Items{{secretkey::kCloudDeviceID, "device-1"}}));
}

TEST_F(CloudAccountTest, SignOutIsImmediateAndSignOutEverywhereWaitsForTheServiceToEndItsSessions) {
  // Everywhere or here only, the service's reply (none: nothing answers), and whether the account
  // is signed out once the service has answered.
  const std::tuple<bool, std::optional<Reply>, bool> rows[] = {
      // The service's answer to a plain sign-out changes nothing here.
      {false, Reply{500, "{}"}, true}, {true, Reply{200, R"({"ok":true})"}, true},
      {true, Reply{401, "{}"}, true},  // the token had ended already
      {true, Reply{500, "{}"}, false}, {true, std::nullopt, false},
  };
  int replies = 0;
  for (const auto& [everywhere, reply, signedOut] : rows) {
    SCOPED_TRACE(std::to_string(everywhere) + " " +
                 (reply ? std::to_string(reply->status) : "none"));
    const CloudConfig& config = reply ? cloud : offline;
    const char* path = everywhere ? "/api/app/logout-all" : "/api/app/logout";
    storeAccount(&config);
    if (reply) mock.reply(path, *reply);
    account(config);
    published = 0;
    everywhere ? account().signOutEverywhere() : account().signOut();
    // Before any reply.
    EXPECT_EQ(account().state().signedIn, everywhere);
    if (!everywhere) {
      EXPECT_EQ(published, 1);
      EXPECT_EQ(secrets.items(), (Items{{secretkey::kCloudDeviceID, "device-1"}}));
      EXPECT_EQ(account().deviceID(), "device-1");
    }
    settle(++replies);
    EXPECT_EQ(account().state().signedIn, !signedOut);
    EXPECT_EQ(account().token().has_value(), !signedOut);
    if (reply) {
      const auto request = mock.requests().back();
      EXPECT_EQ(request.path, path);
      EXPECT_EQ(request.header("Authorization"), "Bearer tok");
    }
    if (!everywhere) {
      account().signOut();  // signed out already: nothing to tell
      EXPECT_EQ(http.sentCount(), replies);
    }
  }
}

}  // namespace
}  // namespace tolvane
