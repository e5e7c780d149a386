// Launch order, the warm-up task, URL events and quit.
#include "app/app_delegate.h"

#include <cctype>

#include "input/emergency_restore.h"
#include "input/hotkey_recorder.h"
#include "localization/app_language.h"
#include "model/key_combo.h"
#include "palette/palette_snapshot.h"
#include "settings/preference_keys.h"

namespace tolvane {

namespace {

std::vector<std::string> preferredLanguages(const SystemInfo& system) {
  return preferredLanguagesFromEnvironment(
      system.environment("LANGUAGE"), system.environment("LC_ALL"),
      system.environment("LC_MESSAGES"), system.environment("LANG"));
}

bool isSchemeCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

}  // namespace

std::optional<std::string> urlHost(const std::string& url) {
  const auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(url[0]))) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < colon; ++i) {
    if (!isSchemeCharacter(url[i])) return std::nullopt;
  }
  if (url.compare(colon + 1, 2, "//") != 0) return std::string();  // a URL without a host
  const auto start = colon + 3;
  auto authority = url.substr(start, url.find_first_of("/?#", start) - start);
  if (const auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  if (const auto port = authority.rfind(':'); port != std::string::npos) authority.erase(port);
  return authority;
}

void prepareLanguage(PreferenceStore& preferences) {
  // The platform's own texts follow this list from the launch on.
  if (auto code = preferences.stringValue(prefkey::kLanguageCode); code && !code->empty()) {
    preferences.set(prefkey::kAppleLanguages, std::vector<std::string>{*code});
  } else {
    preferences.remove(prefkey::kAppleLanguages);
  }
}

void prepareProcess(Services& services) {
  prepareLanguage(*services.preferences);
  installNativeHotKeyEmergencyRestore(*services.windowServer);
}

namespace {

ImproveReporter::Dependencies reporterDependencies(Services& s, DebugLog& log,
                                                   const CloudConfig& cloud) {
  return {.preferences = *s.preferences,
          .http = *s.http,
          .clock = *s.clock,
          .runLoop = *s.runLoop,
          .files = *s.files,
          .random = *s.random,
          .system = *s.system,
          .bundle = s.bundle,
          .cloud = cloud,
          .queueFile = s.paths.dataHome + "/brenmoor/improve-queue.jsonl",
          .log = [&log](const std::string& line) { log.log(line); }};
}

TesterMode::Dependencies testerDependencies(Services& s, DebugLog& log, const CloudConfig& cloud) {
  return {.preferences = *s.preferences,
          .http = *s.http,
          .clock = *s.clock,
          .runLoop = *s.runLoop,
          .random = *s.random,
          .system = *s.system,
          .log = log,
          .processLog = s.processLog,
          .bundle = s.bundle,
          .cloud = cloud};
}

}  // namespace

AppDelegate::AppDelegate(Services& s, DebugLog& log, std::function<void(double)> watchdogSleep)
    : s_(s),
      log_(log),
      settings_(*s.preferences, *s.loginItems, *s.systemLog, log),
      framework_(*s.files),
      l10n_(*s.preferences, framework_,
            [&system = *s.system] { return preferredLanguages(system); }),
      cloud_(s.cloudBaseURL ? CloudConfig(*s.cloudBaseURL) : CloudConfig()),
      reporter_(reporterDependencies(s, log, cloud_)),
      crashReporter_({.preferences = *s.preferences,
                      .http = *s.http,
                      .random = *s.random,
                      .bundle = s.bundle,
                      .cloud = cloud_,
                      .log = &log}),
      tester_(testerDependencies(s, log, cloud_)),
      resolver_(*s.windowServer, *s.accessibility, *s.clock, log),
      tracker_({*s.workspace, *s.accessibility, *s.windowServer, *s.runLoop}),
      enumerator_({*s.workspace, *s.accessibility, resolver_, settings_, tracker_.order(), *s.clock,
                   log, reporter_}),
      activator_({*s.workspace, *s.accessibility, tracker_.order(), *s.clock, log, reporter_,
                  *s.preferences}),
      controller_({*s.switcherPanel, *s.screens, *s.runLoop, l10n_}),
      guard_({*s.windowServer, *s.workspace, *s.runLoop, *s.clock, log, reporter_},
             std::move(watchdogSleep)),
      engine_({settings_, *s.accessibility, *s.eventTap, *s.workspace, tracker_, enumerator_,
               controller_, activator_, guard_, *s.runLoop, *s.clock, log, reporter_, *s.random}),
      refresh_({*s.workspace, *s.accessibility, resolver_, enumerator_, settings_, *s.preferences,
                *s.runLoop, *s.clock, log}),
      secureInput_(*s.windowServer, *s.workspace),
      permissions_(*s.accessibility, *s.workspace, log),
      statusItem_({*s.statusItem, settings_, *s.accessibility, guard_, secureInput_, l10n_,
                   *s.runLoop, log, *s.interaction, s_.bundle},
                  trayActions()) {
  connectSettingsHooks();
  buildPaletteParts();
  buildUpdates();
  buildAccount();
  buildWindows();
}

