// Services behind accounts, start-up registration and reporting: the secret store, login
// items, HTTP, the system log and crash records of earlier runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

/// Secrets by account name (the keychain; Secret Service on Linux).
class SecretStore {
 public:
  virtual ~SecretStore() = default;
  virtual std::optional<std::string> get(const std::string& account) = 0;
  /// Best effort: failures are not reported.
  virtual void set(const std::string& account, const std::string& value) = 0;
  virtual void remove(const std::string& account) = 0;
  /// Runs `opened` on the main thread once get() answers from what the store holds: at once for
  /// a store open from the start, later for one still opening. Main thread only.
  virtual void whenOpen(std::function<void()> opened) { opened(); }
};

/// Message digests from the system's cryptography library; never hand-written.
class Digest {
 public:
  virtual ~Digest() = default;
  virtual std::array<std::uint8_t, 32> sha256(std::string_view bytes) const = 0;
};

/// Whether the application starts with the user's session.
class LoginItems {
 public:
  virtual ~LoginItems() = default;
  /// Nothing on success, or the error's description.
  virtual std::optional<std::string> registerApp() = 0;
  virtual std::optional<std::string> unregisterApp() = 0;
};

/// The system's own log, for the few messages that must reach it.
class SystemLog {
 public:
  virtual ~SystemLog() = default;
  virtual void write(const std::string& message) = 0;
};

/// One entry of the system log written by this process.
struct ProcessLogEntry {
  double wallSeconds = 0;
  std::string category;
  std::string message;
};

/// Reads back what this process wrote to the system log (the journal on Linux).
class ProcessLogReader {
 public:
  virtual ~ProcessLogReader() = default;
  /// Entries since `sinceWallSeconds`, oldest first; nothing, with the reason in `error`, when
  /// the log cannot be read.
  virtual std::optional<std::vector<ProcessLogEntry>> entriesSince(double sinceWallSeconds,
                                                                   std::string& error) = 0;
};

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  /// Header name → value, sent as given.
  std::map<std::string, std::string> headers;
  std::string body;
  double timeoutSeconds = 60;
  /// A longer reply is abandoned and reported as no reply at all.
  std::size_t maxReplyBytes = 4 * 1024 * 1024;
};

/// A reply; no status means no reply at all (refused, reset, timed out, bad certificate).
struct HttpResponse {
  std::optional<int> status;
  std::string body;
  /// Why there was no reply, for the diagnostic log.
  std::string transportError;
};

class HttpClient {
 public:
  /// Runs on a worker thread: hop to the main thread before touching application state.
  using Completion = std::function<void(HttpResponse)>;
  virtual ~HttpClient() = default;
  virtual void send(HttpRequest request, Completion completion) = 0;
};

/// A crash of an earlier run, as recorded by the fatal-signal handler.
struct CrashDiagnostic {
  std::string osVersion;
  std::string arch;
  /// JSON text of the call-stack tree.
  std::string callStackJSON;
  std::optional<int> signal;
  std::optional<std::string> exceptionType;
  std::optional<std::string> exceptionCode;
  std::optional<std::string> terminationReason;
};

class CrashDiagnostics {
 public:
  virtual ~CrashDiagnostics() = default;
  /// Delivers the diagnostics of earlier runs once, now or later, on any thread.
  virtual void subscribe(std::function<void(std::vector<CrashDiagnostic>)> deliver) = 0;
};

}  // namespace tolvane
