// The settings window's sidebar and pages: each page a column of cards of rows, every control
// bound to the setting or service it changes.
#include <array>
#include <string>
#include <utility>

#include "localization/app_language.h"
#include "settings_window/settings_window_controller.h"

namespace tolvane {

namespace {

struct TabLook {
  SettingsTab tab;
  /// A freedesktop icon-theme name.
  std::string_view symbol;
  SemanticColor chip;
};

constexpr std::array<TabLook, kSettingsTabCount> kTabLooks = {{
    {SettingsTab::general, "preferences-system", SemanticColor::secondary},
    {SettingsTab::switcher, "input-keyboard", SemanticColor::accent},
    {SettingsTab::privacy, "security-high", SemanticColor::warn},
    {SettingsTab::permissions, "dialog-password", SemanticColor::warn},
    {SettingsTab::account, "system-users", SemanticColor::accent},
    {SettingsTab::about, "help-about", SemanticColor::secondary},
}};

SettingsCardView card(std::string id, std::vector<SettingsCardItem> items, std::string footer = {},
                      bool footerTinted = false) {
  return {.id = std::move(id),
          .items = std::move(items),
          .footer = std::move(footer),
          .footerTinted = footerTinted};
}

}  // namespace

std::string SettingsWindowController::text(std::string_view key) const {
  return d_.l10n.string(key);
}

std::vector<SettingsSidebarEntry> SettingsWindowController::sidebar() const {
  std::vector<SettingsSidebarEntry> entries;
  for (const TabLook& look : kTabLooks) {
    entries.push_back({.tab = look.tab,
                       .title = text(std::string("tab.") + settingsTabName(look.tab)),
                       .subtitle = text(std::string("sub.") + settingsTabName(look.tab)),
                       .symbol = std::string(look.symbol),
                       .chip = {look.chip, 1.0},
                       .selected = look.tab == tab_});
  }
  return entries;
}

SettingsRowView SettingsWindowController::row(std::string_view titleKey,
                                              std::string_view subtitleKey,
                                              std::vector<SettingsControl> controls) const {
  return {.id = std::string(titleKey),
          .title = text(titleKey),
          .subtitle = subtitleKey.empty() ? std::string() : text(subtitleKey),
          .controls = std::move(controls)};
}

SettingsSwitch SettingsWindowController::toggle(bool on, std::function<void(bool)> set) {
  // Not every service tells of its changes (the update switch): the repaint is asked for here.
  return {.on = on, .onChange = [this, set = std::move(set)](bool value) {
            set(value);
            scheduleRepaint();
          }};
}

SettingsPillButton SettingsWindowController::pill(std::string_view titleKey, bool filled,
                                                  std::function<void()> action) {
  return {.title = text(titleKey), .filled = filled, .action = [this, action = std::move(action)] {
            action();
            scheduleRepaint();
          }};
}

SettingsHeroView SettingsWindowController::hero() const {
  const auto& version = d_.bundle.shortVersion;
  return {.name = "Tolvane",
          .version = formatText(text("about.version"),
                                version && !version->empty() ? *version : "0.1.0 (dev)"),
          .tagline = text("about.tagline")};
}

std::vector<SettingsCardView> SettingsWindowController::generalCards() {
  SettingsDropdown language{.options = {{"", text("common.systemDefault")}}};
  for (const AppLanguage each : kAllLanguages) {
    language.options.push_back({std::string(rawValue(each)), std::string(nativeName(each))});
  }
  // A stored code that names no language leaves the interface following the system.
  const auto& code = d_.settings.languageCode();
  if (code && languageFromRawValue(*code)) language.selection = *code;
  language.onSelect = [this](const std::string& value) {
    if (value.empty()) {
      d_.settings.setLanguageCode(std::nullopt);
    } else if (languageFromRawValue(value)) {
      d_.settings.setLanguageCode(value);
    }
  };
  auto launch =
      toggle(d_.settings.launchAtLogin(), [this](bool on) { d_.settings.setLaunchAtLogin(on); });
  return {card("gen",
               {row("gen.language", "gen.languageSub", {std::move(language)}),
                row("gen.launchLogin", "", {std::move(launch)})},
               text("gen.footer"))};
}

std::vector<SettingsCardView> SettingsWindowController::switcherCards() {
  auto& settings = d_.settings;
  const bool usesAlt = settings.switcherUsesOption();
  SettingsSegmented modifier{
      .symbols = {"Super", "Alt"},
      .tooltips = {text("sw.modifierSuper"), text("sw.modifierAlt")},
      .selectedIndex = usesAlt ? 1 : 0,
      .onSelect = [this](int index) {
        if ((index == 0 || index == 1) && (index == 1) != d_.settings.switcherUsesOption()) {
          d_.settings.setSwitcherUsesOption(index == 1);
        }
      }};
  return {card("sw",
               {row("sw.cmdTab", "sw.cmdTabSub",
                    {toggle(settings.interceptCmdTab(),
                            [this](bool on) { d_.settings.setInterceptCmdTab(on); })}),
                row("sw.modifier", "sw.modifierSub", {std::move(modifier)}),
                row("sw.appCycle", "sw.appCycleSub",
                    {toggle(settings.interceptAppCycle(),
                            [this](bool on) { d_.settings.setInterceptAppCycle(on); })}),
                row("sw.minimized", "sw.minimizedSub",
                    {toggle(settings.showMinimizedWindows(),
                            [this](bool on) { d_.settings.setShowMinimizedWindows(on); })}),
                hiddenAppsRow(), row("sw.hotkeySearch", "sw.hotkeySearchSub", {recorder()})},
               text(usesAlt ? "sw.footerOpt" : "sw.footer"))};
}

SettingsRowView SettingsWindowController::hiddenAppsRow() {
  auto shown = row("sw.hiddenApps", "sw.hiddenAppsSub",
                   {toggle(d_.settings.showHiddenAppWindows(),
                           [this](bool on) { d_.settings.setShowHiddenAppWindows(on); })});
  // A switch that can change nothing here is shown for what it is, with the reason in place of
  // the description.
  if (!d_.desktopHidesApplications) {
    std::get<SettingsSwitch>(shown.controls.front()).enabled = false;
    shown.subtitle = text("sw.hiddenAppsNone");
  }
  return shown;
}

std::vector<SettingsCardView> SettingsWindowController::privacyCards() {
  const SettingsBadge alwaysOn{SettingsBadge::Kind::alwaysOn, text("priv.badgeAlways")};
  auto always = card("priv", {row("priv.pause", "priv.pauseSub",
                                  {toggle(d_.settings.switcherPaused(),
                                          [this](bool on) { d_.settings.setSwitcherPaused(on); })}),
                              row("priv.noCapture", "priv.noCaptureSub", {alwaysOn}),
                              row("priv.local", "priv.localSub", {alwaysOn})});

  SettingsAppListView list{
      .id = "priv.apps",
      .emptyText = text("priv.empty"),
      .removeTooltip = text("priv.remove"),
      .onRemove = [this](const std::string& bundleID) { removeExcludedApplication(bundleID); }};
  const auto& excluded = d_.settings.excludedBundleIDs();
  list.entries.reserve(excluded.size());
  for (const auto& id : excluded) list.entries.push_back({id, applicationName(id)});
  auto user = card("priv.user", {std::move(list)}, text("priv.footer"));
  user.title = text("priv.userTitle");
  user.subtitle = text("priv.userSub");
  if (d_.catalog) {
    auto add = row("priv.addApp", "",
                   {pill("priv.addApp", false, [this] { chooseExcludedApplications(); })});
    // The button speaks for itself.
    add.title.clear();
    user.items.push_back(std::move(add));
  }
  return {std::move(always), std::move(user)};
}

std::vector<SettingsCardView> SettingsWindowController::permissionCards() {
  const auto badge = [this](bool granted) {
    return SettingsBadge{granted ? SettingsBadge::Kind::granted : SettingsBadge::Kind::notGranted,
                         text(granted ? "perm.granted" : "perm.notGranted")};
  };
  // Trust means a standard window manager runs; when none does, the note says what to run.
  const bool trusted = d_.accessibility.isProcessTrusted();
  auto access = row("perm.ax", "perm.axWhy", {badge(trusted)});
  if (!trusted) {
    access.controls.push_back(pill("common.grant", true, [this] { d_.permissions.request(); }));
  }
  const auto problem =
      d_.switcherKeysProblem ? d_.switcherKeysProblem() : std::optional<std::string>();
  auto note =
      row("perm.checkAgain", "gen.axNote", {pill("perm.checkAgain", false, [this] { refresh(); })});
  note.title.clear();
  return {card("perm.ax", {std::move(access)}, trusted ? "" : text("perm.wmMissing"), !trusted),
          card("perm.keys", {row("perm.keys", "perm.keysWhy", {badge(!problem)})},
               problem ? formatText(text("perm.keysBusy"), *problem) : "", problem.has_value()),
          card("perm.note", {std::move(note)})};
}

std::vector<SettingsCardView> SettingsWindowController::accountCards() {
  if (!d_.account) return {card("acct", {row("acct.signedOutTitle", "acct.unavailable", {})})};
  const CloudAccountState& state = d_.account->state();
  auto status = state.signedIn
                    ? row("acct.signedIn", "",
                          {SettingsValueText{state.email},
                           pill("acct.signOut", false, [this] { d_.account->signOut(); }),
                           pill("acct.signOutEverywhere", false,
                                [this] { d_.account->signOutEverywhere(); })})
                    : row("acct.signedOutTitle", "acct.signedOutBody",
                          {pill("acct.signIn", true, [this] { d_.account->signIn(); })});
  status.id = "acct.status";
  std::vector<SettingsCardView> cards{card("acct", {std::move(status)}, text("acct.footer"))};
  if (d_.sync) {
    const bool failed = d_.sync->status() == CloudSync::Status::error;
    cards.push_back(
        card("acct.sync",
             {row("acct.sync", "acct.syncBody",
                  {toggle(d_.sync->enabled(), [this](bool on) { d_.sync->setEnabled(on); })})},
             failed ? text("acct.syncError") : "", failed));
  }
  return cards;
}

std::vector<SettingsCardView> SettingsWindowController::aboutCards() {
  std::vector<SettingsCardView> cards;
  if (d_.updates) {
    cards.push_back(card(
        "about.updates",
        {row("gen.autoUpdate", "gen.autoUpdateSub",
             {pill("common.checkNow", false, [this] { d_.updates->checkForUpdates(); }),
              toggle(d_.updates->automaticallyChecksForUpdates(),
                     [this](bool on) { d_.updates->setAutomaticallyChecksForUpdates(on); })})}));
  }
  cards.push_back(
      card("about.reports",
           {row("gen.crashReports", "gen.crashReportsSub",
                {toggle(d_.settings.crashReportingEnabled(),
                        [this](bool on) { d_.settings.setCrashReportingEnabled(on); })}),
            row("priv.improve", "priv.improveSub",
                {toggle(d_.settings.improveDataSharing(),
                        [this](bool on) { d_.settings.setImproveDataSharing(on); })})},
           d_.tester.enabled() ? text("about.testerOn") : ""));
  return cards;
}

}  // namespace tolvane
