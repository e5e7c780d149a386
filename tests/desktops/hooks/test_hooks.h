// What desktop tests need from the real executable and users never reach: a way to stall the
// main thread on purpose, to prove that a stalled Tolvane never holds the keyboard, the palette
// hot-key recorder on the running application's own settings, and a real crash. Linked only
// into the desktop tests' own build of the program (tests/bin/tolvane-desktop).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "diagnostics/debug_log.h"
#include "localization/l10n.h"
#include "platform/local_key_monitor.h"
#include "platform/user_interaction.h"
#include "settings/app_settings.h"
#include "shell/desktop_extras.h"

namespace tolvane::shell {

/// The hooks of one running application. Main thread only; needs a QApplication.
class TestHooks final : public DesktopExtras {
 public:
  struct Services {
    DebugLog& log;
    /// The live settings: what the recorder stores is what the application applies.
    AppSettings& settings;
    LocalKeyMonitor& keyMonitor;
    UserInteraction& interaction;
    const L10n& l10n;
    /// The account page's buttons, until the settings window has them; nothing without an
    /// account.
    std::function<void()> signIn;
    std::function<void()> signOut;
  };

  explicit TestHooks(Services services);
  ~TestHooks() override;
  TestHooks(const TestHooks&) = delete;
  TestHooks& operator=(const TestHooks&) = delete;

  /// - "tolvane://test-stall?seconds=N" blocks the main thread for N seconds (at most 30),
  ///   and with "&until=released" after that until the file "test-stall-release" appears in
  ///   the runtime folder (30 s more at most), logging a line before and after;
  /// - "tolvane://test-recorder" shows a window holding the palette hot-key recorder at its
  ///   origin, logs "test hook: recorder window=<X window>" and then one line for each change
  ///   of what the recorder shows;
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
  class RecorderWindow;

  bool stall(const std::string& url);
  void locate(const std::string& name);
  void showRecorder();
  [[noreturn]] void crash();

  Services s_;
  std::unique_ptr<RecorderWindow> recorder_;
};

}  // namespace tolvane::shell
