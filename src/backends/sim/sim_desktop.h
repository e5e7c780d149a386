// The simulated desktop's applications, windows and Spaces, driven as data: one object serves as
// the workspace, the accessibility service and the window server, on virtual time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "backends/sim/sim_clock.h"
#include "backends/sim/sim_run_loop.h"
#include "platform/accessibility.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tolvane::sim {

/// An application as a test describes it: what the workspace reports, and how it behaves when
/// the accessibility service talks to it.
struct SimApp {
  Pid pid = 0;
  std::optional<std::string> localizedName;
  std::optional<std::string> bundleID;
  bool hidden = false;
  ActivationPolicy activationPolicy = ActivationPolicy::regular;
  std::optional<std::string> bundleLocation;
  /// Still listed by the workspace, but reported as terminated (a process on its way out).
  bool reportedTerminated = false;
  /// Virtual seconds every accessibility call to the application's elements costs.
  double callCostSeconds = 0;
  /// Never answers: each call costs the messaging timeout in force and fails with -25204.
  bool hung = false;
  /// What Workspace::activate answers for it.
  bool acceptsActivation = true;
  /// Virtual seconds until Workspace::activate answers, as a window manager that decides later;
  /// 0 answers inside the call.
  double activationAnswerSeconds = 0;
  /// createObserver for this process fails.
  bool observersFail = false;
  /// addNotification on this process's elements fails.
  bool notificationsFail = false;
};

/// A window as a test describes it. Absent optional attributes are missing (-25212 on reading).
struct SimWindow {
  std::uint32_t number = 0;
  Pid pid = 0;
  std::optional<std::string> title;
  /// Any value, so that a wrongly typed subrole (a number, say) can be simulated.
  std::optional<AXValue> subrole = AXValue(std::string(ax::kStandardWindow));
  std::optional<Size> size = Size{800, 600};
  bool minimized = false;
  /// The Space the window lives on; the desktop starts on Space 1.
  int space = 1;
  std::int64_t layer = 0;
  /// When false, asking the accessibility service for the window's number fails.
  bool windowNumberReadable = true;
  /// The number the accessibility service reports instead of `number` (0, say).
  std::optional<std::uint32_t> reportedNumber;
};

/// The simulated accessibility element. Handles are created afresh on every request, so two
/// handles of one window are equal only through their window number, never by identity.
class SimElement final : public AXElementRef {
 public:
  enum class Kind { systemWide, application, window };

  SimElement(Kind kind, Pid pid, std::uint64_t serial, std::uint32_t number)
      : kind(kind), pid(pid), serial(serial), number(number) {}

  const Kind kind;
  const Pid pid;
  /// Which incarnation of the application or window this names: a relaunched pid or a reused
  /// window number does not bring an old element back to life.
  const std::uint64_t serial;
  /// The window server's number of a window element; 0 otherwise.
  const std::uint32_t number;
};

/// Which private window-server functions exist; each can be switched off alone.
struct PrivateFunctions {
  bool mainConnectionID = true;
  bool copySpaces = true;
  bool copyWindowsOnSpaces = true;
  bool remoteTokens = true;
  bool hotKeySetter = true;
  bool hotKeyQuery = true;
};

/// The simulated desktop. Deterministic: time moves only through the clock it is given, and
/// every notification and observer callback is delivered through the run loop, never inside the
/// call that caused it.
class SimDesktop final : public Workspace, public Accessibility, public WindowServer {
 public:
  /// The messaging timeout of the real service until someone sets another.
  static constexpr double kDefaultMessagingTimeout = 6.0;
  /// Error the real service gives every call while this process is not trusted.
  static constexpr int kAPIDisabled = -25211;
  /// Error for registering a notification that is registered already.
  static constexpr int kNotificationAlreadyRegistered = -25209;
  /// The window server's failure code, answered by an unavailable hotkey setter.
  static constexpr int kHotKeyFailure = 1000;
  /// The connection id mainConnectionID hands out.
  static constexpr std::int32_t kConnectionID = 0x51d;
  /// The permission's settings page until someone sets another.
  static constexpr std::string_view kPermissionSettingsURL =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

