// What the core draws on and listens to: screens, panels, the tray item, windows, the beep and
// the local key monitor. The core hands over complete descriptions; the backend only paints
// them and reports clicks and keys back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "platform/event_tap.h"

namespace tolvane {

// Descriptions computed by the core; each is defined beside the view that computes it.
struct SwitcherPanelView;
struct PalettePanelView;
struct StatusItemView;
struct SettingsWindowView;
struct OnboardingWindowView;

class Screens {
 public:
  virtual ~Screens() = default;
  /// The main screen's frame without panels and docks; nothing when there is no screen.
  virtual std::optional<Rect> mainVisibleFrame() const = 0;
  virtual int screenCount() const = 0;
};

/// The switcher HUD: never takes keyboard focus.
class SwitcherPanel {
 public:
  virtual ~SwitcherPanel() = default;
  virtual void show(const SwitcherPanelView& view) = 0;
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
  /// Row clicks, by slot index.
  virtual void setClickHandler(std::function<void(int slot)> handler) = 0;
};

/// The search palette: takes the keyboard while shown without activating this application, so
/// the window the user came from stays the active one until a window is chosen.
class PalettePanel {
 public:
  virtual ~PalettePanel() = default;
  /// Shows the panel, or repaints it in place when it is shown already.
  virtual void show(const PalettePanelView& view) = 0;
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
  /// Every edit of the search field, with the field's whole text (valid UTF-8).
  virtual void setQueryHandler(std::function<void(const std::string& query)> handler) = 0;
  /// A click on a row: `clickCount` 1 for a single click, 2 for a double click.
  virtual void setRowClickHandler(std::function<void(int row, int clickCount)> handler) = 0;
  /// The panel lost the keyboard while shown: a click outside it, another program took the
  /// keyboard, or a watchdog let go of it. Called after the event, on the main thread.
  virtual void setResignHandler(std::function<void()> handler) = 0;
};

/// One entry of a menu; a separator has no title.
struct MenuEntry {
  enum class Kind { item, separator, header };
  Kind kind = Kind::item;
  std::string title;
  bool enabled = true;
  bool checked = false;
  /// The shortcut shown beside the title: one character (" " for Space), with its modifiers
  /// in `keyEquivalentFlags` (eventflags); empty for none.
  std::string keyEquivalent;
  std::uint64_t keyEquivalentFlags = 0;
  /// Bundle id whose icon is shown beside the title, when any.
  std::optional<std::string> iconBundleID;
  std::function<void()> action;
  std::vector<MenuEntry> submenu;
};

/// The tray icon with its menu.
class StatusItem {
 public:
  virtual ~StatusItem() = default;
  /// Whether a tray host shows the item; the application keeps working without one.
  virtual bool isAvailable() const = 0;
  /// Draws the icon, the alert dot and the tooltip from the description.
  virtual void setAppearance(const StatusItemView& view) = 0;
  /// The entries of the menu the next opening shows.
  virtual void setMenu(std::vector<MenuEntry> entries) = 0;
  /// Called just before the menu opens, so it can be rebuilt with fresh windows.
  virtual void setMenuWillOpenHandler(std::function<void()> handler) = 0;
  /// Called when the menu opens (true) and closes (false): while it is open it may hold the
  /// keyboard and the pointer.
  virtual void setMenuVisibilityHandler(std::function<void(bool open)> handler) = 0;
  /// A plain (primary) click on the item; a secondary click opens the menu instead.
  virtual void setClickHandler(std::function<void()> handler) = 0;
};

/// A top-level window painted from a description (settings, onboarding): a normal window that
/// the window manager decorates and the user can close.
template <typename View>
class DescribedWindow {
 public:
  virtual ~DescribedWindow() = default;
  /// Shows the window, or repaints it in place when it is shown already; never raises it.
  virtual void show(const View& view) = 0;
  /// Raises and activates the window with a current user timestamp, so that the window
  /// manager's focus-stealing prevention lets it come forward.
  virtual void bringToFront() = 0;
  /// Closes the window without calling the close handler.
  virtual void close() = 0;
  virtual bool isVisible() const = 0;
  /// The window's frame on the screen; empty while it is not shown.
  virtual Rect frame() const = 0;
  /// Called on the main thread after the user (or the window manager) closed the window.
  virtual void setCloseHandler(std::function<void()> handler) = 0;
};
using SettingsWindow = DescribedWindow<SettingsWindowView>;
using OnboardingWindow = DescribedWindow<OnboardingWindowView>;

/// An application the user could pick: its bundle id (on X11 the desktop-file id) and its name
/// in the user's language.
struct InstalledApplication {
  std::string bundleID;
  std::string name;
  bool operator==(const InstalledApplication&) const = default;
};

/// The applications installed on this computer, whether running or not.
class ApplicationCatalog {
 public:
  virtual ~ApplicationCatalog() = default;
  /// Every application a user could start, sorted by name; entries marked as not for menus
  /// are left out.
  virtual std::vector<InstalledApplication> installedApplications() = 0;
  /// The name of the application with this bundle id in the user's language; nothing when no
  /// installed application has it.
  virtual std::optional<std::string> displayName(const std::string& bundleID) = 0;
};

/// What an update check found, in the interface language: a newer release and where to get it,
/// no newer release, or a check that failed.
struct UpdateNotice {
  std::string title;
  std::string message;
  /// The release's web page (http or https only), opened by a button labelled `downloadLabel`;
  /// nothing when there is no page to offer.
  std::optional<std::string> downloadPage;
  std::string downloadLabel;
  /// The button that closes the notice.
  std::string dismissLabel;
};

/// Small interactions with the user that need no window of the core's own.
class UserInteraction {
 public:
  virtual ~UserInteraction() = default;
  virtual void beep() = 0;
  /// Whether the desktop asks for reduced motion (no pulsing, no decorative animation).
  virtual bool prefersReducedMotion() const { return false; }
  /// The desktop's about box for this application, with its name and version.
  virtual void showAbout(const std::string& applicationName, const std::string& version) = 0;
  /// Lets the user pick any number of `candidates` (shown with their names and icons) in a
  /// dialog titled `title`; `done` receives the chosen bundle ids (empty on cancel). It does not
  /// wait for the answer.
  virtual void chooseApplications(const std::vector<InstalledApplication>& candidates,
                                  const std::string& title,
                                  std::function<void(std::vector<std::string>)> done) = 0;
  /// A small message box with the notice; it does not wait for an answer. A notice still open
  /// gives way to the new one.
  virtual void showUpdateNotice(const UpdateNotice& notice) = 0;
};

using MonitorToken = std::uint64_t;

/// Key-down events aimed at this application's own windows, seen before the focused control.
class LocalKeyMonitor {
 public:
  /// Returns true to swallow the event.
  using Handler = std::function<bool(const KeyEvent&)>;
  virtual ~LocalKeyMonitor() = default;
  virtual MonitorToken addKeyDownMonitor(Handler handler) = 0;
  virtual void removeMonitor(MonitorToken token) = 0;
};

}  // namespace tolvane
