// The one builder of simulated services for the core's tests and benchmarks: SimServices owns
// the clock, main loop, desktop, log, preferences, settings, secrets and strings; each layer
// below adds the components built on them (window discovery, the switcher, the palette, settings
// sync, the reporters), so a test picks the smallest layer that holds what it drives.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backends/sim/faulty_file_system.h"
#include "backends/sim/sim_clock.h"
#include "backends/sim/sim_desktop.h"
#include "backends/sim/sim_event_tap.h"
#include "backends/sim/sim_key_monitor.h"
#include "backends/sim/sim_login_items.h"
#include "backends/sim/sim_palette_panel.h"
#include "backends/sim/sim_preference_store.h"
#include "backends/sim/sim_run_loop.h"
#include "backends/sim/sim_switcher_panel.h"
#include "backends/sim/sim_system.h"
#include "backends/sim/sim_system_log.h"
#include "backends/system/posix_file_system.h"
#include "cloud/cloud_account.h"
#include "cloud/cloud_sync.h"
#include "diagnostics/debug_log.h"
#include "focus/mru_tracker.h"
#include "focus/window_activator.h"
#include "input/hotkey_recorder.h"
#include "input/main_stall_watchdog.h"
#include "input/switcher_engine.h"
#include "localization/l10n.h"
#include "model/usage_recorder.h"
#include "palette/palette_controller.h"
#include "palette/palette_snapshot.h"
#include "platform/crash_diagnostics.h"
#include "platform/digest.h"
#include "platform/http_client.h"
#include "platform/secret_store.h"
#include "reporting/improve_reporter.h"
#include "settings/app_settings.h"
#include "settings/preference_keys.h"
#include "support/mock_backend.h"
#include "support/temp_dir.h"
#include "windows/space_window_resolver.h"
#include "windows/window_enumerator.h"

