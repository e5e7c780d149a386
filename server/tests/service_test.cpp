// The endpoints as the application and a browser use them, and every way a request can be
// wrong, against a real SQLite database on simulated time.
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <tuple>

#include "cli/add_account.h"
#include "http/connection_limits.h"
#include "service/client_address.h"
#include "support/service_world.h"
#include "wire/cloud_bodies.h"

namespace tolvane::server::test {
namespace {

using Sign = ServiceWorld;

TEST_F(Sign, UpThroughThePageThenInAgainAndTheFormsWaysBack) {
  // Each reading of the clock moves it on, so a request's steps fall in different seconds, as
  // they may on a busy server: an exchange spanning a second boundary still issues its token.
  service = std::make_unique<Service>(*storage, testConfig(), [this] { return now += 0.4; });
  const Reply me = call("GET", "/api/me", "", signIn("Ada@Example.org"));
  EXPECT_EQ(Json::parse(me.body), Json({{"email", "ada@example.org"}, {"tier", "free"}}));
  const Reply page = openPage(newSignInRequest());
  EXPECT_EQ(page.headers.at("Cache-Control"), "no-store");
  std::string ticket = ticketOf(page.body);
  // Each refusal shows the form again with a fresh ticket; the last attempt succeeds on it.
  for (const auto& [email, password, action, status] :
       std::vector<std::tuple<std::string, std::string, std::string, int>>{
           {"ada@example.org", "wrong password", "signin", 401},
           {"nobody@example.org", "correct horse", "signin", 401},
           {"ada@example.org", "correct horse", "signup", 409},
           {"not an address", "correct horse", "signin", 400},
           {"ada@example.org", "correct horse", "other", 400},
           {"ADA@example.org ", "correct horse", "signin", 303}}) {
    SCOPED_TRACE(email + " " + action);
    const Reply reply = submit(ticket, email, password, action);
    EXPECT_EQ(reply.status, status) << reply.body;
    if (status != 303) {
      const std::string next = ticketOf(reply.body);
      EXPECT_FALSE(next.empty());
      EXPECT_NE(next, ticket);
      ticket = next;
    }
  }
}

TEST_F(Sign, RefusesLinksTicketsAndCodesItNeverIssuedOrAlreadyTook) {
  const auto request = newSignInRequest();
  for (const std::string& link :
       {"app=other&challenge=" + request.challenge + "&state=s",
        std::string("app=tolvane&challenge=short&state=s"),
        "app=tolvane&challenge=" + request.challenge + "&state=%3Cscript%3E"})
    EXPECT_EQ(call("GET", "/app/connect?" + link).status, 400) << link;
  // A ticket the server never issued, and one that was used.
  EXPECT_EQ(submit(*newSecret(), "ada@example.org", "correct horse", "signup").status, 400);
  const std::string ticket = ticketOf(openPage(request).body);
  const Reply redirect = submit(ticket, "ada@example.org", "correct horse", "signup");
  ASSERT_EQ(redirect.status, 303);
  EXPECT_TRUE(redirect.headers.at("Location").starts_with("tolvane://auth?code="));
  EXPECT_EQ(submit(ticket, "ada@example.org", "correct horse", "signin").status, 400);

  const std::string code = callbackItem(redirect.headers.at("Location"), "code");
  EXPECT_EQ(exchange(code, newSignInRequest().verifier).status, 400) << "verifier mismatch";
  EXPECT_EQ(exchange(code, request.verifier).status, 400) << "a failed try burns the code";

  const auto second = newSignInRequest();
  const std::string fresh = codeFor(second, "ada@example.org");
  const Reply issued = exchange(fresh, second.verifier);
  ASSERT_EQ(issued.status, 200);
  EXPECT_EQ(exchange(fresh, second.verifier).status, 400) << "used twice";
  EXPECT_EQ(call("GET", "/api/me", "", Json::parse(issued.body)["token"]).status, 401)
      << "a replayed code revokes the token issued for it";

  const auto third = newSignInRequest();
  const std::string late = codeFor(third, "ada@example.org");
  now += testConfig().codeLifetime + 1;
  EXPECT_EQ(exchange(late, third.verifier).status, 400) << "expired";
  const std::string stale = ticketOf(openPage(third).body);
  now += testConfig().pageLifetime + 1;
  EXPECT_EQ(submit(stale, "ada@example.org", "correct horse", "signin").status, 400);
}

TEST_F(Sign, OutRevokesTheTokenOrAllOfThemAndEveryBearerEndpointRefusesBadOnes) {
  const std::string token = signIn("ada@example.org");
  const std::string elsewhere = signIn("ada@example.org");
  const std::string third = signIn("ada@example.org");
  const std::string other = signIn("bob@example.org");
  ASSERT_EQ(call("POST", "/api/app/logout", "{}", token).status, 200);
  EXPECT_EQ(call("GET", "/api/me", "", elsewhere).status, 200) << "signed out here only";
  const Reply all = call("POST", "/api/app/logout-all", "{}", elsewhere);
  EXPECT_EQ(all.status, 200);
  EXPECT_EQ(all.body, "{}");
  const std::string push = R"({"blob":"{}","baseVersion":0,"deviceId":"d"})";
  for (const auto& [method, path, body] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"GET", "/api/me", ""},
           {"POST", "/api/app/logout", "{}"},
           {"POST", "/api/app/logout-all", "{}"},
           {"GET", "/api/sync/tolvane", ""},
           {"PUT", "/api/sync/tolvane", push}}) {
    for (const std::string& authorization : std::vector<std::string>{
             "", "Basic " + other, "Bearer", "Bearer " + other + "x", "Bearer " + *newSecret(),
             "Bearer " + token, "Bearer " + elsewhere, "Bearer " + third, "Bearer ' OR 1=1 --"}) {
      SCOPED_TRACE(method + " " + path + " [" + authorization + "]");
      const Reply reply = service->handle({.method = method,
                                           .path = path,
                                           .authorization = authorization,
                                           .contentType = "application/json",
                                           .body = body,
                                           .address = address});
      EXPECT_EQ(reply.status, 401);
      EXPECT_EQ(reply.headers.count("WWW-Authenticate"), 1u);
    }
  }
  EXPECT_EQ(call("GET", "/api/me", "", other).status, 200) << "another account stays signed in";
}

