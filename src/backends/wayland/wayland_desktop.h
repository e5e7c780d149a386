// The real desktop on Wayland (wlroots compositors with sway first, and KDE Plasma): the announced
// toplevels, grouped by app_id, fed to the desktop model, which serves the workspace,
// accessibility, window server and catalog from them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "backends/desktop_model/desktop_model.h"
#include "backends/sway/sway_view.h"
#include "backends/wayland/toplevel_model.h"
#include "backends/wayland/wayland_desktop_activation.h"
#include "base/run_loop.h"

namespace tolvane::wayland {

/// Feeds the desktop model from a ToplevelSource, with what sway's IPC adds when it is there
/// (process ids, workspaces, the focus history) or what the states carry on Plasma (process ids,
/// virtual desktops). A toplevel that asks to be skipped by switchers is left out altogether.
/// Everything is answered from the state as of the latest `done`; notifications and observer
/// callbacks are delivered from the source's handlers (or swayTreeChanged) once that state is
/// consistent, never from inside a call of these interfaces. Main thread only.
///
/// Applications: one per app_id. A toplevel without app_id is an application of its own: such
/// windows come from unrelated clients (a game, a toolkit's early window), and lumping them
/// would make one "application" whose activation, focused window and window cycling mix them.
/// Process ids: windows whose app_id is Options::ownAppId, or whose reported pid is ownPid, are
/// ownPid's. Any other application has the pid the compositor reports for its windows (else
/// the one sway reports for its views), unless they disagree, none is known, the pid
/// is ours, or another application claims the same pid (two app_ids of one process, a
/// terminal server): then kSyntheticPidBase + n, n fixed for the application while it has
/// windows. Those numbers are above the largest pid Linux hands out, so they name no process.
/// When an application's pid changes (sway learns it later), it is reported terminated under
/// the old pid and launched under the new one.
///
/// Window numbers are ToplevelIds; a window element's serial is its application's. Spaces: with
/// sway, each workspace name is one; where the states name virtual desktops, each desktop id is
/// one, and a window on all desktops is on every Space (ids from 1, kept per name for the life
/// of the process); else one Space, 1, holds every window.
class WaylandDesktop final : public desktop::DesktopModel {
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

  /// How long an activation waits for the compositor's answer.
  static constexpr double kActivationBoundSeconds = ActivationWait::kBoundSeconds;

  /// Reads the current toplevels (and views) at once and follows `source` from then on; the
  /// state found is not announced. `loop` times the answers to activations.
  WaylandDesktop(ToplevelSource& source, RunLoop& loop, Sway sway, Options options);
  ~WaylandDesktop() override;

  /// Sway reported a window or workspace event: its views are read again.
  void swayTreeChanged();
  /// The output the focused window is on (sway's word for it, else the protocol's first);
  /// empty when unknown. The panels open there.
  std::string focusedOutput() const;

  // --- Workspace (wayland_desktop_workspace.cpp) ----------------------------------------------

  /// Asks the compositor to activate the window raised just before when it is the
  /// application's, else its main, else its most recently focused, else its first window
  /// (switching sway to its workspace first when that is not visible), and answers true when
  /// that toplevel is reported activated within kActivationBoundSeconds, false when the bound
  /// passes, it closes, or a newer activation supersedes it. Answers always come from the loop.
  bool activate(Pid pid, ActivationAnswer answer) override;

  // --- Window server (wayland_desktop_window_server.cpp) --------------------------------------

  /// Every window not minimized, the focused one first, then by how recently each was focused
  /// (at start: sway's focus order). Wayland tells nothing of stacking, and the core reads
  /// this list to seed its focus history, so windows on hidden workspaces are in it too.
  std::optional<std::vector<WindowInfo>> onScreenWindows() override;
  /// Every window, in the same order.
  std::optional<std::vector<WindowInfo>> allWindows() override;

 private:
  struct Window {
    ToplevelState state;
    Pid pid = 0;
    /// Larger is focused more recently; 0 never (as far as this process saw).
    std::uint64_t recency = 0;
  };

  // Following the source and sway (wayland_desktop.cpp).
  void seed();
  void handleChanged(const ToplevelState& state);
  void handleClosed(ToplevelId id);
  void handleFinished();
  void readViews();
  /// Gives each virtual desktop the state names a Space id, once.
  void noteDesktops(const ToplevelState& state);
  /// Whether any window names its virtual desktops: they are the Spaces then.
  bool desktopsKnown() const;
  void rematch();
  void regroup();
  void refreshFocus();
  std::optional<ToplevelId> bestActivated() const;
  RunningApp describe(const desktop::AppKey& key, Pid pid) const;

  // Grouping (wayland_desktop_grouping.cpp).
  desktop::AppKey keyOf(const ToplevelState& state) const;
  desktop::AppKey ownKey() const { return desktop::AppKey{.name = options_.ownAppId}; }
  /// The pid each group gets, from the matched views and the other groups' claims.
  std::map<desktop::AppKey, Pid> decidePids(
      const std::map<desktop::AppKey, std::vector<ToplevelId>>& groups);
  std::optional<Pid> reportedPid(const std::vector<ToplevelId>& windows) const;

  // Lookups.
  const Window* findWindow(ToplevelId id) const;
  const sway::SwayView* viewOf(ToplevelId id) const;
  /// The application's window focused most recently; nothing when none ever was.
  std::optional<ToplevelId> lastFocusedOf(const App& app) const;
  /// The windows front to back: the focused one, then by recency, then announcement order.
  std::vector<ToplevelId> frontToBack() const;
  WindowInfo infoOf(ToplevelId id) const;

  // Requests (wayland_desktop_workspace.cpp).
  /// Switches sway to the window's workspace when that is hidden, then asks the compositor to
  /// activate it. False when the window is gone.
  bool requestActivation(ToplevelId id);
  std::optional<ToplevelId> activationTarget(const App& app) const;
  void refuse(ActivationAnswer answer);

  // The model's questions (wayland_desktop_accessibility.cpp).
  AXElement windowElement(desktop::WindowNumber id) const override;
  bool windowReachable(const App& owner, const desktop::DesktopElement& element) const override;
  std::optional<desktop::WindowNumber> focusedWindowOf(const App& app) const override;
  AXResult windowAttribute(App& app, const desktop::DesktopElement& element,
                           std::string_view attribute) override;
  int minimize(const desktop::DesktopElement& element) override;
  bool restore(const desktop::DesktopElement& element) override;
  bool raise(const desktop::DesktopElement& element) override;
  std::vector<std::uint64_t> spaces() const override;
  std::vector<std::uint32_t> windowsOnSpaces(
      const std::vector<std::uint64_t>& spaces) const override;

  ToplevelSource& source_;
  Sway sway_;
  Options options_;

  std::map<ToplevelId, Window> windows_;
  std::vector<ToplevelId> order_;  // announcement order
  std::uint64_t recencyCounter_ = 0;
  std::vector<sway::SwayView> views_;
  std::map<ToplevelId, std::size_t> viewOf_;       // index into views_
  std::map<ToplevelId, std::int64_t> matched_;     // the con_id each was paired with
  std::map<std::string, std::uint64_t> spaceIds_;  // sway workspace names or desktop ids
  desktop::SyntheticPids synthetic_;
  /// The latest focused toplevel: a brief moment with nothing activated is not a change.
  std::optional<ToplevelId> focused_;
  ActivationWait activation_;
};

}  // namespace tolvane::wayland