namespace tolvane::test {

/// A sleep for background threads that the test drives: each sleep takes one tick (waiting for
/// it if none is pending) or returns at shutdown.
class ManualTicker {
 public:
  void sleep(double) {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [&] { return pending_ > 0 || stopped_; });
    if (pending_ > 0) --pending_;
  }
  void tick() {
    std::lock_guard guard(lock_);
    ++pending_;
    changed_.notify_all();
  }
  /// Releases every sleeper for good; call it before destroying what owns the thread.
  void shutdown() {
    std::lock_guard guard(lock_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int pending_ = 0;
  bool stopped_ = false;
};

/// A secret store in memory, safe from any thread as the real stores are.
class MemorySecretStore final : public SecretStore {
 public:
  explicit MemorySecretStore(std::map<std::string, std::string> initial = {})
      : items_(std::move(initial)) {}

  std::optional<std::string> get(const std::string& account) override {
    std::lock_guard guard(lock_);
    const auto it = items_.find(account);
    if (it == items_.end()) return std::nullopt;
    return it->second;
  }
  void set(const std::string& account, const std::string& value) override {
    std::lock_guard guard(lock_);
    items_[account] = value;
  }
  void remove(const std::string& account) override {
    std::lock_guard guard(lock_);
    items_.erase(account);
  }
  /// Every item, by account name.
  std::map<std::string, std::string> items() const {
    std::lock_guard guard(lock_);
    return items_;
  }

 private:
  mutable std::mutex lock_;
  std::map<std::string, std::string> items_;
};

/// A usage recorder that keeps every event for assertions.
class RecordedUsage final : public UsageRecorder {
 public:
  struct Event {
    std::string name;
    std::map<std::string, EventValue> properties;
  };
  void record(const std::string& name, const EventProperties& properties) override {
    events.push_back({name, {properties.begin(), properties.end()}});
  }
  std::vector<Event> events;
};

/// Each secureBytes call returns the next scripted answer as it is (whatever was asked); once
/// the script is used up, the seeded simulated source answers.
class ScriptedRandom final : public RandomSource {
 public:
  std::deque<std::vector<std::uint8_t>> script;

  std::uint64_t uniform(std::uint64_t upperBound) override { return fallback_.uniform(upperBound); }
  std::vector<std::uint8_t> secureBytes(std::size_t count) override {
    if (script.empty()) return fallback_.secureBytes(count);
    auto next = std::move(script.front());
    script.pop_front();
    return next;
  }

 private:
  sim::SimRandom fallback_;
};

/// A later launch ("launchAtLogin" is stored unless the seed says otherwise, so creating the
/// settings has no first-launch side effects) whose log never reaches a disk: `logLines` holds
/// every line without its timestamp, `registered` every registration of the palette hotkey.
struct SimServices {
  explicit SimServices(sim::SimPreferenceStore::Values seed = {},
                       std::map<std::string, std::string> storedSecrets = {})
      : preferences(withLaunchAtLogin(std::move(seed))), secrets(std::move(storedSecrets)) {
    noDisk.failCreates = true;
    log.setObserver([this](std::string_view line) {
      std::lock_guard guard(logLock);
      logLines.emplace_back(line.substr(line.find(' ') + 1));
    });
    settings.setPaletteHotKeyRegistrar([this](std::uint32_t key, std::uint32_t modifiers) {
      registered.emplace_back(key, modifiers);
    });
    l10n.apply("en");
  }
  static sim::SimPreferenceStore::Values withLaunchAtLogin(sim::SimPreferenceStore::Values seed) {
    seed.emplace(prefkey::kLaunchAtLogin, true);
    return seed;
  }
  /// The lines logged so far; safe while other threads (HTTP completions) still log.
  std::vector<std::string> logged() {
    std::lock_guard guard(logLock);
    return logLines;
  }
  /// Logged lines that start with `prefix`.
  std::vector<std::string> linesStartingWith(std::string_view prefix) {
    std::vector<std::string> found;
    for (const auto& line : logged()) {
      if (line.starts_with(prefix)) found.push_back(line);
    }
    return found;
  }
  /// Whether the system's switcher hotkeys 1, 2 and 6 are enabled, in that order.
  std::vector<bool> hotKeys() const {
    return {desktop.hotKeyEnabled(1), desktop.hotKeyEnabled(2), desktop.hotKeyEnabled(6)};
  }
  static inline const std::vector<bool> kAllOn{true, true, true};
  static inline const std::vector<bool> kAllOff{false, false, false};
  /// The main thread stops right after a heartbeat while the watchdog's thread wakes `checks`
  /// times, `interval` seconds apart on the simulated clock.
  void stallMainThread(MainStallWatchdog& watchdog, double interval, int checks = 1) {
    watchdog.beat();
    for (int i = 0; i < checks; ++i) {
      clock.advance(interval);
      watchdog.check();
    }
  }

  sim::SimClock clock;
  sim::SimRunLoop loop{clock};
  sim::SimDesktop desktop{clock, loop};
  system::PosixFileSystem disk;
  sim::FaultyFileSystem noDisk{disk};
  DebugLog log{noDisk, clock, "/nonexistent/tolvane-tests"};
  std::mutex logLock;
  std::vector<std::string> logLines;
  sim::SimPreferenceStore preferences;
  sim::SimLoginItems loginItems;
  sim::SimSystemLog systemLog;
  AppSettings settings{preferences, loginItems, systemLog, log};
  std::vector<std::pair<std::uint32_t, std::uint32_t>> registered;
  MemorySecretStore secrets;
  sim::SimRandom random;
  sim::SimSystemInfo system;
  FrameworkLanguage framework{disk};
  L10n l10n{preferences, framework, {}};
};

/// Window discovery, focus history and activation on the simulated desktop.
struct WindowServices : SimServices {
  WindowServices() : SimServices({{std::string(prefkey::kLaunchAtLogin), false}}) {}

  /// The running application `pid` as the workspace reports it now.
  RunningApp app(Pid pid) { return *desktop.application(pid); }
  /// A refresh as the background refresh does it: 0.15 s, with application entries.
  bool refresh(Pid pid, const CrossSpacePass& pass = std::nullopt, bool revisit = false) {
    return enumerator.refreshApp(app(pid), clock.now() + 0.15, pass, true, revisit);
  }
  /// Editor (pid 100) with "Budget" (11) and "Report" (12), and Mail (pid 200) with "Inbox" (21).
  void addEditorAndMail() {
    desktop.addApp({.pid = 100, .localizedName = "Editor", .bundleID = "org.example.editor"});
    desktop.addApp({.pid = 200, .localizedName = "Mail", .bundleID = "org.example.mail"});
    desktop.addWindow({.number = 11, .pid = 100, .title = "Budget"});
    desktop.addWindow({.number = 12, .pid = 100, .title = "Report"});
    desktop.addWindow({.number = 21, .pid = 200, .title = "Inbox"});
  }
  /// Both cached as the background refresh leaves them, and the history set to 11, 12, 21.
  void listEditorAndMail() {
    refresh(100);
    refresh(200);
    resetHistory();
  }
  /// The history back to 11, 12, 21, Editor (the application of 11) frontmost.
  void resetHistory() {
    desktop.setFrontmost(100);
    for (std::uint32_t window : {21u, 12u, 11u}) tracker.order().bump(window);
  }

  RecordedUsage usage;
  SpaceWindowResolver resolver{desktop, desktop, clock, log};
  MRUTracker tracker{{desktop, desktop, desktop, loop}};
  WindowEnumerator enumerator{
      {desktop, desktop, resolver, settings, tracker.order(), clock, log, usage}};
  WindowActivator activator{{desktop, desktop, tracker.order(), clock, log, usage, preferences}};
};

/// The whole switcher on the window services: tap, HUD, guard and engine.
struct SwitcherServices : WindowServices {
  SwitcherServices() {
    settings.setInterceptionChangedHook([this] { engine.updateEnabled(); });
  }
  ~SwitcherServices() { ticker.shutdown(); }
  /// Warmed up and in charge: the tap installed and the system's hotkeys suppressed.
  void ready() {
    engine.setWarmed();
    engine.updateEnabled();
    loop.runUntilIdle();
  }

  sim::SimEventTap tap;
  sim::SimSwitcherPanel panel;
  sim::SimScreens screens;
  SwitcherController controller{{panel, screens, loop, l10n}};
  ManualTicker ticker;  // the stall watchdog only wakes when a test ticks it
  NativeSwitcherGuard guard{{desktop, desktop, loop, clock, log, usage},
                            [this](double seconds) { ticker.sleep(seconds); }};
  SwitcherEngine engine{{settings, desktop, tap, desktop, tracker, enumerator, controller,
                         activator, guard, loop, clock, log, usage, random}};
};

/// The search palette on the switcher: its snapshot taken from the enumerator and its keyboard
/// hold told to the guard.
struct PaletteServices : SwitcherServices {
  sim::SimPalettePanel palettePanel;
  sim::SimKeyMonitor keys;
  PaletteController palette{{
      .panel = palettePanel,
      .keyMonitor = keys,
      .screens = screens,
      .runLoop = loop,
      .clock = clock,
      .l10n = l10n,
      .accessibility = desktop,
      .activator = activator,
      .usage = usage,
      .random = random,
      .log = log,
      .snapshot =
          [this] {
            return takePaletteSnapshot({desktop, desktop, resolver, enumerator, settings, clock});
          },
      .hotKeyText = [this] { return paletteComboText(settings); },
      .switcherSessionActive = [this] { return engine.isActive(); },
      .holdKeyboard = [this](bool held) { guard.setKeyboardHeld(KeyboardHolder::palette, held); },
  }};
};

/// Answers each request at once with the reply chosen for its method (200 with "{}" when none
/// is), or, while `hold` is set, keeps it until release(). Records every request.
class ScriptedHttpClient final : public HttpClient {
 public:
  void send(HttpRequest request, Completion completion) override {
    requests.push_back(request);
    if (!hold) return completion(replyTo(request.method));
    held_.emplace_back(std::move(request.method), std::move(completion));
  }
  /// Answers the requests held so far with the replies chosen now.
  void release() {
    for (auto& [method, completion] : std::exchange(held_, {})) completion(replyTo(method));
  }

  std::map<std::string, HttpResponse> replies;
  bool hold = false;
  std::vector<HttpRequest> requests;

 private:
  HttpResponse replyTo(const std::string& method) const {
    const auto it = replies.find(method);
    return it == replies.end() ? HttpResponse{200, "{}", ""} : it->second;
  }
  std::vector<std::pair<std::string, Completion>> held_;
};

/// Settings sync's collaborators: a token stored, the scripted client, and an account that is
/// signed out until a test says otherwise.
struct SyncServices : SimServices {
  explicit SyncServices(sim::SimPreferenceStore::Values seed = {})
      // The bookkeeping the tests seed belongs to this account at this service.
      : SimServices(std::move(seed),
                    {{secretkey::kCloudToken, kToken},
                     {secretkey::kCloudTokenBase, kBase},
                     {secretkey::kCloudSyncAccount, std::string(kBase) + "\n" + kEmail}}) {}

  static constexpr const char* kToken = "token-1";
  static constexpr const char* kDeviceID = "device-1";
  static constexpr const char* kBase = "http://sync.test";
  static constexpr const char* kEmail = "ada@example.org";

  /// The sync's dependencies, sending through `http`.
  CloudSync::Dependencies dependencies(HttpClient& http) {
    return {.settings = settings,
            .preferences = preferences,
            .secrets = secrets,
            .http = http,
            .runLoop = loop,
            .cloud = cloud,
            .log = log,
            .deviceID = [] { return std::string(kDeviceID); },
            .signedIn = [this] { return signedIn; },
            .token = [this] { return storedTokenFor(secrets, cloud); },
            .accountEmail = [this] { return email; },
            .subscribeToAccount =
                [this](std::function<void()> handler) {
                  return account.subscribe(std::move(handler));
                }};
  }
  /// Signs the account in and tells the sync.
  void signIn() {
    signedIn = true;
    account.notify();
  }

  ScriptedHttpClient scripted;
  CloudConfig cloud{kBase};
  std::string email = kEmail;
  bool signedIn = false;
  Notifier account;
};

/// A usage reporter's collaborators, its queue in a temporary folder, sending to the loopback
/// mock.
struct ReporterServices : SimServices {
  /// The reporter's dependencies, sending to the mock through `http`.
  ImproveReporter::Dependencies dependencies(HttpClient& http, const Clock& time, RunLoop& runLoop,
                                             BundleInfo bundle = {}) {
    return {.preferences = preferences,
            .http = http,
            .clock = time,
            .runLoop = runLoop,
            .files = files,
            .random = random,
            .system = system,
            .bundle = std::move(bundle),
            .cloud = CloudConfig(mock.baseURL()),
            .queueFile = queueFile,
            .log = [this](const std::string& line) { reporterLines.push_back(line); }};
  }

  TempDir temp;
  std::string queueFile = temp.path() + "/brenmoor/improve-queue.jsonl";
  sim::FaultyFileSystem files{disk};
  MockBackend mock;
  /// What the reporter logged, read after a drain.
  std::vector<std::string> reporterLines;
};

}  // namespace tolvane::test