TEST_F(Sign, InLastsWhileUsedAndEndsAfterAnIdleSpell) {
  const std::string token = signIn("ada@example.org");
  const std::int64_t idle = testConfig().tokenIdleSeconds;
  for (int use = 0; use < 3; ++use) {
    now += idle - 1;
    EXPECT_EQ(call("GET", "/api/me", "", token).status, 200) << "renewed by use " << use;
  }
  now += idle;
  EXPECT_EQ(call("GET", "/api/me", "", token).status, 401);
}

TEST_F(Sign, PagesAreLimitedPerAddressAndTheirSignInsBoundInAll) {
  int opened = 0;
  Reply page;
  while ((page = openPage(newSignInRequest())).status == 200 && opened < 100) ++opened;
  EXPECT_EQ(page.status, 429);
  EXPECT_EQ(opened, static_cast<int>(testConfig().pagesPerAddress.burst));

  ServiceConfig config = testConfig();
  config.maxPendingSignIns = opened + 1;
  service = std::make_unique<Service>(*storage, config, [this] { return now; });
  address = "198.51.100.1";
  EXPECT_EQ(openPage(newSignInRequest()).status, 200);
  EXPECT_EQ(openPage(newSignInRequest()).status, 503) << "the bound is reached";
  now += config.pageLifetime;
  EXPECT_EQ(openPage(newSignInRequest()).status, 200) << "expired ones do not count";
}

TEST_F(Sign, UpClosedLeavesAccountsToTheOperatorsCommand) {
  ServiceConfig config = testConfig();
  config.signUpOpen = false;
  service = std::make_unique<Service>(*storage, config, [this] { return now; });
  const Reply page = openPage(newSignInRequest());
  EXPECT_EQ(page.body.find("value=signup"), std::string::npos) << "no Create account button";
  const Reply refused = submit(ticketOf(page.body), "ada@example.org", "correct horse", "signup");
  EXPECT_EQ(refused.status, 403);
  EXPECT_EQ(storage->accountByEmail("ada@example.org").status, StoreStatus::notFound);

  // The operator's command reads the password's first line; an address taken already is refused.
  std::istringstream input("correct horse\nignored"), again("correct horse\n");
  std::string whyNot;
  EXPECT_TRUE(addAccount(*storage, "Ada@Example.org", input, config.passwordCost, whyNot))
      << whyNot;
  EXPECT_FALSE(addAccount(*storage, "ada@example.org", again, config.passwordCost, whyNot));
  EXPECT_FALSE(signIn("ada@example.org").empty());
}

