// What the end-to-end suites on a Wayland compositor share: the compositor's session behind one
// interface, and Tolvane on it as the step driver's DesktopSession, its folders in a fresh
// one, its log and the typing window waited on together with the compositor's own sources. A
// suite adds how its compositor starts and the verbs of that desktop alone.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
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

/// A private compositor as the suites drive it, run as `nobody` in a folder of its own. Windows
/// are named "app" or "app:title".
class CompositorSession {
 public:
  /// How long any single wait may take: generous, because the machine may be loaded.
  static constexpr std::chrono::milliseconds kBound{20000};

  /// `keyTool` types the key tools' words: wtype, or one that takes the same.
  explicit CompositorSession(std::string keyTool) : keyTool_(std::move(keyTool)) {}
  virtual ~CompositorSession() = default;
  CompositorSession(const CompositorSession&) = delete;
  CompositorSession& operator=(const CompositorSession&) = delete;

  /// Why the start or the last screenshot failed.
  const std::string& error() const { return error_; }
  /// What the compositor wrote on standard error (its log, its extensions' messages).
  const std::string& said() const { return said_.text(); }
  /// What a client of the session needs: its sockets, its bus, a private runtime folder.
  virtual Environment clientEnvironment() const = 0;
  /// The focused window as "app:title"; empty when none is.
  virtual const std::string& focused() const = 0;
  /// Asks the compositor to focus `window`, as a click or a pager would.
  virtual bool focus(const std::string& window) = 0;
  virtual bool close(const std::string& window) = 0;
  /// Opens a window `title` of `app` and waits until it has the focus; with `record`, a window
  /// that writes what it is typed into that FIFO.
  virtual bool openWindow(const std::string& app, const std::string& title,
                          const std::string& record = "") = 0;
  /// Waits until the compositor has handled everything sent before.
  virtual bool sync(const std::vector<Source>& also = {}) = 0;
  /// Takes a screenshot, keeping `name`.png in $TOLVANE_TEST_ARTIFACTS (else the working folder).
  virtual std::optional<Picture> screenshot(const std::string& name) = 0;
  /// For waits of others: the compositor's end and output, and its event streams.
  virtual std::vector<Source> sources();

  /// Waits until the focused window is `window` ("app" or "app:title").
  bool waitFocused(const std::string& window, const std::vector<Source>& also = {});
  /// Types the key tool's words (wtype's: "-M logo", "-k Tab", text) and waits for its end.
  bool type(const std::vector<std::string>& words, const std::vector<Source>& also = {});
  /// Starts the key tool on `words` and goes on while it types: a key held through the next
  /// steps.
  bool typeMeanwhile(const std::vector<std::string>& words);
  /// Ends the compositor now with its process group, as a crash or a logout would.
  void end(int signal = SIGTERM);

 protected:
  bool waitWith(const std::function<bool()>& done, const std::vector<Source>& also = {});
  /// Runs a client of the session and waits for its end; whether it ended with status 0.
  bool run(const std::vector<std::string>& argv, const std::vector<Source>& also = {},
           int out = -1);
  /// `name` under the session's folder, made private (0700) to whoever will own it.
  std::string folder(const std::string& name);
  /// Starts the compositor, keeping what it says: `command` run as `nobody` (setpriv with
  /// `flags`) with only PATH and the variables it sets first, inside `wrapper`.
  void startAsNobody(const std::vector<std::string>& wrapper, const std::string& flags,
                     const std::vector<std::string>& command);
  /// Where the screenshot `name` is kept for the record of the run.
  static std::string keptPicture(const std::string& name);

  TempDir home_;
  std::string error_, wayland_, runtime_;
  /// What the compositor wrote on standard error.
  PipeText said_;
  std::unique_ptr<ChildProcess> compositor_;
  std::vector<std::unique_ptr<ChildProcess>> typists_;

 private:
  std::string keyTool_;
};

/// Gives `folder` and everything in it to `nobody`, as whom the compositors run.
bool giveToNobody(const std::string& folder);

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

/// A row of a compositor suite: the windows it starts with, then the steps. `Setting` is what
/// one suite varies besides (KWin's permission checks, GNOME's extension); its first value is
/// the usual one.
template <typename Setting = bool>
struct CompositorScenario {
  std::string name;
  /// "app" or "app:title", opened in order (so the last is focused); "typing" is the window
  /// that records what it is typed.
  std::vector<std::string> windows;
  Steps steps;
  Setting setting{};
};

template <typename Setting>
void PrintTo(const CompositorScenario<Setting>& scenario, std::ostream* out) {
  *out << scenario.name;
}

/// Tolvane on `compositor`, for the step driver.
class CompositorSuite : public DesktopSession {
 public:
  /// `ready` lists the log lines of which one says Tolvane has its bindings.
  CompositorSuite(CompositorSession& compositor, std::vector<std::string> ready);
  /// Opens a row's windows in order (see CompositorScenario).
  void openWindows(const std::vector<std::string>& windows);

  /// Tolvane's log, the typing window, the compositor and `extra`, for every wait.
  std::vector<Source> sources();
  bool waitFor(const std::function<bool()>& done,
               std::chrono::milliseconds bound = CompositorSession::kBound);
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
  /// The shared verbs, those of every compositor, and a suite's own.
  StepDriver verbs{*this};

 protected:
  bool isFocused(const std::string& window) const {
    return isWindow(compositor_.focused(), window);
  }

  CompositorSession& compositor_;

 private:
  std::vector<std::string> ready_;
};

/// The fixture of a compositor suite whose rows vary `Setting`.
template <typename Setting = bool>
class CompositorTest : public ::testing::TestWithParam<CompositorScenario<Setting>>,
                       public CompositorSuite {
 protected:
  using CompositorSuite::CompositorSuite;
  void TearDown() override {
    if (this->HasFailure())
      std::fprintf(stderr, "The compositor said:\n%s\n", compositor_.said().c_str());
    tolvane.reset();
  }
};

}  // namespace tolvane::test