void AppDelegate::connectSettingsHooks() {
  settings_.setInterceptionChangedHook([this] {
    engine_.updateEnabled();
    if (interceptionObserver_) interceptionObserver_();
    // The grabs were just taken again: whether another program owns the keys may have changed.
    if (settingsWindow_) settingsWindow_->refresh();
  });
  // A language chosen in the settings or arriving by sync relabels every window at once.
  settings_.setLanguageChangedHook([this] { l10n_.apply(settings_.languageCode()); });
  settings_.setUsageQueueClearer([this] { reporter_.clearQueue(); });
}

void AppDelegate::buildPaletteParts() {
  if (s_.hotKeys) {
    hotKey_.emplace(*s_.hotKeys, log_);
    hotKey_->setOnTrigger([this] { togglePalette(); });
  }
  if (s_.palettePanel && s_.keyMonitor) palette_.emplace(paletteServices());
}

void AppDelegate::buildUpdates() {
  if (!UpdateController::isOffered(s_.bundle) || !s_.feedParser) return;
  updates_.emplace(UpdateController::Dependencies{*s_.preferences, *s_.http, *s_.feedParser,
                                                  *s_.clock, *s_.runLoop, *s_.interaction, l10n_,
                                                  log_, s_.bundle});
  // The tray offers the command only where there is something to check.
  statusItem_.actions().checkForUpdates = [this] { updates_->checkForUpdates(); };
}

void AppDelegate::buildAccount() {
  if (!s_.secrets || !s_.digest) return;
  account_.emplace(CloudAccount::Dependencies{*s_.secrets, *s_.http, *s_.runLoop, *s_.workspace,
                                              *s_.random, *s_.digest, cloud_, log_});
  CloudAccount& account = *account_;
  sync_.emplace(CloudSync::following(account, {.settings = settings_,
                                               .preferences = *s_.preferences,
                                               .secrets = *s_.secrets,
                                               .http = *s_.http,
                                               .runLoop = *s_.runLoop,
                                               .cloud = cloud_,
                                               .log = log_}));
}

void AppDelegate::buildWindows() {
  if (s_.settingsWindow) {
    settingsWindow_.emplace(SettingsWindowController::Dependencies{
        .window = *s_.settingsWindow,
        .settings = settings_,
        .l10n = l10n_,
        .clock = *s_.clock,
        .runLoop = *s_.runLoop,
        .log = log_,
        .accessibility = *s_.accessibility,
        .permissions = permissions_,
        .interaction = *s_.interaction,
        .keyMonitor = s_.keyMonitor,
        .catalog = s_.catalog,
        .bundle = s_.bundle,
        .tester = tester_,
        .account = account(),
        .sync = sync(),
        .updates = updates(),
        .switcherKeysProblem = [this] { return switcherKeysProblem(); },
        .desktopHidesApplications = s_.workspace->hidesApplications()});
    statusItem_.actions().showSettings = [this] { showSettings(); };
  }
  if (s_.onboardingWindow) {
    onboarding_.emplace(OnboardingWindowController::Dependencies{
        .window = *s_.onboardingWindow,
        .settings = settings_,
        .l10n = l10n_,
        .runLoop = *s_.runLoop,
        .log = log_,
        .accessibility = *s_.accessibility,
        .permissions = permissions_,
        .switcherKeysProblem = [this] { return switcherKeysProblem(); },
        .openSwitcherSettings = [this] { showSettings(SettingsTab::switcher); },
        .manualBindings = [this] { return s_.eventTap->manualBindings(); }});
    statusItem_.actions().showOnboarding = [this] { showOnboarding(); };
  }
}

