// The real desktop on Wayland (wlroots compositors, sway first): running applications (the
// announced toplevels grouped by app_id), their windows as accessibility elements, and the
// window lists and workspaces. One object serves all four services, like the X11 desktop.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "backends/sway/sway_view.h"
#include "backends/system/desktop_entries.h"
#include "backends/system/desktop_observers.h"
#include "backends/wayland/toplevel_model.h"
#include "backends/wayland/wayland_desktop_activation.h"
#include "base/run_loop.h"
#include "platform/accessibility.h"
#include "platform/application_catalog.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tolvane::wayland {

using system::DesktopEntries;
using system::DesktopEntry;

/// An accessibility element of the Wayland desktop. `serial` names one incarnation of the
/// application (a window element carries its application's): a pid that comes back later, or a
/// window that moved to another application, does not revive an old element.
class WaylandElement final : public AXElementRef {
 public:
  enum class Kind { systemWide, application, window };

  WaylandElement(Kind kind, Pid pid, ToplevelId toplevel, std::uint64_t serial)
      : kind(kind), pid(pid), toplevel(toplevel), serial(serial) {}

  const Kind kind;
  const Pid pid;
  /// The window's toplevel; 0 for the other kinds.
  const ToplevelId toplevel;
  const std::uint64_t serial;
};

