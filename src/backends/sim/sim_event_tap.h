// The simulated event tap and keyboard: tests and scenarios type into it and see what the tap
// consumed.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/event_tap.h"

namespace tolvane::sim {

class SimEventTap final : public EventTap {
 public:
  /// create() fails while set (a combination owned elsewhere, no permission).
  bool creationFails = false;
  /// setEnabled(true) fails while set (a combination taken since the tap was created).
  bool enablingFails = false;
  /// What failureReason() says while creation fails; nothing keeps the core's own wording.
  std::optional<std::string> failure;
  int creations = 0;
  /// How often the engine said its session was over.
  int sessionEnds = 0;

  bool create(Callback callback) override {
    if (creationFails) return false;
    ++creations;
    callback_ = std::move(callback);
    exists_ = true;
    enabled_ = false;
    return true;
  }
  void destroy() override {
    exists_ = false;
    enabled_ = false;
    callback_ = nullptr;
  }
  void setEnabled(bool enabled) override { enabled_ = exists_ && enabled && !enablingFails; }
  bool isEnabled() const override { return enabled_; }
  bool isKeyDown(std::uint16_t keyCode) const override { return down_.count(keyCode) != 0; }
  std::optional<std::string> failureReason() const override {
    return creationFails || enablingFails ? failure : std::nullopt;
  }
  void sessionEnded() override { ++sessionEnds; }
  bool releaseFromAnyThread() override {
    const bool tapHolds = exists_ && enabled_;
    if (!tapHolds && !windowGrabHeld_) return false;
    windowGrabHeld_ = false;
    if (tapHolds) {
      enabled_ = false;
      releasePending_ = true;
    }
    return true;
  }
  void deliverPendingRelease() override {
    if (!std::exchange(releasePending_, false) || !callback_) return;
    callback_({KeyEventType::tapDisabledByTimeout, 0, 0});
  }

  bool exists() const { return exists_; }
  /// A window of the application (the palette) holds the keyboard, or no longer does, as the
  /// real backend tells its tap: releaseFromAnyThread lets go of that hold too, installed or not.
  void setWindowGrabHeld(bool held) { windowGrabHeld_ = held; }
  bool windowGrabHeld() const { return windowGrabHeld_; }
  /// The system switches the tap off without telling anyone.
  void disableSilently() { enabled_ = false; }

  /// Delivers an event as the system would, keeping the physical key state; the verdict is
  /// pass when no enabled tap saw it.
  TapVerdict deliver(KeyEventType type, std::uint16_t keyCode, std::uint64_t flags) {
    if (type == KeyEventType::keyDown) down_.insert(keyCode);
    if (type == KeyEventType::keyUp) down_.erase(keyCode);
    if (!exists_ || !callback_) return TapVerdict::pass;
    if (releasePending_) {
      // Keys typed while the tap was let go belong to whoever had the keyboard then.
      deliverPendingRelease();
      return TapVerdict::pass;
    }
    const bool control =
        type == KeyEventType::tapDisabledByTimeout || type == KeyEventType::tapDisabledByUserInput;
    if (!enabled_ && !control) return TapVerdict::pass;
    if (control) enabled_ = false;
    return callback_({type, keyCode, flags});
  }
  /// A modifier key goes down or up (flags changed), with the flags that hold afterwards.
  TapVerdict modifier(std::uint16_t keyCode, bool down, std::uint64_t flags) {
    if (down) {
      down_.insert(keyCode);
    } else {
      down_.erase(keyCode);
    }
    return deliver(KeyEventType::flagsChanged, keyCode, flags);
  }
  /// The physical state changes without any event reaching the tap (a lost release).
  void loseRelease(std::uint16_t keyCode) { down_.erase(keyCode); }

 private:
  Callback callback_;
  bool exists_ = false;
  bool enabled_ = false;
  bool releasePending_ = false;
  bool windowGrabHeld_ = false;
  std::set<std::uint16_t> down_;
};

}  // namespace tolvane::sim