  SimDesktop(SimClock& clock, SimRunLoop& loop, Pid ownPid = 99999);
  ~SimDesktop() override;
  SimDesktop(const SimDesktop&) = delete;
  SimDesktop& operator=(const SimDesktop&) = delete;

  /// The three services, for code that wants them by interface.
  Workspace& workspace() { return *this; }
  Accessibility& accessibility() { return *this; }
  WindowServer& windowServer() { return *this; }

  // --- Applications ---------------------------------------------------------------------------

  /// Adds a running application silently (no notification); false if the pid is running.
  bool addApp(const SimApp& app);
  /// Adds a running application and posts the launched notification; false if already running.
  bool launchApp(const SimApp& app);
  /// Terminates the application: gone from the list with its windows, its elements answer
  /// -25202, the terminated notification is posted. False if it was not running.
  bool quitApp(Pid pid);
  /// Changes the hidden flag (hidden windows leave the on-screen list); false if not running.
  bool setHidden(Pid pid, bool hidden);
  /// Makes the application frontmost, brings its focused window to the front of the stacking
  /// order and posts the activated notification when the frontmost changed. False if not running.
  bool setFrontmost(Pid pid);
  /// Leaves no application frontmost.
  void clearFrontmost() { frontmost_.reset(); }
  /// Makes the application hang (or answer again); false if not running.
  bool setHung(Pid pid, bool hung);
  /// Changes the virtual cost of each call to the application; false if not running.
  bool setCallCost(Pid pid, double seconds);
  /// Changes what Workspace::activate answers for the application; false if not running.
  bool setAcceptsActivation(Pid pid, bool accepts);
  /// Changes how long Workspace::activate takes to answer (see SimApp); false if not running.
  bool setActivationAnswerSeconds(Pid pid, double seconds);
  /// A process that exists without being an application (for processExists).
  void addProcess(Pid pid) { processes_.insert(pid); }
  /// Sets this process's own id.
  void setOwnPid(Pid pid) { ownPid_ = pid; }
  /// Makes openURL fail (nothing handles the URL).
  void setOpenURLWorks(bool works) { openURLWorks_ = works; }

  // --- Windows and Spaces ---------------------------------------------------------------------

  /// Adds a window in front of all others; false if its number is taken.
  bool addWindow(const SimWindow& window);
  /// Closes the window: its elements answer -25202 from now on. False if unknown.
  bool closeWindow(std::uint32_t number);
  /// Moves the window to another Space; false if unknown.
  bool moveToSpace(std::uint32_t number, int space);
  /// Switches the current Space.
  void setCurrentSpace(int space) { currentSpace_ = space; }
  int currentSpace() const { return currentSpace_; }
  /// Focuses the window inside its application (which also makes it the main window), brings it
  /// to the front and delivers "AXFocusedWindowChanged" to the application's observers. False
  /// unless the window exists and belongs to `pid`.
  bool setFocusedWindow(Pid pid, std::uint32_t number);
  /// Minimizes or restores the window; false if unknown.
  bool setMinimized(std::uint32_t number, bool minimized);
  /// Changes or removes the window's title; false if unknown.
  bool setTitle(std::uint32_t number, std::optional<std::string> title);
  /// An extra window-list entry that may miss fields, listed after the simulated windows.
  void addRawWindowInfo(const WindowInfo& info, bool onScreen = true);
  /// Makes both window lists fail.
  void setWindowListsFail(bool fail) { windowListsFail_ = fail; }
  /// Window numbers front to back, whether on screen or not.
  const std::vector<std::uint32_t>& stackingOrder() const { return stack_; }
  /// Whether the window is minimized now; nothing if unknown.
  std::optional<bool> isMinimized(std::uint32_t number) const;

  // --- Window-server extras -------------------------------------------------------------------

  /// Which private functions exist; switch any of them off.
  PrivateFunctions available;
  /// Makes the token with `pid` and `elementId` resolve to the window `windowNumber`. Every
  /// token of a running application costs its call cost (a hung one: the timeout, and nothing);
  /// tokens at other ids give nothing.
  void placeRemoteToken(Pid pid, std::int64_t elementId, std::uint32_t windowNumber);
  /// Sets a hotkey's state without recording a call (the state before the test).
  void seedHotKey(std::int32_t hotKey, bool enabled) { hotKeys_[hotKey] = enabled; }
  /// A hotkey's state now; hotkeys never set are enabled.
  bool hotKeyEnabled(std::int32_t hotKey) const;
  /// Switches secure input on or off, with the process holding it.
  void setSecureInput(bool enabled, std::optional<Pid> holder = std::nullopt);

