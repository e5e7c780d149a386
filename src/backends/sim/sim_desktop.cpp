// The simulated desktop: applications, windows, Spaces and the three services that expose them.
#include "backends/sim/sim_desktop.h"

#include <algorithm>
#include <cmath>

namespace tolvane::sim {

namespace {

const SimElement* simElement(const AXElement& element) {
  return dynamic_cast<const SimElement*>(element.get());
}

}  // namespace

// Unregisters on destruction, as releasing a real observer removes its run-loop source.
class SimDesktop::Observer final : public AXObserver {
 public:
  Observer(SimDesktop& desktop, std::uint64_t id)
      : desktop_(desktop), alive_(desktop.alive_), id_(id) {}
  ~Observer() override {
    if (alive_.lock()) desktop_.dropObserver(id_);
  }
  int addNotification(const AXElement& element, std::string_view notification) override {
    if (!alive_.lock()) return ax::kFailure;
    return desktop_.addNotification(id_, element, notification);
  }

 private:
  SimDesktop& desktop_;
  std::weak_ptr<int> alive_;
  std::uint64_t id_;
};

SimDesktop::SimDesktop(SimClock& clock, SimRunLoop& loop, Pid ownPid)
    : clock_(clock), loop_(loop), ownPid_(ownPid) {}

SimDesktop::~SimDesktop() = default;

// --- Lookup ---------------------------------------------------------------------------------

SimDesktop::AppState* SimDesktop::findApp(Pid pid) {
  return const_cast<AppState*>(std::as_const(*this).findApp(pid));
}

const SimDesktop::AppState* SimDesktop::findApp(Pid pid) const {
  auto it = std::find_if(apps_.begin(), apps_.end(),
                         [pid](const AppState& app) { return app.config.pid == pid; });
  return it == apps_.end() ? nullptr : &*it;
}

SimDesktop::WindowState* SimDesktop::findWindow(std::uint32_t number) {
  return const_cast<WindowState*>(std::as_const(*this).findWindow(number));
}

const SimDesktop::WindowState* SimDesktop::findWindow(std::uint32_t number) const {
  auto it = std::find_if(windows_.begin(), windows_.end(), [number](const WindowState& window) {
    return window.config.number == number;
  });
  return it == windows_.end() ? nullptr : &*it;
}

AXElement SimDesktop::windowElement(const WindowState& window) const {
  return std::make_shared<SimElement>(SimElement::Kind::window, window.config.pid, window.serial,
                                      window.config.number);
}

RunningApp SimDesktop::report(const SimApp& app) {
  return RunningApp{.pid = app.pid,
                    .localizedName = app.localizedName,
                    .bundleID = app.bundleID,
                    .hidden = app.hidden,
                    .activationPolicy = app.activationPolicy,
                    .terminated = app.reportedTerminated,
                    .bundleLocation = app.bundleLocation};
}

bool SimDesktop::isOnScreen(const WindowState& window) const {
  const AppState* app = findApp(window.config.pid);
  return window.config.space == currentSpace_ && !window.config.minimized &&
         !(app && app->config.hidden);
}

void SimDesktop::bringToFront(std::uint32_t number) {
  std::erase(stack_, number);
  stack_.insert(stack_.begin(), number);
}

// --- Application knobs ----------------------------------------------------------------------

bool SimDesktop::addApp(const SimApp& app) {
  if (findApp(app.pid)) return false;
  apps_.push_back(AppState{.config = app, .serial = nextSerial_++});
  return true;
}

bool SimDesktop::launchApp(const SimApp& app) {
  if (!addApp(app)) return false;
  notifyWorkspace(WorkspaceEvent::launched, report(app));
  return true;
}

bool SimDesktop::quitApp(Pid pid) {
  AppState* app = findApp(pid);
  if (!app) return false;
  RunningApp last = report(app->config);
  last.terminated = true;
  std::erase_if(apps_, [pid](const AppState& each) { return each.config.pid == pid; });
  for (const auto& window : windows_) {
    if (window.config.pid == pid) std::erase(stack_, window.config.number);
  }
  std::erase_if(windows_, [pid](const WindowState& window) { return window.config.pid == pid; });
  std::erase_if(remoteTokens_, [pid](const auto& entry) { return entry.first.first == pid; });
  timeouts_.erase(pid);
  if (frontmost_ == pid) frontmost_.reset();
  notifyWorkspace(WorkspaceEvent::terminated, last);
  return true;
}

bool SimDesktop::setHidden(Pid pid, bool hidden) {
  AppState* app = findApp(pid);
  if (!app) return false;
  app->config.hidden = hidden;
  return true;
}

bool SimDesktop::setFrontmost(Pid pid) {
  AppState* app = findApp(pid);
  if (!app) return false;
  if (app->focused) bringToFront(*app->focused);
  if (frontmost_ == pid) return true;
  frontmost_ = pid;
  notifyWorkspace(WorkspaceEvent::activated, report(app->config));
  return true;
}

bool SimDesktop::setHung(Pid pid, bool hung) {
  AppState* app = findApp(pid);
  if (app) app->config.hung = hung;
  return app != nullptr;
}

bool SimDesktop::setCallCost(Pid pid, double seconds) {
  AppState* app = findApp(pid);
  if (app) app->config.callCostSeconds = seconds;
  return app != nullptr;
}

bool SimDesktop::setAcceptsActivation(Pid pid, bool accepts) {
  AppState* app = findApp(pid);
  if (app) app->config.acceptsActivation = accepts;
  return app != nullptr;
}

bool SimDesktop::setActivationAnswerSeconds(Pid pid, double seconds) {
  AppState* app = findApp(pid);
  if (app) app->config.activationAnswerSeconds = seconds;
  return app != nullptr;
}

// --- Window knobs ---------------------------------------------------------------------------

bool SimDesktop::addWindow(const SimWindow& window) {
  if (findWindow(window.number)) return false;
  windows_.push_back(WindowState{.config = window, .serial = nextSerial_++});
  stack_.insert(stack_.begin(), window.number);
  return true;
}

bool SimDesktop::closeWindow(std::uint32_t number) {
  const WindowState* window = findWindow(number);
  if (!window) return false;
  if (AppState* app = findApp(window->config.pid)) {
    if (app->focused == number) app->focused.reset();
    if (app->main == number) app->main.reset();
  }
  std::erase(stack_, number);
  std::erase_if(windows_,
                [number](const WindowState& each) { return each.config.number == number; });
  return true;
}

bool SimDesktop::moveToSpace(std::uint32_t number, int space) {
  WindowState* window = findWindow(number);
  if (window) window->config.space = space;
  return window != nullptr;
}

bool SimDesktop::setFocusedWindow(Pid pid, std::uint32_t number) {
  const WindowState* window = findWindow(number);
  AppState* app = findApp(pid);
  if (!window || !app || window->config.pid != pid) return false;
  app->focused = number;
  app->main = number;
  bringToFront(number);

  const AXElement element = windowElement(*window);
  for (const auto& [id, entry] : axObservers_) {
    if (entry.pid != pid) continue;
    const bool wanted = std::any_of(entry.registrations.begin(), entry.registrations.end(),
                                    [](const Registration& r) {
                                      return r.kind == SimElement::Kind::application &&
                                             r.notification == ax::kFocusedWindowChanged;
                                    });
    if (!wanted) continue;
    // Looked up again at delivery: an observer dropped in the meantime hears nothing.
    loop_.post([this, alive = std::weak_ptr<int>(alive_), observer = id, element] {
      if (!alive.lock()) return;
      auto it = axObservers_.find(observer);
      if (it == axObservers_.end()) return;
      auto callback = it->second.callback;  // the callback may drop its own observer
      callback(element);
    });
  }
  return true;
}

bool SimDesktop::setMinimized(std::uint32_t number, bool minimized) {
  WindowState* window = findWindow(number);
  if (window) window->config.minimized = minimized;
  return window != nullptr;
}

bool SimDesktop::setTitle(std::uint32_t number, std::optional<std::string> title) {
  WindowState* window = findWindow(number);
  if (window) window->config.title = std::move(title);
  return window != nullptr;
}

std::optional<bool> SimDesktop::isMinimized(std::uint32_t number) const {
  const WindowState* window = findWindow(number);
  if (!window) return std::nullopt;
  return window->config.minimized;
}

void SimDesktop::addRawWindowInfo(const WindowInfo& info, bool onScreen) {
  rawWindows_.emplace_back(info, onScreen);
}

// --- Window-server knobs --------------------------------------------------------------------

void SimDesktop::placeRemoteToken(Pid pid, std::int64_t elementId, std::uint32_t windowNumber) {
  remoteTokens_[{pid, elementId}] = windowNumber;
}

bool SimDesktop::hotKeyEnabled(std::int32_t hotKey) const {
  auto it = hotKeys_.find(hotKey);
  return it == hotKeys_.end() || it->second;
}

void SimDesktop::setSecureInput(bool enabled, std::optional<Pid> holder) {
  secureInput_ = enabled;
  secureInputHolder_ = enabled ? holder : std::nullopt;
}

int SimDesktop::registeredNotifications(Pid pid) const {
  int count = 0;
  for (const auto& [id, entry] : axObservers_) {
    if (entry.pid == pid) count += static_cast<int>(entry.registrations.size());
  }
  return count;
}

double SimDesktop::messagingTimeout(Pid pid) const {
  auto it = timeouts_.find(pid);
  return it == timeouts_.end() ? defaultTimeout_ : it->second;
}

// --- Workspace ------------------------------------------------------------------------------

std::vector<RunningApp> SimDesktop::runningApplications() const {
  std::vector<RunningApp> result;
  result.reserve(apps_.size());
  for (const auto& app : apps_) result.push_back(report(app.config));
  return result;
}

std::optional<RunningApp> SimDesktop::application(Pid pid) const {
  const AppState* app = findApp(pid);
  if (!app) return std::nullopt;
  return report(app->config);
}

ObserverToken SimDesktop::addObserver(WorkspaceEvent event, AppHandler handler) {
  const ObserverToken token = nextWorkspaceToken_++;
  workspaceObservers_.emplace(token, WorkspaceObserver{event, std::move(handler)});
  return token;
}

void SimDesktop::notifyWorkspace(WorkspaceEvent event, const RunningApp& app) {
  for (const auto& [token, observer] : workspaceObservers_) {
    if (observer.event != event) continue;
    loop_.post([this, alive = std::weak_ptr<int>(alive_), token = token, app] {
      if (!alive.lock()) return;
      auto it = workspaceObservers_.find(token);
      if (it == workspaceObservers_.end()) return;
      auto handler = it->second.handler;  // the handler may remove itself
      handler(app);
    });
  }
}

void SimDesktop::unhide(Pid pid) {
  AppState* app = findApp(pid);
  if (!app) return;
  app->config.hidden = false;
  record("unhide " + std::to_string(pid));
}

bool SimDesktop::activate(Pid pid, ActivationAnswer answer) {
  const AppState* app = findApp(pid);
  if (app && app->config.activationAnswerSeconds > 0) {
    loop_.postAfter(app->config.activationAnswerSeconds,
                    [this, alive = std::weak_ptr<int>(alive_), pid, answer = std::move(answer)] {
                      if (!alive.lock()) return;
                      const bool accepted = answerActivation(pid);
                      if (answer) answer(accepted);
                    });
    return true;
  }
  const bool accepted = answerActivation(pid);
  if (answer) answer(accepted);
  return accepted;
}

bool SimDesktop::answerActivation(Pid pid) {
  AppState* app = findApp(pid);
  const bool accepted = app && app->config.acceptsActivation;
  record("activate " + std::to_string(pid) + (accepted ? " accepted" : " refused"));
  if (accepted) setFrontmost(pid);
  return accepted;
}

void SimDesktop::openApplication(const std::string& bundleLocation) {
  record("open " + bundleLocation);
}

bool SimDesktop::openURL(const std::string& url) {
  if (!openURLWorks_) return false;
  record("openURL " + url);
  return true;
}

std::optional<std::string> SimDesktop::iconPNG(const std::string&) const {
  return std::nullopt;
}

// --- Accessibility --------------------------------------------------------------------------

bool SimDesktop::isProcessTrustedWithPrompt() {
  if (!trusted_) ++prompts_;
  return trusted_;
}

AXElement SimDesktop::applicationElement(Pid pid) {
  // An element for a pid that is not running names no incarnation (serial 0): it is dead.
  const AppState* app = findApp(pid);
  return std::make_shared<SimElement>(SimElement::Kind::application, pid, app ? app->serial : 0, 0);
}

AXElement SimDesktop::systemWideElement() {
  return std::make_shared<SimElement>(SimElement::Kind::systemWide, 0, 0, 0);
}

int SimDesktop::reach(const AXElement& element, AppState*& app, WindowState*& window) {
  app = nullptr;
  window = nullptr;
  const SimElement* e = simElement(element);
  if (!e || e->kind == SimElement::Kind::systemWide) return ax::kFailure;
  ++axCalls_;
  if (!trusted_) return kAPIDisabled;
  AppState* owner = findApp(e->pid);
  if (!owner || (e->kind == SimElement::Kind::application && owner->serial != e->serial)) {
    return ax::kInvalidUIElement;
  }
  // A hung application cannot even say that the window is gone: the timeout comes first.
  if (owner->config.hung) {
    clock_.advance(messagingTimeout(e->pid));
    return ax::kCannotComplete;
  }
  clock_.advance(owner->config.callCostSeconds);
  if (e->kind == SimElement::Kind::window) {
    WindowState* w = findWindow(e->number);
    if (!w || w->serial != e->serial) return ax::kInvalidUIElement;
    window = w;
  }
  app = owner;
  return ax::kSuccess;
}

AXResult SimDesktop::copyAttribute(const AXElement& element, std::string_view attribute) {
  AppState* app = nullptr;
  WindowState* window = nullptr;
  if (const int error = reach(element, app, window); error != ax::kSuccess) return {error, {}};
  auto missing = [] { return AXResult{ax::kNoValue, {}}; };
  auto value = [](AXValue v) { return AXResult{ax::kSuccess, std::move(v)}; };

  if (!window) {
    if (attribute == ax::kWindows) {
      // The real service lists only the current Space; other Spaces need the window server.
      std::vector<AXElement> list;
      for (const auto& w : windows_) {
        if (w.config.pid == app->config.pid && w.config.space == currentSpace_) {
          list.push_back(windowElement(w));
        }
      }
      return value(std::move(list));
    }
    if (attribute == ax::kFocusedWindow) {
      const WindowState* focused = app->focused ? findWindow(*app->focused) : nullptr;
      return focused ? value(windowElement(*focused)) : missing();
    }
    return {ax::kAttributeUnsupported, {}};
  }

  const SimWindow& w = window->config;
  if (attribute == ax::kTitle) return w.title ? value(*w.title) : missing();
  if (attribute == ax::kSubrole) return w.subrole ? value(*w.subrole) : missing();
  if (attribute == ax::kRole) return value(std::string("AXWindow"));
  if (attribute == ax::kSize) return w.size ? value(*w.size) : missing();
  if (attribute == ax::kMinimized) return value(w.minimized);
  if (attribute == ax::kMain) return value(app->main == w.number);
  return {ax::kAttributeUnsupported, {}};
}

int SimDesktop::setAttribute(const AXElement& element, std::string_view attribute,
                             const AXValue& value) {
  AppState* app = nullptr;
  WindowState* window = nullptr;
  if (const int error = reach(element, app, window); error != ax::kSuccess) return error;
  if (!window || (attribute != ax::kMinimized && attribute != ax::kMain)) {
    return ax::kAttributeUnsupported;
  }
  const bool* flag = std::get_if<bool>(&value);
  if (!flag) return ax::kFailure;  // the real service refuses a wrongly typed value
  const std::string number = std::to_string(window->config.number);
  if (attribute == ax::kMinimized) {
    window->config.minimized = *flag;
    record("setMinimized " + number + (*flag ? " true" : " false"));
  } else {
    // Main, not focused: focus changes come only from setFocusedWindow.
    if (*flag) {
      app->main = window->config.number;
    } else if (app->main == window->config.number) {
      app->main.reset();
    }
    record("setMain " + number + (*flag ? "" : " false"));
  }
  return ax::kSuccess;
}

int SimDesktop::performAction(const AXElement& element, std::string_view action) {
  AppState* app = nullptr;
  WindowState* window = nullptr;
  if (const int error = reach(element, app, window); error != ax::kSuccess) return error;
  if (!window || action != ax::kRaise) return ax::kFailure;  // the action is not supported
  bringToFront(window->config.number);
  record("raise " + std::to_string(window->config.number));
  return ax::kSuccess;
}

int SimDesktop::setMessagingTimeout(const AXElement& element, double seconds) {
  const SimElement* e = simElement(element);
  if (!e || std::isnan(seconds) || seconds < 0) return ax::kFailure;
  // Zero restores the default, as on the real service.
  if (e->kind == SimElement::Kind::systemWide) {
    defaultTimeout_ = seconds > 0 ? seconds : kDefaultMessagingTimeout;
  } else if (seconds > 0) {
    timeouts_[e->pid] = seconds;
  } else {
    timeouts_.erase(e->pid);
  }
  return ax::kSuccess;
}

std::optional<Pid> SimDesktop::pidOf(const AXElement& element) {
  // Answered from the handle itself, so dead and hung applications' elements still know it.
  const SimElement* e = simElement(element);
  if (!e || e->kind == SimElement::Kind::systemWide) return std::nullopt;
  ++axCalls_;
  return e->pid;
}

int SimDesktop::windowNumber(const AXElement& element, std::uint32_t& number) {
  AppState* app = nullptr;
  WindowState* window = nullptr;
  if (const int error = reach(element, app, window); error != ax::kSuccess) return error;
  if (!window || !window->config.windowNumberReadable) return ax::kFailure;
  number = window->config.reportedNumber.value_or(window->config.number);
  return ax::kSuccess;
}

std::unique_ptr<AXObserver> SimDesktop::createObserver(Pid pid, ObserverCallback callback,
                                                       int& error) {
  ++axCalls_;
  const AppState* app = findApp(pid);
  error = !trusted_                   ? kAPIDisabled
          : !app                      ? ax::kInvalidUIElement
          : app->config.observersFail ? ax::kFailure
                                      : ax::kSuccess;
  if (error != ax::kSuccess) return nullptr;
  const std::uint64_t id = nextObserver_++;
  axObservers_.emplace(id, ObserverEntry{pid, std::move(callback), {}});
  return std::make_unique<Observer>(*this, id);
}

int SimDesktop::addNotification(std::uint64_t observer, const AXElement& element,
                                std::string_view notification) {
  AppState* app = nullptr;
  WindowState* window = nullptr;
  if (const int error = reach(element, app, window); error != ax::kSuccess) return error;
  auto it = axObservers_.find(observer);
  if (it == axObservers_.end() || it->second.pid != app->config.pid) return ax::kFailure;
  if (app->config.notificationsFail) return ax::kFailure;
  const SimElement* e = simElement(element);
  auto& registrations = it->second.registrations;
  const bool already =
      std::any_of(registrations.begin(), registrations.end(), [&](const Registration& r) {
        return r.kind == e->kind && r.number == e->number && r.notification == notification;
      });
  if (already) return kNotificationAlreadyRegistered;
  registrations.push_back(Registration{e->kind, e->number, std::string(notification)});
  return ax::kSuccess;
}

// --- Window server --------------------------------------------------------------------------

std::vector<WindowInfo> SimDesktop::windowList(bool onScreenOnly) {
  std::vector<WindowInfo> list;
  for (std::uint32_t number : stack_) {
    const WindowState* window = findWindow(number);
    if (!window || (onScreenOnly && !isOnScreen(*window))) continue;
    list.push_back(WindowInfo{.number = window->config.number,
                              .layer = window->config.layer,
                              .ownerPid = window->config.pid});
  }
  for (const auto& [info, onScreen] : rawWindows_) {
    if (onScreen || !onScreenOnly) list.push_back(info);
  }
  return list;
}

std::optional<std::vector<WindowInfo>> SimDesktop::onScreenWindows() {
  ++windowServerCalls_;
  if (windowListsFail_) return std::nullopt;
  return windowList(true);
}

std::optional<std::vector<WindowInfo>> SimDesktop::allWindows() {
  ++windowServerCalls_;
  if (windowListsFail_) return std::nullopt;
  return windowList(false);
}

std::optional<std::int32_t> SimDesktop::mainConnectionID() {
  ++windowServerCalls_;
  if (!available.mainConnectionID) return std::nullopt;
  return kConnectionID;
}

std::optional<std::vector<std::uint64_t>> SimDesktop::copySpaces(std::int32_t connection, int) {
  ++windowServerCalls_;
  if (!available.copySpaces || connection != kConnectionID) return std::nullopt;
  std::set<std::uint64_t> spaces{static_cast<std::uint64_t>(currentSpace_)};
  for (const auto& window : windows_)
    spaces.insert(static_cast<std::uint64_t>(window.config.space));
  return std::vector<std::uint64_t>(spaces.begin(), spaces.end());
}

std::optional<std::vector<std::uint32_t>> SimDesktop::copyWindowsOnSpaces(
    std::int32_t connection, const std::vector<std::uint64_t>& spaces) {
  ++windowServerCalls_;
  if (!available.copyWindowsOnSpaces || connection != kConnectionID) return std::nullopt;
  std::vector<std::uint32_t> numbers;
  for (const auto& window : windows_) {
    const auto space = static_cast<std::uint64_t>(window.config.space);
    if (std::find(spaces.begin(), spaces.end(), space) != spaces.end()) {
      numbers.push_back(window.config.number);
    }
  }
  return numbers;
}

bool SimDesktop::hasRemoteTokens() const {
  ++windowServerCalls_;
  return available.remoteTokens;
}

AXElement SimDesktop::elementFromRemoteToken(const RemoteToken& token) {
  ++windowServerCalls_;
  ++axCalls_;
  if (!available.remoteTokens) return nullptr;
  const auto target = parseRemoteToken(token);
  if (!target) return nullptr;
  const Pid pid = target->pid;
  const std::int64_t elementId = target->elementID;
  // Every id tried costs the application a round trip, found or not, so an element-id search
  // takes virtual time in proportion to its length; a hung application times out on each.
  const AppState* app = findApp(pid);
  if (!app) return nullptr;
  if (app->config.hung) {
    clock_.advance(messagingTimeout(pid));
    return nullptr;
  }
  clock_.advance(app->config.callCostSeconds);
  auto placed = remoteTokens_.find({pid, elementId});
  if (placed == remoteTokens_.end()) return nullptr;
  const WindowState* window = findWindow(placed->second);
  if (!window || window->config.pid != pid) return nullptr;
  return windowElement(*window);
}

bool SimDesktop::hasSymbolicHotKeySetter() const {
  ++windowServerCalls_;
  return available.hotKeySetter;
}

int SimDesktop::setSymbolicHotKeyEnabled(std::int32_t hotKey, bool enabled) {
  ++windowServerCalls_;
  if (!available.hotKeySetter) return kHotKeyFailure;
  hotKeys_[hotKey] = enabled;
  record("hotkey " + std::to_string(hotKey) + (enabled ? " true" : " false"));
  return 0;
}

std::optional<bool> SimDesktop::isSymbolicHotKeyEnabled(std::int32_t hotKey) {
  ++windowServerCalls_;
  if (!available.hotKeyQuery) return std::nullopt;
  return hotKeyEnabled(hotKey);
}

bool SimDesktop::isSecureInputEnabled() {
  ++windowServerCalls_;
  return secureInput_;
}

std::optional<Pid> SimDesktop::secureInputHolderPid() {
  ++windowServerCalls_;
  return secureInputHolder_;
}

bool SimDesktop::processExists(Pid pid) {
  ++windowServerCalls_;
  return pid == ownPid_ || findApp(pid) != nullptr || processes_.count(pid) > 0;
}

}  // namespace tolvane::sim
