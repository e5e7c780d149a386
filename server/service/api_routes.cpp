// The application's API: the account, sign-out, settings sync and the uploads.
#include "auth/secrets.h"
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
  const std::string token = request.authorization.substr(std::string_view("Bearer ").size());
  if (storage.revokeToken(secretHash(token), seconds()) != StoreStatus::ok)
    return unavailableReply("token not revoked");
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
  // Usage batches carry the account's token when someone is signed in. One that is no longer
  // valid files the batch anonymously: a 4xx would make the application drop its events.
  std::optional<Account> account;
  if (kind == wire::UploadKind::usage && !request.authorization.empty()) {
    Reply ignored;
    account = authenticate(request, ignored);
  }
  // Over its limit, an upload is asked to come back later (503): the application keeps a batch
  // on 5xx and drops it for good on any 4xx.
  const double at = now();
  if (!uploadsByAddress.allow(request.address, at))
    return limitedReply(503, uploadsByAddress.retryAfter(request.address, at), false);
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

  StoredUpload stored{.table = tableOf(kind),
                      .installID = summary->installID,
                      .appVersion = summary->appVersion,
                      .body = request.body,
                      .receivedAt = seconds()};
  if (summary->malformed) {
    Json kept = *body;
    wire::dropMalformedEvents(kept);
    stored.body = wire::dumpBody(kept);
  }
  if (account) stored.accountId = account->id;
  if (storage.addUpload(stored) != StoreStatus::ok) return unavailableReply("upload not stored");
  Reply reply = jsonReply(200, {{"accepted", summary->items}, {"dropped", summary->malformed}});
  if (account) reply.accountId = account->id;
  return reply;
}

}  // namespace tolvane::server