  // --- Trust ----------------------------------------------------------------------------------

  /// Grants or withdraws the accessibility permission; without it every call answers -25211.
  void setTrusted(bool trusted) { trusted_ = trusted; }
  /// Where the permission is granted by hand; nothing makes a desktop without such a place.
  void setPermissionSettingsURL(std::optional<std::string> url) {
    permissionSettingsURL_ = std::move(url);
  }
  /// How often isProcessTrustedWithPrompt asked the user.
  int prompts() const { return prompts_; }

  // --- Observation ----------------------------------------------------------------------------

  /// Accessibility calls that reached an application (or would have, had it been there).
  int axCalls() const { return axCalls_; }
  /// Every call of a WindowServer function.
  int windowServerCalls() const { return windowServerCalls_; }
  /// Effects on the desktop, one readable line each: "raise 101", "setMinimized 101 false",
  /// "setMain 101", "unhide 300", "activate 300 accepted", "open <location>", "openURL <url>",
  /// "hotkey 1 false". Only effects that took place are recorded.
  const std::vector<std::string>& events() const { return events_; }
  void clearEvents() { events_.clear(); }
  /// Sees each effect as it is recorded (the scenario tool prints them).
  void setEventObserver(std::function<void(const std::string&)> observer) {
    eventObserver_ = std::move(observer);
  }
  /// Notifications registered through live observers for `pid`.
  int registeredNotifications(Pid pid) const;
  /// The messaging timeout in force for `pid`'s elements.
  double messagingTimeout(Pid pid) const;

  // --- Workspace ------------------------------------------------------------------------------

  Pid ownPid() const override { return ownPid_; }
  std::vector<RunningApp> runningApplications() const override;
  std::optional<RunningApp> application(Pid pid) const override;
  std::optional<Pid> frontmostPid() const override { return frontmost_; }
  ObserverToken addObserver(WorkspaceEvent event, AppHandler handler) override;
  void removeObserver(ObserverToken token) override { workspaceObservers_.erase(token); }
  void unhide(Pid pid) override;
  /// Answers (and records "activate <pid> accepted/refused") at once, or after the
  /// application's activationAnswerSeconds, deciding then.
  bool activate(Pid pid, ActivationAnswer answer) override;
  void openApplication(const std::string& bundleLocation) override;
  bool openURL(const std::string& url) override;
  std::optional<std::string> iconPNG(const std::string& bundleID) const override;

  // --- Accessibility --------------------------------------------------------------------------

  bool isProcessTrusted() const override { return trusted_; }
  bool isProcessTrustedWithPrompt() override;
  std::optional<std::string> permissionSettingsURL() const override {
    return permissionSettingsURL_;
  }
  AXElement applicationElement(Pid pid) override;
  AXElement systemWideElement() override;
  AXResult copyAttribute(const AXElement& element, std::string_view attribute) override;
  int setAttribute(const AXElement& element, std::string_view attribute,
                   const AXValue& value) override;
  int performAction(const AXElement& element, std::string_view action) override;
  int setMessagingTimeout(const AXElement& element, double seconds) override;
  std::optional<Pid> pidOf(const AXElement& element) override;
  int windowNumber(const AXElement& element, std::uint32_t& number) override;
  std::unique_ptr<AXObserver> createObserver(Pid pid, ObserverCallback callback,
                                             int& error) override;

  // --- Window server --------------------------------------------------------------------------

