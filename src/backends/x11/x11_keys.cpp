// Translation between the product's key codes and flags and the server's keycodes and masks.
#include "backends/x11/x11_keys.h"

#include <algorithm>
#include <utility>

#include "model/key_codes.h"
#include "platform/event_tap.h"

namespace tolvane::x11 {

namespace {

// Columns of the core keyboard mapping with a key's unshifted keysym: group 1 level 1, then
// group 2 level 1.
constexpr int kFirstGroupColumn = 0;
constexpr int kSecondGroupColumn = 2;

constexpr xcb_keysym_t kSuperL = 0xffeb;
constexpr xcb_keysym_t kSuperR = 0xffec;
constexpr xcb_keysym_t kAltL = 0xffe9;
constexpr xcb_keysym_t kAltR = 0xffea;
constexpr xcb_keysym_t kNumLock = 0xff7f;

// Columns of the core keyboard mapping worth searching for a modifier's keysym: evdev keymaps
// put the extra Super and Alt keycodes' keysyms in the second column.
constexpr int kModifierColumns = 4;

}  // namespace

std::optional<KeyState> queryKeyState(xcb_connection_t* connection) {
  return PendingKeyState(connection).take();
}

PendingKeyState::PendingKeyState(xcb_connection_t* connection)
    : connection_(connection), cookie_(xcb_query_keymap(connection)) {}

PendingKeyState::~PendingKeyState() {
  if (!taken_) xcb_discard_reply(connection_, cookie_.sequence);
}

std::optional<KeyState> PendingKeyState::take() {
  if (std::exchange(taken_, true)) return std::nullopt;
  Reply<xcb_query_keymap_reply_t> reply(xcb_query_keymap_reply(connection_, cookie_, nullptr));
  if (!reply) return std::nullopt;
  KeyState state;
  std::copy(std::begin(reply->keys), std::end(reply->keys), state.begin());
  return state;
}

bool isDown(const KeyState& state, xcb_keycode_t keycode) {
  return (state[keycode / 8] >> (keycode % 8)) & 1;
}

KeyMap::KeyMap(xcb_connection_t* connection) : connection_(connection) {
  reload();
}

KeyMap::~KeyMap() {
  if (symbols_) xcb_key_symbols_free(symbols_);
}

void KeyMap::reload() {
  // The keysym table is fetched lazily on first use; a fresh one forgets the old mapping.
  if (symbols_) xcb_key_symbols_free(symbols_);
  symbols_ = xcb_key_symbols_alloc(connection_);
  loadModifierMapping();
}

bool KeyMap::followMappingChange(const xcb_generic_event_t& event) {
  if (eventType(event) != XCB_MAPPING_NOTIFY) return false;
  if (reinterpret_cast<const xcb_mapping_notify_event_t&>(event).request == XCB_MAPPING_POINTER) {
    return false;
  }
  reload();
  return true;
}

void KeyMap::loadModifierMapping() {
  for (auto& keys : modifierKeys_) keys.clear();
  Reply<xcb_get_modifier_mapping_reply_t> reply(
      xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr));
  if (reply) {
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(reply.get());
    const int perModifier = reply->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
      for (int i = 0; i < perModifier; ++i) {
        const xcb_keycode_t keycode = keycodes[modifier * perModifier + i];
        if (keycode != 0) modifierKeys_[static_cast<std::size_t>(modifier)].push_back(keycode);
      }
    }
  }
  superMask_ = bitOfKeysyms({kSuperL, kSuperR}).value_or(0);
  altMask_ = bitOfKeysyms({kAltL, kAltR}).value_or(0);
  numLockMask_ = bitOfKeysyms({kNumLock}).value_or(0);
}

std::optional<std::uint16_t> KeyMap::bitOfKeysyms(
    std::initializer_list<xcb_keysym_t> keysyms) const {
  if (!symbols_) return std::nullopt;
  // Shift, Lock and Control have fixed meanings; only Mod1..Mod5 are assigned by the mapping.
  for (std::size_t modifier = 3; modifier < modifierKeys_.size(); ++modifier) {
    for (xcb_keycode_t keycode : modifierKeys_[modifier]) {
      for (int column = 0; column < kModifierColumns; ++column) {
        const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols_, keycode, column);
        if (std::find(keysyms.begin(), keysyms.end(), keysym) != keysyms.end()) {
          return static_cast<std::uint16_t>(1u << modifier);
        }
      }
    }
  }
  return std::nullopt;
}

std::vector<xcb_keycode_t> KeyMap::keycodes(std::uint16_t keyCode) const {
  if (const auto positional = system::positionalXkbKeycode(keyCode)) {
    return {static_cast<xcb_keycode_t>(*positional)};
  }
  const system::KeyEntry* entry = system::keyEntryForCode(keyCode);
  if (!entry || !symbols_) return {};
  return keycodesTyping(entry->keysym);
}

std::vector<xcb_keycode_t> KeyMap::keycodesTyping(xcb_keysym_t keysym) const {
  const xcb_setup_t* setup = xcb_get_setup(connection_);
  for (int column : {kFirstGroupColumn, kSecondGroupColumn}) {
    std::vector<xcb_keycode_t> found;
    for (int code = setup->min_keycode; code <= setup->max_keycode; ++code) {
      const auto keycode = static_cast<xcb_keycode_t>(code);
      if (system::isPositionalXkbKeycode(keycode)) continue;
      if (xcb_key_symbols_get_keysym(symbols_, keycode, column) == keysym) found.push_back(keycode);
    }
    if (!found.empty()) return found;
  }
  return {};
}

