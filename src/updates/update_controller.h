// Update checking: reads the appcast named at build time, compares its releases with this one
// and tells the user about a newer one. Packages are updated by the package manager, so Tolvane
// only points at the download page and never replaces its own files.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/run_loop.h"
#include "diagnostics/debug_log.h"
#include "localization/l10n.h"
#include "platform/http_client.h"
#include "platform/preferences.h"
#include "platform/system_info.h"
#include "platform/update_feed.h"
#include "platform/user_interaction.h"
#include "updates/appcast.h"

namespace tolvane {

/// Main thread only. At most one check is in the air; feed replies hop back to the main thread
/// and do nothing once the controller is gone.
///
/// A check the user asked for always ends in a notice: a newer release, "up to date" or a
/// failure. An automatic check shows only a newer release. Automatic checks run while
/// "SUEnableAutomaticChecks" is true (its default when absent): the first a while after start,
/// then one interval after the last check of any kind, whose wall-clock time survives restarts
/// in "SULastCheckTime".
class UpdateController {
 public:
  static constexpr double kFirstCheckDelaySeconds = 60;
  static constexpr double kCheckIntervalSeconds = 86400;
  static constexpr double kFeedTimeoutSeconds = 30;
  /// A longer reply is cut off by the client and the check fails.
  static constexpr std::size_t kMaxFeedBytes = 1024 * 1024;

  struct Dependencies {
    PreferenceStore& preferences;
    HttpClient& http;
    FeedParser& parser;
    const Clock& clock;
    RunLoop& runLoop;
    UserInteraction& interaction;
    const L10n& l10n;
    DebugLog& log;
    BundleInfo bundle;
  };

  /// Whether the build names a feed; without one, nothing about updates is offered.
  static bool isOffered(const BundleInfo& bundle) {
    return bundle.feedURL && !bundle.feedURL->empty();
  }

  /// Does nothing at all when the bundle names no feed.
  explicit UpdateController(Dependencies deps);
  ~UpdateController();
  UpdateController(const UpdateController&) = delete;
  UpdateController& operator=(const UpdateController&) = delete;

  /// Arms the automatic checks. Once, at launch.
  void start();

  /// A check the user asked for; joins one already in the air.
  void checkForUpdates();

  bool automaticallyChecksForUpdates() const;
  /// Stores the switch and arms or disarms the automatic checks at once.
  void setAutomaticallyChecksForUpdates(bool on);

 private:
  enum class Outcome { newer, upToDate, failed };

  void check(bool userInitiated);
  void finish(const HttpResponse& reply);
  std::optional<std::vector<FeedItem>> itemsOf(const HttpResponse& reply, std::string& why) const;
  void present(Outcome outcome, const std::optional<FeedItem>& newest);
  void scheduleAutomaticCheck();
  std::string installedVersion() const;
  std::string installedDisplayVersion() const;

  Dependencies deps_;
  bool inFlight_ = false;
  /// Whether the check in the air (or a later request that joined it) was asked for.
  bool userWaiting_ = false;
  TimerId automaticCheck_ = 0;
  /// Replies hold it weakly: a reply after destruction finds it gone.
  std::shared_ptr<UpdateController*> alive_;
};

}  // namespace tolvane