  std::optional<std::vector<WindowInfo>> onScreenWindows() override;
  std::optional<std::vector<WindowInfo>> allWindows() override;
  std::optional<std::int32_t> mainConnectionID() override;
  std::optional<std::vector<std::uint64_t>> copySpaces(std::int32_t connection, int mask) override;
  std::optional<std::vector<std::uint32_t>> copyWindowsOnSpaces(
      std::int32_t connection, const std::vector<std::uint64_t>& spaces) override;
  bool hasRemoteTokens() const override;
  AXElement elementFromRemoteToken(const RemoteToken& token) override;
  bool hasSymbolicHotKeySetter() const override;
  int setSymbolicHotKeyEnabled(std::int32_t hotKey, bool enabled) override;
  std::optional<bool> isSymbolicHotKeyEnabled(std::int32_t hotKey) override;
  bool isSecureInputEnabled() override;
  std::optional<Pid> secureInputHolderPid() override;
  bool processExists(Pid pid) override;

 private:
  class Observer;
  friend class Observer;

  struct AppState {
    SimApp config;
    std::uint64_t serial = 0;
    std::optional<std::uint32_t> focused;
    std::optional<std::uint32_t> main;
  };
  struct WindowState {
    SimWindow config;
    std::uint64_t serial = 0;
  };
  struct Registration {
    SimElement::Kind kind;
    std::uint32_t number;
    std::string notification;
  };
  struct ObserverEntry {
    Pid pid;
    ObserverCallback callback;
    std::vector<Registration> registrations;
  };
  struct WorkspaceObserver {
    WorkspaceEvent event;
    AppHandler handler;
  };

  AppState* findApp(Pid pid);
  const AppState* findApp(Pid pid) const;
  WindowState* findWindow(std::uint32_t number);
  const WindowState* findWindow(std::uint32_t number) const;
  AXElement windowElement(const WindowState& window) const;
  static RunningApp report(const SimApp& app);
  bool isOnScreen(const WindowState& window) const;
  void bringToFront(std::uint32_t number);
  void notifyWorkspace(WorkspaceEvent event, const RunningApp& app);
  /// Decides an activation now: whether the application (still) runs and accepts.
  bool answerActivation(Pid pid);
  std::vector<WindowInfo> windowList(bool onScreenOnly);
  /// Charges one call to the element's application and says whether it answers: kSuccess with
  /// the live application (and window, for window elements), or the error the call fails with.
  int reach(const AXElement& element, AppState*& app, WindowState*& window);
  int addNotification(std::uint64_t observer, const AXElement& element,
                      std::string_view notification);
  void dropObserver(std::uint64_t observer) { axObservers_.erase(observer); }
  void record(std::string event) {
    if (eventObserver_) eventObserver_(event);
    events_.push_back(std::move(event));
  }

  SimClock& clock_;
  SimRunLoop& loop_;
  Pid ownPid_;
  // Deferred work captures a weak copy, so a callback queued on a run loop that outlives the
  // desktop does nothing instead of touching a dead object.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::uint64_t nextSerial_ = 1;

  std::vector<AppState> apps_;                           // the workspace's order
  std::vector<WindowState> windows_;                     // insertion order, which "AXWindows" keeps
  std::vector<std::uint32_t> stack_;                     // front to back
  std::vector<std::pair<WindowInfo, bool>> rawWindows_;  // entry, on screen
  std::optional<Pid> frontmost_;
  int currentSpace_ = 1;
  std::set<Pid> processes_;
  bool openURLWorks_ = true;
  bool windowListsFail_ = false;

  std::map<std::pair<Pid, std::int64_t>, std::uint32_t> remoteTokens_;
  std::map<std::int32_t, bool> hotKeys_;
  bool secureInput_ = false;
  std::optional<Pid> secureInputHolder_;

  bool trusted_ = true;
  int prompts_ = 0;
  std::optional<std::string> permissionSettingsURL_{kPermissionSettingsURL};
  double defaultTimeout_ = kDefaultMessagingTimeout;
  std::map<Pid, double> timeouts_;

  std::map<ObserverToken, WorkspaceObserver> workspaceObservers_;
  ObserverToken nextWorkspaceToken_ = 1;
  std::map<std::uint64_t, ObserverEntry> axObservers_;
  std::uint64_t nextObserver_ = 1;

  int axCalls_ = 0;
  mutable int windowServerCalls_ = 0;
  std::vector<std::string> events_;
  std::function<void(const std::string&)> eventObserver_;
};

}  // namespace tolvane::sim
