// The real desktop on X11: running applications (the clients of an EWMH window manager grouped
// by process), their windows as accessibility elements, and the window lists and desktops of
// the window server. One object serves all three services, like the simulated desktop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "backends/system/desktop_entries.h"
#include "backends/system/desktop_observers.h"
#include "backends/x11/activation_watch.h"
#include "backends/x11/x11_connection.h"
#include "backends/x11/x11_ewmh.h"
#include "base/run_loop.h"
#include "platform/accessibility.h"
#include "platform/application_catalog.h"
#include "platform/window_icon.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tolvane::x11 {

using system::DesktopEntries;
using system::DesktopEntry;

/// An accessibility element of the X11 desktop. `serial` names one incarnation of the
/// application or window: a process id or XID that comes back later does not revive an old
/// element.
class X11Element final : public AXElementRef {
 public:
  enum class Kind { systemWide, application, window };

  X11Element(Kind kind, Pid pid, xcb_window_t window, std::uint64_t serial)
      : kind(kind), pid(pid), window(window), serial(serial) {}

  const Kind kind;
  const Pid pid;
  /// The client window's XID for a window element; XCB_WINDOW_NONE otherwise.
  const xcb_window_t window;
  const std::uint64_t serial;
};

/// Workspace, accessibility and window server on one X connection. Everything the switcher
/// asks on a key press (the running applications, the window lists) and the attributes of
/// single windows come from a cache that the windows' own events keep current: PropertyNotify
/// drops what a property change made stale, ConfigureNotify brings the new size, DestroyNotify
/// makes the window's element answer -25202 before the window manager has unlisted it. So a
/// refresh of an application whose windows did not change asks the server nothing. Windows of
/// this very connection (Tolvane's own) keep the event masks their owner chose: they are read
/// from the server on every ask. Notifications and observer callbacks are delivered from the
/// connection's event handler on the main thread, never from inside a call. Main thread only.
///
/// Process ids: the windows this connection created are this process's, whatever their
/// `_NET_WM_PID` says. Any other window's application is its `_NET_WM_PID`, unless that names
/// this process, no process at all (missing, not a pid, not running) or one on another machine:
/// then the window is grouped by the X client that created it, under kSyntheticPidBase plus
/// the client's index in the server's resource-id space. Those numbers are above the largest
/// pid Linux can hand out (2^22), so they never name a real process.
///
/// Spaces are EWMH desktops: desktop n (counting from 0) is Space n + 1, so that no Space is 0.
class X11Desktop final : public Workspace,
                         public Accessibility,
                         public WindowServer,
                         public ApplicationCatalog,
                         private EventSink {
 public:
  /// Where applications' desktop entries are looked up, and in which language.
  struct Options {
    /// Applications folders, most important first; empty: the XDG defaults.
    std::vector<std::string> applicationFolders;
    /// A POSIX locale name; empty: the locale of messages from the environment.
    std::string locale;
  };

  /// Where the process ids of windows without a trustworthy `_NET_WM_PID` start (see above).
  static constexpr Pid kSyntheticPidBase = 0x40000000;
  /// The connection id mainConnectionID hands out; any other is refused.
  static constexpr std::int32_t kConnectionID = 1;
  /// The error every accessibility call answers while no EWMH window manager runs.
  static constexpr int kAPIDisabled = -25211;
  /// Registering anything but "AXFocusedWindowChanged" on an application element.
  static constexpr int kNotificationUnsupported = -25207;
  /// Registering a notification the observer has already.
  static constexpr int kNotificationAlreadyRegistered = -25209;
  /// What the (missing) symbolic-hotkey setter answers.
  static constexpr int kHotKeyFailure = 1000;

  /// Reads the current state at once and follows it through `connection`'s events from then
  /// on. `loop` times the answers to activations; `secureInputProbe` answers whether another
  /// client holds the keyboard.
  X11Desktop(Connection& connection, RunLoop& loop, std::function<bool()> secureInputProbe,
             Options options = {});
  ~X11Desktop() override;
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  Workspace& workspace() { return *this; }
  Accessibility& accessibility() { return *this; }
  WindowServer& windowServer() { return *this; }

  /// True once the X server is gone; every call then answers with failures, never crashes, and
  /// the application should end with a message.
  bool connectionLost() const { return connection_.hasFailed(); }
  /// Sees each window that becomes the active one, as the desktop handles the change (a
  /// verbose run prints them; tests wait on them).
  void setFocusObserver(std::function<void(std::uint32_t window)> observer) {
    focusObserver_ = std::move(observer);
  }

  // --- Workspace ------------------------------------------------------------------------------

  Pid ownPid() const override { return ownPid_; }
  std::vector<RunningApp> runningApplications() const override;
  std::optional<RunningApp> application(Pid pid) const override;
  std::optional<Pid> frontmostPid() const override;
  ObserverToken addObserver(WorkspaceEvent event, AppHandler handler) override;
  void removeObserver(ObserverToken token) override { observers_.removeWorkspace(token); }
  /// Applications are never hidden on X11: nothing to do.
  void unhide(Pid pid) override;
  /// Sends the request at once and answers when `_NET_ACTIVE_WINDOW` names the window raised
  /// just before (or, without one, any window of the application), false after
  /// ActivationWatch::kBoundSeconds without it, when the target goes, or when a newer
  /// activation supersedes it.
  bool activate(Pid pid, ActivationAnswer answer) override;
  /// Asks the window manager to activate one of this process's own top-level windows (the
  /// settings window, the guide) as a pager would, with a current server timestamp, which
  /// focus-stealing prevention honours where a plain raise would be refused.
  void activateOwnWindow(std::uint32_t window) { activateWindow(window); }
  void openApplication(const std::string& bundleLocation) override;
  bool openURL(const std::string& url) override;
  std::optional<std::string> iconPNG(const std::string& bundleID) const override;
  /// X11 has no hidden applications: a window is mapped, minimised or closed.
  bool hidesApplications() const override { return false; }

  // ApplicationCatalog: the desktop entries of the applications folders.
  std::vector<InstalledApplication> installedApplications() override;
  std::optional<std::string> displayName(const std::string& bundleID) override;
  /// The window's own icon (`_NET_WM_ICON`, the size nearest to `side` pixels; else the icon
  /// pixmap of its `WM_HINTS`); null when it has none. Read once per window and size and kept until
  /// the property changes or the window goes, so the same pointer comes back meanwhile.
  std::shared_ptr<const WindowIcon> windowIcon(std::uint32_t window, int side);

  // --- Accessibility --------------------------------------------------------------------------

  bool isProcessTrusted() const override { return trusted_; }
  /// There is nothing to ask the user for: a window manager runs or it does not.
  bool isProcessTrustedWithPrompt() override;
  /// Nothing: no setting grants the permission, a running EWMH window manager is all it takes.
  std::optional<std::string> permissionSettingsURL() const override { return std::nullopt; }
  AXElement applicationElement(Pid pid) override;
  AXElement systemWideElement() override;
  AXResult copyAttribute(const AXElement& element, std::string_view attribute) override;
  int setAttribute(const AXElement& element, std::string_view attribute,
                   const AXValue& value) override;
  int performAction(const AXElement& element, std::string_view action) override;
  /// Accepted and kept, without effect: requests go to the X server, which answers for hung
  /// applications too.
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
  /// Every managed window is in its application's "AXWindows" already: no tokens needed.
  bool hasRemoteTokens() const override { return false; }
  AXElement elementFromRemoteToken(const RemoteToken&) override { return nullptr; }
  /// Plain X11 has no system switcher hotkeys to stand down.
  bool hasSymbolicHotKeySetter() const override { return false; }
  int setSymbolicHotKeyEnabled(std::int32_t, bool) override { return kHotKeyFailure; }
  std::optional<bool> isSymbolicHotKeyEnabled(std::int32_t) override { return std::nullopt; }
  bool isSecureInputEnabled() override;
  /// X does not say which client holds a keyboard grab.
  std::optional<Pid> secureInputHolderPid() override { return std::nullopt; }
  bool processExists(Pid pid) override;

 private:
  /// Whether a local process runs (kill(pid, 0); EPERM means it does, as another user's).
  static bool processAlive(Pid pid);

  struct Client {
    std::uint64_t serial = 0;
    Pid pid = 0;
    ClientFacts facts;
    /// Whether this desktop hears the window's property, size and destruction events, which
    /// keep `facts`, `title` and `size` current.
    bool followed = false;
    /// Its DestroyNotify was handled: the window is gone, whatever the client list says yet.
    bool destroyed = false;
    /// The title as last read (nothing inside: the window has none); unknown after a change.
    std::optional<std::optional<std::string>> title;
    /// The size as last read or announced; unknown when a read failed.
    std::optional<PixelSize> size;
    /// Its own icon by the side asked for, as read (null: it has none); dropped when
    /// `_NET_WM_ICON` or `WM_HINTS` changes.
    std::map<int, std::shared_ptr<const WindowIcon>> icons;
  };
  struct App {
    Pid pid = 0;
    std::uint64_t serial = 0;
    RunningApp info;
    /// The window AXMain or the latest activation made main.
    std::optional<xcb_window_t> main;
    /// The application's window that was `_NET_ACTIVE_WINDOW` most recently.
    std::optional<xcb_window_t> lastActive;
    /// Its windows in client-list order, as `info` was last described from them.
    std::vector<xcb_window_t> windows;
    /// A fact of one of its windows changed since `info` was described.
    bool stale = false;
  };
  /// Notifications found while handling an event, delivered once the state is consistent.
  struct AppNote {
    WorkspaceEvent event;
    RunningApp app;
  };
  struct FocusNote {
    Pid pid;
    xcb_window_t window;
    std::uint64_t serial;
  };
  using Note = std::variant<AppNote, FocusNote>;
  /// One incarnation of a window the latest raise (or unminimize) was for.
  struct Raise {
    Pid pid;
    xcb_window_t window;
    std::uint64_t serial;
    /// The request went out; false when the window was already dead, or when another
    /// application has taken the focus since.
    bool sent = false;
  };

  // State refreshes (x11_desktop.cpp).
  bool handleEvent(const xcb_generic_event_t& event) override;
  void handleRootProperty(xcb_atom_t atom);
  void handleClientProperty(xcb_window_t window, xcb_atom_t atom);
  void handleClientStructure(const xcb_generic_event_t& event);
  void noteServerTime(const xcb_generic_event_t& event);
  void refreshTrust();
  void refreshClientList();
  void refreshStacking();
  void refreshActive();
  void refreshDesktops();
  void regroup();
  RunningApp describe(Pid pid, const std::vector<xcb_window_t>& windows);
  Pid groupPid(xcb_window_t window, const ClientFacts& facts) const;
  Pid syntheticPid(xcb_window_t window) const;
  /// Whether the window was created by this process's own connection.
  bool isOwnResource(xcb_window_t window) const;
  void addClients(const std::vector<xcb_window_t>& windows);
  void deliver();

  // Lookups.
  const Client* findClient(xcb_window_t window) const;
  App* findApp(Pid pid);
  const App* findApp(Pid pid) const;
  bool isManaged(std::optional<xcb_window_t> window) const;
  AXElement windowElement(xcb_window_t window) const;
  bool isDesktopElement(const Client& client) const;
  bool isVisible(const Client& client) const;
  WindowInfo infoOf(xcb_window_t window, const Client& client) const;

  // Requests to the window manager.
  xcb_timestamp_t timestamp() const;
  void activateWindow(xcb_window_t window);

  // Answers to activations (x11_desktop_activation.cpp).
  /// Follows the request just sent for `pid`, answered for the window the latest raise asked
  /// for when it was one of the application's (else for any of its windows).
  void watchActivation(Pid pid, ActivationAnswer answer);
  std::optional<xcb_window_t> readActiveWindow() const;

  // Accessibility (x11_desktop_accessibility.cpp).
  /// Whether the element is alive: ax::kSuccess with its application (and client, for a
  /// window element), or the error every call on it answers.
  int reach(const AXElement& element, App*& app, Client*& client);
  /// Makes `client`'s title, size and facts current for a read: nothing to do for a followed
  /// window; a window of our own is read again. ax::kSuccess or the error of the read.
  int refreshUnfollowed(Client& client, xcb_window_t window);
  /// Whether an action on the window can go ahead: ax::kSuccess, or the error it answers.
  int checkAlive(const Client& client, xcb_window_t window) const;
  /// Converts a failed read of a live-looking window into the answer for the caller.
  int readError(ReadStatus status) const;
  std::string subroleOf(xcb_atom_t type) const;
  AXResult applicationAttribute(App& app, std::string_view attribute);
  AXResult windowAttribute(App& app, Client& client, xcb_window_t window,
                           std::string_view attribute);
  /// The desktop's part of a registration's checks (see DesktopObservers::NotificationCheck).
  int checkNotification(Pid observed, const AXElement& element, std::string_view notification);

  Connection& connection_;
  xcb_connection_t* xcb_;
  Atoms atoms_;
  std::function<bool()> secureInputProbe_;
  std::function<void(std::uint32_t)> focusObserver_;
  mutable DesktopEntries entries_;
  const Pid ownPid_;
  std::string hostname_;
  // Deferred and stored callbacks hold a weak copy, so that nothing touches a destroyed desktop.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::uint64_t nextSerial_ = 1;

  bool trusted_ = false;
  xcb_window_t wmCheckWindow_ = XCB_WINDOW_NONE;
  std::map<xcb_window_t, Client> clients_;
  std::vector<xcb_window_t> clientOrder_;  // `_NET_CLIENT_LIST`
  std::vector<xcb_window_t> stacking_;     // bottom to top
  std::vector<App> apps_;                  // in order of appearance
  xcb_window_t active_ = XCB_WINDOW_NONE;
  /// The latest window that was active: a brief None between two focus changes (the window
  /// manager unfocusing before focusing) is not a change of focus.
  xcb_window_t lastFocused_ = XCB_WINDOW_NONE;
  std::optional<Pid> frontmost_;
  std::uint32_t currentDesktop_ = 0;
  std::uint32_t numberOfDesktops_ = 1;
  xcb_timestamp_t latestServerTime_ = XCB_CURRENT_TIME;
  /// The window the latest raise was for. Activating its application right after keeps a
  /// window whose raise was sent instead of picking another one, and is answered for this
  /// window whether or not its raise could be sent (a window that died cannot be raised).
  std::optional<Raise> lastRaise_;

  ActivationWatch activation_;

  std::vector<Note> notes_;
  system::DesktopObservers observers_;
  mutable std::map<xcb_atom_t, std::string> atomNames_;
};

}  // namespace tolvane::x11
