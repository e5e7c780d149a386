// The settings window's life: one window at a time, repainted after every change while it is
// open, the hot-key recorder's capture tied to it, and the excluded applications it edits.
#include "settings_window/settings_window_controller.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "input/hotkey_recorder.h"
#include "model/key_combo.h"
#include "settings/setting_table.h"
#include "settings_window/tester_mode_icon.h"

namespace tolvane {

struct SettingsWindowController::State {
  std::vector<Notifier::Subscription> subscriptions;
  /// Only with a key monitor.
  std::unique_ptr<HotkeyRecorder> recorder;
  TesterModeIcon icon{kTesterClicks, kTesterClickGapSeconds};
  /// A list of a thousand excluded applications would otherwise ask the catalog a thousand
  /// times at every repaint.
  std::map<std::string, std::string, std::less<>> names;
  TimerId pendingRepaint = 0;
};

SettingsWindowController::SettingsWindowController(Dependencies deps) : d_(std::move(deps)) {}

SettingsWindowController::~SettingsWindowController() {
  d_.window.setCloseHandler(nullptr);
  if (state_) d_.window.close();
  dropState();
}

void SettingsWindowController::show(std::optional<SettingsTab> tab) {
  if (!state_) open();
  if (tab) selectTab(*tab);
  repaintNow();
  d_.window.bringToFront();
  logShown();
}

bool SettingsWindowController::isOpen() const {
  return state_ != nullptr;
}

SettingsTab SettingsWindowController::selectedTab() const {
  return tab_;
}

void SettingsWindowController::refresh() {
  scheduleRepaint();
}

void SettingsWindowController::open() {
  state_ = std::make_unique<State>();
  if (d_.keyMonitor) {
    state_->recorder = std::make_unique<HotkeyRecorder>(
        HotkeyRecorder::Services{d_.settings, *d_.keyMonitor, d_.interaction, d_.l10n});
  }
  auto& subscriptions = state_->subscriptions;
  const auto repaint = [this] { scheduleRepaint(); };
  subscriptions.push_back(d_.settings.subscribe(repaint));
  subscriptions.push_back(d_.l10n.subscribe(repaint));
  subscriptions.push_back(d_.tester.subscribe(repaint));
  if (d_.account) subscriptions.push_back(d_.account->subscribe(repaint));
  if (d_.sync) subscriptions.push_back(d_.sync->subscribe(repaint));
  d_.window.setCloseHandler([this] { dropState(); });
}

void SettingsWindowController::dropState() {
  if (!state_) return;
  if (state_->recorder) state_->recorder->leftScreen();
  d_.runLoop.cancel(state_->pendingRepaint);
  state_.reset();
}

void SettingsWindowController::selectTab(SettingsTab tab) {
  if (tab == tab_) return;
  // The recorder leaves the screen with its page.
  if (tab_ == SettingsTab::switcher && state_ && state_->recorder) {
    state_->recorder->leftScreen();
  }
  tab_ = tab;
  scheduleRepaint();
}

void SettingsWindowController::scheduleRepaint() {
  if (!state_ || state_->pendingRepaint != 0) return;
  // Dropping the state cancels this, so the state is there when it runs.
  state_->pendingRepaint = d_.runLoop.post([this] {
    state_->pendingRepaint = 0;
    repaintNow();
  });
}

void SettingsWindowController::repaintNow() {
  if (!state_) return;
  d_.runLoop.cancel(std::exchange(state_->pendingRepaint, 0));
  d_.window.show(view());
}

void SettingsWindowController::logShown() {
  const Rect frame = d_.window.frame();
  char text[160];
  std::snprintf(text, sizeof text, "settings shown: visible=%s frame=(%g,%g,%g,%g)",
                d_.window.isVisible() ? "true" : "false", frame.x, frame.y, frame.width,
                frame.height);
  d_.log.log(text);
}

SettingsWindowView SettingsWindowController::view() {
  SettingsWindowView view;
  view.windowTitle = text("settings.windowTitle");
  view.applicationName = "Tolvane";
  const auto& version = d_.bundle.shortVersion;
  view.version = version && !version->empty() ? *version : "0.1.0";
  view.sidebar = sidebar();
  view.onSelectTab = [this](SettingsTab tab) { selectTab(tab); };
  view.onIconClick = [this] { iconClicked(); };
  view.tab = tab_;
  for (const auto& entry : view.sidebar) {
    if (entry.tab != tab_) continue;
    view.pageTitle = entry.title;
    view.pageSubtitle = entry.subtitle;
  }
  switch (tab_) {
    case SettingsTab::general:
      view.cards = generalCards();
      break;
    case SettingsTab::switcher:
      view.cards = switcherCards();
      break;
    case SettingsTab::privacy:
      view.cards = privacyCards();
      break;
    case SettingsTab::permissions:
      view.cards = permissionCards();
      break;
    case SettingsTab::account:
      view.cards = accountCards();
      break;
    case SettingsTab::about:
      view.hero = hero();
      view.cards = aboutCards();
      break;
  }
  return view;
}

void SettingsWindowController::iconClicked() {
  if (state_ && state_->icon.click(d_.clock.now())) d_.tester.toggle();
}

SettingsRecorder SettingsWindowController::recorder() {
  if (!state_ || !state_->recorder)
    return {.view = HotkeyRecorderView{.chips = paletteComboChips(d_.settings)}};
  return {.view = state_->recorder->view(),
          .onClick =
              [this] {
                if (!state_ || !state_->recorder) return;
                state_->recorder->click();
                scheduleRepaint();
              },
          .onReset =
              [this] {
                if (state_ && state_->recorder) state_->recorder->reset();
              }};
}

std::string SettingsWindowController::applicationName(const std::string& bundleID) {
  if (!d_.catalog) return bundleID;
  if (state_) {
    if (const auto found = state_->names.find(bundleID); found != state_->names.end()) {
      return found->second;
    }
  }
  auto name = d_.catalog->displayName(bundleID);
  std::string shown = name && !name->empty() ? std::move(*name) : bundleID;
  if (state_) state_->names.emplace(bundleID, shown);
  return shown;
}

void SettingsWindowController::chooseExcludedApplications() {
  if (!d_.catalog) return;
  const auto& excluded = d_.settings.excludedBundleIDs();
  const auto& limits = settingEntry(prefkey::kExcludedBundleIDs);
  std::vector<InstalledApplication> candidates;
  std::vector<std::string> offered;
  for (auto& app : d_.catalog->installedApplications()) {
    // An identifier the settings could not keep is not offered: storing it would cost the
    // whole list at the next launch.
    if (app.bundleID.empty() || app.bundleID.size() > limits.maxLength) continue;
    if (std::ranges::find(excluded, app.bundleID) != excluded.end()) continue;
    offered.push_back(app.bundleID);
    candidates.push_back(std::move(app));
  }
  std::ranges::sort(offered);
  d_.interaction.chooseApplications(
      candidates, text("priv.chooseTitle"),
      [this, alive = std::weak_ptr<char>(alive_),
       offered = std::move(offered)](std::vector<std::string> chosen) {
        if (!alive.expired()) addExcludedApplications(chosen, offered);
      });
}

void SettingsWindowController::addExcludedApplications(const std::vector<std::string>& chosen,
                                                       const std::vector<std::string>& offered) {
  const std::size_t maxItems = settingEntry(prefkey::kExcludedBundleIDs).maxItems;
  std::vector<std::string> list = d_.settings.excludedBundleIDs();
  const std::size_t before = list.size();
  bool full = false;
  for (const auto& id : chosen) {
    if (!std::ranges::binary_search(offered, id)) continue;
    if (std::ranges::find(list, id) != list.end()) continue;
    // A longer list would be refused as a whole when it is read back.
    if (list.size() >= maxItems) {
      full = true;
      break;
    }
    list.push_back(id);
  }
  if (full) d_.interaction.beep();
  if (list.size() != before) d_.settings.setExcludedBundleIDs(std::move(list));
}

void SettingsWindowController::removeExcludedApplication(const std::string& bundleID) {
  std::vector<std::string> list = d_.settings.excludedBundleIDs();
  if (std::erase(list, bundleID) > 0) d_.settings.setExcludedBundleIDs(std::move(list));
}

}  // namespace tolvane