using Sync = ServiceWorld;

TEST_F(Sync, VersionsFollowTheBaseAndAStaleBaseConflicts) {
  const std::string token = signIn("ada@example.org");
  EXPECT_EQ(Json::parse(call("GET", "/api/sync/tolvane", "", token).body), Json::object());
  // The version a push stored, or its refusal's status.
  const auto pushed = [&](std::int64_t base, const std::string& blob) {
    const Reply reply = push(token, base, blob);
    return reply.status == 200 ? Json::parse(reply.body)["version"].get<int>() : -reply.status;
  };
  const std::string odd =
      R"({"x":"'); DELETE FROM sync_records; --","y":"\u00e9\u4e2d\ud83d\ude00"})";
  EXPECT_EQ(pushed(7, "{\"a\":1}"), 1) << "nothing stored: any base";
  EXPECT_EQ(pushed(0, "{\"a\":2}"), -409);
  EXPECT_EQ(pushed(1, odd), 2);
  const Json pulled = Json::parse(call("GET", "/api/sync/tolvane", "", token).body);
  EXPECT_EQ(pulled, Json({{"version", 2}, {"blob", odd}}));
  const std::string other = signIn("bob@example.org");
  EXPECT_EQ(Json::parse(call("GET", "/api/sync/tolvane", "", other).body), Json::object());
}

TEST_F(Sync, AReadOnlyOrMissingDatabaseAnswers503UntilFixed) {
  const std::string token = signIn("ada@example.org");
  ASSERT_EQ(push(token, 0, "{}").status, 200);
  ASSERT_EQ(chmod(dbPath().c_str(), 0444), 0);
  const Reply refused = push(token, 1, "{\"a\":1}");
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(refused.headers.count("Retry-After"), 1u);
  EXPECT_EQ(call("GET", "/api/sync/tolvane", "", token).status, 200) << "reads still answer";
  ASSERT_EQ(chmod(dbPath().c_str(), 0644), 0);
  EXPECT_EQ(push(token, 1, "{\"a\":1}").status, 200);

  std::filesystem::rename(dbPath(), dbPath() + ".moved");
  EXPECT_EQ(call("GET", "/api/me", "", token).status, 503);
  std::filesystem::rename(dbPath() + ".moved", dbPath());
  EXPECT_EQ(call("GET", "/api/me", "", token).status, 200);
}

using Uploads = ServiceWorld;

// Who sends the uploads: installation, version, build, system, architecture, locale.
wire::ClientInfo sender(const std::string& installID = "install-1") {
  return {installID, "0.1.0", "1", "Debian 12", "x86_64", "en_GB"};
}

Json usageBatch(std::size_t events, const std::string& installID = "install-1") {
  const Json event = {{"t", 1.8e9}, {"n", "session"}, {"p", {{"trigger", "cmdTab"}, {"ms", 12}}}};
  return Json::parse(wire::encodeUsageBatch(sender(installID), std::vector<Json>(events, event)));
}

// Stored whoever sends them, with their known fields only and nothing of the account.
TEST_F(Uploads, AreStoredWhenWellFormedAndRefusedOtherwise) {
  const std::string token = signIn("ada@example.org"), revoked = signIn("ada@example.org");
  call("POST", "/api/app/logout", "{}", revoked);
  const Json crash =
      Json::parse(wire::encode({.client = sender(), .signal = 11, .exceptionType = "SIGSEGV"},
                               {{"threads", Json::array()}}));
  const Json log =
      Json::parse(wire::encodeTesterLog(sender(), "== app log (DebugLog) ==\n\xc3\xa9"));
  Json tooMany = usageBatch(201), otherApp = crash, unknown = usageBatch(2);
  otherApp["app"] = "other";
  unknown["extra"] = "unknown-top";
  unknown["events"][0]["x"] = "unknown-event";
  for (const auto& [path, body, bearer, status] :
       std::vector<std::tuple<std::string, Json, std::string, int>>{
           {"/api/improve", unknown, token, 200},
           {"/api/improve", usageBatch(3), "", 200},
           {"/api/improve", usageBatch(2), revoked, 200},
           {"/api/crash", crash, "", 200},
           {"/api/testlog", log, "", 200},
           {"/api/improve", tooMany, "", 400},
           {"/api/crash", otherApp, "", 400}}) {
    SCOPED_TRACE(path + " " + body.dump().substr(0, 40));
    const Reply reply = call("POST", path, body.dump(), bearer);
    EXPECT_EQ(reply.status, status);
    EXPECT_EQ(reply.accountId, 0) << "logged without the account";
  }
  std::vector<std::string> usage;
  EXPECT_TRUE(sqliteRun(dbPath(), "SELECT body FROM usage_uploads ORDER BY rowid", &usage));
  EXPECT_EQ(usage, (std::vector{usageBatch(2).dump(), usageBatch(3).dump(), usageBatch(2).dump()}));
  EXPECT_EQ(storage->countUploads(UploadTable::crash).value, 1);
  EXPECT_EQ(storage->countUploads(UploadTable::testlog).value, 1);
}