std::optional<std::string> AppDelegate::switcherKeysProblem() const {
  // The combination alone: the windows set it into a sentence of the interface language.
  if (auto combination = s_.eventTap->failedCombination()) return combination;
  return s_.eventTap->failureReason();
}

void AppDelegate::showSettings(std::optional<SettingsTab> tab) {
  if (settingsWindow_) {
    settingsWindow_->show(tab);
  } else {
    log_.log("settings: this desktop has no settings window");
  }
}

void AppDelegate::showOnboarding(bool startAtPermissions) {
  if (onboarding_) {
    onboarding_->show(startAtPermissions);
  } else {
    log_.log("onboarding: this desktop has no onboarding window");
  }
}

void AppDelegate::showOnboardingIfNeeded() {
  const auto forced = s_.system->environment("BRENMOOR_ONBOARDING");
  if ((forced && *forced == "1") || !settings_.onboardingCompleted()) {
    showOnboarding(false);
  } else if (!s_.accessibility->isProcessTrusted()) {
    showOnboarding(true);
  }
}

PaletteController::Services AppDelegate::paletteServices() {
  return {
      .panel = *s_.palettePanel,
      .keyMonitor = *s_.keyMonitor,
      .screens = *s_.screens,
      .runLoop = *s_.runLoop,
      .clock = *s_.clock,
      .l10n = l10n_,
      .accessibility = *s_.accessibility,
      .activator = activator_,
      .usage = reporter_,
      .random = *s_.random,
      .log = log_,
      .snapshot =
          [this] {
            return takePaletteSnapshot(
                {*s_.workspace, *s_.accessibility, resolver_, enumerator_, settings_, *s_.clock});
          },
      .hotKeyText = [this] { return paletteComboText(settings_); },
      .switcherSessionActive = [this] { return engine_.isActive(); },
      .holdKeyboard = [this](bool held) { guard_.setKeyboardHeld(KeyboardHolder::palette, held); },
  };
}

void AppDelegate::togglePalette() {
  if (palette_) {
    palette_->toggle();
  } else {
    log_.log("palette: this desktop has no palette panel");
  }
}

void AppDelegate::showPalette() {
  if (palette_) {
    palette_->show();
  } else {
    log_.log("palette: this desktop has no palette panel");
  }
}

AppDelegate::~AppDelegate() {
  warmUpTask_.cancel();
}

void AppDelegate::applicationDidFinishLaunching() {
  // Undoes a suppression left behind by a run that ended without restoring.
  restoreAllSymbolicHotKeys(*s_.windowServer);
  s_.accessibility->setMessagingTimeout(s_.accessibility->systemWideElement(),
                                        kLaunchMessagingTimeout);
  l10n_.bootstrap();
  statusItem_.start();
  tracker_.start();
  engine_.updateEnabled();  // not warmed: a tap may exist, but every key passes
  engine_.startPolling();
  warmUpTask_ = warmUp().start(*s_.runLoop);
  startPaletteHotKey();
  showOnboardingIfNeeded();
  if (updates_) updates_->start();
  if (account_) {
    account_->start();
    sync_->start();
    // Asked from the reporter's queue: token() is safe from any thread.
    reporter_.setTokenProvider([account = &*account_] { return account->token(); });
  }
  reporter_.start();
  reporter_.record("app.env",
                   {{"displays", std::int64_t{s_.screens->screenCount()}},
                    {"interceptCmdTab", settings_.interceptCmdTab()},
                    {"usesOption", settings_.switcherUsesOption()},
                    {"showMinimized", settings_.showMinimizedWindows()},
                    {"showHidden", settings_.showHiddenAppWindows()},
                    {"excluded", static_cast<std::int64_t>(settings_.excludedBundleIDs().size())}});
  tester_.start();
}

