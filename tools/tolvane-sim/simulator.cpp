// Building the simulated desktop from a scenario, launching Tolvane on it, and playing the
// timeline step by step on virtual time.
#include "simulator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "settings/preference_keys.h"

namespace tolvane::simtool {

namespace {

// The watchdog's thread wakes on a fixed virtual grid, so traces are the same on every run.
constexpr std::int64_t kWakeNanos =
    static_cast<std::int64_t>(MainStallWatchdog::kHeldWakeSeconds * 1e9);

std::int64_t toNanos(double seconds) {
  return static_cast<std::int64_t>(std::llround(seconds * 1e9));
}

/// "12", "0.25": the shortest form that says the value.
std::string seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string describeSlot(const SwitcherSlotView& slot) {
  if (slot.kind == SwitcherSlotView::Kind::overflow)
    return "[overflow " + quoted(slot.overflowText) + "]";
  std::string out =
      "[" + std::to_string(slot.index) + " " + quoted(slot.title + slot.titleSuffix.value_or(""));
  if (slot.appName) out += " app=" + quoted(*slot.appName);
  if (slot.minimizedMarker) out += " minimized";
  if (slot.badge == SwitcherSlotView::Badge::number)
    out += " badge=" + std::to_string(slot.badgeNumber);
  if (slot.background.color == SemanticColor::accent) out += " selected";
  return out + "]";
}

std::string describeView(const SwitcherPanelView& view) {
  std::string out = std::to_string(static_cast<long long>(view.size.width)) + "x" +
                    std::to_string(static_cast<long long>(view.size.height));
  out += " slots=" + std::to_string(view.slots.size());
  for (const auto& slot : view.slots) out += " " + describeSlot(slot);
  return out;
}

}  // namespace

/// Records and traces what the core asks the HUD to show.
class Simulator::TracingPanel final : public SwitcherPanel {
 public:
  explicit TracingPanel(Trace& trace) : trace_(trace) {}
  void show(const SwitcherPanelView& view) override {
    trace_.line("panel", std::string(panel_.visible ? "updated " : "shown ") + describeView(view));
    panel_.show(view);
  }
  void hide() override {
    if (panel_.visible) trace_.line("panel", "hidden");
    panel_.hide();
  }
  bool isVisible() const override { return panel_.isVisible(); }
  void setClickHandler(std::function<void(int)> handler) override {
    panel_.setClickHandler(std::move(handler));
  }
  bool click(int index) { return panel_.click(index); }

 private:
  Trace& trace_;
  sim::SimSwitcherPanel panel_;
};

class Simulator::TracingInteraction final : public UserInteraction {
 public:
  explicit TracingInteraction(Trace& trace) : trace_(trace) {}
  void beep() override { trace_.line("beep", ""); }
  void showAbout(const std::string& applicationName, const std::string& version) override {
    trace_.line("about", applicationName + " " + version);
  }
  void chooseApplications(const std::vector<InstalledApplication>& candidates, const std::string&,
                          std::function<void(std::vector<std::string>)> done) override {
    trace_.line("choose-applications", std::to_string(candidates.size()) + " offered, cancelled");
    done({});
  }
  void showUpdateNotice(const UpdateNotice& notice) override {
    trace_.line("update-notice",
                notice.title + (notice.downloadPage ? " " + *notice.downloadPage : ""));
  }

