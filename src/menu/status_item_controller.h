// The tray item: its icon, alert dot and tooltip kept in step with the application's state, a
// primary click that toggles the search palette, and a menu rebuilt at every opening.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/run_loop.h"
#include "diagnostics/debug_log.h"
#include "input/native_switcher_guard.h"
#include "localization/l10n.h"
#include "model/switch_window.h"
#include "platform/accessibility.h"
#include "platform/status_item.h"
#include "platform/system_info.h"
#include "platform/user_interaction.h"
#include "settings/app_settings.h"
#include "views/status_item_view.h"

namespace tolvane {

/// Main thread only; lives as long as the process. The menu never outlives an opening: every
/// opening rebuilds it, so its titles, pause entry, recent windows and notices are current.
/// The icon follows the state within one refresh interval, and at once after a pause toggle
/// and at each menu opening. Nothing is pushed to the item while its appearance is unchanged.
class StatusItemController {
 public:
  static constexpr double kIconRefreshSeconds = 3.0;
  static constexpr std::size_t kRecentWindowCount = 5;
  static constexpr std::size_t kRecentTitleCharacters = 40;
  /// A secure-input holder's name is another program's text: it is cut to this many characters.
  static constexpr std::size_t kHolderNameCharacters = 64;

  struct Services {
    StatusItem& item;
    AppSettings& settings;
    const Accessibility& accessibility;
    const NativeSwitcherGuard& guard;
    SecureInput& secureInput;
    const L10n& l10n;
    RunLoop& runLoop;
    DebugLog& log;
    const UserInteraction& interaction;
    const BundleInfo& bundle;
  };

  /// What other parts of the application do for the tray. Each may be left empty, which makes
  /// its entry do nothing.
  struct Actions {
    /// A primary click on the item: closes the palette when it is open, else shows it.
    std::function<void()> togglePalette;
    /// Shows the palette, or shows it afresh when it is open already.
    std::function<void()> showPalette;
    /// Refreshes the window caches as the palette does when it opens, and answers the windows
    /// without application entries, most recent first.
    std::function<std::vector<SwitchWindow>()> recentWindows;
    std::function<void(const SwitchWindow&)> activate;
    std::function<void()> showSettings;
    std::function<void()> showOnboarding;
    std::function<void()> checkForUpdates;
    std::function<void()> showAbout;
    /// Asks for the permission to read and raise windows (only called while it is missing).
    std::function<void()> requestPermission;
    std::function<void()> quit;
    /// The menu's key-equivalent character for a product key code (" " for Space), if any.
    std::function<std::optional<std::string>(std::uint16_t keyCode)> paletteKeyEquivalent;
    /// Why the palette hotkey is not registered, in words for the user; nothing while it is.
    std::function<std::optional<std::string>()> hotKeyProblem;
    /// The open menu may hold the keyboard (true), or has closed (false): while it is open, a
    /// stalled main thread must not keep the keyboard.
    std::function<void(bool held)> holdKeyboard;
  };

  explicit StatusItemController(Services services, Actions actions = {});
  ~StatusItemController();
  StatusItemController(const StatusItemController&) = delete;
  StatusItemController& operator=(const StatusItemController&) = delete;

  /// Connects the item's click and menu, draws the icon, and starts the refresh timer.
  void start();
  /// Brings the icon, the alert dot and the tooltip in line with the state of the moment.
  void refreshIcon();
  /// The menu as it opens now; also refreshes the icon.
  std::vector<MenuEntry> buildMenu();

  Actions& actions() { return actions_; }

 private:
  struct Appearance {
    MenuBarIconState state = MenuBarIconState::active;
    bool badged = false;
    bool pulse = false;
    std::string tooltip;
    bool operator==(const Appearance&) const = default;
  };

  Appearance currentAppearance();
  std::optional<std::string> secureInputNotice();
  std::optional<std::string> hotKeyProblem() const;
  void noteAvailability();
  MenuEntry paletteEntry() const;
  void appendRecentWindows(std::vector<MenuEntry>& menu);
  void togglePause();
  void run(const std::function<void()>& action) const;

  Services s_;
  Actions actions_;
  TimerId iconTimer_ = 0;
  std::optional<Appearance> shown_;
  std::optional<bool> available_;
};

/// `text` as a menu or tooltip shows it: malformed UTF-8 replaced by U+FFFD, control
/// characters by spaces, and cut after `characters` user-perceived characters (grapheme
/// clusters) without an ellipsis.
std::string displayText(std::string_view text, std::size_t characters);

/// The event flags (eventflags) of a modifier mask in the hot-key encoding.
std::uint64_t eventFlagsOfHotKeyModifiers(std::int64_t modifiers);

}  // namespace tolvane
