// The event tap, the key rules of a switcher session, and its beginning and end.
#include "input/switcher_engine.h"

#include <algorithm>
#include <cmath>

#include "model/key_codes.h"

namespace tolvane {

namespace {

const char* boolText(bool value) {
  return value ? "true" : "false";
}

int digitIndex(std::uint16_t keyCode) {
  const auto& digits = keycode::kDigits;
  const auto it = std::find(digits.begin(), digits.end(), keyCode);
  return it == digits.end() ? -1 : static_cast<int>(it - digits.begin());
}

}  // namespace

SwitcherEngine::SwitcherEngine(Services services)
    : s_(services), launchTime_(services.clock.now()) {
  s_.controller.setRowClickHandler([this](int index) { clickCommit(index); });
  s_.guard.setKeyboardTap(&s_.tap);
}

SwitcherEngine::~SwitcherEngine() {
  s_.controller.setRowClickHandler({});
  s_.guard.setKeyboardTap(nullptr);
  for (auto timer : {refreshTimer_, pendingShow_, sessionWatchdog_}) s_.runLoop.cancel(timer);
  if (hasTap_) s_.tap.destroy();
}

void SwitcherEngine::startPolling() {
  if (refreshTimer_ == 0) {
    refreshTimer_ = s_.runLoop.repeatEvery(kPollSeconds, [this] { updateEnabled(); });
  }
}

void SwitcherEngine::updateEnabled() {
  const auto& settings = s_.settings;
  const bool paused = settings.switcherPaused();
  const bool trusted = s_.accessibility.isProcessTrusted();
  if (!paused && (settings.interceptCmdTab() || settings.interceptAppCycle()) && trusted) {
    installTapIfNeeded();
    // A tap the stall watchdog let go reports it first (and is enabled again by that report),
    // whichever of this poll and the report's own delivery the loop runs first.
    if (hasTap_) s_.tap.deliverPendingRelease();
    if (hasTap_ && !s_.tap.isEnabled()) {
      if (isActive_) {
        s_.log.log("ending switcher session: event tap was silently disabled");
        cancel();
      }
      s_.tap.setEnabled(true);
      if (s_.tap.isEnabled()) {
        s_.log.log("event tap re-enabled by poll (was silently disabled)");
        tapFailure_.reset();
      } else {
        noteTapFailure("event tap re-enable failed");
      }
    }
    watchKeyboard();
    // Option mode leaves the system's Command-Tab alone, so nothing is suppressed then.
    SymbolicHotKeySet suppress;
    if (hasTap_ && isWarmed_ && !settings.switcherUsesOption()) {
      if (settings.interceptCmdTab()) {
        suppress = {SymbolicHotKey::commandTab, SymbolicHotKey::commandShiftTab};
      }
      if (settings.interceptAppCycle()) suppress.insert(SymbolicHotKey::commandKeyAboveTab);
    }
    s_.guard.setRequested(suppress);
    return;
  }
  s_.guard.setRequested({});
  tapFailure_.reset();  // not wanted now, so nothing stands in its way
  if (hasTap_) {
    s_.log.log(std::string("removing tap: paused=") + boolText(paused) +
               " intercept=" + boolText(settings.interceptCmdTab()) + "/" +
               boolText(settings.interceptAppCycle()) + " ax=" + boolText(trusted));
    removeTap();
  }
}

void SwitcherEngine::installTapIfNeeded() {
  if (hasTap_) return;
  const bool created = s_.tap.create([this](const KeyEvent& event) {
    // Nothing may escape the tap: an exception here would leave keys in an unknown state.
    try {
      return handle(event);
    } catch (...) {
      return TapVerdict::pass;
    }
  });
  if (!created) {
    noteTapFailure("event tap creation failed");
    return;
  }
  hasTap_ = true;
  tapFailure_.reset();
  s_.tap.setEnabled(true);
  s_.log.log("event tap installed");
}

void SwitcherEngine::noteTapFailure(const std::string& what) {
  // The poll retries every two seconds for as long as the cause lasts (another program owning
  // the trigger may keep it for days): the log hears of each new cause once, then hourly.
  const std::string reason = s_.tap.failureReason().value_or("accessibility not granted?");
  const double now = s_.clock.now();
  if (tapFailure_ == reason && now - tapFailureLoggedAt_ < kFailureRelogSeconds) return;
  const bool first = tapFailure_ != reason;
  tapFailure_ = reason;
  tapFailureLoggedAt_ = now;
  const std::string line = what + " (" + reason + ")";
  if (first) {
    s_.log.notice(line);
  } else {
    s_.log.log(line + ", still");
  }
}

void SwitcherEngine::watchKeyboard() {
  s_.guard.watchTriggerGrabs(hasTap_ && s_.tap.isEnabled());
}

void SwitcherEngine::removeTap() {
  if (!hasTap_) return;
  if (isActive_) cancel();
  s_.guard.watchTriggerGrabs(false);
  s_.tap.setEnabled(false);
  s_.tap.destroy();
  hasTap_ = false;
  s_.log.log("event tap removed");
}

bool SwitcherEngine::cancelIfAbandoned() {
  if (!isActive_) return false;
  const double silence = s_.clock.now() - lastSessionActivity_;
  if (silence <= kAbandonedSessionSeconds) return false;
  s_.log.log("ending switcher session: nothing heard for " +
             std::to_string(static_cast<std::int64_t>(silence)) +
             "s (Tolvane was stopped or stalled) — cancelled");
  cancel();
  return true;
}

TapVerdict SwitcherEngine::handle(const KeyEvent& event) {
  if (event.type == KeyEventType::tapDisabledByTimeout ||
      event.type == KeyEventType::tapDisabledByUserInput) {
    recoverTap(event.type == KeyEventType::tapDisabledByTimeout ? "timeout" : "userInput");
    return TapVerdict::pass;
  }
  if (!isWarmed_) return TapVerdict::pass;
  cancelIfAbandoned();
  if (isActive_) lastSessionActivity_ = s_.clock.now();
  const std::uint64_t trigger =
      s_.settings.switcherUsesOption() ? eventflags::kOption : eventflags::kCommand;
  const bool held = (event.flags & trigger) != 0;
  switch (event.type) {
    case KeyEventType::flagsChanged:
      if (isActive_ && !held) commit();
      return TapVerdict::pass;
    case KeyEventType::keyUp:
      return isActive_ ? TapVerdict::consume : TapVerdict::pass;
    default:
      break;
  }
  if (held && triggerKeyPressed(event)) return TapVerdict::consume;
  if (!isActive_) return TapVerdict::pass;
  sessionKeyPressed(event.keyCode);
  return TapVerdict::consume;
}

void SwitcherEngine::recoverTap(const char* reason) {
  s_.log.log(std::string("event tap disabled by system (") + reason + ") — re-enabling");
  if (isActive_) cancel();
  s_.guard.setRequested({});  // the system's switcher works again at once
  bool recovered = false;
  if (hasTap_) {
    s_.tap.setEnabled(true);
    recovered = s_.tap.isEnabled();
  }
  watchKeyboard();
  s_.usage.record(
      "tap.disabled",
      {{"reason", std::string(reason)},
       {"recovered", recovered},
       {"secondsSinceStart", static_cast<std::int64_t>(std::floor(s_.clock.now() - launchTime_))}});
}

bool SwitcherEngine::triggerKeyPressed(const KeyEvent& event) {
  const bool backwards = (event.flags & eventflags::kShift) != 0;
  if (event.keyCode == keycode::kTab && s_.settings.interceptCmdTab()) {
    beginOrAdvance(std::nullopt, backwards);
    return true;
  }
  if (event.keyCode == keycode::kKeyAboveTab && s_.settings.interceptAppCycle()) {
    beginOrAdvance(s_.workspace.frontmostPid(), backwards);
    return true;
  }
  return false;
}

void SwitcherEngine::sessionKeyPressed(std::uint16_t keyCode) {
  switch (keyCode) {
    case keycode::kReturn:
    case keycode::kKeypadEnter:
      return commit();
    case keycode::kEscape:
      return cancel();
    case keycode::kLeft:
      return moveColumn(-1);
    case keycode::kRight:
      return moveColumn(+1);
    case keycode::kDown:
      return move(+1);
    case keycode::kUp:
      return move(-1);
    default:
      if (const int index = digitIndex(keyCode); index >= 0 && index < shownCount()) {
        clickCommit(index);
      }
  }
}

int SwitcherEngine::shownCount() const {
  const auto count = static_cast<std::int64_t>(windows_.size());
  return static_cast<int>(layout_ ? std::min(count, layout_->shownCount) : count);
}

void SwitcherEngine::writeSelection(int selection) {
  selection_ = selection;
  s_.controller.setSelection(selection);
}

void SwitcherEngine::beginOrAdvance(std::optional<Pid> scope, bool backwards) {
  if (isActive_ && scope == scopePID_) {
    move(backwards ? -1 : +1);
    return;
  }
  // Another scope restarts the session in place, without ending it first.
  const bool panelVisible = s_.controller.isPanelVisible();
  scopePID_ = scope;
  windows_ = MRUOrder::promoting(s_.tracker.frontmostFocusedWindowID(),
                                 s_.enumerator.snapshot(scope, !scope.has_value()));
  if (windows_.empty()) {
    endSession();
    return;
  }
  layout_ = s_.controller.layout(static_cast<std::int64_t>(windows_.size()));
  isActive_ = true;
  s_.guard.setKeyboardHeld(KeyboardHolder::switcherSession, true);
  sessionStartTime_ = s_.clock.now();
  lastSessionActivity_ = *sessionStartTime_;
  sessionKeystrokes_ = 0;
  sessionTriggerFlag_ =
      s_.settings.switcherUsesOption() ? eventflags::kOption : eventflags::kCommand;
  startSessionWatchdog();
  const int shown = shownCount();
  // The first entry is the current window only when it belongs to the frontmost application;
  // from a window the list leaves out (Tolvane's own, an excluded application's) the first
  // entry is the most recent other window, and a forward press must land on it, not skip it.
  const auto frontmost = s_.workspace.frontmostPid();
  const int forward = frontmost && windows_.front().pid() == *frontmost ? 1 : 0;
  selection_ = shown > 1 ? (backwards ? shown - 1 : forward) : 0;
  if (panelVisible) {
    s_.controller.show(windows_, selection_, *layout_);
  } else {
    s_.controller.prepare(windows_, selection_, *layout_);
    scheduleShow();
  }
}

void SwitcherEngine::move(int delta) {
  const int n = shownCount();
  if (!isActive_ || n < 1) return;
  ++sessionKeystrokes_;
  writeSelection(((selection_ + delta) % n + n) % n);
}

void SwitcherEngine::moveColumn(int delta) {
  if (!isActive_) return;
  if (!layout_ || layout_->columns < 2) return move(delta);
  ++sessionKeystrokes_;
  writeSelection(static_cast<int>(layout_->columnJump(selection_, delta)));
}

void SwitcherEngine::clickCommit(int index) {
  if (!isActive_ || index < 0 || index >= static_cast<int>(windows_.size()) ||
      index >= shownCount()) {
    return;
  }
  ++sessionKeystrokes_;
  selection_ = index;
  commit();
}

void SwitcherEngine::commit() {
  recordSession(false);
  std::optional<SwitchWindow> chosen;
  if (selection_ >= 0 && selection_ < static_cast<int>(windows_.size())) {
    chosen = windows_[static_cast<std::size_t>(selection_)];
  }
  // Ending first: the panel is already asked to hide when the activation starts.
  endSession();
  if (chosen) s_.activator.activate(*chosen);
}

void SwitcherEngine::cancel() {
  recordSession(true);
  endSession();
}

void SwitcherEngine::endSession() {
  isActive_ = false;
  s_.runLoop.cancel(std::exchange(sessionWatchdog_, 0));
  sessionTriggerFlag_.reset();
  sessionStartTime_.reset();
  s_.runLoop.cancel(std::exchange(pendingShow_, 0));
  windows_.clear();
  layout_.reset();
  scopePID_.reset();
  s_.controller.hide();
  s_.tap.sessionEnded();
  s_.guard.setKeyboardHeld(KeyboardHolder::switcherSession, false);
}

void SwitcherEngine::scheduleShow() {
  s_.runLoop.cancel(pendingShow_);
  // A press and release within the delay switches without the panel ever appearing.
  pendingShow_ = s_.runLoop.postAfter(kShowDelaySeconds, [this] {
    pendingShow_ = 0;
    if (cancelIfAbandoned()) return;
    if (isActive_ && layout_) s_.controller.show(windows_, selection_, *layout_);
  });
}

void SwitcherEngine::startSessionWatchdog() {
  s_.runLoop.cancel(sessionWatchdog_);
  // Covers a lost flags-changed event: the release is read from the keyboard itself.
  sessionWatchdog_ = s_.runLoop.repeatEvery(kReleaseWatchdogSeconds, [this] {
    if (cancelIfAbandoned()) return;
    lastSessionActivity_ = s_.clock.now();
    if (isActive_ && !isSessionTriggerPhysicallyDown()) {
      s_.log.log("ending switcher session: modifier release recovered by watchdog");
      commit();
    }
  });
}

bool SwitcherEngine::isSessionTriggerPhysicallyDown() const {
  if (!sessionTriggerFlag_) return false;
  const bool option = *sessionTriggerFlag_ == eventflags::kOption;
  return s_.tap.isKeyDown(option ? keycode::kLeftOption : keycode::kLeftCommand) ||
         s_.tap.isKeyDown(option ? keycode::kRightOption : keycode::kRightCommand);
}

void SwitcherEngine::recordSession(bool cancelled) {
  if (!sessionStartTime_) return;
  if (s_.random.uniform(5) != 0) return;  // one session in five
  const auto ms =
      static_cast<std::int64_t>(std::floor((s_.clock.now() - *sessionStartTime_) * 1000.0));
  s_.usage.record("session", {{"trigger", std::string("cmdTab")},
                              {"ms", ms},
                              {"keystrokes", std::int64_t{sessionKeystrokes_}},
                              {"resultIndex", std::int64_t{selection_}},
                              {"cancelled", cancelled},
                              {"searchChars", std::int64_t{0}},
                              {"sample", std::int64_t{5}}});
}

}  // namespace tolvane