 private:
  Trace& trace_;
};

Simulator::Simulator(const Scenario& scenario, sim::SimClock& clock, Trace& trace,
                     SimulatorOptions options)
    : scenario_(scenario),
      trace_(trace),
      options_(std::move(options)),
      clock_(clock),
      loop_(clock),
      desktop_(clock, loop_),
      hotKeys_(desktop_, trace, options_.hotKeyFile),
      panel_(std::make_unique<TracingPanel>(trace)),
      palettePanel_(trace),
      interaction_(std::make_unique<TracingInteraction>(trace)),
      preferences_([&] {
        sim::SimPreferenceStore::Values values;
        for (const auto& [key, value] : scenario.preferences) values[key] = value;
        return values;
      }()),
      http_(trace),
      log_(files_, clock, options_.stateFolder + "/log") {
  system_.env["LANG"] = "en_US.UTF-8";
  screens_.visibleFrame = scenario.screen;
  screens_.count = scenario.screenCount;
  services_ = {.clock = &clock_,
               .runLoop = &loop_,
               .files = &files_,
               .paths = {.configHome = options_.stateFolder + "/config",
                         .dataHome = options_.stateFolder + "/data"},
               .system = &system_,
               .random = &random_,
               .preferences = &preferences_,
               .loginItems = &loginItems_,
               .systemLog = &systemLog_,
               .secrets = &secrets_,
               .digest = &digest_,
               .http = &http_,
               .workspace = &desktop_,
               .accessibility = &desktop_,
               .windowServer = &hotKeys_,
               .eventTap = &tap_,
               .hotKeys = &paletteHotKeys_,
               .screens = &screens_,
               .switcherPanel = panel_.get(),
               .palettePanel = &palettePanel_,
               .statusItem = &statusItem_,
               .interaction = interaction_.get(),
               .keyMonitor = &keyMonitor_};
  log_.setObserver([this](std::string_view line) {
    const auto space = line.find(' ');
    trace_.line("log", space == std::string_view::npos ? line : line.substr(space + 1));
  });
  desktop_.setEventObserver([this](const std::string& event) {
    if (event.rfind("openURL ", 0) == 0) lastOpenedURL_ = event.substr(8);
    trace_.line("desktop", event);
  });
}

Simulator::~Simulator() {
  {
    std::lock_guard guard(parkLock_);
    released_ = true;
  }
  parkChanged_.notify_all();
  app_.reset();
}

void Simulator::run() {
  buildDesktop();
  launch();
  for (const auto& action : scenario_.timeline) {
    perform(action);
    if (quit_) return;
  }
}

void Simulator::addApp(const ScenarioApp& app, bool launched) {
  if (launched) {
    desktop_.launchApp(app.app);
  } else {
    desktop_.addApp(app.app);
  }
  // Each new window goes in front, so adding in reverse leaves the first one frontmost.
  for (auto it = app.windows.rbegin(); it != app.windows.rend(); ++it) desktop_.addWindow(*it);
  for (const auto& token : app.remoteTokens) {
    desktop_.placeRemoteToken(app.app.pid, token.elementId, token.window);
  }
  const auto focused = app.focusedWindow     ? app.focusedWindow
                       : app.windows.empty() ? std::nullopt
                                             : std::optional(app.windows.front().number);
  if (focused) desktop_.setFocusedWindow(app.app.pid, *focused);
  if (app.frontmost) desktop_.setFrontmost(app.app.pid);
}

void Simulator::buildDesktop() {
  desktop_.available = scenario_.available;
  desktop_.setTrusted(scenario_.trusted);
  desktop_.setCurrentSpace(scenario_.currentSpace);
  for (auto it = scenario_.apps.rbegin(); it != scenario_.apps.rend(); ++it) addApp(*it, false);
  // What the desktop did before Tolvane existed is nobody's news.
  loop_.advance(0);
  desktop_.clearEvents();
}

void Simulator::launch() {
  trace_.line("launch", "tolvane-sim: " + std::to_string(scenario_.apps.size()) + " applications");
  if (options_.installEmergencyRestore) {
    prepareProcess(services_);
    if (options_.afterEmergencyRestore) options_.afterEmergencyRestore();
  } else {
    prepareLanguage(preferences_);
  }
  app_ = std::make_unique<AppDelegate>(services_, log_, [this](double) {
    std::unique_lock guard(parkLock_);
    parkChanged_.wait(guard, [this] { return released_; });
  });
  app_->reporter().setObserver([this](const std::string& name, const std::string& properties) {
    trace_.line("usage", name + " " + properties);
  });
  if (auto* account = app_->account()) {
    accountSubscription_ = account->subscribe([this] { traceAccount(); });
  }
  app_->applicationDidFinishLaunching();
  settle();
}

void Simulator::traceAccount() {
  const auto& state = app_->account()->state();
  trace_.line("account", state.signedIn
                             ? "signed in email=" + quoted(state.email) + " tier=" + state.tier
                             : std::string("signed out"));
}

void Simulator::pressPaletteHotKey() {
  const auto registrations = paletteHotKeys_.registrations();
  if (registrations.empty()) {
    trace_.line("action", "palette hot key (none registered)");
    return;
  }
  const auto& combination = registrations.begin()->second;
  trace_.line("action", "palette hot key");
  paletteHotKeys_.press(combination.keyCode, combination.modifiers);
}

void Simulator::openTrayMenu(const std::string& choose) {
  trace_.line("action", "tray menu");
  trace_.line("menu", describeMenu(statusItem_.openMenu()));
  if (choose.empty()) {
    statusItem_.closeMenu();
    return;
  }
  trace_.line("action", "choose " + quoted(choose));
  if (statusItem_.choose(choose)) return;
  trace_.line("action", "not in the menu");
  statusItem_.closeMenu();
}

void Simulator::signIn(const std::string& code) {
  trace_.line("action", "sign in");
  if (!app_->account()) return;
  lastOpenedURL_.clear();
  app_->account()->signIn();
  // The browser signs the user in and comes back through the URL scheme, with the state the
  // sign-in page was opened with.
  const auto at = lastOpenedURL_.find("state=");
  if (at == std::string::npos) return;
  const std::string state = lastOpenedURL_.substr(at + 6, lastOpenedURL_.find('&', at) - at - 6);
  const std::string callback = "tolvane://auth?code=" + code + "&state=" + state;
  trace_.line("action", "url " + callback);
  app_->handleURL(callback);
}

bool Simulator::performForSubsystem(const Action& a) {
  switch (a.kind) {
    case ActionKind::paletteHotKey:
      pressPaletteHotKey();
      return true;
    case ActionKind::type:
      // Each step's line comes first, so that what it causes follows it in the trace.
      trace_.line("action", "type " + quoted(a.text));
      if (!palettePanel_.type(a.text)) trace_.line("action", "no palette on screen");
      return true;
    case ActionKind::paletteKey: {
      trace_.line("key", "palette " + a.keyName + " [" + flagNames(a.flags.value_or(0)) + "]");
      const bool consumed = keyMonitor_.press(a.keyCode, a.flags.value_or(0));
      trace_.line("palette", consumed ? "key consumed" : "key passed");
      return true;
    }
    case ActionKind::trayMenu:
      openTrayMenu(a.text);
      return true;
    case ActionKind::signIn:
      signIn(a.text);
      return true;
    case ActionKind::signOut:
      trace_.line("action", "sign out");
      if (app_->account()) app_->account()->signOut();
      return true;
    case ActionKind::serverReply:
      trace_.line("action", "server replies " + (a.status ? std::to_string(*a.status) : "nothing"));
      http_.setReply(a.status ? HttpResponse{.status = a.status, .body = a.text}
                              : HttpResponse{.transportError = "no reply"});
      return true;
    default:
      return false;
  }
}

void Simulator::settle() {
  loop_.advance(0);
  traceFocusOrder();
}

void Simulator::traceFocusOrder() {
  if (!app_) return;
  const auto& ids = app_->tracker().order().ids();
  std::vector<std::uint32_t> front(ids.begin(), ids.begin() + std::min<std::size_t>(ids.size(), 8));
  if (front == lastFocusOrder_) return;
  lastFocusOrder_ = front;
  std::string text;
  for (auto id : front) text += (text.empty() ? "" : " ") + std::to_string(id);
  trace_.line("mru", text.empty() ? "empty" : text);
}

void Simulator::watchdogWake() {
  app_->guard().watchdog().check();
}

void Simulator::advance(double seconds) {
  // The timeline keeps its own time. When the main thread was busy past it (slow calls), the
  // next action happens late, as input waits for a busy thread; only work due by the
  // timeline's time runs before it.
  timelineNanos_ += toNanos(seconds);
  for (;;) {
    const std::int64_t nextWake = (clock_.nanos() / kWakeNanos + 1) * kWakeNanos;
    const std::int64_t stop = std::min(nextWake, timelineNanos_);
    loop_.advance(static_cast<double>(stop - clock_.nanos()) / 1e9);
    if (clock_.nanos() >= nextWake) watchdogWake();
    traceFocusOrder();
    if (stop == timelineNanos_) return;
  }
}

void Simulator::stall(double seconds) {
  // The main thread is busy: time passes and the watchdog wakes, but nothing on the run loop
  // runs until the stall is over.
  const std::int64_t target = clock_.nanos() + toNanos(seconds);
  while (clock_.nanos() < target) {
    const std::int64_t nextWake = (clock_.nanos() / kWakeNanos + 1) * kWakeNanos;
    clock_.advanceTo(std::min(nextWake, target));
    if (clock_.nanos() >= nextWake) watchdogWake();
  }
  timelineNanos_ = std::max(timelineNanos_, target);
  settle();
}

void Simulator::key(const Action& action, KeyEventType type) {
  const auto modifier = modifierFlag(action.keyCode);
  const bool down = type == KeyEventType::keyDown;
  std::uint64_t held = heldFlags_;
  if (modifier) held = down ? (held | *modifier) : (held & ~*modifier);
  const std::uint64_t flags = action.flags.value_or(held);
  heldFlags_ = held;
  // The event's line comes first, so that what it causes follows it in the trace.
  trace_.line("key",
              std::string(down ? "down " : "up ") + action.keyName + " [" + flagNames(flags) + "]");
  const TapVerdict verdict = modifier ? tap_.modifier(action.keyCode, down, flags)
                                      : tap_.deliver(type, action.keyCode, flags);
  trace_.line("tap", verdict == TapVerdict::consume ? "consumed" : "passed");
  settle();
}

bool Simulator::performDesktopChange(const Action& a) {
  switch (a.kind) {
    case ActionKind::focus:
      trace_.line("action", "focus " + std::to_string(a.window));
      desktop_.setFrontmost(a.pid);
      desktop_.setFocusedWindow(a.pid, a.window);
      break;
    case ActionKind::launchApp:
      trace_.line("action", "launch " + std::to_string(a.app->app.pid));
      addApp(*a.app, true);
      break;
    case ActionKind::quitApp:
      trace_.line("action", "quit application " + std::to_string(a.pid));
      desktop_.quitApp(a.pid);
      break;
    case ActionKind::hang:
      trace_.line("action", std::string(a.enabled ? "hang " : "unhang ") + std::to_string(a.pid));
      desktop_.setHung(a.pid, a.enabled);
      break;
    case ActionKind::openWindow:
      trace_.line("action", "open window " + std::to_string(a.newWindow->number));
      desktop_.addWindow(*a.newWindow);
      break;
    case ActionKind::closeWindow:
      trace_.line("action", "close window " + std::to_string(a.window));
      desktop_.closeWindow(a.window);
      break;
    case ActionKind::minimize:
      trace_.line("action",
                  std::string(a.enabled ? "minimize " : "restore ") + std::to_string(a.window));
      desktop_.setMinimized(a.window, a.enabled);
      break;
    case ActionKind::switchSpace:
      trace_.line("action", "switch to Space " + std::to_string(a.space));
      desktop_.setCurrentSpace(a.space);
      break;
    case ActionKind::secureInput:
      trace_.line("action", std::string("secure input ") + (a.enabled ? "on" : "off"));
      desktop_.setSecureInput(a.enabled, a.holder);
      break;
    default:
      return false;
  }
  return true;
}

void Simulator::perform(const Action& a) {
  if (performForSubsystem(a) || performDesktopChange(a)) {
    settle();
    return;
  }
  switch (a.kind) {
    case ActionKind::advance:
      advance(a.seconds);
      return;
    case ActionKind::keyDown:
      key(a, KeyEventType::keyDown);
      return;
    case ActionKind::keyUp:
      key(a, KeyEventType::keyUp);
      return;
    case ActionKind::press:
      key(a, KeyEventType::keyDown);
      key(a, KeyEventType::keyUp);
      return;
    case ActionKind::loseKeyUp:
      tap_.loseRelease(a.keyCode);
      if (auto flag = modifierFlag(a.keyCode)) heldFlags_ &= ~*flag;
      trace_.line("key", "lost up " + a.keyName);
      break;
    case ActionKind::stall:
      trace_.line("action", "stall main thread " + seconds(a.seconds) + " s");
      stall(a.seconds);
      return;
    case ActionKind::url:
      trace_.line("action", "url " + a.url);
      app_->handleURL(a.url);
      break;
    case ActionKind::click:
      trace_.line("action", "click slot " + std::to_string(a.slot) +
                                (panel_->click(a.slot) ? "" : " (nothing there)"));
      break;
    case ActionKind::quit:
      quit();
      return;
    default:
      break;
  }
  settle();
}

void Simulator::quit() {
  if (quit_ || !app_) return;
  trace_.line("action", "quit");
  app_->applicationWillTerminate();
  quit_ = true;
}

}  // namespace tolvane::simtool
