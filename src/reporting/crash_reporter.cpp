// Building the crash report body and sending it.
#include "reporting/crash_reporter.h"

#include <nlohmann/json.hpp>

#include "reporting/install_id.h"
#include "settings/preference_keys.h"
#include "wire/cloud_bodies.h"

namespace tolvane {

namespace {

using Json = nlohmann::json;

Json callStackObject(const std::string& text) {
  // The service expects an object here. A stack that arrives as anything else (a bare array, a
  // cut-off text) costs the stack, never the report: the signal and versions still tell the
  // maker that this build crashed.
  Json parsed = Json::parse(text, nullptr, false);
  return parsed.is_object() ? parsed : Json::object();
}

}  // namespace

bool CrashConfig::reportingEnabled() const {
  return preferences_.boolValue(prefkey::kCrashReportingEnabled).value_or(true);
}

std::string CrashConfig::installID() const {
  return tolvane::installID(preferences_, random_);
}

struct CrashReporter::State {
  explicit State(Dependencies d)
      : deps(std::move(d)), config(deps.preferences, deps.random, deps.cloud) {}
  void receive(const std::vector<CrashDiagnostic>& diagnostics);
  std::string body(const CrashDiagnostic& diagnostic) const;

  Dependencies deps;
  CrashConfig config;
};

CrashReporter::CrashReporter(Dependencies deps)
    : state_(std::make_shared<State>(std::move(deps))) {}

void CrashReporter::start(CrashDiagnostics& diagnostics) {
  // A weak reference: a delivery that comes after the reporter is gone finds nothing to send
  // with, rather than a dangling reporter.
  std::weak_ptr<State> weak = state_;
  diagnostics.subscribe([weak](std::vector<CrashDiagnostic> delivered) {
    if (auto state = weak.lock()) state->receive(delivered);
  });
}

void CrashReporter::receive(const std::vector<CrashDiagnostic>& diagnostics) {
  state_->receive(diagnostics);
}

std::string CrashReporter::reportBody(const CrashDiagnostic& diagnostic) const {
  return state_->body(diagnostic);
}

void CrashReporter::State::receive(const std::vector<CrashDiagnostic>& diagnostics) {
  const bool enabled = config.reportingEnabled();
  if (deps.log) {
    deps.log->log("crash reports: delivered=" + std::to_string(diagnostics.size()) +
                  (enabled ? " sending" : " reporting off"));
  }
  if (!enabled) return;
  for (const auto& diagnostic : diagnostics) {
    auto request = deps.cloud.request(CloudEndpoint::crash, "POST", std::nullopt, body(diagnostic));
    if (!request) continue;
    // The reply is not examined: a report the service refused would be refused again.
    deps.http.send(std::move(*request), [](HttpResponse) {});
  }
}

std::string CrashReporter::State::body(const CrashDiagnostic& diagnostic) const {
  const auto& bundle = deps.bundle;
  const wire::CrashReport report{
      .client = {.installID = config.installID(),
                 .appVersion = bundle.shortVersion.value_or("?"),
                 .build = bundle.build.value_or("?"),
                 .osVersion = diagnostic.osVersion,
                 .arch = diagnostic.arch},
      .signal = diagnostic.signal,
      .exceptionType = diagnostic.exceptionType,
      .exceptionCode = diagnostic.exceptionCode,
      .terminationReason = diagnostic.terminationReason,
  };
  // A stray invalid byte in a text read from a crash record must not cost the whole report:
  // the body replaces it.
  return wire::encode(report, callStackObject(diagnostic.callStackJSON));
}

}  // namespace tolvane
