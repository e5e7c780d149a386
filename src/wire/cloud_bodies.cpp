#include "wire/cloud_bodies.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace tolvane::wire {

namespace {

// Bounds of the identifying fields of uploads: ids are UUIDs, versions and system names short.
constexpr std::size_t kMaxClientFieldBytes = 256;
constexpr std::size_t kMaxEventNameBytes = 128;
constexpr std::size_t kMaxEventProperties = 64;

const Json* member(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const std::string* stringMember(const Json& object, const char* key) {
  const Json* value = member(object, key);
  return value && value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
}

// Absent or null: empty; a non-negative integer that fits: the value; anything else: invalid.
// The parser stores a non-negative integer as unsigned, but a body built in memory (toJson)
// holds a signed one: both are versions.
bool readVersion(const Json& object, const char* key, std::optional<std::int64_t>& version) {
  const Json* found = member(object, key);
  if (!found || found->is_null()) return true;
  if (found->is_number_unsigned()) {
    const auto value = found->get<std::uint64_t>();
    if (value > std::uint64_t(std::numeric_limits<std::int64_t>::max())) return false;
    version = static_cast<std::int64_t>(value);
    return true;
  }
  if (!found->is_number_integer() || found->get<std::int64_t>() < 0) return false;
  version = found->get<std::int64_t>();
  return true;
}

std::size_t utf8Characters(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

Json clientFields(const ClientInfo& client) {
  return {{"app", std::string(kAppName)},
          {"installID", client.installID},
          {"appVersion", client.appVersion},
          {"build", client.build}};
}

bool validEvent(const Json& event) {
  if (!event.is_object()) return false;
  const Json* time = member(event, "t");
  const std::string* name = stringMember(event, "n");
  const Json* props = member(event, "p");
  if (!time || !time->is_number() || !name || name->empty() || name->size() > kMaxEventNameBytes)
    return false;
  if (!props) return true;
  if (!props->is_object() || props->size() > kMaxEventProperties) return false;
  for (const auto& [key, value] : props->items()) {
    if (key.size() > kMaxEventNameBytes) return false;
    if (value.is_string()) {
      if (utf8Characters(value.get_ref<const std::string&>()) > kMaxEventStringChars) return false;
    } else if (!value.is_number() && !value.is_boolean()) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string dumpBody(const Json& body) {
  return body.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string encode(const TokenRequest& request) {
  return dumpBody(
      {{"code", request.code}, {"verifier", request.verifier}, {"deviceId", request.deviceId}});
}

std::optional<TokenRequest> readTokenRequest(const Json& body) {
  if (!body.is_object()) return std::nullopt;
  const auto* code = stringMember(body, "code");
  const auto* verifier = stringMember(body, "verifier");
  const auto* device = stringMember(body, "deviceId");
  if (!code || !verifier || !device) return std::nullopt;
  return TokenRequest{*code, *verifier, *device};
}

bool isShowableAccountText(std::string_view text) {
  if (text.size() > kMaxAccountTextBytes) return false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

bool isHeaderSafeToken(std::string_view token) {
  if (token.empty() || token.size() > kMaxTokenBytes) return false;
  // A line break would let whoever wrote the token add headers of their own.
  for (const char c : token) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) return false;
  }
  return true;
}

Json toJson(const AccountReply& reply) {
  Json body = {{"email", reply.email}, {"tier", reply.tier}};
  if (reply.token) body["token"] = *reply.token;
  return body;
}

std::optional<AccountReply> readAccountReply(const Json& reply, bool needsToken) {
  if (!reply.is_object()) return std::nullopt;
  AccountReply account;
  if (needsToken) {
    const auto* token = stringMember(reply, "token");
    if (!token || !isHeaderSafeToken(*token)) return std::nullopt;
    account.token = *token;
  }
  // UTF-8 was checked by the parser.
  if (const auto* email = stringMember(reply, "email"); email && isShowableAccountText(*email))
    account.email = *email;
  if (const auto* tier = stringMember(reply, "tier"); tier && isShowableAccountText(*tier))
    account.tier = *tier;
  return account;
}

std::string encode(const SyncPush& push) {
  return dumpBody(
      {{"blob", push.blob}, {"baseVersion", push.baseVersion}, {"deviceId", push.deviceId}});
}

std::optional<SyncPush> readSyncPush(const Json& body) {
  if (!body.is_object()) return std::nullopt;
  const auto* blob = stringMember(body, "blob");
  const auto* device = stringMember(body, "deviceId");
  std::optional<std::int64_t> base;
  if (!blob || !device || !readVersion(body, "baseVersion", base) || !base) return std::nullopt;
  return SyncPush{*blob, *base, *device};
}

Json toJson(const SyncState& state) {
  Json body = Json::object();
  if (state.version) body["version"] = *state.version;
  if (state.blob) body["blob"] = *state.blob;
  return body;
}

std::optional<SyncState> readSyncState(const Json& reply, std::string& whyNot) {
  auto refuse = [&](const char* reason) -> std::optional<SyncState> {
    whyNot = reason;
    return std::nullopt;
  };
  if (!reply.is_object()) return refuse("not an object");
  SyncState state;
  if (!readVersion(reply, "version", state.version)) return refuse("version");
  if (const Json* blob = member(reply, "blob"); blob && !blob->is_null()) {
    if (!blob->is_string()) return refuse("blob");
    state.blob = blob->get<std::string>();
  }
  return state;
}

std::optional<SyncState> readSyncState(const Json& reply) {
  std::string whyNot;
  return readSyncState(reply, whyNot);
}

std::optional<std::int64_t> readPushedVersion(const Json& reply) {
  std::optional<std::int64_t> version;
  if (!reply.is_object() || !readVersion(reply, "version", version)) return std::nullopt;
  return version;
}

std::string encodeUsageBatch(const ClientInfo& client, const Json& events) {
  Json body = clientFields(client);
  body["os"] = client.osVersion;
  body["arch"] = client.arch;
  body["locale"] = client.locale;
  body["events"] = events;
  return dumpBody(body);
}

std::string encode(const CrashReport& report, const Json& callStack) {
  Json body = clientFields(report.client);
  body["type"] = "crash";
  body["osVersion"] = report.client.osVersion;
  body["arch"] = report.client.arch;
  body["callStack"] = callStack;
  if (report.signal) body["signal"] = *report.signal;
  if (report.exceptionType) body["exceptionType"] = *report.exceptionType;
  if (report.exceptionCode) body["exceptionCode"] = *report.exceptionCode;
  if (report.terminationReason) body["terminationReason"] = *report.terminationReason;
  return dumpBody(body);
}

std::string encodeTesterLog(const ClientInfo& client, const std::string& log) {
  Json body = clientFields(client);
  body["type"] = "testlog";
  body["osVersion"] = client.osVersion;
  body["log"] = log;
  return dumpBody(body);
}

std::optional<UploadSummary> readUpload(UploadKind kind, const Json& body, std::string& whyNot) {
  auto refuse = [&](std::string reason) -> std::optional<UploadSummary> {
    whyNot = std::move(reason);
    return std::nullopt;
  };
  if (!body.is_object()) return refuse("not an object");
  const auto* app = stringMember(body, "app");
  if (!app || *app != kAppName) return refuse("app");
  const char* typeName = kind == UploadKind::crash ? "crash" : "testlog";
  if (kind != UploadKind::usage) {
    const auto* type = stringMember(body, "type");
    if (!type || *type != typeName) return refuse("type");
  }
  const char* osKey = kind == UploadKind::usage ? "os" : "osVersion";
  for (const char* key : {"installID", "appVersion", "build", osKey}) {
    const auto* text = stringMember(body, key);
    if (!text || text->size() > kMaxClientFieldBytes) return refuse(key);
  }
  if (kind != UploadKind::testlog) {
    const auto* arch = stringMember(body, "arch");
    if (!arch || arch->size() > kMaxClientFieldBytes) return refuse("arch");
  }
  UploadSummary summary{*stringMember(body, "installID"), *stringMember(body, "appVersion"), 1};
  switch (kind) {
    case UploadKind::usage: {
      const auto* locale = stringMember(body, "locale");
      if (!locale || locale->size() > kMaxClientFieldBytes) return refuse("locale");
      const Json* events = member(body, "events");
      if (!events || !events->is_array() || events->size() > kMaxEventsPerBatch)
        return refuse("events");
      summary.items = 0;
      for (const auto& event : *events) (validEvent(event) ? summary.items : summary.malformed)++;
      break;
    }
    case UploadKind::crash: {
      const Json* stack = member(body, "callStack");
      if (!stack || !stack->is_object()) return refuse("callStack");
      if (const Json* signal = member(body, "signal"); signal && !signal->is_number_integer())
        return refuse("signal");
      for (const char* key : {"exceptionType", "exceptionCode", "terminationReason"}) {
        const Json* value = member(body, key);
        if (value && (!value->is_string() ||
                      value->get_ref<const std::string&>().size() > kMaxClientFieldBytes * 16))
          return refuse(key);
      }
      break;
    }
    case UploadKind::testlog: {
      const auto* log = stringMember(body, "log");
      if (!log || utf8Characters(*log) > kMaxTesterLogChars) return refuse("log");
      break;
    }
  }
  return summary;
}

void dropMalformedEvents(Json& batch) {
  const auto found = batch.find("events");
  if (found == batch.end() || !found->is_array()) return;
  Json kept = Json::array();
  for (auto& event : *found) {
    if (validEvent(event)) kept.push_back(std::move(event));
  }
  *found = std::move(kept);
}

}  // namespace tolvane::wire
