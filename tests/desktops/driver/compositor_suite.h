// What the end-to-end suites on a Wayland compositor share: the compositor's session behind one
// interface, and Tolvane on it as the step driver's DesktopSession, its folders in a fresh
// one, its log and the typing window waited on together with the compositor's own sources. A
// suite adds how its compositor starts and the verbs of that desktop alone.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktops/driver/picture.h"
#include "desktops/driver/step_driver.h"
#include "desktops/driver/tolvane_process.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace tolvane::test {

/// A private compositor as the suites drive it. Windows are named "app" or "app:title".
class CompositorSession {
 public:
  /// How long any single wait may take: generous, because the machine may be loaded.
  static constexpr std::chrono::milliseconds kBound{20000};

  virtual ~CompositorSession() = default;
  /// What a client of the session needs: its sockets, its bus, a private runtime folder.
  virtual Environment clientEnvironment() const = 0;
  /// The focused window as "app:title"; empty when none is.
  virtual const std::string& focused() const = 0;
  /// Asks the compositor to focus `window`, as a click or a pager would.
  virtual bool focus(const std::string& window) = 0;
  virtual bool close(const std::string& window) = 0;
  virtual bool waitFocused(const std::string& window, const std::vector<Source>& also) = 0;
  /// Waits until the compositor has handled everything sent before.
  virtual bool sync(const std::vector<Source>& also) = 0;
  /// Types the key tool's words (wtype's: "-M logo", "-k Tab", text) and waits for its end.
  virtual bool type(const std::vector<std::string>& words, const std::vector<Source>& also) = 0;
  virtual std::optional<Picture> screenshot(const std::string& name) = 0;
  /// For waits of others: the compositor's end and its event streams.
  virtual std::vector<Source> sources() = 0;
};

/// Whether `window` ("app:title") is `wanted`: "app" names every window of the app,
/// "app:title" one window.
bool isWindow(const std::string& window, const std::string& wanted);

/// What the Tolvane rows of every compositor suite wait on and type.
namespace rows {
inline const std::string kActivated = "activate pid=";
inline const std::string kHud = "wayland: overlay shown hud";
inline const std::string kPalette = "wayland: overlay shown palette";
/// Launched, the windows focused in this order: the history, most recent last.
Steps history(const std::vector<std::string>& order);
/// The modifier held (the key tool's `down` … `up`) through `keys` and `ms` more, then let go:
/// a session long enough for the steps that watch it.
std::string hold(const std::string& down, const std::string& up, int ms,
                 const std::string& keys = "-k Tab");
}  // namespace rows

/// Tolvane on `compositor`, for the step driver.
class CompositorSuite : public DesktopSession {
 public:
  /// `ready` lists the log lines of which one says Tolvane has its bindings.
  CompositorSuite(CompositorSession& compositor, std::vector<std::string> ready)
      : compositor_(compositor), ready_(std::move(ready)) {}

  /// Tolvane's log, the typing window, the compositor and `extra`, for every wait.
  std::vector<Source> sources();
  bool waitFor(const std::function<bool()>& done,
               std::chrono::milliseconds bound = CompositorSession::kBound);
  /// Where the typing window writes what it is typed; opened before the window.
  std::string openTypingRecord();

  void launchTolvane(const std::string& settings) override;
  bool typeKeys(const std::string& keys) override;
  void focusWindow(const std::string& window) override;
  bool waitFocused(const std::string& window) override;
  bool staysFocused(const std::string& window) override;
  void closeWindow(const std::string& window) override;
  std::optional<Picture> takePicture(const std::string& name) override;
  bool waitForLog(const std::string& text, int times) override;
  int logCount(const std::string& text) override;
  std::string describe() override;
  bool waitForTyped(const std::string& text, std::chrono::milliseconds bound) override;
  void signalTolvane(int signal) override { tolvane->signal(signal); }
  std::optional<int> waitForEnd() override;
  std::string runtimeFolder() override { return folder.path() + "/home/XDG_RUNTIME_DIR"; }

  static inline const std::string kSeen = "wayland: activated app_id=";

  TempDir folder;
  std::unique_ptr<TolvaneProcess> tolvane;
  /// What the typing window was typed.
  std::unique_ptr<PipeText> typed;
  /// More sources a suite's own helpers bring (a tray, the front door's output).
  std::function<std::vector<Source>()> extra;

 private:
  bool isFocused(const std::string& window) const {
    return isWindow(compositor_.focused(), window);
  }

  CompositorSession& compositor_;
  std::vector<std::string> ready_;
};

}  // namespace tolvane::test
