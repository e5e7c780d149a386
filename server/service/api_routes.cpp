// The application's API: the account, sign-out, settings sync and the uploads.
#include "auth/secrets.h"
#include "service/client_address.h"
#include "service/service_impl.h"

namespace tolvane::server {

namespace {

constexpr std::size_t kMaxDeviceIdBytes = 128;

UploadTable tableOf(wire::UploadKind kind) {
  switch (kind) {
    case wire::UploadKind::usage:
      return UploadTable::usage;
    case wire::UploadKind::crash:
      return UploadTable::crash;
    case wire::UploadKind::testlog:
      return UploadTable::testlog;
  }
  return UploadTable::usage;
}

std::size_t bodyLimitOf(wire::UploadKind kind) {
  switch (kind) {
    case wire::UploadKind::usage:
      return BodyLimits::kUsage;
    case wire::UploadKind::crash:
      return BodyLimits::kCrash;
    case wire::UploadKind::testlog:
      return BodyLimits::kTesterLog;
  }
  return 0;
}

// Keeps only `keys` of the object `from`.
Json picked(const Json& from, std::initializer_list<const char*> keys) {
  Json kept = Json::object();
  for (const char* key : keys) {
    if (const auto found = from.find(key); found != from.end()) kept[key] = *found;
  }
  return kept;
}

// What is stored of an upload that `readUpload` accepted: its known fields and nothing a
// sender adds (a crash report's call-stack tree is kept whole: its shape is the crash's).
Json knownFields(wire::UploadKind kind, const Json& body) {
  switch (kind) {
    case wire::UploadKind::usage: {
      Json kept = picked(body, {"app", "installID", "appVersion", "build", "os", "arch", "locale"});
      Json batch = body;
      wire::dropMalformedEvents(batch);
      kept["events"] = Json::array();
      for (const Json& event : batch["events"])
        kept["events"].push_back(picked(event, {"t", "n", "p"}));
      return kept;
    }
    case wire::UploadKind::crash:
      return picked(body,
                    {"type", "app", "installID", "appVersion", "build", "osVersion", "arch",
                     "callStack", "signal", "exceptionType", "exceptionCode", "terminationReason"});
    case wire::UploadKind::testlog:
      return picked(body, {"type", "app", "installID", "appVersion", "build", "osVersion", "log"});
  }
  return Json::object();
}

}  // namespace

Reply Service::Impl::me(const Request& request) {
  Reply failure;
  const auto account = authenticate(request, failure);
  if (!account) return failure;
  Reply reply = jsonReply(200, wire::toJson(wire::AccountReply{account->email, account->tier}));
  reply.accountId = account->id;
  return reply;
}

Reply Service::Impl::logout(const Request& request) {
  Reply failure;
  const auto account = authenticate(request, failure);
  if (!account) return failure;
  if (storage.revokeToken(secretHash(bearerOf(request.authorization)), seconds()) !=
      StoreStatus::ok)
    return unavailableReply("token not revoked");
  Reply reply = jsonReply(200, Json::object());
  reply.accountId = account->id;
  return reply;
}

Reply Service::Impl::logoutAll(const Request& request) {
  Reply failure;
  const auto account = authenticate(request, failure);
  if (!account) return failure;
  if (storage.revokeAllTokens(account->id, seconds()) != StoreStatus::ok)
    return unavailableReply("tokens not revoked");
  Reply reply = jsonReply(200, Json::object());
  reply.accountId = account->id;
  return reply;
}

Reply Service::Impl::syncGet(const Request& request) {
  Reply failure;
  const auto account = authenticate(request, failure);
  if (!account) return failure;
  const auto record = storage.syncRecord(account->id);
  if (!record.ok()) return unavailableReply(record.detail);
  wire::SyncState state;
  if (record.value.version > 0) {
    state.version = record.value.version;
    state.blob = record.value.blob;
  }
  Reply reply = jsonReply(200, wire::toJson(state));
  reply.accountId = account->id;
  return reply;
}

Reply Service::Impl::syncPut(const Request& request) {
  Reply failure;
  const auto account = authenticate(request, failure);
  if (!account) return failure;
  const auto body = jsonObjectBody(request, BodyLimits::kSync, failure);
  if (!body) return failure;
  const auto push = wire::readSyncPush(*body);
  if (!push) return errorReply(400, "invalid_request", "sync push shape");
  if (push->blob.size() > BodyLimits::kSyncBlob) return errorReply(413, "too_large", "blob");
  if (push->deviceId.size() > kMaxDeviceIdBytes)
    return errorReply(400, "invalid_request", "device");
  const auto committed =
      storage.commitSync(account->id, push->baseVersion, push->blob, push->deviceId, seconds());
  Reply reply;
  if (committed.status == StoreStatus::conflict) {
    reply = errorReply(409, "conflict", "stale base " + std::to_string(push->baseVersion));
  } else if (!committed.ok()) {
    reply = unavailableReply(committed.detail);
  } else {
    reply = jsonReply(200, wire::toJson(wire::SyncState{.version = committed.value}));
  }
  reply.accountId = account->id;
  return reply;
}

Reply Service::Impl::upload(const Request& request, wire::UploadKind kind) {
  // Usage batches carry the account's token when someone is signed in. It serves the rate
  // limit and nothing else: uploads are anonymous, stored and logged without the account.
  // One that is no longer valid counts as none: a 4xx would make the application drop its
  // events.
  std::optional<Account> account;
  if (kind == wire::UploadKind::usage && !request.authorization.empty()) {
    Reply ignored;
    account = authenticate(request, ignored);
  }
  // Over its limit, an upload is asked to come back later (503): the application keeps a batch
  // on 5xx and drops it for good on any 4xx. An address's limit counts bytes as well: the
  // installation ids are the sender's to choose.
  const double at = now();
  const std::string client = addressKey(request.address);
  const auto bytes = static_cast<double>(request.body.size());
  if (!uploadsByAddress.allow(client, at))
    return limitedReply(503, uploadsByAddress.retryAfter(client, at), false);
  if (!uploadBytesByAddress.allow(client, at, bytes))
    return limitedReply(503, uploadBytesByAddress.retryAfter(client, at, bytes), false);
  Reply failure;
  const auto body = jsonObjectBody(request, bodyLimitOf(kind), failure);
  if (!body) return failure;
  std::string whyNot;
  const auto summary = wire::readUpload(kind, *body, whyNot);
  if (!summary) return errorReply(400, "invalid_body", "upload: " + whyNot);
  const std::string sender =
      account ? "account:" + std::to_string(account->id) : "install:" + summary->installID;
  if (!uploadsByAccount.allow(sender, at))
    return limitedReply(503, uploadsByAccount.retryAfter(sender, at), false);

  const StoredUpload stored{.table = tableOf(kind),
                            .installID = summary->installID,
                            .appVersion = summary->appVersion,
                            .body = wire::dumpBody(knownFields(kind, *body)),
                            .receivedAt = seconds()};
  if (storage.addUpload(stored) != StoreStatus::ok) return unavailableReply("upload not stored");
  return jsonReply(200, {{"accepted", summary->items}, {"dropped", summary->malformed}});
}

}  // namespace tolvane::server
