// Tester mode's switch, its upload timer, the exported log text and the upload.
#include "reporting/tester_mode.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "reporting/install_id.h"
#include "settings/preference_keys.h"
#include "wire/cloud_bodies.h"

namespace tolvane {

namespace {

constexpr std::string_view kAppLogHeading = "== app log (DebugLog) ==\n";

std::string systemLogHeading(double sinceWallSeconds) {
  return "\n\n== unified log (own process, since " + iso8601(sinceWallSeconds) + ")\n";
}

// Whole seconds: the stored preference is an integer, and a window that starts where the stored
// one ended must not lose or repeat the fraction of a second between them.
double wholeSeconds(double wallSeconds) {
  return std::floor(wallSeconds);
}

}  // namespace

std::string testerLogText(const std::string& appLogTail, double sinceWallSeconds,
                          const std::optional<std::vector<ProcessLogEntry>>& entries,
                          const std::string& error) {
  std::string text(kAppLogHeading);
  text += appLogTail;
  text += systemLogHeading(sinceWallSeconds);
  if (!entries) {
    text += "(oslog export failed: " + error + ")";
  } else {
    bool first = true;
    for (const auto& entry : *entries) {
      if (!first) text += '\n';
      first = false;
      text += iso8601(entry.wallSeconds) + " [" + entry.category + "] " + entry.message;
    }
  }
  if (text.size() <= TesterMode::kMaxLogCharacters) return text;
  // A reader may hand over bytes that are not UTF-8; counting characters from the end is only
  // safe on well-formed text, and the body's JSON needs it anyway.
  return lastCharacters(validUTF8(text), TesterMode::kMaxLogCharacters);
}

TesterMode::TesterMode(Dependencies deps) : deps_(std::move(deps)) {
  enabled_ = deps_.preferences.boolValue(prefkey::kTesterModeEnabled).value_or(false);
  const auto stored = deps_.preferences.intValue(prefkey::kTesterLastExport);
  lastExport_ = stored ? static_cast<double>(*stored)
                       : wholeSeconds(deps_.clock.wallSeconds()) - kUploadIntervalSeconds;
}

TesterMode::~TesterMode() {
  deps_.runLoop.cancel(timer_);
  worker_.stop();
}

void TesterMode::start() {
  if (!enabled_) return;
  const auto& bundle = deps_.bundle;
  deps_.log.log("tester: session start (v" + bundle.shortVersion.value_or("dev") + " build " +
                bundle.build.value_or("0") + ")");
  scheduleTimer();
  upload();
}

void TesterMode::toggle() {
  enabled_ = !enabled_;
  deps_.preferences.set(prefkey::kTesterModeEnabled, enabled_);
  if (enabled_) {
    deps_.log.log("tester: mode ON");
    scheduleTimer();
    upload();
  } else {
    deps_.log.log("tester: mode OFF");
    upload();
    deps_.runLoop.cancel(timer_);
    timer_ = 0;
  }
  changed_.notify();
}

void TesterMode::scheduleTimer() {
  deps_.runLoop.cancel(timer_);
  timer_ = deps_.runLoop.repeatEvery(kUploadIntervalSeconds, [this] { upload(); });
}

void TesterMode::upload() {
  const double since = lastExport_;
  const double until = wholeSeconds(deps_.clock.wallSeconds());
  lastExport_ = until;
  deps_.preferences.set(prefkey::kTesterLastExport, static_cast<std::int64_t>(until));
  worker_.async([this, since, until] { send(since, until); });
}

void TesterMode::send(double since, double until) {
  std::string error;
  std::optional<std::vector<ProcessLogEntry>> entries;
  if (deps_.processLog) {
    entries = deps_.processLog->entriesSince(since, error);
  } else {
    entries.emplace();
  }
  // The reader has no end: what was logged after `until` belongs to the next window.
  if (entries) std::erase_if(*entries, [&](const auto& e) { return e.wallSeconds >= until; });

  const auto& bundle = deps_.bundle;
  const wire::ClientInfo client{.installID = installID(deps_.preferences, deps_.random),
                                .appVersion = bundle.shortVersion.value_or("dev"),
                                .build = bundle.build.value_or("0"),
                                .osVersion = deps_.system.osVersion()};
  // A stray invalid byte in a category or a message must not cost the whole upload: the body
  // replaces it.
  auto request = deps_.cloud.request(
      CloudEndpoint::testlog, "POST", std::nullopt,
      wire::encodeTesterLog(client, testerLogText(deps_.log.tail(), since, entries, error)));
  if (request) deps_.http.send(std::move(*request), [](HttpResponse) {});
}

}  // namespace tolvane