TEST_F(Uploads, AreKeptForTheirDaysAndLimitedByBytesPerAddress) {
  ASSERT_EQ(call("POST", "/api/improve", usageBatch(1).dump()).status, 200);
  now += testConfig().keepUploadsSeconds - 86400;
  ASSERT_EQ(call("POST", "/api/improve", usageBatch(1).dump()).status, 200);
  now += 2 * 86400;
  call("GET", "/api/me");
  EXPECT_EQ(storage->countUploads(UploadTable::usage).value, 1) << "the first one is dropped";

  // The installation ids are the sender's to choose: the bytes count per address.
  ServiceConfig config = testConfig();
  config.uploadBytesPerAddress = {.burst = 3.5 * usageBatch(1, "install-0").dump().size(),
                                  .perSecond = 1};
  service = std::make_unique<Service>(*storage, config, [this] { return now; });
  std::vector<int> statuses;
  for (int i = 0; i < 5; ++i) {
    const std::string body = usageBatch(1, "install-" + std::to_string(i)).dump();
    statuses.push_back(call("POST", "/api/improve", body).status);
  }
  EXPECT_EQ(statuses, (std::vector<int>{200, 200, 200, 503, 503}));
  address = "198.51.100.1";
  EXPECT_EQ(call("POST", "/api/improve", usageBatch(1).dump()).status, 200) << "another address";
}

TEST_F(Sign, InAttemptsAreLimitedPerAddressAndPerAccount) {
  signIn("ada@example.org");
  const auto request = newSignInRequest();
  std::string ticket = ticketOf(openPage(request).body);
  int refusedWrong = 0;
  Reply reply;
  while ((reply = submit(ticket, "ada@example.org", "wrong password", "signin")).status == 401) {
    ++refusedWrong;
    ticket = ticketOf(reply.body);
  }
  EXPECT_EQ(reply.status, 429);
  EXPECT_EQ(refusedWrong, static_cast<int>(testConfig().signInPerAccount.burst) - 1);
  // The account is held back at this address, another one is not, and neither is the owner at
  // their own address; until an address's own limit runs out, whatever its spelling.
  ticket = ticketOf(reply.body);
  reply = submit(ticket, "bob@example.org", "correct horse", "signup");
  EXPECT_EQ(reply.status, 303);
  address = "2001:db8::1";
  EXPECT_FALSE(signIn("ada@example.org").empty());
  // Three taken already: the sign-in's two forms (sign-up, then sign-in) and its exchange.
  for (int i = 0; i < testConfig().signInPerAddress.burst - 3; ++i) {
    address = (i % 2 ? "2001:DB8::" : "2001:db8::ffff:") + std::to_string(i);
    call("POST", "/api/app/token", "{}");
  }
  address = "2001:db8:0:0:1::1";
  EXPECT_EQ(call("POST", "/api/app/token", "{}").status, 429);
}

using Bounds = ServiceWorld;

