// Messages that must reach the system's own log.
#include "backends/system/syslog_system_log.h"

#include <syslog.h>

#include <cstdio>

namespace tolvane::system {

SyslogSystemLog::SyslogSystemLog() {
  ::openlog("tolvane", LOG_PID, LOG_USER);
}

SyslogSystemLog::~SyslogSystemLog() {
  ::closelog();
}

void SyslogSystemLog::write(const std::string& message) {
  // One message, one line: an error text with line breaks would otherwise read as several
  // entries, the later ones without our prefix.
  std::string line = message;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  ::syslog(LOG_WARNING, "%s", line.c_str());
}

}  // namespace tolvane::system
