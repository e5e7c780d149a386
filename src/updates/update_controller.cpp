// The update check from request to notice, and the schedule of automatic checks.
#include "updates/update_controller.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "settings/preference_keys.h"

namespace tolvane {
namespace {}  // namespace

UpdateController::UpdateController(Dependencies deps)
    : deps_(std::move(deps)), alive_(std::make_shared<UpdateController*>(this)) {}

UpdateController::~UpdateController() {
  deps_.runLoop.cancel(automaticCheck_);
}

void UpdateController::start() {
  scheduleAutomaticCheck();
}

void UpdateController::checkForUpdates() {
  check(true);
}

bool UpdateController::automaticallyChecksForUpdates() const {
  return deps_.preferences.boolValue(prefkey::kSUEnableAutomaticChecks).value_or(true);
}

void UpdateController::setAutomaticallyChecksForUpdates(bool on) {
  deps_.preferences.set(prefkey::kSUEnableAutomaticChecks, on);
  scheduleAutomaticCheck();
}

void UpdateController::check(bool userInitiated) {
  if (!isOffered(deps_.bundle)) return;
  userWaiting_ = userWaiting_ || userInitiated;
  if (inFlight_) return;
  inFlight_ = true;
  // The next automatic check is counted from this one's end.
  deps_.runLoop.cancel(automaticCheck_);
  automaticCheck_ = 0;
  HttpRequest request{
      .method = "GET",
      .url = *deps_.bundle.feedURL,
      .headers = {{"Accept", "application/rss+xml, application/xml;q=0.9, text/xml;q=0.8"}},
      .timeoutSeconds = kFeedTimeoutSeconds,
      .maxReplyBytes = kMaxFeedBytes};
  std::weak_ptr<UpdateController*> alive = alive_;
  RunLoop& loop = deps_.runLoop;
  deps_.http.send(std::move(request), [alive, &loop](HttpResponse reply) {
    loop.postFromAnyThread([alive, reply = std::move(reply)] {
      if (auto self = alive.lock()) (*self)->finish(reply);
    });
  });
}

std::optional<std::vector<FeedItem>> UpdateController::itemsOf(const HttpResponse& reply,
                                                               std::string& why) const {
  if (!reply.status) {
    why = "no reply: " + reply.transportError;
    return std::nullopt;
  }
  if (*reply.status < 200 || *reply.status > 299) {
    why = "status " + std::to_string(*reply.status);
    return std::nullopt;
  }
  return deps_.parser.parse(reply.body, why);
}

void UpdateController::finish(const HttpResponse& reply) {
  const bool userInitiated = std::exchange(userWaiting_, false);
  inFlight_ = false;
  deps_.preferences.set(prefkey::kSULastCheckTime,
                        static_cast<std::int64_t>(std::floor(deps_.clock.wallSeconds())));

  std::string why;
  const auto items = itemsOf(reply, why);
  const auto newest = items ? newestUpdate(*items, installedVersion()) : std::nullopt;
  const Outcome outcome = !items ? Outcome::failed : newest ? Outcome::newer : Outcome::upToDate;
  std::string line = std::string("update check: user=") + (userInitiated ? "1" : "0");
  if (outcome == Outcome::failed) line += " result=failed reason=" + why;
  if (outcome == Outcome::newer)
    line += " result=newer version=" + std::string(comparableVersion(*newest));
  if (outcome == Outcome::upToDate) line += " result=up-to-date";
  deps_.log.log(line);

  if (outcome == Outcome::newer || userInitiated) present(outcome, newest);
  scheduleAutomaticCheck();
}

void UpdateController::present(Outcome outcome, const std::optional<FeedItem>& newest) {
  const L10n& text = deps_.l10n;
  UpdateNotice notice;
  switch (outcome) {
    case Outcome::newer:
      notice.title = formatText(text.string("update.available"), displayVersion(*newest));
      notice.message = formatText(text.string("update.availableBody"), installedDisplayVersion());
      if (!newest->downloadPage.empty()) notice.downloadPage = newest->downloadPage;
      notice.downloadLabel = text.string("update.download");
      notice.dismissLabel = text.string("common.later");
      break;
    case Outcome::upToDate:
      notice.title = text.string("update.upToDate");
      notice.message = formatText(text.string("update.upToDateBody"), installedDisplayVersion());
      notice.dismissLabel = text.string("common.ok");
      break;
    case Outcome::failed:
      notice.title = text.string("update.failed");
      notice.message = text.string("update.failedBody");
      notice.dismissLabel = text.string("common.ok");
      break;
  }
  deps_.interaction.showUpdateNotice(notice);
}

void UpdateController::scheduleAutomaticCheck() {
  deps_.runLoop.cancel(automaticCheck_);
  automaticCheck_ = 0;
  // A check in the air schedules the next one when it ends.
  if (!isOffered(deps_.bundle) || !automaticallyChecksForUpdates() || inFlight_) return;
  const double now = deps_.clock.wallSeconds();
  const auto last = deps_.preferences.intValue(prefkey::kSULastCheckTime);
  // A last check in the future means the clock was set back: it must not silence the checks
  // until the clock catches up, so it counts as none.
  const double due = last && static_cast<double>(*last) <= now
                         ? static_cast<double>(*last) + kCheckIntervalSeconds
                         : now;
  const double delay = std::max(kFirstCheckDelaySeconds, due - now);
  automaticCheck_ = deps_.runLoop.postAfter(delay, [this] {
    automaticCheck_ = 0;
    check(false);
  });
}

std::string UpdateController::installedVersion() const {
  return deps_.bundle.build.value_or(deps_.bundle.shortVersion.value_or(""));
}

std::string UpdateController::installedDisplayVersion() const {
  return deps_.bundle.shortVersion.value_or(deps_.bundle.build.value_or(""));
}

}  // namespace tolvane