xcb_keysym_t KeyMap::unshiftedKeysym(xcb_keycode_t keycode) const {
  const xcb_keysym_t first = xcb_key_symbols_get_keysym(symbols_, keycode, kFirstGroupColumn);
  if (system::keyEntryForKeysym(first)) return first;
  return xcb_key_symbols_get_keysym(symbols_, keycode, kSecondGroupColumn);
}

std::uint16_t KeyMap::keyCode(xcb_keycode_t keycode) const {
  if (const auto positional = system::positionalKeyCode(keycode)) return *positional;
  if (!symbols_) return kUnknownKeyCode;
  const system::KeyEntry* entry = system::keyEntryForKeysym(unshiftedKeysym(keycode));
  return entry ? entry->keyCode : kUnknownKeyCode;
}

std::optional<std::uint16_t> KeyMap::modifierMask(std::uint64_t flags) const {
  std::uint16_t mask = 0;
  if (flags & eventflags::kShift) mask |= XCB_MOD_MASK_SHIFT;
  if (flags & eventflags::kControl) mask |= XCB_MOD_MASK_CONTROL;
  if (flags & eventflags::kOption) {
    if (altMask_ == 0) return std::nullopt;
    mask |= altMask_;
  }
  if (flags & eventflags::kCommand) {
    if (superMask_ == 0) return std::nullopt;
    mask |= superMask_;
  }
  return mask;
}

std::uint64_t KeyMap::flags(std::uint16_t mask) const {
  std::uint64_t flags = 0;
  if (mask & XCB_MOD_MASK_SHIFT) flags |= eventflags::kShift;
  if (mask & XCB_MOD_MASK_CONTROL) flags |= eventflags::kControl;
  if (mask & altMask_) flags |= eventflags::kOption;
  if (mask & superMask_) flags |= eventflags::kCommand;
  return flags;
}

std::vector<std::uint16_t> KeyMap::lockVariants() const {
  std::vector<std::uint16_t> variants;
  for (std::uint16_t variant : {std::uint16_t{0}, numLockMask_, std::uint16_t{XCB_MOD_MASK_LOCK},
                                static_cast<std::uint16_t>(numLockMask_ | XCB_MOD_MASK_LOCK)}) {
    if (std::find(variants.begin(), variants.end(), variant) == variants.end()) {
      variants.push_back(variant);
    }
  }
  return variants;
}

std::vector<KeyGrab> KeyMap::grabsFor(std::uint16_t keyCode, std::uint64_t flags) const {
  const auto mask = modifierMask(flags);
  if (!mask) return {};
  std::vector<KeyGrab> grabs;
  for (xcb_keycode_t keycode : keycodes(keyCode)) {
    for (std::uint16_t variant : lockVariants()) {
      grabs.push_back({keycode, static_cast<std::uint16_t>(*mask | variant)});
    }
  }
  return grabs;
}

std::uint16_t KeyMap::modifierBitsOf(xcb_keycode_t keycode) const {
  std::uint16_t bits = 0;
  for (std::size_t modifier = 0; modifier < modifierKeys_.size(); ++modifier) {
    const auto& keys = modifierKeys_[modifier];
    if (std::find(keys.begin(), keys.end(), keycode) != keys.end()) {
      bits |= static_cast<std::uint16_t>(1u << modifier);
    }
  }
  return bits;
}

std::uint16_t KeyMap::heldModifiers(const KeyState& state) const {
  std::uint16_t bits = 0;
  for (std::size_t modifier = 0; modifier < modifierKeys_.size(); ++modifier) {
    const auto& keys = modifierKeys_[modifier];
    if (std::any_of(keys.begin(), keys.end(), [&](auto key) { return isDown(state, key); })) {
      bits |= static_cast<std::uint16_t>(1u << modifier);
    }
  }
  return bits;
}

std::optional<GrabRefusal> grabKeys(xcb_connection_t* connection, xcb_window_t window,
                                    std::span<const KeyGrab> grabs, std::uint8_t keyboardMode) {
  std::vector<xcb_void_cookie_t> cookies;
  cookies.reserve(grabs.size());
  for (const KeyGrab& grab : grabs) {
    cookies.push_back(xcb_grab_key_checked(connection, 0, window, grab.modifiers, grab.keycode,
                                           XCB_GRAB_MODE_ASYNC, keyboardMode));
  }
  // Every cookie is checked, even after a refusal, so that no error is left behind in xcb.
  std::optional<GrabRefusal> refusal;
  for (std::size_t i = 0; i < cookies.size(); ++i) {
    Reply<xcb_generic_error_t> error(xcb_request_check(connection, cookies[i]));
    if (error && !refusal) refusal = GrabRefusal{i, error->error_code};
  }
  return refusal;
}

void ungrabKeys(xcb_connection_t* connection, xcb_window_t window, std::span<const KeyGrab> grabs) {
  for (const KeyGrab& grab : grabs) {
    xcb_ungrab_key(connection, grab.keycode, window, grab.modifiers);
  }
  xcb_flush(connection);
}

std::string refusalText(std::uint8_t errorCode) {
  if (errorCode == XCB_ACCESS) return "is grabbed by another program";
  return "could not be grabbed (X error " + std::to_string(errorCode) + ")";
}

}  // namespace tolvane::x11
