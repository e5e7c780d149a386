// What desktop tests need from the real executable and users never reach: a way to stall the
// main thread on purpose, to prove that a stalled Tolvane never holds the keyboard, the place of
// a widget to click, and a real crash. Linked only into the desktop tests' own build of the
// program (tests/bin/tolvane-desktop).
#pragma once

#include <functional>
#include <string>

#include "diagnostics/debug_log.h"
#include "shell/desktop_extras.h"

namespace tolvane::shell {

/// The hooks of one running application. Main thread only; needs a QApplication.
class TestHooks final : public DesktopExtras {
 public:
  struct Services {
    DebugLog& log;
    /// The account page's buttons, until the settings window has them; nothing without an
    /// account.
    std::function<void()> signIn;
    std::function<void()> signOut;
  };

  explicit TestHooks(Services services);

  /// - "tolvane://test-stall?seconds=N" blocks the main thread for N seconds (at most 30),
  ///   and with "&until=released" after that until the file "test-stall-release" appears in
  ///   the runtime folder (30 s more at most), logging a line before and after;
  /// - "tolvane://test-crash" logs "test hook: crashing" and crashes the process with a real
  ///   SIGSEGV (a write through a null pointer), for crash records and reports end to end;
  /// - "tolvane://test-sign-in" and "tolvane://test-sign-out" start a browser sign-in and sign
  ///   out, as the account page does.
  /// - "tolvane://test-locate?name=N" logs "test hook: located N at X,Y", the screen position of
  ///   the centre of the shown widget named N (settings controls are named after their rows),
  ///   so that a test can click it as a user would; or "test hook: N not found".
  /// True when `url` was a hook and ran.
  bool handleURL(const std::string& url) override;

 private:
  bool stall(const std::string& url);
  void locate(const std::string& name);
  [[noreturn]] void crash();

  Services s_;
};

}  // namespace tolvane::shell
