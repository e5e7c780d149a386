// Qt's own warnings, sent to Tolvane's log instead of standard error, and the lines Tolvane
// logs before its log exists.
#pragma once

#include <string>

#include "diagnostics/debug_log.h"

namespace tolvane::shell {

/// Installs the handler; until a log is set, Qt's messages are dropped, except fatal ones.
void routeQtMessages();
/// The log that receives Qt's messages from now on; nullptr drops them again.
void setQtMessageLog(DebugLog* log);

/// What runs when Qt reports that its display connection broke, before Qt ends the process
/// on its own (it does so without running the exit handlers).
void setConnectionLossHandler(void (*handler)());

/// Writes one line to the log in its usual place, for what stops Tolvane before its services
/// exist.
void logEarly(const std::string& line);

/// What Tolvane says on a Wayland compositor that lets no program see the others' windows.
std::string unsupportedCompositorText();
/// What Tolvane says on KWin when KWin does not trust `program` (the executable KWin checks)
/// with its list of windows.
std::string untrustedByKWinText(const std::string& program);

}  // namespace tolvane::shell