/// Workspace, accessibility, window server and catalog over a ToplevelSource, with what sway's
/// IPC adds when it is there (process ids, workspaces, the focus history). Everything is
/// answered from the state as of the latest `done`; notifications and observer callbacks are
/// delivered from the source's handlers (or swayTreeChanged) once that state is consistent,
/// never from inside a call of these interfaces. Main thread only.
///
/// Applications: one per app_id. A toplevel without app_id is an application of its own: such
/// windows come from unrelated clients (a game, a toolkit's early window), and lumping them
/// would make one "application" whose activation, focused window and window cycling mix them.
/// Process ids: windows whose app_id is Options::ownAppId are ownPid's. Any other application
/// has the pid sway reports for its views, unless its views disagree, sway knows none, the pid
/// is ours, or another application claims the same pid (two app_ids of one process, a
/// terminal server): then kSyntheticPidBase + n, n fixed for the application while it has
/// windows. Those numbers are above the largest pid Linux hands out, so they name no process.
/// When an application's pid changes (sway learns it later), it is reported terminated under
/// the old pid and launched under the new one.
///
/// Window numbers are ToplevelIds. Spaces: with sway, each workspace name is one (ids from 1,
/// kept per name for the life of the process); without sway one Space, 1, holds every window.
class WaylandDesktop final : public Workspace,
                             public Accessibility,
                             public WindowServer,
                             public ApplicationCatalog {
 public:
  /// Who this process is, and where desktop entries are looked up, in which language.
  struct Options {
    /// The app_id of this process's own windows; empty: none is recognised.
    std::string ownAppId;
    Pid ownPid = 0;
    /// Applications folders, most important first; empty: the XDG defaults.
    std::vector<std::string> applicationFolders;
    /// A POSIX locale name; empty: the locale of messages from the environment.
    std::string locale;
  };
  /// What sway's IPC tells, when sway runs; both may be empty.
  struct Sway {
    /// Every view of sway's tree now.
    std::function<std::vector<sway::SwayView>()> views;
    /// Runs "[con_id=N] focus"; false when sway refused it or could not be asked.
    std::function<bool(std::int64_t conId)> focusByCon;
  };

  /// Where the process ids of applications without a trustworthy pid start (see above).
  static constexpr Pid kSyntheticPidBase = 0x40000000;
  /// How long an activation waits for the compositor's answer.
  static constexpr double kActivationBoundSeconds = ActivationWait::kBoundSeconds;
  /// The connection id mainConnectionID hands out; any other is refused.
  static constexpr std::int32_t kConnectionID = 1;
  /// The error every accessibility call answers once the compositor withdrew the toplevels.
  static constexpr int kAPIDisabled = -25211;
  /// Registering anything but "AXFocusedWindowChanged" on an application element.
  static constexpr int kNotificationUnsupported = -25207;
  /// Registering a notification the observer has already.
  static constexpr int kNotificationAlreadyRegistered = -25209;
  /// What the (missing) symbolic-hotkey setter answers.
  static constexpr int kHotKeyFailure = 1000;

  /// Reads the current toplevels (and views) at once and follows `source` from then on; the
  /// state found is not announced. `loop` times the answers to activations.
  WaylandDesktop(ToplevelSource& source, RunLoop& loop, Sway sway, Options options);
  ~WaylandDesktop() override;
  WaylandDesktop(const WaylandDesktop&) = delete;
  WaylandDesktop& operator=(const WaylandDesktop&) = delete;

  /// Sway reported a window or workspace event: its views are read again.
  void swayTreeChanged();
  /// The output the focused window is on (sway's word for it, else the protocol's first);
  /// empty when unknown. The panels open there.
  std::string focusedOutput() const;
  /// Sees each toplevel that becomes the focused one, as the desktop handles the change.
  void setFocusObserver(std::function<void(ToplevelId)> observer) {
    focusObserver_ = std::move(observer);
  }

  // --- Workspace (wayland_desktop_workspace.cpp) ----------------------------------------------

  Pid ownPid() const override { return options_.ownPid; }
  std::vector<RunningApp> runningApplications() const override;
  std::optional<RunningApp> application(Pid pid) const override;
  /// The application of the focused toplevel; kept while nothing is activated (an overlay of
  /// ours holds the keyboard), reset when that application ends.
  std::optional<Pid> frontmostPid() const override { return frontmost_; }
  ObserverToken addObserver(WorkspaceEvent event, AppHandler handler) override;
  void removeObserver(ObserverToken token) override { observers_.removeWorkspace(token); }
  /// Applications are never hidden on Wayland: nothing to do.
  void unhide(Pid) override {}
  /// Asks the compositor to activate the window raised just before when it is the
  /// application's, else its main, else its most recently focused, else its first window
  /// (switching sway to its workspace first when that is not visible), and answers true when
  /// that toplevel is reported activated within kActivationBoundSeconds, false when the bound
  /// passes, it closes, or a newer activation supersedes it. Answers always come from the loop.
  bool activate(Pid pid, ActivationAnswer answer) override;
  void openApplication(const std::string& bundleLocation) override;
  bool openURL(const std::string& url) override;
  std::optional<std::string> iconPNG(const std::string& bundleID) const override;
  /// Wayland has no hidden applications: a window is shown, minimized or closed.
  bool hidesApplications() const override { return false; }

  // ApplicationCatalog: the desktop entries of the applications folders.
  std::vector<InstalledApplication> installedApplications() override;
  std::optional<std::string> displayName(const std::string& bundleID) override;

  // --- Accessibility (wayland_desktop_accessibility.cpp) --------------------------------------

  /// True while the compositor lends its toplevel list.
  bool isProcessTrusted() const override { return trusted_; }
  /// There is nothing to ask the user for: the compositor lends the list or it does not.
  bool isProcessTrustedWithPrompt() override { return trusted_; }
  std::optional<std::string> permissionSettingsURL() const override { return std::nullopt; }
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

  // --- Window server (wayland_desktop_window_server.cpp) --------------------------------------

  /// Every window not minimized, the focused one first, then by how recently each was focused
  /// (at start: sway's focus order). Wayland tells nothing of stacking, and the core reads
  /// this list to seed its focus history, so windows on hidden workspaces are in it too.
  std::optional<std::vector<WindowInfo>> onScreenWindows() override;
  /// Every window, in the same order.
  std::optional<std::vector<WindowInfo>> allWindows() override;
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
  /// No protocol tells when another client holds the keyboard.
  bool isSecureInputEnabled() override { return false; }
  std::optional<Pid> secureInputHolderPid() override { return std::nullopt; }
  /// kill(pid, 0) for real pids; a synthetic pid exists while its application has windows.
  bool processExists(Pid pid) override;

 private:
  /// An application's identity: its app_id, or for a window without one, that window.
  struct GroupKey {
    std::string appId;
    ToplevelId lone = 0;
    auto operator<=>(const GroupKey&) const = default;
  };
  struct Window {
    ToplevelState state;
    Pid pid = 0;
    /// Larger is focused more recently; 0 never (as far as this process saw).
    std::uint64_t recency = 0;
  };
  struct App {
    GroupKey key;
    Pid pid = 0;
    std::uint64_t serial = 0;
    RunningApp info;
    /// The window AXMain or the latest focus change made main.
    std::optional<ToplevelId> main;
    /// Its windows in announcement order.
    std::vector<ToplevelId> windows;
  };
  /// Notifications found while handling an event, delivered once the state is consistent.
  struct AppNote {
    WorkspaceEvent event;
    RunningApp app;
  };
  struct FocusNote {
    Pid pid;
    ToplevelId window;
    std::uint64_t serial;
  };
  using Note = std::variant<AppNote, FocusNote>;
  /// The window the latest raise (or unminimize) was for.
  struct Raise {
    Pid pid;
    ToplevelId window;
    /// The request went out; false when the window was gone, or another application has
    /// taken the focus since.
    bool sent = false;
  };
  /// Marks a call of the interfaces (or a delivery) in progress: notes found meanwhile wait
  /// for the loop. Safe when the desktop is destroyed inside the call.
  class Busy {
   public:
    explicit Busy(WaylandDesktop& desktop) : desktop_(desktop), alive_(desktop.alive_) {
      ++desktop_.busy_;
    }
    ~Busy() {
      if (alive_.lock()) --desktop_.busy_;
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

   private:
    WaylandDesktop& desktop_;
    std::weak_ptr<int> alive_;
  };

  // Following the source and sway (wayland_desktop.cpp).
  void seed();
  void handleChanged(const ToplevelState& state);
  void handleClosed(ToplevelId id);
  void handleFinished();
  void readViews();
  void rematch();
  void regroup();
  void refreshFocus();
  std::optional<ToplevelId> bestActivated() const;
  RunningApp describe(const GroupKey& key, Pid pid);
  void deliverOrDefer();
  void deliver();

  // Grouping (wayland_desktop_grouping.cpp).
  static GroupKey keyOf(const ToplevelState& state);
  /// The pid each group gets, from the matched views and the other groups' claims.
  std::map<GroupKey, Pid> decidePids(const std::map<GroupKey, std::vector<ToplevelId>>& groups);
  std::optional<Pid> swayPid(const std::vector<ToplevelId>& windows) const;
  Pid syntheticPid(const GroupKey& key);

  // Lookups.
  const Window* findWindow(ToplevelId id) const;
  App* findApp(Pid pid);
  const App* findApp(Pid pid) const;
  const sway::SwayView* viewOf(ToplevelId id) const;
  /// The application's window focused most recently; nothing when none ever was.
  std::optional<ToplevelId> lastFocusedOf(const App& app) const;
  AXElement windowElement(ToplevelId id) const;
  /// The windows front to back: the focused one, then by recency, then announcement order.
  std::vector<ToplevelId> frontToBack() const;
  WindowInfo infoOf(ToplevelId id) const;

  // Requests.
  /// Switches sway to the window's workspace when that is hidden, then asks the compositor to
  /// activate it. False when the window is gone.
  bool requestActivation(ToplevelId id);
  std::optional<ToplevelId> activationTarget(const App& app) const;
  void refuse(ActivationAnswer answer);

  // Accessibility (wayland_desktop_accessibility.cpp).
  int reach(const AXElement& element, App*& app, const Window*& window);
  AXResult applicationAttribute(const App& app, std::string_view attribute);
  AXResult windowAttribute(const App& app, const Window& window, std::string_view attribute);
  /// The desktop's part of a registration's checks (see DesktopObservers::NotificationCheck).
  int checkNotification(Pid observed, const AXElement& element, std::string_view notification);

  ToplevelSource& source_;
  RunLoop& loop_;
  Sway sway_;
  Options options_;
  mutable DesktopEntries entries_;
  std::function<void(ToplevelId)> focusObserver_;
  // Deferred and stored callbacks hold a weak copy, so that nothing touches a destroyed desktop.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  bool trusted_ = true;
  std::map<ToplevelId, Window> windows_;
  std::vector<ToplevelId> order_;  // announcement order
  std::uint64_t recencyCounter_ = 0;
  std::vector<sway::SwayView> views_;
  std::map<ToplevelId, std::size_t> viewOf_;    // index into views_
  std::map<ToplevelId, std::int64_t> matched_;  // the con_id each was paired with
  std::map<std::string, std::uint64_t> spaceIds_;
  std::map<GroupKey, Pid> synthetic_;
  Pid nextSynthetic_ = 1;
  std::vector<App> apps_;  // in order of appearance
  std::uint64_t nextSerial_ = 1;
  /// The latest focused toplevel: a brief moment with nothing activated is not a change.
  std::optional<ToplevelId> focused_;
  std::optional<Pid> frontmost_;
  std::optional<Raise> lastRaise_;
  ActivationWait activation_;

  std::vector<Note> notes_;
  int busy_ = 0;
  TimerId deferredDelivery_ = 0;
  system::DesktopObservers observers_;
};

}  // namespace tolvane::wayland
