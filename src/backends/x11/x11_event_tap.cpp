// The X11 event tap: trigger grabs, the session's keyboard grab, key translation on the way to
// the callback, and the way back after a stall or a stop.
//
//   EventTap                         | on X11
//   ---------------------------------+-------------------------------------------------------------
//   create (may fail)                | passive asynchronous XGrabKey of every trigger combination
//                                    | with each NumLock/CapsLock variant; BadAccess (another
//                                    | client owns one) fails it, naming the combination
//   enable / disable                 | take / give back those grabs
//   a trigger press                  | KeyPress on the root through a grab; when the callback
//                                    | consumes it, an active asynchronous keyboard grab for the
//                                    | session until the trigger modifier is up
//   keyDown, keyUp, flagsChanged     | KeyPress/KeyRelease of the session grab; a modifier key's
//                                    | event is flagsChanged with the flags after it
//   key codes, flags                 | product codes and eventflags through KeyMap (x11_keys)
//   physical key state               | QueryKeymap
//   disabled by timeout              | the watchdog's releaseFromAnyThread, or a stop (SIGSTOP,
//                                    | SIGCONT) seen afterwards; keys queued meanwhile dropped up
//                                    | to a fence PropertyNotify or kMaxDroppingSeconds
//   disabled by user input           | never: X11 has no such event
//   mapping change                   | MappingNotify: the key map reloads, the grabs are redone
#include "backends/x11/x11_event_tap.h"

#include <algorithm>
#include <string>

#include "model/key_codes.h"

