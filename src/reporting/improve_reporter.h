// Anonymous usage events: queued in a JSON-lines file and sent to the backend service in
// batches while the user allows it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/clock.h"
#include "base/files.h"
#include "base/random_source.h"
#include "base/run_loop.h"
#include "model/cloud_config.h"
#include "model/usage_recorder.h"
#include "platform/http_client.h"
#include "platform/preferences.h"
#include "platform/system_info.h"
#include "wire/cloud_bodies.h"

namespace tolvane {

/// Where the reporter's settings come from.
class ImproveConfig {
 public:
  ImproveConfig(PreferenceStore& preferences, RandomSource& random, const CloudConfig& cloud)
      : preferences_(preferences), random_(random), cloud_(cloud) {}
  /// "improveDataSharing", true when absent.
  bool enabled() const;
  /// "<base>/api/improve".
  std::string endpoint() const { return cloud_.url(CloudEndpoint::improve); }
  /// "crashInstallID", created on first use.
  std::string installID() const;

 private:
  PreferenceStore& preferences_;
  RandomSource& random_;
  const CloudConfig& cloud_;
};

/// Records events from any thread; every file operation and flush runs on one serial queue.
/// At most one batch is in the air at a time.
class ImproveReporter final : public UsageRecorder {
 public:
  static constexpr double kFirstFlushSeconds = 60;
  static constexpr double kFlushIntervalSeconds = 900;
  static constexpr double kMaxEventAgeSeconds = 604800;  // 7 days
  static constexpr std::size_t kBatchSize = wire::kMaxEventsPerBatch;
  static constexpr std::size_t kMaxStringCharacters = wire::kMaxEventStringChars;
  static constexpr double kUploadTimeoutSeconds = 20;
  static constexpr double kSyncFlushWaitSeconds = 2.0;
  /// The largest queue file read. A week of events is a few thousand lines of a few hundred
  /// bytes; a larger file was not written by the reporter and is deleted unread.
  static constexpr std::size_t kMaxQueueFileBytes = 8 << 20;

  struct Dependencies {
    PreferenceStore& preferences;
    HttpClient& http;
    const Clock& clock;
    RunLoop& runLoop;
    FileSystem& files;
    RandomSource& random;
    const SystemInfo& system;
    BundleInfo bundle;
    CloudConfig cloud;
    /// "<data home>/brenmoor/improve-queue.jsonl".
    std::string queueFile;
    /// Takes the one diagnostic line of a refused queue file; may be empty. Called on the queue.
    std::function<void(const std::string& line)> log;
  };

  explicit ImproveReporter(Dependencies deps);
  ~ImproveReporter() override;
  ImproveReporter(const ImproveReporter&) = delete;
  ImproveReporter& operator=(const ImproveReporter&) = delete;

  /// Supplies the bearer token of a signed-in account, or nothing.
  void setTokenProvider(std::function<std::optional<std::string>()> provider);

  /// Schedules the flushes (60 s after start, then every 900 s) on the run loop, and clears the
  /// queue when reporting is off. Main thread.
  void start();
  /// Flushes once more and waits for it, bounded like flushNow(true). Main thread, at quit.
  void applicationWillTerminate();

  /// Queues the event when reporting is on; string values are cut to 256 characters. Returns at
  /// once; the file is written on the queue.
  void record(const std::string& name, const EventProperties& properties) override;

  /// Runs a flush on the queue. With `sync`, waits for it to finish, at most 2 s on the clock;
  /// returns whether it finished in time (always true without `sync`).
  bool flushNow(bool sync);

  /// Sees each event that was queued, with its properties as JSON, on the recording thread
  /// (the scenario tool prints them). Set it before anything records.
  void setObserver(
      std::function<void(const std::string& name, const std::string& properties)> observer);

  /// Deletes the queue file (on the queue).
  void clearQueue();

  /// Blocks until everything submitted to the queue so far has run (quit, and tests).
  void drain();

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::function<void(const std::string&, const std::string&)> observer_;
  TimerId firstFlush_ = 0;
  TimerId flushTimer_ = 0;
};

/// Cuts `text` to its first `characters` Unicode code points, never inside a UTF-8 sequence.
std::string firstCharacters(const std::string& text, std::size_t characters);

}  // namespace tolvane