void AppDelegate::startPaletteHotKey() {
  if (!hotKey_) return;
  // From now on every change of either palette setting re-registers the hot key.
  settings_.setPaletteHotKeyRegistrar([this](std::uint32_t keyCode, std::uint32_t modifiers) {
    hotKey_->registerCombo(keyCode, modifiers);
  });
  settings_.applyPaletteHotKey();
}

StatusItemController::Actions AppDelegate::trayActions() {
  return {
      .togglePalette = [this] { togglePalette(); },
      .showPalette = [this] { showPalette(); },
      // Refreshed as the palette refreshes when it opens, so the menu lists what it would.
      .recentWindows =
          [this] {
            return takePaletteSnapshot(
                {*s_.workspace, *s_.accessibility, resolver_, enumerator_, settings_, *s_.clock});
          },
      .activate = [this](const SwitchWindow& window) { activator_.activate(window); },
      .showAbout =
          [this] {
            s_.interaction->showAbout("Tolvane", s_.bundle.shortVersion.value_or(std::string()));
          },
      .requestPermission = [this] { permissions_.request(); },
      .paletteKeyEquivalent =
          [](std::uint16_t keyCode) { return keycombo::keyEquivalent(keyCode); },
      .hotKeyProblem = [this]() -> std::optional<std::string> {
        if (!hotKey_ || !hotKey_->isRefused()) return std::nullopt;
        return hotKey_->refusal()->reason;
      },
      .holdKeyboard = [this](bool held) { guard_.setKeyboardHeld(KeyboardHolder::trayMenu, held); },
  };
}

bool AppDelegate::shouldRefresh(const RunningApp& app) const {
  if (app.activationPolicy != ActivationPolicy::regular || app.pid == s_.workspace->ownPid()) {
    return false;
  }
  const auto& excluded = settings_.excludedBundleIDs();
  return !app.bundleID ||
         std::find(excluded.begin(), excluded.end(), *app.bundleID) == excluded.end();
}

Task AppDelegate::warmUp() {
  std::vector<Pid> pids;
  for (const auto& app : s_.workspace->runningApplications()) {
    if (app.activationPolicy == ActivationPolicy::regular && app.pid != s_.workspace->ownPid()) {
      pids.push_back(app.pid);
    }
  }
  const auto map = resolver_.windowIDsAcrossSpaces();
  for (Pid pid : pids) {
    if (s_.accessibility->isProcessTrusted()) {
      if (auto app = s_.workspace->application(pid); app && shouldRefresh(*app)) {
        enumerator_.refreshApp(*app, s_.clock->now() + kWarmUpDeadlineSeconds, map, true, false);
      }
    }
    enumerator_.snapshot(pid, true);
    co_await yieldNow();
    const bool cancelled = co_await isCancelled();
    if (cancelled) co_return;
  }
  engine_.setWarmed();
  engine_.updateEnabled();  // from now on the switcher takes the keys
  const auto count = enumerator_.snapshot(std::nullopt, true).size();
  log_.log("window snapshot warmed count=" + std::to_string(count));
  s_.accessibility->setMessagingTimeout(s_.accessibility->systemWideElement(),
                                        kRunningMessagingTimeout);
  refresh_.start();
  // Crashes of earlier runs are collected now, off the main thread, so that reading the
  // journal never delays the moment the switcher takes the keys.
  if (s_.crashDiagnostics) crashReporter_.start(*s_.crashDiagnostics);
}

void AppDelegate::applicationWillTerminate() {
  refresh_.stop();
  guard_.disarm();
  reporter_.applicationWillTerminate();
}

void AppDelegate::handleURL(const std::string& url) {
  const auto host = urlHost(url);
  if (!host) return;  // not a URL: ignored
  log_.log("url event: host=" + (host->empty() ? std::string("?") : *host));
  if (*host == "settings") {
    showSettings();
    return;
  }
  if (account_ && account_->handleCallback(url)) {
    log_.log("url event: sign-in callback accepted");
    showSettings(SettingsTab::account);
  }
}

}  // namespace tolvane
