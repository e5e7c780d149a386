// Running applications and what can be asked of them: the desktop's workspace service.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

using Pid = std::int32_t;

/// Regular applications have windows and appear in switchers; accessory ones live in the tray;
/// prohibited ones are background processes.
enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

/// One running application as the workspace reports it at the moment of asking.
struct RunningApp {
  Pid pid = 0;
  std::optional<std::string> localizedName;
  std::optional<std::string> bundleID;
  bool hidden = false;
  ActivationPolicy activationPolicy = ActivationPolicy::regular;
  bool terminated = false;
  /// Where the application can be opened from again (a desktop file on Linux).
  std::optional<std::string> bundleLocation;
};

enum class WorkspaceEvent { launched, activated, terminated };

using ObserverToken = std::uint64_t;

/// The desktop's view of running applications. Main thread only; observers run on it.
class Workspace {
 public:
  using AppHandler = std::function<void(const RunningApp&)>;

  virtual ~Workspace() = default;

  virtual Pid ownPid() const = 0;
  /// Every running application, in the workspace's own order.
  virtual std::vector<RunningApp> runningApplications() const = 0;
  virtual std::optional<RunningApp> application(Pid pid) const = 0;
  virtual std::optional<Pid> frontmostPid() const = 0;

  /// Registers `handler` for one kind of notification; the token removes it again.
  virtual ObserverToken addObserver(WorkspaceEvent event, AppHandler handler) = 0;
  virtual void removeObserver(ObserverToken token) = 0;

  virtual void unhide(Pid pid) = 0;

  /// Receives whether the application became frontmost. Runs once, on the main thread (not at
  /// all when the desktop is destroyed before it knows).
  using ActivationAnswer = std::function<void(bool accepted)>;
  /// Asks for the application to become frontmost. A desktop that knows the outcome at once
  /// calls `answer` before returning; one whose window manager decides calls it later, when the
  /// window manager acted or a bound ran out, never from inside this call. Returns false when
  /// the request was refused at once (the application is gone, say: `answer` had false then
  /// too), true when it was accepted or is still undecided.
  virtual bool activate(Pid pid, ActivationAnswer answer) = 0;
  /// Starts (or re-opens) the application found at `bundleLocation`; nothing is awaited.
  virtual void openApplication(const std::string& bundleLocation) = 0;
  /// Opens `url` in its handler (the browser for https); false when nothing could open it.
  virtual bool openURL(const std::string& url) = 0;
  /// The application's icon as PNG bytes, or nothing when it has none.
  virtual std::optional<std::string> iconPNG(const std::string& bundleID) const = 0;
  /// Whether this desktop can hide an application (its windows then stay open but unseen);
  /// the settings that concern hidden applications mean nothing where it cannot.
  virtual bool hidesApplications() const { return true; }
};

}  // namespace tolvane
