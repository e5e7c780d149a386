// Reconciling the system hotkeys with the request, the heartbeat, and secure input.
#include "input/native_switcher_guard.h"

#include <algorithm>
#include <utility>

namespace tolvane {

std::optional<Pid> SecureInput::holderPID() {
  auto pid = windowServer_.secureInputHolderPid();
  if (pid && *pid >= 1) return pid;
  return std::nullopt;
}

std::optional<std::string> SecureInput::holderName() {
  const auto pid = holderPID();
  if (!pid) return std::nullopt;
  if (auto app = workspace_.application(*pid); app && app->localizedName) {
    return app->localizedName;
  }
  if (windowServer_.processExists(*pid)) return "PID " + std::to_string(*pid);
  return std::nullopt;
}

NativeSwitcherGuard::NativeSwitcherGuard(Services services,
                                         std::function<void(double)> watchdogSleep)
    : s_(services),
      secureInput_(services.windowServer, services.workspace),
      watchdogSleep_(std::move(watchdogSleep)),
      watchdog_([&clock = services.clock] { return clock.uptimeNanoseconds(); },
                [this](double seconds) { onHotKeyStall(seconds); },
                [this](double seconds) { onKeyboardStall(seconds); }) {}

NativeSwitcherGuard::~NativeSwitcherGuard() {
  s_.runLoop.cancel(heartbeatTimer_);
}

void NativeSwitcherGuard::setRequested(SymbolicHotKeySet requested) {
  requested_ = std::move(requested);
  reconcile();
}

void NativeSwitcherGuard::disarm() {
  disarmed_ = true;
  watchdog_.setActive(StallWatch::hotKeys, false);
  restoreAll();
}

void NativeSwitcherGuard::setKeyboardTap(EventTap* tap) {
  keyboardTap_ = tap;
  updateKeyboardWatch();
}

void NativeSwitcherGuard::watchTriggerGrabs(bool installed) {
  triggerGrabsWatched_ = installed;
  updateKeyboardWatch();
}

void NativeSwitcherGuard::updateKeyboardWatch() {
  // A holder needs the watch even while the switcher is paused: the palette grabs the keyboard
  // with no trigger grab installed.
  const bool active = keyboardTap_ != nullptr && (triggerGrabsWatched_ || keyboardHeld_);
  if (active) startHeartbeatIfNeeded();
  watchdog_.setActive(StallWatch::keyboard, active);
}

void NativeSwitcherGuard::onHotKeyStall(double seconds) {
  const auto whole = static_cast<std::int64_t>(seconds);
  restoreAll();
  s_.log.log("watchdog: main stalled " + std::to_string(whole) + "s — native hotkeys restored");
  s_.usage.record("watchdog.stall", {{"seconds", whole}});
}

void NativeSwitcherGuard::onKeyboardStall(double seconds) {
  EventTap* tap = keyboardTap_;
  if (!tap || !tap->releaseFromAnyThread()) return;
  s_.log.log("watchdog: main stalled " + std::to_string(static_cast<int>(seconds * 1000)) +
             " ms — keyboard released");
  // Runs once the main thread is back: the tap tells its callback what happened before any key
  // queued meanwhile could start or end a session.
  s_.runLoop.postFromAnyThread([this] {
    if (EventTap* released = keyboardTap_) released->deliverPendingRelease();
  });
}

void NativeSwitcherGuard::noteSecureInput(bool enabled) {
  secureInputBlocking_ = enabled;
  const auto name = secureInput_.holderName();
  if (enabled) {
    const std::string holder =
        name ? *name : "stale pid " + std::to_string(secureInput_.holderPID().value_or(0));
    s_.log.log("secure input on (" + holder + ") — native hotkeys handed back");
  } else {
    s_.log.log("secure input off — re-arming native hotkey suppression");
  }
  s_.usage.record("secureInput", {{"enabled", enabled}, {"holderAlive", name.has_value()}});
}

void NativeSwitcherGuard::reconcile() {
  if (disarmed_ || !s_.windowServer.hasSymbolicHotKeySetter()) return;
  SymbolicHotKeySet effective;
  if (!requested_.empty()) {
    startHeartbeatIfNeeded();
    const bool secure = s_.windowServer.isSecureInputEnabled();
    if (secure != secureInputBlocking_) noteSecureInput(secure);
    if (!secure) effective = requested_;
  } else if (secureInputBlocking_) {
    noteSecureInput(false);
  }
  for (auto key : kSymbolicHotKeys) {
    const bool suppress = effective.count(key) != 0;
    const auto raw = static_cast<std::int32_t>(key);
    // Without the query every hotkey is set (and logged) on each reconcile.
    if (s_.windowServer.isSymbolicHotKeyEnabled(raw) == !suppress) continue;
    s_.windowServer.setSymbolicHotKeyEnabled(raw, !suppress);
    s_.log.log("native hotkey " + std::to_string(raw) + (suppress ? " suppressed" : " restored"));
  }
  watchdog_.setActive(StallWatch::hotKeys, !effective.empty());
}

void NativeSwitcherGuard::startHeartbeatIfNeeded() {
  if (heartbeatTimer_ != 0) return;
  heartbeatTimer_ = s_.runLoop.repeatEvery(
      keyboardHeld_ ? kHeldHeartbeatSeconds : kHeartbeatSeconds, [this] { heartbeat(); });
  watchdog_.beat();
  watchdog_.start(watchdogSleep_);
}

void NativeSwitcherGuard::setKeyboardHeld(KeyboardHolder holder, bool held) {
  heldBy_[static_cast<std::size_t>(holder)] = held;
  held = std::find(heldBy_.begin(), heldBy_.end(), true) != heldBy_.end();
  if (held == keyboardHeld_) return;
  keyboardHeld_ = held;
  watchdog_.setKeyboardHeld(held);
  if (heartbeatTimer_ != 0) {
    s_.runLoop.cancel(std::exchange(heartbeatTimer_, 0));
    startHeartbeatIfNeeded();
  }
  updateKeyboardWatch();
}

void NativeSwitcherGuard::heartbeat() {
  watchdog_.beat();
  // Without the setter there is nothing to hand back, and asking may be costly (on X11 the
  // question is a keyboard grab).
  if (disarmed_ || !s_.windowServer.hasSymbolicHotKeySetter()) return;
  // Secure input is noticed within one beat in both directions.
  if (!requested_.empty()) {
    if (s_.windowServer.isSecureInputEnabled() != secureInputBlocking_) reconcile();
  } else if (secureInputBlocking_) {
    reconcile();
  }
}

}  // namespace tolvane
