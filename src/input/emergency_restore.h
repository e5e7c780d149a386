// The last resort that gives the system its switcher hotkeys back when the process ends in any
// way other than a normal quit: exit, a terminating signal, or an uncaught exception.
#pragma once

#include "platform/window_server.h"

namespace tolvane {

/// Installs, in this order: an exit handler; one handler for SIGTERM, SIGINT and SIGHUP that
/// restores, resets the signal to its default and raises it again (so the process still ends by
/// that signal); and a terminate handler that restores and then calls the one installed before.
/// Each runs restore-all on `windowServer`, which must outlive the process's end. Installing a
/// second time only changes the window server the handlers use.
void installNativeHotKeyEmergencyRestore(WindowServer& windowServer);

/// Leaves the handlers installed but doing nothing. For the end of a normal quit, once the
/// hotkeys are back, so that the window server may be destroyed before the process exits.
void disarmNativeHotKeyEmergencyRestore();

}  // namespace tolvane
