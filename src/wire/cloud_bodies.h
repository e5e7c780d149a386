// The JSON bodies that Tolvane and its service exchange, defined once for both sides: the
// application builds requests and reads replies with these, the server reads requests and
// builds replies with the same functions, so a key renamed on one side cannot miss the other.
// Nothing here depends on the rest of Tolvane.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::wire {

using Json = nlohmann::json;

/// The application's name in the sign-in page's query and in every upload body.
inline constexpr std::string_view kAppName = "tolvane";
/// E-mail addresses and tiers are shown in the settings window: longer is not an address.
inline constexpr std::size_t kMaxAccountTextBytes = 320;
/// A bearer token goes into a header line of every request.
inline constexpr std::size_t kMaxTokenBytes = 8 * 1024;
/// A usage batch holds at most this many events; each string property is cut to 256 characters.
inline constexpr std::size_t kMaxEventsPerBatch = 200;
inline constexpr std::size_t kMaxEventStringChars = 256;
/// A tester log sends at most its last 700000 characters.
inline constexpr std::size_t kMaxTesterLogChars = 700000;

/// `body` as sent: compact, and a stray invalid UTF-8 byte replaced instead of failing.
std::string dumpBody(const Json& body);

// ---- api/app/token ------------------------------------------------------------------------

struct TokenRequest {
  std::string code;
  std::string verifier;
  std::string deviceId;
};
std::string encode(const TokenRequest& request);
/// Nothing unless `body` is an object with all three keys as strings.
std::optional<TokenRequest> readTokenRequest(const Json& body);

// ---- api/app/token and api/me replies -----------------------------------------------------

struct AccountReply {
  std::string email;
  std::string tier = "free";
  /// Only in the token exchange's reply.
  std::optional<std::string> token;
};
Json toJson(const AccountReply& reply);
/// The e-mail ("" when absent or not showable) and the tier ("free" likewise); with
/// `needsToken`, nothing unless "token" is a non-empty, bounded string of visible ASCII.
std::optional<AccountReply> readAccountReply(const Json& reply, bool needsToken);

/// True for text that may be shown as an e-mail address or tier: bounded, no control bytes.
bool isShowableAccountText(std::string_view text);
/// True for a token that may be put into a header line: non-empty, bounded, visible ASCII.
bool isHeaderSafeToken(std::string_view token);

// ---- api/sync/tolvane ---------------------------------------------------------------------

/// PUT: the blob and the version it was based on.
struct SyncPush {
  std::string blob;
  std::int64_t baseVersion = 0;
  std::string deviceId;
};
std::string encode(const SyncPush& push);
/// Nothing unless "blob" and "deviceId" are strings and "baseVersion" a non-negative integer.
std::optional<SyncPush> readSyncPush(const Json& body);

/// GET reply (version and blob, both absent when the account never synced) and PUT reply
/// (version alone).
struct SyncState {
  std::optional<std::int64_t> version;
  std::optional<std::string> blob;
};
Json toJson(const SyncState& state);
/// Absent or null keys stay empty; nothing when "version" is present but not a non-negative
/// integer, or "blob" present but not a string. `whyNot` names the key at fault.
std::optional<SyncState> readSyncState(const Json& reply, std::string& whyNot);
std::optional<SyncState> readSyncState(const Json& reply);
/// The PUT reply's version: nothing unless "version" is a non-negative integer. The reply is
/// taken on its version alone; whatever else it carries is not read.
std::optional<std::int64_t> readPushedVersion(const Json& reply);

// ---- api/improve, api/crash, api/testlog --------------------------------------------------

/// Who sent an upload: the fields every upload body carries besides its content.
struct ClientInfo {
  std::string installID;
  std::string appVersion;
  std::string build;
  /// "os" in usage batches, "osVersion" in crash reports and tester logs.
  std::string osVersion;
  /// Not in tester logs.
  std::string arch;
  /// Usage batches only.
  std::string locale;
};

/// A usage batch: `events` is the array of stored event objects.
std::string encodeUsageBatch(const ClientInfo& client, const Json& events);

/// A crash report besides its call-stack tree.
struct CrashReport {
  ClientInfo client;
  std::optional<std::int64_t> signal;
  std::optional<std::string> exceptionType;
  std::optional<std::string> exceptionCode;
  std::optional<std::string> terminationReason;
};
std::string encode(const CrashReport& report, const Json& callStack);

std::string encodeTesterLog(const ClientInfo& client, const std::string& log);

enum class UploadKind { usage, crash, testlog };

/// What the service files an accepted upload under.
struct UploadSummary {
  std::string installID;
  std::string appVersion;
  /// Well-formed events in a usage batch; 1 for the others.
  std::size_t items = 0;
  /// Events of a usage batch that are not events (no name, nested or overlong properties).
  /// They cost themselves, not the batch: a refused batch would be dropped by the application
  /// with every good event in it.
  std::size_t malformed = 0;
};
/// Checks an upload body of `kind`: an object naming this application, with the kind's
/// required keys of the right types and within their bounds. `whyNot` names the first fault.
std::optional<UploadSummary> readUpload(UploadKind kind, const Json& body, std::string& whyNot);
/// Removes from a usage batch the events `readUpload` counted as malformed.
void dropMalformedEvents(Json& batch);

}  // namespace tolvane::wire
