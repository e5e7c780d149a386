// The one driver of the end-to-end desktop suites. A scenario is a list of steps, "verb[:n]
// argument", run in order up to the first that fails; a suite is a session (how its desktop
// starts Tolvane, types keys, moves and reads the focus, takes a picture) plus its table of
// scenarios. The verbs that mean the same on every desktop are registered here, once, over the
// session's primitives; a session adds only the verbs of its own desktop.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "desktops/driver/picture.h"

namespace tolvane::test {

/// Steps a driver runs in order: "verb[:n] argument", as in "count:0 activate pid=".
using Steps = std::vector<std::string>;

/// The words of `text`, split at white space.
std::vector<std::string> words(const std::string& text);

/// The steps of `a`, then those of `b`.
Steps operator+(Steps a, const Steps& b);

/// One parsed step; `n` is 1 unless the verb carries ":n".
struct Step {
  std::string verb, arg;
  int n = 1;
};

/// What a desktop offers the shared verbs. Windows are named as the scenario names them.
class DesktopSession {
 public:
  virtual ~DesktopSession() = default;
  /// Starts Tolvane with `settings` (JSON members, where the desktop takes them) stored and
  /// waits until it is ready.
  virtual void launchTolvane(const std::string& settings) = 0;
  /// Types as a user would, in the words of the desktop's key tool.
  virtual bool typeKeys(const std::string& keys) = 0;
  /// Focuses `window` as a user's click or a pager would, and waits until Tolvane has seen it.
  virtual void focusWindow(const std::string& window) = 0;
  virtual bool waitFocused(const std::string& window) = 0;
  /// Once the desktop has handled everything sent so far, `window` has the focus: a stray
  /// switch leaves another focused.
  virtual bool staysFocused(const std::string& window) = 0;
  virtual void closeWindow(const std::string& window) = 0;
  /// The screenshot kept as `name`; an empty picture where the desktop keeps only the file.
  virtual std::optional<Picture> takePicture(const std::string& name) = 0;
  virtual bool waitForLog(const std::string& text, int times) = 0;
  virtual int logCount(const std::string& text) = 0;
  /// What a failed step shows: the focus where the desktop tells it, and Tolvane's log.
  virtual std::string describe() = 0;
  /// Whether the typing terminal received `text` within `bound` (the session's own when zero).
  virtual bool waitForTyped(const std::string& text, std::chrono::milliseconds bound) = 0;
  virtual void signalTolvane(int signal) = 0;
  /// Waits for Tolvane to end: its wait status, or nothing when it did not end in time.
  virtual std::optional<int> waitForEnd() = 0;
  /// Tolvane's runtime folder, where the stall hook waits for its release.
  virtual std::string runtimeFolder() = 0;
};

class StepDriver {
 public:
  using Verb = std::function<void(const Step&)>;
  /// Registers the shared verbs over `session`, which must outlive the driver.
  explicit StepDriver(DesktopSession& session);
  /// The verb of that name, to register or to call from another verb.
  Verb& operator[](const std::string& verb) { return verbs_[verb]; }
  /// Runs `steps` in order, each traced, up to the first that fails.
  void run(const Steps& steps);

 private:
  std::map<std::string, Verb> verbs_;
  std::map<std::string, Picture> pictures_;
};

}  // namespace tolvane::test
