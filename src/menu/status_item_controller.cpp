// The tray item's appearance, its menu and the menu's actions.
#include "menu/status_item_controller.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include "base/utf8.h"
#include "menu/menu_bar_icon.h"
#include "platform/event_tap.h"

namespace tolvane {

namespace {

constexpr std::string_view kApplicationName = "Tolvane";

struct UTextCloser {
  void operator()(UText* text) const { utext_close(text); }
};

// The bytes of the first `characters` user-perceived characters (grapheme clusters) of the
// valid UTF-8 `text`: a decomposed accent stays with its letter, a flag is never halved.
std::size_t graphemePrefixBytes(const std::string& text, std::size_t characters) {
  UErrorCode status = U_ZERO_ERROR;
  // Over UTF-8 directly, so each boundary is a byte offset into `text`.
  std::unique_ptr<UText, UTextCloser> utf8(
      utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
  std::unique_ptr<icu::BreakIterator> clusters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  // Without ICU's data nothing is cut: the text is already bounded, and a cut by bytes could
  // land inside a character.
  if (U_FAILURE(status)) return text.size();
  clusters->setText(utf8.get(), status);
  if (U_FAILURE(status)) return text.size();
  std::int32_t end = clusters->first();
  for (std::size_t count = 0; count < characters; ++count) {
    const std::int32_t next = clusters->next();
    if (next == icu::BreakIterator::DONE) return text.size();
    end = next;
  }
  return static_cast<std::size_t>(end);
}

MenuEntry separator() {
  return {.kind = MenuEntry::Kind::separator};
}

}  // namespace

std::string displayText(std::string_view text, std::size_t characters) {
  // Clusters longer than this (stacks of combining marks) are cut inside; it bounds the work a
  // hostile title can cause.
  constexpr std::size_t kMostBytesPerCharacter = 64;
  const std::string shown = shownText(text.substr(0, characters * kMostBytesPerCharacter));
  return shown.substr(0, graphemePrefixBytes(shown, characters));
}

std::uint64_t eventFlagsOfHotKeyModifiers(std::int64_t modifiers) {
  std::uint64_t flags = 0;
  if (modifiers & 4096) flags |= eventflags::kControl;
  if (modifiers & 2048) flags |= eventflags::kOption;
  if (modifiers & 512) flags |= eventflags::kShift;
  if (modifiers & 256) flags |= eventflags::kCommand;
  return flags;
}

StatusItemController::StatusItemController(Services services, Actions actions)
    : s_(services), actions_(std::move(actions)) {}

StatusItemController::~StatusItemController() {
  s_.runLoop.cancel(iconTimer_);
  // The item outlives the controller; nothing it keeps may reach back here.
  s_.item.setClickHandler({});
  s_.item.setMenuWillOpenHandler({});
  s_.item.setMenuVisibilityHandler({});
  s_.item.setMenu({});
}

void StatusItemController::start() {
  s_.item.setClickHandler([this] { run(actions_.togglePalette); });
  s_.item.setMenuWillOpenHandler([this] { s_.item.setMenu(buildMenu()); });
  s_.item.setMenuVisibilityHandler([this](bool open) {
    if (actions_.holdKeyboard) actions_.holdKeyboard(open);
  });
  refreshIcon();
  iconTimer_ = s_.runLoop.repeatEvery(kIconRefreshSeconds, [this] { refreshIcon(); });
}

void StatusItemController::noteAvailability() {
  const bool available = s_.item.isAvailable();
  if (available_ == available) return;
  if (!available) {
    s_.log.log(
        "tray: no tray host; the tray icon and its menu are missing until one starts, "
        "switching works without them");
  } else if (available_) {
    s_.log.log("tray: a tray host shows the icon again");
  }
  available_ = available;
}

std::optional<std::string> StatusItemController::secureInputNotice() {
  if (!s_.guard.secureInputBlocking()) return std::nullopt;
  if (const auto holder = s_.secureInput.holderName()) {
    return formatText(s_.l10n.string("menu.secureInput"),
                      displayText(*holder, kHolderNameCharacters));
  }
  return s_.l10n.string("menu.secureInputStale");
}

std::optional<std::string> StatusItemController::hotKeyProblem() const {
  if (!actions_.hotKeyProblem) return std::nullopt;
  auto problem = actions_.hotKeyProblem();
  if (!problem || problem->empty()) return std::nullopt;
  return problem;
}

StatusItemController::Appearance StatusItemController::currentAppearance() {
  Appearance look;
  const bool trusted = s_.accessibility.isProcessTrusted();
  const auto problem = hotKeyProblem();
  if (!trusted) {
    look.state = MenuBarIconState::permissionWarning;
  } else if (s_.settings.switcherPaused()) {
    look.state = MenuBarIconState::paused;
  }
  // A refused palette hotkey is as much in the user's way as a missing permission: both put
  // the dot on the icon; secure input only ever shows in the tooltip and the menu.
  look.badged = !trusted || problem.has_value();
  look.pulse = look.badged && !s_.interaction.prefersReducedMotion();
  if (auto notice = secureInputNotice()) {
    look.tooltip = std::move(*notice);
  } else if (problem) {
    look.tooltip = *problem;
  } else {
    look.tooltip = kApplicationName;
  }
  return look;
}

void StatusItemController::refreshIcon() {
  noteAvailability();
  auto look = currentAppearance();
  if (shown_ == look) return;
  StatusItemView view{.state = look.state,
                      .icon = MenuBarIcon::describe(look.state, look.badged),
                      .badged = look.badged,
                      .pulse = look.pulse,
                      .tooltip = look.tooltip};
  if (look.badged) {
    view.badgeCenter = MenuBarIcon::kBadgeCenter;
    view.badgeDiameter = MenuBarIcon::badgeDiameter(MenuBarIcon::kSize);
  }
  if (look.pulse) {
    view.pulseScales = MenuBarIcon::pulseFrames();
    view.pulseFrameSeconds = MenuBarIcon::kPulseFrameSeconds;
  }
  s_.item.setAppearance(view);
  shown_ = std::move(look);
}

MenuEntry StatusItemController::paletteEntry() const {
  MenuEntry entry{.title = s_.l10n.string("menu.open"),
                  .action = [this] { run(actions_.showPalette); }};
  const auto keyCode = s_.settings.paletteKeyCode();
  if (actions_.paletteKeyEquivalent && keyCode >= 0 &&
      keyCode <= std::numeric_limits<std::uint16_t>::max()) {
    if (auto key = actions_.paletteKeyEquivalent(static_cast<std::uint16_t>(keyCode))) {
      entry.keyEquivalent = std::move(*key);
      entry.keyEquivalentFlags = eventFlagsOfHotKeyModifiers(s_.settings.paletteModifiers());
    }
  }
  return entry;
}

void StatusItemController::appendRecentWindows(std::vector<MenuEntry>& menu) {
  if (!s_.accessibility.isProcessTrusted() || !actions_.recentWindows) return;
  const auto windows = actions_.recentWindows();
  if (windows.empty()) return;
  menu.push_back(separator());
  std::string ids;
  const auto count = std::min(windows.size(), kRecentWindowCount);
  for (std::size_t i = 0; i < count; ++i) {
    const SwitchWindow& window = windows[i];
    const auto& title = window.title().empty() ? window.appName() : window.title();
    menu.push_back({.title = displayText(title, kRecentTitleCharacters),
                    .iconBundleID = window.bundleID(),
                    .action = [this, window] {
                      // A window closed since the menu opened still goes to the activator,
                      // which reports the failure.
                      if (actions_.activate) actions_.activate(window);
                    }});
    ids += (ids.empty() ? "" : ",") + std::to_string(window.id());
  }
  s_.log.log("tray: menu lists recent windows " + ids);
}

std::vector<MenuEntry> StatusItemController::buildMenu() {
  refreshIcon();
  std::vector<MenuEntry> menu;
  if (!s_.accessibility.isProcessTrusted()) {
    menu.push_back({.title = s_.l10n.string("menu.grantPermission"), .action = [this] {
                      if (!s_.accessibility.isProcessTrusted()) run(actions_.requestPermission);
                    }});
    menu.push_back(separator());
  }
  if (auto notice = secureInputNotice()) {
    menu.push_back({.title = std::move(*notice), .enabled = false});
    menu.push_back(separator());
  }
  menu.push_back(paletteEntry());
  appendRecentWindows(menu);
  menu.push_back(separator());
  const bool paused = s_.settings.switcherPaused();
  menu.push_back({.title = s_.l10n.string(paused ? "menu.resume" : "menu.pause"),
                  .checked = paused,
                  .action = [this] { togglePause(); }});
  menu.push_back(separator());
  // A desktop without a settings window or a guide shows their entries disabled rather than
  // doing nothing.
  menu.push_back({.title = s_.l10n.string("menu.settings"),
                  .enabled = static_cast<bool>(actions_.showSettings),
                  .keyEquivalent = ",",
                  .keyEquivalentFlags = eventflags::kCommand,
                  .action = [this] { run(actions_.showSettings); }});
  menu.push_back({.title = s_.l10n.string("menu.guide"),
                  .enabled = static_cast<bool>(actions_.showOnboarding),
                  .action = [this] { run(actions_.showOnboarding); }});
  if (s_.bundle.feedURL) {
    menu.push_back({.title = s_.l10n.string("menu.check_updates"),
                    .action = [this] { run(actions_.checkForUpdates); }});
  }
  menu.push_back(
      {.title = s_.l10n.string("menu.about"), .action = [this] { run(actions_.showAbout); }});
  menu.push_back(separator());
  menu.push_back({.title = s_.l10n.string("menu.quit"),
                  .keyEquivalent = "q",
                  .keyEquivalentFlags = eventflags::kCommand,
                  .action = [this] { run(actions_.quit); }});
  return menu;
}

void StatusItemController::togglePause() {
  const bool paused = !s_.settings.switcherPaused();
  s_.settings.setSwitcherPaused(paused);
  s_.log.log(paused ? "tray: switching paused" : "tray: switching resumed");
  refreshIcon();
}

void StatusItemController::run(const std::function<void()>& action) const {
  if (action) action();
}

}  // namespace tolvane
