// The bodies shared with the service: what one side encodes the other reads back unchanged, and
// the readers refuse every shape the other side could not have sent.
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

TEST(CloudBodies, WhatOneSideEncodesTheOtherReadsBack) {
  const auto token = readTokenRequest(Json::parse(encode(TokenRequest{"c", "v", "d"})));
  ASSERT_TRUE(token);
  EXPECT_EQ(token->code + token->verifier + token->deviceId, "cvd");

  const auto push = readSyncPush(Json::parse(encode(SyncPush{R"({"a":1})", 41, "d"})));
  ASSERT_TRUE(push);
  EXPECT_EQ(push->blob, R"({"a":1})");
  EXPECT_EQ(push->baseVersion, 41);

  const auto account = readAccountReply(toJson(AccountReply{"a@b.c", "pro", "tok"}), true);
  ASSERT_TRUE(account);
  EXPECT_EQ(account->email + account->tier + account->token.value_or(""), "a@b.cprotok");

  const auto state = readSyncState(toJson(SyncState{5, "{}"}));
  ASSERT_TRUE(state);
  EXPECT_EQ(state->version, 5);
  EXPECT_EQ(state->blob, "{}");
  const auto never = readSyncState(toJson(SyncState{}));
  ASSERT_TRUE(never);
  EXPECT_FALSE(never->version || never->blob);

  std::string whyNot;
  const auto usage = readUpload(UploadKind::usage,
                                Json::parse(encodeUsageBatch(kClient, {event(), event()})), whyNot);
  ASSERT_TRUE(usage) << whyNot;
  EXPECT_EQ(usage->items, 2u);
  EXPECT_EQ(usage->installID, kClient.installID);
  const CrashReport crash{.client = kClient, .signal = 11, .exceptionType = "SIGSEGV"};
  EXPECT_TRUE(readUpload(UploadKind::crash, Json::parse(encode(crash, Json::object())), whyNot));
  EXPECT_TRUE(
      readUpload(UploadKind::testlog, Json::parse(encodeTesterLog(kClient, "log")), whyNot));
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
      // The frame every upload shares.
      {"an array", UploadKind::usage, [](Json& b) { b = Json::array({b}); }, "not an object"},
      {"another app", UploadKind::usage, [](Json& b) { b["app"] = "other"; }, "app"},
      {"no install id", UploadKind::crash, [](Json& b) { b.erase("installID"); }, "installID"},
      {"no type", UploadKind::testlog, [](Json& b) { b.erase("type"); }, "type"},
      // Usage batches: counted events.
      {"one event too many", UploadKind::usage,
       [](Json& b) { b["events"] = Json(std::vector<Json>(kMaxEventsPerBatch + 1, event())); },
       "events"},
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
  EXPECT_EQ(summary->items, 2u);
  EXPECT_EQ(summary->malformed, 2u);
  dropMalformedEvents(batch);
  EXPECT_EQ(batch["events"], Json({event(), event({{"ms", 3}})}));
}

}  // namespace
}  // namespace tolvane::wire
