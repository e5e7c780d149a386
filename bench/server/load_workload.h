// What each simulated installation of Tolvane sends tolvane-server in the load benchmark: its
// own account, token and install id, and the three requests the benchmark measures.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::server::bench {

/// The requests measured, in the order of the table.
enum class Operation { syncGet, syncPut, usageBatch };
inline constexpr Operation kOperations[] = {Operation::syncGet, Operation::syncPut,
                                            Operation::usageBatch};

/// Events in one usage batch: what the application sends after a busy spell.
inline constexpr int kEventsPerBatch = 50;

/// The name a table row gives `operation`.
const char* operationName(Operation operation);

/// One installation: an account nobody else uses, so its pushes never conflict, and the
/// version its last push made, which is the base of its next one.
struct ClientIdentity {
  std::string token;
  std::string installID;
  std::int64_t syncVersion = 0;
  /// The usage batch it uploads, built once: its cost belongs to the application, not to the
  /// server under test.
  std::string usageBody;
};

/// Signs up `count` new accounts at `baseURL`, each with its own token and install id, and
/// pushes each one's first settings so that sync reads return a blob. Nothing, with `whyNot`,
/// when one fails.
std::optional<std::vector<ClientIdentity>> prepareClients(const std::string& baseURL, int count,
                                                          std::string& whyNot);

/// Sends one request of `operation` for `client` on `http` (its connection); `sequence` makes
/// each pushed blob differ. Returns the HTTP status, 0 when there was no answer. A 200 to a push
/// advances `client.syncVersion`.
int sendOnce(httplib::Client& http, Operation operation, ClientIdentity& client,
             std::uint64_t sequence);

/// The size of the usage batch each client uploads.
std::size_t usageBatchBytes();

/// The settings blob pushed for `sequence`: the shape and size of real synchronised settings.
std::string settingsBlob(std::uint64_t sequence);

}  // namespace tolvane::server::bench
