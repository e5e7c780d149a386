// Crashes of earlier runs, delivered once to the crash reporter.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

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
