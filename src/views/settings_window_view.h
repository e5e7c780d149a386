// What the settings window shows: the sidebar of tabs and the selected tab's page as cards of
// rows, each row with its controls and what a change of each control does. The core builds a
// new description after every change; the backend repaints it in place, keeping scroll
// positions and focus when the page's rows are the same ones (rows and cards have stable ids).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "views/hotkey_recorder_view.h"
#include "views/paint.h"

namespace tolvane {

/// In sidebar order.
enum class SettingsTab { general, switcher, privacy, permissions, account, about };
inline constexpr int kSettingsTabCount = 6;

/// The tab's name in logs, URLs and the names of its widgets ("privacy").
constexpr const char* settingsTabName(SettingsTab tab) {
  constexpr const char* kNames[] = {"general",     "switcher", "privacy",
                                    "permissions", "account",  "about"};
  return kNames[static_cast<int>(tab)];
}

/// An on/off switch.
struct SettingsSwitch {
  bool on = false;
  bool enabled = true;
  std::function<void(bool on)> onChange;
};

/// A pop-up choice (`TLDropdown`), drawn as a pill with a label and a chevron.
struct SettingsDropdown {
  struct Option {
    std::string value;
    std::string title;
  };
  std::vector<Option> options;
  /// The value of the chosen option.
  std::string selection;
  std::function<void(const std::string& value)> onSelect;
};

/// A capsule of symbols, one chosen (`TLSegmented`).
struct SettingsSegmented {
  std::vector<std::string> symbols;
  std::vector<std::string> tooltips;
  int selectedIndex = 0;
  bool enabled = true;
  double width = 120;
  double height = 26;
  std::function<void(int index)> onSelect;
};

/// "Granted" / "Not granted" (`PermissionStatusBadge`) or "Always on" (`AlwaysOnBadge`).
struct SettingsBadge {
  enum class Kind { granted, notGranted, alwaysOn };
  Kind kind = Kind::alwaysOn;
  std::string text;
};

/// A capsule button (`TLPillButton`).
struct SettingsPillButton {
  std::string title;
  bool filled = false;
  bool enabled = true;
  std::function<void()> action;
};

/// The palette hot-key recorder with its chips and reset button.
struct SettingsRecorder {
  HotkeyRecorderView view;
  std::function<void()> onClick;
  std::function<void()> onReset;
};

/// Plain text at the right of a row (an e-mail address).
struct SettingsValueText {
  std::string text;
};

using SettingsControl =
    std::variant<SettingsSwitch, SettingsDropdown, SettingsSegmented, SettingsBadge,
                 SettingsPillButton, SettingsRecorder, SettingsValueText>;

/// One row (`SettingsRow`): texts on the left, controls on the right, in order.
struct SettingsRowView {
  /// Stable across redraws of the same page ("sw.cmdTab").
  std::string id;
  std::string title;
  /// Empty for none.
  std::string subtitle;
  bool titleSemibold = false;
  /// An application icon before the texts (`AppIconView`), by bundle id.
  std::optional<std::string> iconBundleID;
  std::vector<SettingsControl> controls;
};

/// One excluded application.
struct SettingsAppEntry {
  std::string bundleID;
  /// The application's name, or its bundle id when no installed entry names it.
  std::string name;
};

/// The excluded-applications list: a list that scrolls by itself however long it is, a row per
/// entry with the icon (a placeholder when the icon is missing or broken), the name and a
/// remove button (a filled circled cross).
struct SettingsAppListView {
  std::string id;
  std::vector<SettingsAppEntry> entries;
  /// Shown instead of the list when it is empty.
  std::string emptyText;
  std::string removeTooltip;
  std::function<void(const std::string& bundleID)> onRemove;
};

using SettingsCardItem = std::variant<SettingsRowView, SettingsAppListView>;

/// A rounded group (`SettingsCard`) with a thin divider between consecutive items, an optional
/// heading above and a footer note below.
struct SettingsCardView {
  std::string id;
  /// Empty for none.
  std::string title;
  std::string subtitle;
  std::vector<SettingsCardItem> items;
  /// `FooterNote`; empty for none. A tinted note is drawn in the warning colour.
  std::string footer;
  bool footerTinted = false;
};

/// The about page's head: the application icon, its name, version and tagline.
struct SettingsHeroView {
  std::string name;
  std::string version;
  std::string tagline;
};

/// One sidebar entry (`SidebarRow`) with its `IconChip`.
struct SettingsSidebarEntry {
  SettingsTab tab = SettingsTab::general;
  std::string title;
  std::string subtitle;
  /// A freedesktop icon-theme name for the chip's symbol ("preferences-system").
  std::string symbol;
  /// The chip's colour.
  Paint chip{SemanticColor::accent, 1.0};
  bool selected = false;
};

struct SettingsWindowView {
  static constexpr double kWidth = 760;
  static constexpr double kHeight = 520;
  static constexpr double kMinWidth = 720;
  static constexpr double kMinHeight = 480;

  /// "Tolvane Settings" in the interface language.
  std::string windowTitle;
  /// The sidebar's head: the application icon (`TesterModeIcon`) and name.
  std::string applicationName;
  /// At the sidebar's foot.
  std::string version;
  std::vector<SettingsSidebarEntry> sidebar;
  std::function<void(SettingsTab)> onSelectTab;
  /// A click on the sidebar's application icon.
  std::function<void()> onIconClick;

  SettingsTab tab = SettingsTab::general;
  std::string pageTitle;
  std::string pageSubtitle;
  std::optional<SettingsHeroView> hero;
  std::vector<SettingsCardView> cards;
};

}  // namespace tolvane