// Every field a client chooses is refused one past its bound, or garbled, and taken at it.
TEST_F(Bounds, AreRefusedOnePastAndTakenAtTheEdge) {
  const std::string token = signIn("ada@example.org");
  const auto request = newSignInRequest();
  const std::string code = codeFor(request, "ada@example.org");
  const auto page = [&](std::size_t state) {
    return openPage({"", request.challenge, std::string(state, 's')}).status;
  };
  // The password as sent, unescaped.
  const auto form = [&](const std::string& password) {
    const std::string body = "ticket=" + ticketOf(openPage(newSignInRequest()).body) +
                             "&email=ada%40example.org&action=signin&password=" + password;
    return call("POST", "/app/connect", body, "", "application/x-www-form-urlencoded").status;
  };
  // In order: the refused exchanges leave the code for the last one.
  for (const auto& [what, status, expected] : std::vector<std::tuple<std::string, int, int>>{
           {"state past 256", page(257), 400},
           {"state of 256", page(256), 200},
           // Form bytes are UTF-8 and their escapes whole, whatever the field.
           {"password not UTF-8", form("%C0%AF"), 400},
           {"broken escape", form("%ZZ"), 400},
           {"password past 1024", form(std::string(kMaxPasswordBytes + 1, 'p')), 400},
           {"password of 1024", form(std::string(kMaxPasswordBytes, 'p')), 401},
           {"code shape", exchange("short", request.verifier, "d").status, 400},
           {"verifier shape", exchange(code, std::string(42, 'v'), "d").status, 400},
           {"empty device", exchange(code, request.verifier, "").status, 400},
           {"device past 128", exchange(code, request.verifier, std::string(129, 'd')).status, 400},
           {"device of 128", exchange(code, request.verifier, std::string(128, 'd')).status, 200},
           {"blob past 1 MiB", push(token, 0, std::string(BodyLimits::kSyncBlob + 1, 'b')).status,
            413},
           {"sync device past 128", push(token, 0, "b", std::string(129, 'd')).status, 400},
           {"blob of 1 MiB, device of 128",
            push(token, 0, std::string(BodyLimits::kSyncBlob, 'b'), std::string(128, 'd')).status,
            200}}) {
    EXPECT_EQ(status, expected) << what;
  }
  // Parsed under the bound the HTTP binding holds each endpoint's body to, however it came: a
  // body of exactly the bound is read (spaces are no JSON and no form), one byte more is not.
  for (const EndpointBodyLimit& e : kEndpointBodyLimits) {
    for (const auto& [bytes, status] : {std::pair{e.bytes, 400}, std::pair{e.bytes + 1, 413}}) {
      const std::string body(bytes, ' ');
      EXPECT_EQ(call(std::string(e.method), std::string(e.path), body, token).status, status)
          << e.path << " " << bytes;
    }
  }
}

// What a sign-up takes: a new password of at least 8 bytes, and an e-mail address of one @
// between something, of 3 to 254 bytes, no spaces, controls, angle brackets or quotes.
TEST_F(Bounds, OfASignUpAreThePasswordsLengthAndTheAddressesShape) {
  const std::string local(254 - std::string("@example.org").size(), 'a');
  for (const auto& [email, password, status] :
       std::vector<std::tuple<std::string, std::string, int>>{
           {"new@example.org", std::string(7, 'p'), 400},
           {"new@example.org", std::string(8, 'p'), 303},
           {"a@b", "correct horse", 303},
           {"a@", "correct horse", 400},
           {local + "@example.org", "correct horse", 303},
           {local + "a@example.org", "correct horse", 400},
           {"a@b@example.org", "correct horse", 400},
           {"a\tb@example.org", "correct horse", 400},
           {"a<b@example.org", "correct horse", 400},
           {"a\"b@example.org", "correct horse", 400}}) {
    const std::string ticket = ticketOf(openPage(newSignInRequest()).body);
    EXPECT_EQ(submit(ticket, email, password, "signup").status, status) << email << " " << password;
  }
}

// By the rate limits and by the bound on open connections alike.
TEST(Addresses, CountOneClientOnceWhateverItsSpellingAndAnIPv6ClientByItsNetwork) {
  for (const auto& [one, other, same] : std::vector<std::tuple<std::string, std::string, bool>>{
           {"2001:DB8::1", "2001:db8::1", true},
           {"2001:db8::1", "2001:db8:0:0:ffff:ffff:ffff:ffff", true},
           {"::ffff:192.0.2.1", "192.0.2.1", true},
           {"2001:db8::1", "2001:db8:0:1::1", false},
           {"192.0.2.1", "192.0.2.2", false},
           {"unknown", "x", false}}) {
    EXPECT_EQ(addressKey(one) == addressKey(other), same) << one << " " << other;
    ConnectionLimits oneEach(1, 2);
    const auto first = oneEach.take(one);
    EXPECT_EQ(oneEach.take(other).has_value(), !same) << one << " " << other;
  }
}

}  // namespace
}  // namespace tolvane::server::test
