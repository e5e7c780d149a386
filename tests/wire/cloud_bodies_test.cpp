// The bodies shared with the service: the readers refuse every shape the other side could not
// have sent. That each side reads what the other encodes shows in the client's tests, which check
// every body it sends, and the server's, which read bodies made by these encoders.
#include "wire/cloud_bodies.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

namespace tolvane::wire {
namespace {

const ClientInfo kClient{.installID = "0F6B5B2E-9D1C-4A57-8E8B-3C6A0D1F2E4B",
                         .appVersion = "1.2",
                         .build = "7",
                         .osVersion = "Debian GNU/Linux 12",
                         .arch = "x86_64",
                         .locale = "de_DE"};

Json event(Json properties = Json::object()) {
  return {{"t", 1.7e9}, {"n", "session"}, {"p", std::move(properties)}};
}

TEST(CloudBodies, RequestReadersRefuseWrongShapes) {
  const Json token = Json::parse(encode(TokenRequest{"c", "v", "d"}));
  const Json push = Json::parse(encode(SyncPush{"{}", 3, "d"}));
  const auto with = [](Json body, const char* key, Json value) {
    body[key] = std::move(value);
    return body;
  };
  const auto without = [](Json body, const char* key) {
    body.erase(key);
    return body;
  };
  EXPECT_FALSE(readTokenRequest(without(token, "verifier")));

  EXPECT_FALSE(readSyncPush(without(push, "baseVersion")));
  EXPECT_FALSE(readSyncPush(with(push, "blob", Json::object())));
  EXPECT_FALSE(readSyncPush(with(push, "baseVersion", -1)));
}

TEST(CloudBodies, UploadsOfTheWrongShapeAreRefusedWithTheirFault) {
  struct Row {
    const char* name;
    UploadKind kind;
    std::function<void(Json&)> change;
    const char* whyNot;  // "" when the changed body is still taken
  };
  std::string maxLog;  // of characters of 2 bytes each
  for (std::size_t i = 0; i < kMaxTesterLogChars; ++i) maxLog += "\xC3\xA9";
  const Row rows[] = {
      // The frame every upload shares (another app, and a batch of too many events, are the
      // server's upload test's).
      {"an array", UploadKind::usage, [](Json& b) { b = Json::array({b}); }, "not an object"},
      {"no install id", UploadKind::crash, [](Json& b) { b.erase("installID"); }, "installID"},
      {"no type", UploadKind::testlog, [](Json& b) { b.erase("type"); }, "type"},
      // Crash reports, and tester logs bounded in characters.
      {"a stack that is no object", UploadKind::crash,
       [](Json& b) { b["callStack"] = Json::array(); }, "callStack"},
      {"the longest log", UploadKind::testlog, [&](Json& b) { b["log"] = maxLog; }, ""},
      {"a log one character too long", UploadKind::testlog,
       [&](Json& b) { b["log"] = maxLog + "a"; }, "log"},
  };
  for (const auto& row : rows) {
    Json body =
        Json::parse(row.kind == UploadKind::usage   ? encodeUsageBatch(kClient, {event()})
                    : row.kind == UploadKind::crash ? encode(CrashReport{kClient}, Json::object())
                                                    : encodeTesterLog(kClient, "log"));
    row.change(body);
    std::string whyNot;
    const bool taken = readUpload(row.kind, body, whyNot).has_value();
    EXPECT_EQ(taken, *row.whyNot == '\0') << row.name;
    EXPECT_EQ(whyNot, row.whyNot) << row.name;
  }
}

TEST(CloudBodies, MalformedEventsCostThemselvesNotTheBatch) {
  Json batch = Json::parse(encodeUsageBatch(
      kClient, {event(), event({{"app", Json::array()}}), Json{{"t", 1}}, event({{"ms", 3}})}));
  std::string whyNot;
  const auto summary = readUpload(UploadKind::usage, batch, whyNot);
  ASSERT_TRUE(summary) << whyNot;
  EXPECT_EQ(summary->installID, kClient.installID);
  EXPECT_EQ(summary->items, 2u);
  EXPECT_EQ(summary->malformed, 2u);
  dropMalformedEvents(batch);
  EXPECT_EQ(batch["events"], Json({event(), event({{"ms", 3}})}));
}

}  // namespace
}  // namespace tolvane::wire
