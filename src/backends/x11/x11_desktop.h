// The real desktop on X11: the clients of an EWMH window manager, grouped by process, fed to the
// desktop model, which serves the workspace, accessibility, window server and catalog from them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends/desktop_model/desktop_model.h"
#include "backends/x11/activation_watch.h"
#include "backends/x11/x11_connection.h"
#include "backends/x11/x11_ewmh.h"
#include "base/run_loop.h"
#include "platform/window_icon.h"

namespace tolvane::x11 {

/// Feeds the desktop model from one X connection. Everything the switcher asks on a key press
/// (the running applications, the window lists) and the attributes of single windows come from
/// a cache that the windows' own events keep current: PropertyNotify drops what a property
/// change made stale, ConfigureNotify brings the new size, DestroyNotify makes the window's
/// element answer -25202 before the window manager has unlisted it. So a refresh of an
/// application whose windows did not change asks the server nothing. Windows of this very
/// connection (Tolvane's own) keep the event masks their owner chose: they are read from the
/// server on every ask. Notifications and observer callbacks are delivered from the
/// connection's event handler on the main thread, never from inside a call. Main thread only.
///
/// Process ids: the windows this connection created are this process's, whatever their
/// `_NET_WM_PID` says. Any other window's application is its `_NET_WM_PID`, unless that names
/// this process, no process at all (missing, not a pid, not running) or one on another machine:
/// then the window is grouped by the X client that created it, under kSyntheticPidBase plus
/// the client's index in the server's resource-id space. Those numbers are above the largest
/// pid Linux can hand out (2^22), so they never name a real process.
///
/// Window numbers are XIDs; a window element's serial is its client window's incarnation.
/// Spaces are EWMH desktops: desktop n (counting from 0) is Space n + 1, so that no Space is 0.
class X11Desktop final : public desktop::DesktopModel, private EventSink {
 public:
  /// Where applications' desktop entries are looked up, and in which language.
  using Options = Catalog;

  /// Reads the current state at once and follows it through `connection`'s events from then
  /// on. `loop` times the answers to activations; `secureInputProbe` answers whether another
  /// client holds the keyboard.
  X11Desktop(Connection& connection, RunLoop& loop, std::function<bool()> secureInputProbe,
             Options options = {});
  ~X11Desktop() override;

  /// True once the X server is gone; every call then answers with failures, never crashes, and
  /// the application should end with a message.
  bool connectionLost() const override { return connection_.hasFailed(); }

  // --- Workspace (x11_workspace.cpp) ----------------------------------------------------------

  /// Sends the request at once and answers when `_NET_ACTIVE_WINDOW` names the window raised
  /// just before (or, without one, any window of the application), false after
  /// ActivationWatch::kBoundSeconds without it, when the target goes, or when a newer
  /// activation supersedes it.
  bool activate(Pid pid, ActivationAnswer answer) override;
  /// Asks the window manager to activate one of this process's own top-level windows (the
  /// settings window, the guide) as a pager would, with a current server timestamp, which
  /// focus-stealing prevention honours where a plain raise would be refused.
  void activateOwnWindow(std::uint32_t window) { activateWindow(window); }
  /// The window's own icon (`_NET_WM_ICON`, the size nearest to `side` pixels; else the icon
  /// pixmap of its `WM_HINTS`); null when it has none. Read once per window and size and kept until
  /// the property changes or the window goes, so the same pointer comes back meanwhile.
  std::shared_ptr<const WindowIcon> windowIcon(std::uint32_t window, int side);

  // --- Window server (x11_window_server.cpp) --------------------------------------------------

  std::optional<std::vector<WindowInfo>> onScreenWindows() override;
  std::optional<std::vector<WindowInfo>> allWindows() override;
  bool isSecureInputEnabled() override;

 private:
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
  RunningApp describe(Pid pid, const std::vector<desktop::WindowNumber>& windows) const;
  Pid groupPid(xcb_window_t window, const ClientFacts& facts) const;
  Pid syntheticPid(xcb_window_t window) const;
  /// Whether the window was created by this process's own connection.
  bool isOwnResource(xcb_window_t window) const;
  void addClients(const std::vector<xcb_window_t>& windows);

  // Lookups.
  const Client* findClient(xcb_window_t window) const;
  bool isManaged(std::optional<desktop::WindowNumber> window) const;
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

  // The model's questions (x11_desktop_accessibility.cpp).
  AXElement windowElement(desktop::WindowNumber window) const override;
  bool windowReachable(const App& owner, const desktop::DesktopElement& element) const override;
  std::optional<desktop::WindowNumber> focusedWindowOf(const App& app) const override;
  AXResult windowAttribute(App& app, const desktop::DesktopElement& element,
                           std::string_view attribute) override;
  int actionable(const desktop::DesktopElement& element) override;
  int minimize(const desktop::DesktopElement& element) override;
  bool restore(const desktop::DesktopElement& element) override;
  bool raise(const desktop::DesktopElement& element) override;
  std::vector<std::uint64_t> spaces() const override;
  std::vector<std::uint32_t> windowsOnSpaces(
      const std::vector<std::uint64_t>& spaces) const override;
  /// Makes `client`'s title, size and facts current for a read: nothing to do for a followed
  /// window; a window of our own is read again. ax::kSuccess or the error of the read.
  int refreshUnfollowed(Client& client, xcb_window_t window);
  /// Whether an action on the window can go ahead: ax::kSuccess, or the error it answers.
  int checkAlive(const Client& client, xcb_window_t window) const;
  /// Converts a failed read of a live-looking window into the answer for the caller.
  int readError(ReadStatus status) const;
  std::string subroleOf(xcb_atom_t type) const;

  Connection& connection_;
  xcb_connection_t* xcb_;
  Atoms atoms_;
  std::function<bool()> secureInputProbe_;
  std::string hostname_;

  xcb_window_t wmCheckWindow_ = XCB_WINDOW_NONE;
  std::map<xcb_window_t, Client> clients_;
  std::vector<xcb_window_t> clientOrder_;  // `_NET_CLIENT_LIST`
  std::vector<xcb_window_t> stacking_;     // bottom to top
  xcb_window_t active_ = XCB_WINDOW_NONE;
  /// The latest window that was active: a brief None between two focus changes (the window
  /// manager unfocusing before focusing) is not a change of focus.
  xcb_window_t lastFocused_ = XCB_WINDOW_NONE;
  std::uint32_t currentDesktop_ = 0;
  std::uint32_t numberOfDesktops_ = 1;
  xcb_timestamp_t latestServerTime_ = XCB_CURRENT_TIME;

  ActivationWatch activation_;
  mutable std::map<xcb_atom_t, std::string> atomNames_;
};

}  // namespace tolvane::x11
