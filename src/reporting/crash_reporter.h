// Crash reports: each crash of an earlier run, as the platform's crash diagnostics deliver it, is
// sent once to the backend service while the user allows it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/random_source.h"
#include "diagnostics/debug_log.h"
#include "model/cloud_config.h"
#include "platform/crash_diagnostics.h"
#include "platform/http_client.h"
#include "platform/preferences.h"
#include "platform/system_info.h"

namespace tolvane {

/// Where the crash reporter's settings come from.
class CrashConfig {
 public:
  CrashConfig(PreferenceStore& preferences, RandomSource& random, const CloudConfig& cloud)
      : preferences_(preferences), random_(random), cloud_(cloud) {}
  /// "crashReportingEnabled", true when absent.
  bool reportingEnabled() const;
  /// "<base>/api/crash".
  std::string endpoint() const { return cloud_.url(CloudEndpoint::crash); }
  /// "crashInstallID", created on first use; the same id usage reporting sends.
  std::string installID() const;

 private:
  PreferenceStore& preferences_;
  RandomSource& random_;
  const CloudConfig& cloud_;
};

/// Forwards crash diagnostics to "<base>/api/crash", one POST per crash, without a token and
/// without looking at the reply: the diagnostics are delivered once, so a lost report stays lost.
/// Deliveries may arrive on any thread, also after the reporter is gone (then they do nothing).
class CrashReporter {
 public:
  struct Dependencies {
    PreferenceStore& preferences;
    HttpClient& http;
    RandomSource& random;
    BundleInfo bundle;
    CloudConfig cloud;
    /// One line per delivery; nothing without a log.
    DebugLog* log = nullptr;
  };

  explicit CrashReporter(Dependencies deps);
  CrashReporter(const CrashReporter&) = delete;
  CrashReporter& operator=(const CrashReporter&) = delete;

  /// Subscribes to `diagnostics`, which must outlive the subscription's delivery. Never blocks:
  /// the diagnostics are read and sent off the calling thread.
  void start(CrashDiagnostics& diagnostics);

  /// Sends a report for every diagnostic while reporting is enabled; nothing otherwise. Any
  /// thread; returns once the requests are handed to the HTTP client.
  void receive(const std::vector<CrashDiagnostic>& diagnostics);

  /// The JSON body sent for `diagnostic`. A call stack that is not the text of a JSON object is
  /// sent as an empty object, so the crash itself still reaches the service.
  std::string reportBody(const CrashDiagnostic& diagnostic) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tolvane
