// The system log on Linux: standard error (the journal keeps it under a systemd session) and
// syslog(3).
#pragma once

#include <string>

#include "platform/system_log.h"

namespace tolvane::system {

/// Writes each message as one line to standard error and as one warning to syslog under the
/// ident "tolvane". The syslog connection lives as long as this object.
class SyslogSystemLog final : public SystemLog {
 public:
  SyslogSystemLog();
  ~SyslogSystemLog() override;
  SyslogSystemLog(const SyslogSystemLog&) = delete;
  SyslogSystemLog& operator=(const SyslogSystemLog&) = delete;

  void write(const std::string& message) override;
};

}  // namespace tolvane::system
