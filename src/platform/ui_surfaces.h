// What the core draws on and listens to: screens, panels, the tray item, windows, the beep and
// the local key monitor. The core hands over complete descriptions; the backend only paints
// them and reports clicks and keys back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/event_tap.h"
#include "platform/geometry.h"

namespace tolvane {

// Descriptions computed by the core; each is defined beside the view that computes it.
struct SwitcherPanelView;
struct PalettePanelView;
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

/// The search palette: takes keyboard focus while shown.
class PalettePanel {
 public:
  virtual ~PalettePanel() = default;
  virtual void show(const PalettePanelView& view) = 0;
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
  virtual void setQueryHandler(std::function<void(const std::string& query)> handler) = 0;
  virtual void setClickHandler(std::function<void(int row)> handler) = 0;
};

/// One entry of a menu; a separator has no title.
struct MenuEntry {
  enum class Kind { item, separator, header };
  Kind kind = Kind::item;
  std::string title;
  bool enabled = true;
  bool checked = false;
  std::string keyEquivalent;
  /// Bundle id whose icon is shown beside the title, when any.
  std::optional<std::string> iconBundleID;
  std::function<void()> action;
  std::vector<MenuEntry> submenu;
};

/// The tray icon with its menu.
class StatusItem {
 public:
  virtual ~StatusItem() = default;
  /// The icon by name (the backend maps names to images) and its tooltip.
  virtual void setIcon(const std::string& name, const std::string& tooltip) = 0;
  virtual void setMenu(std::vector<MenuEntry> entries) = 0;
  /// Called just before the menu opens, so it can be rebuilt with fresh windows.
  virtual void setMenuWillOpenHandler(std::function<void()> handler) = 0;
};

/// A top-level window painted from a description (settings, onboarding).
template <typename View>
class DescribedWindow {
 public:
  virtual ~DescribedWindow() = default;
  virtual void show(const View& view) = 0;
  virtual void close() = 0;
  virtual bool isVisible() const = 0;
};
using SettingsWindow = DescribedWindow<SettingsWindowView>;
using OnboardingWindow = DescribedWindow<OnboardingWindowView>;

/// Small interactions with the user that need no window of the core's own.
class UserInteraction {
 public:
  virtual ~UserInteraction() = default;
  virtual void beep() = 0;
  /// Lets the user pick applications; `done` receives their locations (empty on cancel).
  virtual void chooseApplications(std::function<void(std::vector<std::string>)> done) = 0;
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
