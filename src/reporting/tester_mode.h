// Tester mode: while a tester has it on, the diagnostic log and this process's system-log
// entries go to the backend service every 30 minutes, each upload covering the time since the
// one before.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/random_source.h"
#include "base/run_loop.h"
#include "base/serial_queue.h"
#include "diagnostics/debug_log.h"
#include "model/cloud_config.h"
#include "platform/http_client.h"
#include "platform/notifier.h"
#include "platform/preferences.h"
#include "platform/process_log.h"
#include "platform/system_info.h"
#include "wire/cloud_bodies.h"

namespace tolvane {

/// One per process; main thread only. Each upload's window [since, until) starts where the one
/// before ended, and `lastExport` moves on before anything is sent, so a failed upload is not
/// retried and no entry is sent twice. Reading the logs and sending run on the mode's own
/// worker: the system log can be slow, and the main thread never waits for it.
class TesterMode {
 public:
  static constexpr double kUploadIntervalSeconds = 1800;
  /// A log text of more than this many UTF-8 bytes is cut to its last this-many characters.
  static constexpr std::size_t kMaxLogCharacters = wire::kMaxTesterLogChars;

  struct Dependencies {
    PreferenceStore& preferences;
    HttpClient& http;
    const Clock& clock;
    RunLoop& runLoop;
    RandomSource& random;
    const SystemInfo& system;
    DebugLog& log;
    /// This process's system-log entries; nothing where the platform keeps none, and the
    /// section stays empty under its heading.
    ProcessLogReader* processLog = nullptr;
    BundleInfo bundle;
    CloudConfig cloud;
  };

  /// Reads "testerModeEnabled" (false when absent) and "testerLastExport" (whole wall-clock
  /// seconds; 1800 s before now when absent).
  explicit TesterMode(Dependencies deps);
  /// Finishes the uploads already begun (their reads and their hand-over to HTTP).
  ~TesterMode();
  TesterMode(const TesterMode&) = delete;
  TesterMode& operator=(const TesterMode&) = delete;

  bool enabled() const { return enabled_; }
  /// Called after every change of enabled().
  [[nodiscard]] Notifier::Subscription subscribe(std::function<void()> handler) {
    return changed_.subscribe(std::move(handler));
  }
  /// Where the next upload's window starts, wall-clock seconds.
  double lastExport() const { return lastExport_; }

  /// At launch: when on, logs the session start, schedules the timer and uploads once.
  void start();
  /// Flips and stores enabled(). Off: logs it, uploads one last time and stops the timer.
  /// On: logs it, schedules the timer and uploads once.
  void toggle();
  /// Replaces any earlier timer with one that uploads every 1800 s.
  void scheduleTimer();
  /// Takes the window since lastExport(), moves lastExport() to now and stores it, then reads
  /// the logs and sends them on the worker. The reply is not examined.
  void upload();

  /// Blocks until every upload begun so far has been handed to HTTP (tests, quit).
  void drain() { worker_.drain(); }

 private:
  void send(double since, double until);

  Dependencies deps_;
  bool enabled_ = false;
  double lastExport_ = 0;
  TimerId timer_ = 0;
  Notifier changed_;
  // Declared last: destroyed first, so queued uploads never outlive the members they touch.
  SerialQueue worker_;
};

/// The exported text: the diagnostic log's tail under its heading, then the system-log section
/// headed with `sinceWallSeconds`: one "<ISO 8601> [<category>] <message>" line per entry, or
/// "(oslog export failed: <error>)" when `entries` is nothing. Longer than kMaxLogCharacters
/// bytes, it keeps its last kMaxLogCharacters characters, so the newest lines survive.
std::string testerLogText(const std::string& appLogTail, double sinceWallSeconds,
                          const std::optional<std::vector<ProcessLogEntry>>& entries,
                          const std::string& error);

}  // namespace tolvane