namespace tolvane::x11 {

namespace {

// Key events carry pointer button bits above the eight modifiers; key grabs match on the
// modifiers alone.
constexpr std::uint16_t kModifierBits = 0xff;

std::uint16_t triggerKeyCode(std::uint64_t trigger) {
  if (trigger & eventflags::kCommand) return keycode::kLeftCommand;
  if (trigger & eventflags::kOption) return keycode::kLeftOption;
  return kUnknownKeyCode;
}

std::vector<KeyGrab> keysOf(const auto& grabs) {
  std::vector<KeyGrab> keys;
  keys.reserve(grabs.size());
  for (const auto& grab : grabs) keys.push_back(grab.key);
  return keys;
}

}  // namespace

std::vector<TriggerCombination> triggerCombinations(const TriggerSettings& settings) {
  const std::uint64_t trigger =
      settings.triggerIsOption ? eventflags::kOption : eventflags::kCommand;
  std::vector<TriggerCombination> combinations;
  auto add = [&](std::uint16_t keyCode) {
    combinations.push_back({keyCode, trigger});
    combinations.push_back({keyCode, trigger | eventflags::kShift});
  };
  if (settings.interceptTab) add(keycode::kTab);
  if (settings.interceptKeyAboveTab) add(keycode::kKeyAboveTab);
  return combinations;
}

X11EventTap::X11EventTap(Connection& connection, const Clock& clock, Combinations combinations,
                         Log log)
    : connection_(connection),
      clock_(clock),
      combinations_(std::move(combinations)),
      log_(std::move(log)),
      keys_(connection.xcb()) {
  connection_.addSink(this);
  // An unmapped input-only window of our own, so that the fence's PropertyNotify reaches only
  // this client.
  xcb_connection_t* c = connection_.xcb();
  fence_ = xcb_generate_id(c);
  const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, 0, fence_, connection_.root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
  fenceAtom_ = connection_.atom("_TOLVANE_KEY_FENCE");
}

X11EventTap::~X11EventTap() {
  destroy();
  xcb_destroy_window(connection_.xcb(), fence_);
  connection_.flush();
  connection_.removeSink(this);
}

bool X11EventTap::create(Callback callback) {
  destroy();
  keys_.reload();
  if (!grabCombinations()) return false;
  callback_ = std::move(callback);
  created_ = true;
  enabled_ = true;
  return true;
}

void X11EventTap::destroy() {
  setEnabled(false);
  created_ = false;
  callback_ = nullptr;
}

void X11EventTap::setEnabled(bool enabled) {
  recoverIfLetGo();
  if (!enabled) {
    endSession();
    ungrabCombinations();
    enabled_ = false;
    return;
  }
  if (!created_ || enabled_) return;
  enabled_ = grabCombinations();
}

bool X11EventTap::isKeyDown(std::uint16_t keyCode) const {
  const auto state = queryKeyState(connection_.xcb());
  if (!state) return false;
  const auto keycodes = keys_.keycodes(keyCode);
  return std::any_of(keycodes.begin(), keycodes.end(),
                     [&](xcb_keycode_t keycode) { return isDown(*state, keycode); });
}

bool X11EventTap::keyboardGrabbedElsewhere() {
  if (sessionTrigger_) return false;
  xcb_connection_t* c = connection_.xcb();
  setGrabPending(true);
  Reply<xcb_grab_keyboard_reply_t> reply(
      xcb_grab_keyboard_reply(c,
                              xcb_grab_keyboard(c, 0, connection_.root(), XCB_CURRENT_TIME,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                              nullptr));
  if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) {
    xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    connection_.flush();
  }
  setGrabPending(false);
  if (!reply) return false;
  switch (reply->status) {
    case XCB_GRAB_STATUS_SUCCESS:
      return false;
    case XCB_GRAB_STATUS_ALREADY_GRABBED:
    case XCB_GRAB_STATUS_FROZEN:
      return true;
    default:
      return false;
  }
}

bool X11EventTap::handleEvent(const xcb_generic_event_t& event) {
  if (keys_.followMappingChange(event)) {
    // The grabs name keycodes; after a layout change the combinations may live on others.
    reloadCombinations();
    return false;
  }
  switch (eventType(event)) {
    case XCB_KEY_PRESS:
      return handleKey(reinterpret_cast<const xcb_key_press_event_t&>(event), true);
    case XCB_KEY_RELEASE:
      return handleKey(reinterpret_cast<const xcb_key_press_event_t&>(event), false);
    case XCB_PROPERTY_NOTIFY: {
      const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      if (notify.window != fence_) return false;
      droppingUntil_.reset();
      return true;
    }
    default:
      return false;
  }
}

bool X11EventTap::handleKey(const xcb_key_press_event_t& event, bool press) {
  if (event.event != connection_.root()) return false;
  // Only our grabs bring key events to the root, so every one of them is ours to drop.
  if (recoverIfLetGo() || dropsQueuedKeys()) return true;
  if (sessionTrigger_) {
    connection_.noteUserTime(event.time);
    deliverSessionKey(event, press);
    return true;
  }
  if (!press) return false;
  const KeyGrab key{event.detail, static_cast<std::uint16_t>(event.state & kModifierBits)};
  const auto it =
      std::find_if(grabs_.begin(), grabs_.end(), [&](const Grab& grab) { return grab.key == key; });
  // A press of a grab given up since (disabled, destroyed, moved by a mapping change): the
  // server already ended that grab at the key's release, so there is nothing to thaw.
  if (!enabled_ || it == grabs_.end()) return false;
  connection_.noteUserTime(event.time);
  handleTrigger(event, it->combination.flags & ~eventflags::kShift);
  return true;
}

void X11EventTap::reloadCombinations() {
  if (!enabled_) return;
  ungrabCombinations();
  enabled_ = grabCombinations();
}

bool X11EventTap::grabCombinations() {
  std::vector<Grab> grabs;
  const auto combinations = combinations_ ? combinations_() : std::vector<TriggerCombination>{};
  for (const TriggerCombination& combination : combinations) {
    const auto keys = keys_.grabsFor(combination.keyCode, combination.flags);
    if (keys.empty()) {
      failedCombination_ = combinationName(combination.keyCode, combination.flags);
      failure_ = *failedCombination_ + " cannot be typed on this keyboard";
      return false;
    }
    for (const KeyGrab& key : keys) grabs.push_back({key, combination});
  }
  const auto keys = keysOf(grabs);
  // Asynchronous: the server thaws nothing because nothing is frozen, and it ends the grab a
  // press activates when that key is released, whether Tolvane runs or not.
  if (const auto refusal =
          grabKeys(connection_.xcb(), connection_.root(), keys, XCB_GRAB_MODE_ASYNC)) {
    // Only this client's grabs are released, so the refused combination stays its owner's.
    ungrabKeys(connection_.xcb(), connection_.root(), keys);
    const TriggerCombination& refused = grabs[refusal->index].combination;
    failedCombination_ = combinationName(refused.keyCode, refused.flags);
    failure_ = *failedCombination_ + " " + refusalText(refusal->errorCode);
    return false;
  }
  failure_.reset();
  failedCombination_.reset();
  grabs_ = std::move(grabs);
  publishHeld();
  return true;
}

void X11EventTap::ungrabCombinations() {
  if (grabs_.empty()) return;
  ungrabKeys(connection_.xcb(), connection_.root(), keysOf(grabs_));
  grabs_.clear();
  publishHeld();
}

void X11EventTap::publishHeld() {
  std::lock_guard guard(heldLock_);
  held_ = keysOf(grabs_);
  heldKeyboard_ = sessionTrigger_.has_value();
  publishHoldLocked();
}

void X11EventTap::setWindowGrabHeld(bool held, WindowGrab grab) {
  std::lock_guard guard(heldLock_);
  windowGrabs_[static_cast<std::size_t>(grab)] = held;
  publishHoldLocked();
}

bool X11EventTap::windowGrabHeldLocked() const {
  return std::find(windowGrabs_.begin(), windowGrabs_.end(), true) != windowGrabs_.end();
}

void X11EventTap::setGrabPending(bool pending) {
  std::lock_guard guard(heldLock_);
  grabPending_ = pending;
  publishHoldLocked();
}

void X11EventTap::setHoldPublisher(HoldPublisher publisher) {
  std::lock_guard guard(heldLock_);
  holdPublisher_ = std::move(publisher);
  publishHoldLocked();
}

void X11EventTap::publishHoldLocked() {
  if (!holdPublisher_) return;
  // The trigger grabs are not named: the server ends each by itself when its key is released.
  // The fence lives as long as the tap, and is this connection's own.
  const bool holds = heldKeyboard_ || windowGrabHeldLocked() || grabPending_;
  holdPublisher_(holds ? fence_ : xcb_window_t{XCB_WINDOW_NONE});
}

bool X11EventTap::releaseFromAnyThread() {
  std::lock_guard guard(heldLock_);
  const bool windowGrabHeld = windowGrabHeldLocked();
  if (released_ || (held_.empty() && !heldKeyboard_ && !windowGrabHeld)) return false;
  // xcb serialises requests from any thread; the main thread is not needed and not waited for.
  xcb_connection_t* c = connection_.xcb();
  xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
  // A window's hold (the palette's) has the pointer as well; ungrabbing it when nothing of ours
  // holds it does nothing.
  xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
  for (const KeyGrab& key : held_)
    xcb_ungrab_key(c, key.keycode, connection_.root(), key.modifiers);
  // Nothing of ours freezes the keyboard, but should anything ever, this thaws it.
  xcb_allow_events(c, XCB_ALLOW_ASYNC_KEYBOARD, XCB_CURRENT_TIME);
  xcb_flush(c);
  released_ = true;
  // Nothing holds any more; the main thread's own bookkeeping follows when it runs again.
  heldKeyboard_ = false;
  windowGrabs_.fill(false);
  publishHoldLocked();
  return true;
}

bool X11EventTap::recoverIfLetGo() {
  const bool released = released_.exchange(false);
  const bool stopped = stopDetector_ && stopDetector_();
  if (!released && !stopped) return false;
  // After a stop nothing was released yet: whatever is still held goes now. Either way the
  // keys queued meanwhile belong to a moment the user has left behind.
  endSession();
  ungrabCombinations();
  enabled_ = false;
  raiseFence();
  if (stopped) log("x11 tap: Tolvane was stopped; keys pressed meanwhile are dropped");
  deliver({KeyEventType::tapDisabledByTimeout, 0, 0});
  return true;
}

void X11EventTap::raiseFence() {
  // Appending nothing still notifies, after every event the server generated before.
  xcb_change_property(connection_.xcb(), XCB_PROP_MODE_APPEND, fence_, fenceAtom_, XCB_ATOM_STRING,
                      8, 0, nullptr);
  connection_.flush();
  droppingUntil_ = clock_.now() + kMaxDroppingSeconds;
}

bool X11EventTap::dropsQueuedKeys() {
  if (!droppingUntil_) return false;
  // Should the fence's notice never come, keys are not dropped for more than a moment.
  if (clock_.now() < *droppingUntil_) return true;
  droppingUntil_.reset();
  return false;
}

void X11EventTap::handleTrigger(const xcb_key_press_event_t& event, std::uint64_t trigger) {
  const KeyEvent key{KeyEventType::keyDown, keys_.keyCode(event.detail), keys_.flags(event.state)};
  // A copy: the callback may destroy the tap, and with it callback_.
  const Callback callback = callback_;
  inTrigger_ = true;
  sessionEndedInTrigger_ = false;
  const bool consumed = callback && callback(key) == TapVerdict::consume;
  inTrigger_ = false;
  // Taking the keyboard on top of the grab the press activated keeps it past the Tab key's
  // release, so the modifier's release is reported to us.
  std::optional<KeyState> keys;
  if (consumed && enabled_ && !sessionEndedInTrigger_ && beginSession(event.time, trigger, keys)) {
    endIfTriggerAlreadyUp(keys);
  }
}

bool X11EventTap::beginSession(xcb_timestamp_t time, std::uint64_t trigger,
                               std::optional<KeyState>& keys) {
  xcb_connection_t* c = connection_.xcb();
  setGrabPending(true);
  const auto grab =
      xcb_grab_keyboard(c, 0, connection_.root(), time, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
  // Asked behind the grab rather than after its answer: a quick tap waits for one round trip
  // less before its activation, and a release after this point reaches the session as an event.
  PendingKeyState keysAtGrab(c);
  Reply<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(c, grab, nullptr));
  const bool granted = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
  if (granted) sessionTrigger_ = trigger;
  // One step from pending to held, so that the hold is never published as ended in between.
  {
    std::lock_guard guard(heldLock_);
    grabPending_ = false;
  }
  publishHeld();
  if (!granted) {
    log("x11 tap: the keyboard grab for a session failed (status " +
        std::to_string(reply ? reply->status : -1) + ")");
    return false;
  }
  keys = keysAtGrab.take();
  return true;
}

void X11EventTap::sessionEnded() {
  if (inTrigger_) sessionEndedInTrigger_ = true;
  endSession();
}

void X11EventTap::endSession() {
  if (!sessionTrigger_) return;
  sessionTrigger_.reset();
  // The ungrab is sent before the hold is withdrawn: a stop between the two then finds the hold
  // still published, and the sentinel lets go, rather than leaving the keyboard held until
  // Tolvane is continued.
  xcb_ungrab_keyboard(connection_.xcb(), XCB_CURRENT_TIME);
  connection_.flush();
  publishHeld();
}

void X11EventTap::endIfTriggerAlreadyUp(const std::optional<KeyState>& state) {
  if (!state || !sessionTrigger_) return;
  const std::uint64_t flags = keys_.flags(keys_.heldModifiers(*state));
  if (flags & *sessionTrigger_) return;
  // Released while the callback ran: its event may have been reported before the session grab
  // existed, so the release is delivered from the key state.
  deliver({KeyEventType::flagsChanged, triggerKeyCode(*sessionTrigger_), flags});
  endSession();
}

void X11EventTap::deliverSessionKey(const xcb_key_press_event_t& event, bool press) {
  const std::uint64_t trigger = *sessionTrigger_;
  const bool modifier = keys_.modifierBitsOf(event.detail) != 0;
  KeyEvent key{press ? KeyEventType::keyDown : KeyEventType::keyUp, keys_.keyCode(event.detail),
               keys_.flags(event.state)};
  if (modifier) {
    key.type = KeyEventType::flagsChanged;
    key.flags = flagsAfterModifierKey(event, press);
  }
  deliver(key);
  if (modifier && (key.flags & trigger) == 0) endSession();
}

std::uint64_t X11EventTap::flagsAfterModifierKey(const xcb_key_press_event_t& event,
                                                 bool press) const {
  // An event's state is the one before it; the product reports the one after.
  const std::uint16_t bits = keys_.modifierBitsOf(event.detail);
  if (press) return keys_.flags(event.state | bits);
  // The other key of the same modifier (the other Super) keeps the modifier held.
  std::uint16_t stillHeld = 0;
  if (auto state = queryKeyState(connection_.xcb())) {
    (*state)[event.detail / 8] &= static_cast<std::uint8_t>(~(1u << (event.detail % 8)));
    stillHeld = keys_.heldModifiers(*state) & bits;
  }
  return keys_.flags(static_cast<std::uint16_t>((event.state & ~bits) | stillHeld));
}

void X11EventTap::log(const std::string& line) const {
  if (log_) log_(line);
}

void X11EventTap::deliver(const KeyEvent& event) {
  const Callback callback = callback_;
  if (callback) callback(event);
}

}  // namespace tolvane::x11
