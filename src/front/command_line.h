// The `tolvane` command line, read the same way by the front door and by the desktop program it
// starts, so that a mistake is reported once, before anything is started.
#pragma once

#include <optional>
#include <string>

namespace tolvane::front {

/// The usage text of `tolvane --help`.
extern const char* const kUsage;

/// How the desktop program is asked to run.
struct CommandLine {
  bool verbose = false;
  /// A tolvane:// link to hand to the running instance, or to handle once started.
  std::string url;
  std::optional<std::string> baseURL;
  /// Run on the X display even in a Wayland session (XWayland: X11 programs only).
  bool x11 = false;
};

/// The options of `argv`; nothing when the program should stop at once, with `status` set:
/// 0 after printing the help or the version, 2 after saying on standard error what is wrong.
std::optional<CommandLine> parseCommandLine(int argc, char** argv, int& status);

}  // namespace tolvane::front
