// The X11 event tap: trigger grabs, the session's keyboard grab, and key translation on the way
// to the callback.
#include "platform/x11/x11_event_tap.h"

#include <algorithm>
#include <string>

#include "input/key_codes.h"

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

X11EventTap::X11EventTap(Connection& connection, Combinations combinations, Log log)
    : connection_(connection),
      combinations_(std::move(combinations)),
      log_(std::move(log)),
      keys_(connection.xcb()) {
  connection_.addSink(this);
}

X11EventTap::~X11EventTap() {
  destroy();
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
  Reply<xcb_grab_keyboard_reply_t> reply(
      xcb_grab_keyboard_reply(c,
                              xcb_grab_keyboard(c, 0, connection_.root(), XCB_CURRENT_TIME,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                              nullptr));
  if (!reply) return false;
  switch (reply->status) {
    case XCB_GRAB_STATUS_SUCCESS:
      xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
      connection_.flush();
      return false;
    case XCB_GRAB_STATUS_ALREADY_GRABBED:
    case XCB_GRAB_STATUS_FROZEN:
      return true;
    default:
      return false;
  }
}

bool X11EventTap::handleEvent(const xcb_generic_event_t& event) {
  switch (eventType(event)) {
    case XCB_KEY_PRESS:
      return handleKey(reinterpret_cast<const xcb_key_press_event_t&>(event), true);
    case XCB_KEY_RELEASE:
      return handleKey(reinterpret_cast<const xcb_key_press_event_t&>(event), false);
    case XCB_MAPPING_NOTIFY:
      if (reinterpret_cast<const xcb_mapping_notify_event_t&>(event).request !=
          XCB_MAPPING_POINTER) {
        handleMappingChange();
      }
      return false;  // every holder of a key map needs it
    default:
      return false;
  }
}

bool X11EventTap::handleKey(const xcb_key_press_event_t& event, bool press) {
  if (event.event != connection_.root()) return false;
  if (sessionTrigger_) {
    connection_.noteUserTime(event.time);
    deliverSessionKey(event, press);
    return true;
  }
  if (!press) return false;
  const KeyGrab key{event.detail, static_cast<std::uint16_t>(event.state & kModifierBits)};
  const auto it =
      std::find_if(grabs_.begin(), grabs_.end(), [&](const Grab& grab) { return grab.key == key; });
  if (!enabled_ || it == grabs_.end()) {
    // A press one of our grabs froze before the tap gave it up (disabled, destroyed, moved by
    // a mapping change) must not leave the keyboard frozen. Without a freeze of ours, replaying
    // does nothing.
    xcb_allow_events(connection_.xcb(), XCB_ALLOW_REPLAY_KEYBOARD, event.time);
    connection_.flush();
    return false;
  }
  connection_.noteUserTime(event.time);
  handleTrigger(event, it->combination.flags & ~eventflags::kShift);
  return true;
}

void X11EventTap::reloadCombinations() {
  if (!enabled_) return;
  ungrabCombinations();
  enabled_ = grabCombinations();
}

void X11EventTap::handleMappingChange() {
  keys_.reload();
  // The grabs name keycodes; after a layout change the combinations may live on others.
  reloadCombinations();
}

bool X11EventTap::grabCombinations() {
  std::vector<Grab> grabs;
  const auto combinations = combinations_ ? combinations_() : std::vector<TriggerCombination>{};
  for (const TriggerCombination& combination : combinations) {
    const auto keys = keys_.grabsFor(combination.keyCode, combination.flags);
    if (keys.empty()) {
      log("x11 tap: " + combinationName(combination.keyCode, combination.flags) +
          " cannot be typed on this keyboard");
      return false;
    }
    for (const KeyGrab& key : keys) grabs.push_back({key, combination});
  }
  const auto keys = keysOf(grabs);
  if (const auto refusal =
          grabKeys(connection_.xcb(), connection_.root(), keys, XCB_GRAB_MODE_SYNC)) {
    // Only this client's grabs are released, so the refused combination stays its owner's.
    ungrabKeys(connection_.xcb(), connection_.root(), keys);
    const TriggerCombination& refused = grabs[refusal->index].combination;
    log("x11 tap: " + combinationName(refused.keyCode, refused.flags) + " " +
        refusalText(refusal->errorCode));
    return false;
  }
  grabs_ = std::move(grabs);
  return true;
}

void X11EventTap::ungrabCombinations() {
  if (grabs_.empty()) return;
  ungrabKeys(connection_.xcb(), connection_.root(), keysOf(grabs_));
  grabs_.clear();
}

void X11EventTap::handleTrigger(const xcb_key_press_event_t& event, std::uint64_t trigger) {
  const KeyEvent key{KeyEventType::keyDown, keys_.keyCode(event.detail), keys_.flags(event.state)};
  // A copy: the callback may destroy the tap, and with it callback_.
  const Callback callback = callback_;
  const bool consumed = callback && callback(key) == TapVerdict::consume;
  // The keyboard stays frozen until allow_events, whatever the callback did to the tap.
  xcb_connection_t* c = connection_.xcb();
  if (consumed && enabled_ && beginSession(event.time, trigger)) {
    // The session grab is in place before the keyboard thaws, so the modifier's release is
    // reported to us however fast it follows.
    xcb_allow_events(c, XCB_ALLOW_ASYNC_KEYBOARD, event.time);
    connection_.flush();
    endIfTriggerAlreadyUp();
    return;
  }
  // Replaying hands the press to the focused client as if nothing had grabbed it.
  xcb_allow_events(c, consumed ? XCB_ALLOW_ASYNC_KEYBOARD : XCB_ALLOW_REPLAY_KEYBOARD, event.time);
  connection_.flush();
}

bool X11EventTap::beginSession(xcb_timestamp_t time, std::uint64_t trigger) {
  xcb_connection_t* c = connection_.xcb();
  Reply<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(
      c,
      xcb_grab_keyboard(c, 0, connection_.root(), time, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
      nullptr));
  if (!reply || reply->status != XCB_GRAB_STATUS_SUCCESS) {
    log("x11 tap: the keyboard grab for a session failed (status " +
        std::to_string(reply ? reply->status : -1) + ")");
    return false;
  }
  sessionTrigger_ = trigger;
  return true;
}

void X11EventTap::endSession() {
  if (!sessionTrigger_) return;
  sessionTrigger_.reset();
  xcb_ungrab_keyboard(connection_.xcb(), XCB_CURRENT_TIME);
  connection_.flush();
}

void X11EventTap::endIfTriggerAlreadyUp() {
  const auto state = queryKeyState(connection_.xcb());
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
