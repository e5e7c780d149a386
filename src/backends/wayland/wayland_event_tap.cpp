// Trigger presses from bindings, session keys from the surface that holds the keyboard.
#include "backends/wayland/wayland_event_tap.h"

#include <algorithm>

#include "backends/system/key_table.h"
#include "backends/wayland/wayland_keys.h"
#include "model/key_codes.h"

namespace tolvane::wayland {

namespace {

bool isOptionCombo(const std::string& combo) {
  return combo.rfind("Mod1+", 0) == 0;
}

}  // namespace

WaylandEventTap::WaylandEventTap(TriggerBindings bindings, SessionKeyboard& keyboard, RunLoop& loop,
                                 Combinations combinations, Log log)
    : bindings_(std::move(bindings)),
      keyboard_(keyboard),
      loop_(loop),
      combinations_(std::move(combinations)),
      log_(std::move(log)) {
  keyboard_.setHandler({
      .entered = [this](const HeldModifiers& held,
                        const std::vector<SessionKey>& pressed) { entered(held, pressed); },
      .key = [this](const SessionKey& k, bool pressed) { key(k, pressed); },
      .modifiers = [this](const HeldModifiers& held) { modifiersChanged(held); },
      .lost = [this] { lost(); },
      .gone = [this] { keyboardGone(); },
  });
}

WaylandEventTap::~WaylandEventTap() {
  keyboard_.setHandler({});
  destroy();
}

bool WaylandEventTap::create(Callback callback) {
  callback_ = std::move(callback);
  created_ = true;
  return install();
}

void WaylandEventTap::destroy() {
  uninstall();
  endHold();
  created_ = false;
  enabled_ = false;
}

void WaylandEventTap::setEnabled(bool enabled) {
  if (!created_) return;
  if (enabled) {
    if (released_.exchange(false)) keyboard_.release();
    // Installed already: binding again would only churn sway's bindings (and, in the gap, let
    // a press reach the focused window).
    if (!enabled_) install();
    return;
  }
  uninstall();
  endHold();
  enabled_ = false;
}

void WaylandEventTap::reloadCombinations() {
  if (!created_ || !enabled_) return;
  uninstall();
  install();
}

bool WaylandEventTap::install() {
  uninstall();
  active_ = combinations_ ? combinations_() : std::vector<sway::Binding>{};
  triggerFlag_ = !active_.empty() && isOptionCombo(active_.front().combo) ? eventflags::kOption
                                                                          : eventflags::kCommand;
  const auto refusal = bindings_.install ? bindings_.install(active_) : std::nullopt;
  if (refusal) {
    failure_ = refusal->reason;
    failedCombination_ = refusal->combination;
    active_.clear();
    enabled_ = false;
    return false;
  }
  installed_ = true;
  failure_.reset();
  failedCombination_.reset();
  enabled_ = true;
  return true;
}

void WaylandEventTap::uninstall() {
  if (!installed_) return;
  installed_ = false;
  if (bindings_.remove) bindings_.remove();
}

void WaylandEventTap::press(const TriggerKey& key) {
  // A press queued while the watchdog had let go came from a user who has moved on.
  if (released_) return deliverPendingRelease();
  if (!isEnabled() || !callback_) return;
  const bool bound = std::any_of(active_.begin(), active_.end(),
                                 [&](const sway::Binding& b) { return b.trigger == key.trigger; });
  if (!bound) return;
  // A new session on the last one's surface would wait for a keyboard enter that has come and
  // gone: the old surface goes first.
  if (deferredRelease_) endHold();
  if (!keyboard_.isHeld()) beginHold(triggerFlag_);
  // Shift is part of the binding that fired; what the keyboard says comes later.
  const std::uint64_t flags =
      key.shift ? (flags_ | eventflags::kShift) : (flags_ & ~eventflags::kShift);
  deliver(KeyEventType::keyDown, key.keyCode, flags);
  deliver(KeyEventType::keyUp, key.keyCode, flags);
}

void WaylandEventTap::beginHold(std::uint64_t flags) {
  flags_ = flags;
  keyboardArrived_ = false;
  if (!keyboard_.hold()) {
    log_(
        "wayland: the session's surface cannot take the keyboard; the switcher cannot see "
        "the modifier's release");
  }
  publish(keyboard_.isHeld());
  loop_.cancel(arrival_);
  arrival_ = loop_.postAfter(kKeyboardArrivalSeconds, [this] {
    arrival_ = 0;
    keyboardLate();
  });
  deliver(KeyEventType::flagsChanged, 0, flags_);
}

void WaylandEventTap::forgetSession() {
  loop_.cancel(std::exchange(arrival_, 0));
  keyboardArrived_ = false;
  flags_ = 0;
}

void WaylandEventTap::endHold() {
  loop_.cancel(std::exchange(deferredRelease_, 0));
  forgetSession();
  if (!keyboard_.isHeld()) return;
  keyboard_.release();
  publish(false);
}

void WaylandEventTap::sessionEnded() {
  // The session hears nothing more, but the surface goes only after the activation the session
  // ends with, which follows in this turn of the loop: sway then focuses the chosen window
  // beneath the surface and hands it the keyboard as the surface goes, instead of refocusing the
  // covered window first and switching a second time.
  forgetSession();
  if (!keyboard_.isHeld() || deferredRelease_) return;
  deferredRelease_ = loop_.post([this] {
    deferredRelease_ = 0;
    endHold();
  });
}

void WaylandEventTap::entered(const HeldModifiers& held, const std::vector<SessionKey>& pressed) {
  keyboardArrived_ = true;
  loop_.cancel(std::exchange(arrival_, 0));
  for (const SessionKey& k : pressed) key(k, true);
  modifiersChanged(held);
}

void WaylandEventTap::key(const SessionKey& k, bool pressed) {
  if (!keyboard_.isHeld() || deferredRelease_) return;
  const std::uint16_t code = productKeyCode(k.xkbKeycode, k.keysym);
  if (code == system::kUnknownKeyCode) return;
  deliver(pressed ? KeyEventType::keyDown : KeyEventType::keyUp, code, flags_);
}

void WaylandEventTap::modifiersChanged(const HeldModifiers& held) {
  if (!keyboard_.isHeld() || deferredRelease_) return;
  const std::uint64_t flags = productFlags(held);
  if (flags == flags_) return;
  flags_ = flags;
  deliver(KeyEventType::flagsChanged, 0, flags_);
}

void WaylandEventTap::lost() {
  if (released_) return deliverPendingRelease();
  // The compositor took the surface away: the session cannot hear its end, so it ends now, as
  // if the modifier came up.
  loop_.cancel(std::exchange(arrival_, 0));
  publish(false);
  if (flags_ == 0) return;
  log_("wayland: the session's surface lost the keyboard");
  flags_ = 0;
  deliver(KeyEventType::flagsChanged, 0, 0);
}

void WaylandEventTap::keyboardGone() {
  if (!keyboard_.isHeld()) return;
  // Its keys are all up: the session ends as their release would, and the surface goes at once.
  // Left mapped, it would take the next keyboard's keys, and sway activates no window beneath an
  // exclusive surface.
  if (flags_ != 0 && !deferredRelease_) {
    log_("wayland: the session's keyboard went away");
    flags_ = 0;
    deliver(KeyEventType::flagsChanged, 0, 0);
  }
  endHold();
}

void WaylandEventTap::keyboardLate() {
  if (keyboardArrived_ || !keyboard_.isHeld()) return;
  log_(
      "wayland: the keyboard did not reach the session's surface within 1 s; another program "
      "holds it");
  flags_ = 0;
  deliver(KeyEventType::flagsChanged, 0, 0);
}

bool WaylandEventTap::isKeyDown(std::uint16_t keyCode) const {
  const auto down = [&](std::uint64_t flag) { return (flags_ & flag) != 0; };
  switch (keyCode) {
    case keycode::kLeftCommand:
    case keycode::kRightCommand:
      return down(eventflags::kCommand);
    case keycode::kLeftOption:
    case keycode::kRightOption:
      return down(eventflags::kOption);
    case keycode::kLeftShift:
      return down(eventflags::kShift);
    default:
      return false;
  }
}

void WaylandEventTap::deliver(KeyEventType type, std::uint16_t keyCode, std::uint64_t flags) {
  if (callback_) callback_({type, keyCode, flags});
}

bool WaylandEventTap::releaseFromAnyThread() {
  // A stalled Tolvane's bindings would make the trigger do nothing at all: the compositor's own
  // handling of the keys comes back with them gone.
  const bool bindings = bindings_.removeFromAnyThread && bindings_.removeFromAnyThread();
  if (!keyboard_.releaseFromAnyThread()) return bindings;
  released_ = true;
  if (holdPublisher_) holdPublisher_(0);
  return true;
}

void WaylandEventTap::deliverPendingRelease() {
  if (!released_.exchange(false)) return;
  loop_.cancel(std::exchange(arrival_, 0));
  keyboard_.release();
  flags_ = 0;
  if (callback_) callback_({KeyEventType::tapDisabledByTimeout, 0, 0});
}

void WaylandEventTap::publish(bool held) {
  if (holdPublisher_) holdPublisher_(held ? 1 : 0);
}

}  // namespace tolvane::wayland
