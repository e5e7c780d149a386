// The model every real desktop feeds: running applications by pid, their windows by number,
// the element handles, the notes found while a change is handled and their delivery, and from
// them the answers to the workspace, accessibility, window server and catalog contracts. A
// desktop backend reports what its display server says (the windows grouped into
// applications, a focus change, whether the service is there at all) and does what only it can
// (activate, minimize, restore, raise; window attributes; the window lists and Spaces).
//
// A new desktop derives from DesktopModel and writes: its feed (follow the display server, call
// regroup with the windows grouped into applications, focusMoved when another window has the
// focus, setTrusted), its window answers (the private virtuals below, one table of what each
// attribute reads) and its activation and window lists. Elements, pids without a process,
// notes, observers and every other answer of the four contracts are the model's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "backends/desktop_model/desktop_identity.h"
#include "backends/system/desktop_entries.h"
#include "backends/system/desktop_observers.h"
#include "base/run_loop.h"
#include "platform/accessibility.h"
#include "platform/application_catalog.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tolvane::desktop {

/// One application as the display server's windows make it now.
struct AppGroup {
  AppKey key;
  Pid pid = 0;
  std::vector<WindowNumber> windows;
};

/// Notifications and observer callbacks are delivered once the state is consistent: from the
/// backend's event handling, or from the loop when they were found during a call of these
/// interfaces (or during a delivery). Never from inside a call. Main thread only.
class DesktopModel : public Workspace,
                     public Accessibility,
                     public WindowServer,
                     public ApplicationCatalog {
 public:
  /// Where applications' desktop entries are looked up, and in which language.
  struct Catalog {
    /// Applications folders, most important first; empty: the XDG defaults.
    std::vector<std::string> applicationFolders;
    /// A POSIX locale name; empty: the locale of messages from the environment.
    std::string locale;
  };

  static constexpr Pid kSyntheticPidBase = desktop::kSyntheticPidBase;
  /// The connection id mainConnectionID hands out; any other is refused.
  static constexpr std::int32_t kConnectionID = 1;
  /// The error every accessibility call answers while the display server lends no windows.
  static constexpr int kAPIDisabled = -25211;
  /// Registering anything but "AXFocusedWindowChanged" on an application element.
  static constexpr int kNotificationUnsupported = -25207;
  /// Registering a notification the observer has already.
  static constexpr int kNotificationAlreadyRegistered =
      system::DesktopObservers::kNotificationAlreadyRegistered;
  /// What the (missing) symbolic-hotkey setter answers.
  static constexpr int kHotKeyFailure = 1000;

  ~DesktopModel() override;
  DesktopModel(const DesktopModel&) = delete;
  DesktopModel& operator=(const DesktopModel&) = delete;

  Workspace& workspace() { return *this; }
  Accessibility& accessibility() { return *this; }
  WindowServer& windowServer() { return *this; }

  /// Sees each window that becomes the focused one, as the desktop handles the change (a
  /// verbose run prints them; tests wait on them).
  void setFocusObserver(std::function<void(WindowNumber)> observer) {
    focusObserver_ = std::move(observer);
  }
  /// True once the display server is gone: every call then answers with failures.
  virtual bool connectionLost() const { return false; }

  // --- Workspace and catalog (model_workspace.cpp) --------------------------------------------

  Pid ownPid() const override { return ownPid_; }
  std::vector<RunningApp> runningApplications() const override;
  std::optional<RunningApp> application(Pid pid) const override;
  /// The application of the window focused last; reset when that application ends.
  std::optional<Pid> frontmostPid() const override { return frontmost_; }
  ObserverToken addObserver(WorkspaceEvent event, AppHandler handler) override;
  void removeObserver(ObserverToken token) override { observers_.removeWorkspace(token); }
  /// Applications are never hidden on these desktops: a window is shown, minimized or closed.
  void unhide(Pid) override {}
  bool hidesApplications() const override { return false; }
  void openApplication(const std::string& bundleLocation) override;
  bool openURL(const std::string& url) override;
  std::optional<std::string> iconPNG(const std::string& bundleID) const override;
  std::vector<InstalledApplication> installedApplications() override;
  std::optional<std::string> displayName(const std::string& bundleID) override;

  // --- Accessibility (model_accessibility.cpp) ------------------------------------------------

  /// True while the display server lends its windows.
  bool isProcessTrusted() const override { return trusted_; }
  /// There is nothing to ask the user for: the display server lends the windows or it does not.
  bool isProcessTrustedWithPrompt() override { return trusted_; }
  std::optional<std::string> permissionSettingsURL() const override { return std::nullopt; }
  std::optional<std::string> untrustedExplanation() const override {
    if (trusted_ || !untrustedExplanation_) return std::nullopt;
    return untrustedExplanation_();
  }
  /// What untrustedExplanation says while the windows are not lent.
  void setUntrustedExplanation(std::function<std::string()> explain) {
    untrustedExplanation_ = std::move(explain);
  }
  AXElement applicationElement(Pid pid) override;
  AXElement systemWideElement() override;
  AXResult copyAttribute(const AXElement& element, std::string_view attribute) override;
  int setAttribute(const AXElement& element, std::string_view attribute,
                   const AXValue& value) override;
  int performAction(const AXElement& element, std::string_view action) override;
  /// Accepted without effect: nothing is asked of the applications themselves.
  int setMessagingTimeout(const AXElement& element, double seconds) override;
  std::optional<Pid> pidOf(const AXElement& element) override;
  int windowNumber(const AXElement& element, std::uint32_t& number) override;
  std::unique_ptr<AXObserver> createObserver(Pid pid, ObserverCallback callback,
                                             int& error) override;

  // --- Window server (model_workspace.cpp) ----------------------------------------------------

  std::optional<std::int32_t> mainConnectionID() override;
  std::optional<std::vector<std::uint64_t>> copySpaces(std::int32_t connection, int mask) override;
  std::optional<std::vector<std::uint32_t>> copyWindowsOnSpaces(
      std::int32_t connection, const std::vector<std::uint64_t>& spaces) override;
  /// Every window is in its application's "AXWindows" already: no tokens needed.
  bool hasRemoteTokens() const override { return false; }
  AXElement elementFromRemoteToken(const RemoteToken&) override { return nullptr; }
  /// No system switcher hotkeys to stand down.
  bool hasSymbolicHotKeySetter() const override { return false; }
  int setSymbolicHotKeyEnabled(std::int32_t, bool) override { return kHotKeyFailure; }
  std::optional<bool> isSymbolicHotKeyEnabled(std::int32_t) override { return std::nullopt; }
  /// Unknown unless the desktop can tell.
  bool isSecureInputEnabled() override { return false; }
  std::optional<Pid> secureInputHolderPid() override { return std::nullopt; }
  /// kill(pid, 0) for real pids; a synthetic pid exists while its application has windows.
  bool processExists(Pid pid) override;

 protected:
  /// An attribute's answer: its value, or the error that stands for it.
  static AXResult value(AXValue v) { return AXResult{ax::kSuccess, std::move(v)}; }
  static AXResult failure(int error) { return AXResult{error, std::nullopt}; }

  struct App {
    AppKey key;
    Pid pid = 0;
    std::uint64_t serial = 0;
    RunningApp info;
    /// The window AXMain or the latest focus change made main.
    std::optional<WindowNumber> main;
    /// The application's window that was focused most recently.
    std::optional<WindowNumber> lastActive;
    /// Its windows in the order the display server lists them, as `info` was described.
    std::vector<WindowNumber> windows;
    /// A fact of one of its windows changed since `info` was described.
    bool stale = false;
  };
  /// One incarnation of a window the latest raise (or restore) was for.
  struct Raise {
    Pid pid;
    WindowNumber window;
    std::uint64_t serial;
    /// The request went out; false when the window was already gone, or when another
    /// application has taken the focus since.
    bool sent = false;
  };
  /// Describes an application (new, or whose windows or facts changed) for the workspace.
  using Describe = std::function<RunningApp(const AppGroup&)>;

  /// Marks a call of the interfaces (or a delivery) in progress: notes found meanwhile wait
  /// for the loop. Safe when the desktop is destroyed inside the call.
  class Busy {
   public:
    explicit Busy(DesktopModel& model) : model_(model), alive_(model.alive_) { ++model_.busy_; }
    ~Busy() {
      if (alive_.lock()) --model_.busy_;
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

   private:
    DesktopModel& model_;
    std::weak_ptr<int> alive_;
  };

  DesktopModel(RunLoop& loop, Pid ownPid, Catalog catalog);

  // What the display server reported (desktop_model.cpp).
  /// Whether the display server lends its windows (an EWMH window manager runs, the
  /// compositor has not withdrawn its toplevels).
  void setTrusted(bool trusted) { trusted_ = trusted; }
  bool trusted() const { return trusted_; }
  /// The applications now, in order of appearance: those no group keeps (same key and pid) end,
  /// new ones are launched; one is described again when its windows changed or it is stale.
  void regroup(std::vector<AppGroup> groups, const Describe& describe);
  /// A fact of `pid`'s windows changed: it is described again at the next regroup.
  void markStale(Pid pid);
  /// `window` of `pid` became the focused one (it was not before); `serial` goes into the
  /// focus note's element.
  void focusMoved(WindowNumber window, Pid pid, std::uint64_t serial);
  /// `pid`'s window has the focus: it becomes the frontmost application if it is not yet.
  void frontmostIs(Pid pid);
  /// Nothing is frontmost and no raise waits (the windows were withdrawn).
  void forgetFocus();
  /// What was found at start is not news.
  void dropNotes() { notes_.clear(); }
  /// Delivers the notes now, or from the loop when a call is in progress.
  void deliverOrDefer();

  // Lookups.
  App* findApp(Pid pid);
  const App* findApp(Pid pid) const;
  const std::vector<App>& apps() const { return apps_; }
  std::optional<Raise>& lastRaise() { return lastRaise_; }
  system::DesktopEntries& entries() const { return entries_; }
  RunLoop& loop() const { return loop_; }
  /// A fresh serial for a new incarnation.
  std::uint64_t nextSerial() { return nextSerial_++; }
  static const DesktopElement* elementOf(const AXElement& element);
  /// Whether a local process runs (kill(pid, 0); EPERM means it does, as another user's).
  static bool processRuns(Pid pid);

 private:
  // What each desktop provides.
  /// The handle of `window`, as the desktop names its incarnation.
  virtual AXElement windowElement(WindowNumber window) const = 0;
  /// Whether a window element of `owner` still names a live window of it.
  virtual bool windowReachable(const App& owner, const DesktopElement& element) const = 0;
  /// The application's window AXFocusedWindow answers; nothing: kNoValue.
  virtual std::optional<WindowNumber> focusedWindowOf(const App& app) const = 0;
  /// Every attribute of a reachable window element.
  virtual AXResult windowAttribute(App& app, const DesktopElement& element,
                                   std::string_view attribute) = 0;
  /// Whether an action on the reachable window can go ahead: ax::kSuccess, or its answer.
  virtual int actionable(const DesktopElement&) { return ax::kSuccess; }
  /// Asks the display server to minimize the window: ax::kSuccess or the error.
  virtual int minimize(const DesktopElement& element) = 0;
  /// Asks for the window to be shown and focused; false when it is gone.
  virtual bool restore(const DesktopElement& element) = 0;
  /// Asks for the window to be raised and focused; false when it is gone.
  virtual bool raise(const DesktopElement& element) = 0;
  /// The Spaces, for an available desktop.
  virtual std::vector<std::uint64_t> spaces() const = 0;
  /// The windows on any of `spaces`, for an available desktop.
  virtual std::vector<std::uint32_t> windowsOnSpaces(
      const std::vector<std::uint64_t>& spaces) const = 0;

  /// ax::kSuccess while the display server lends its windows; else the error every call on an
  /// element answers.
  int availability() const;
  /// Whether the element is alive: ax::kSuccess with its application and element, or the
  /// error every call on it answers.
  int reach(const AXElement& element, App*& app, const DesktopElement*& found);
  AXResult applicationAttribute(const App& app, std::string_view attribute);
  /// The desktop's part of a registration's checks (see DesktopObservers::NotificationCheck).
  int checkNotification(Pid observed, const AXElement& element, std::string_view notification);
  void deliver();

  struct AppNote {
    WorkspaceEvent event;
    RunningApp app;
  };
  struct FocusNote {
    Pid pid;
    WindowNumber window;
    std::uint64_t serial;
  };
  using Note = std::variant<AppNote, FocusNote>;

  RunLoop& loop_;
  const Pid ownPid_;
  mutable system::DesktopEntries entries_;
  std::function<void(WindowNumber)> focusObserver_;
  // Deferred and stored callbacks hold a weak copy, so that nothing touches a destroyed desktop.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  bool trusted_ = false;

  std::function<std::string()> untrustedExplanation_;
  std::vector<App> apps_;  // in order of appearance
  std::uint64_t nextSerial_ = 1;
  std::optional<Pid> frontmost_;
  /// The window the latest raise was for. Activating its application right after keeps a
  /// window whose raise was sent instead of picking another one.
  std::optional<Raise> lastRaise_;

  std::vector<Note> notes_;
  int busy_ = 0;
  TimerId deferredDelivery_ = 0;
  system::DesktopObservers observers_;
};

}  // namespace tolvane::desktop
