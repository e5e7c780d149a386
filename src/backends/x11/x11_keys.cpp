// Translation between the product's key codes and flags and the server's keycodes and masks.
#include "backends/x11/x11_keys.h"

#include <algorithm>

#include "model/key_codes.h"
#include "platform/event_tap.h"

namespace tolvane::x11 {

namespace {

/// The physical key above Tab (evdev TLDE). The product means the key, whatever the layout
/// types with it, so it is named by keycode rather than keysym.
constexpr xcb_keycode_t kKeyAboveTabKeycode = 49;
/// The digit row, 1 to 9 then 0 (evdev AE01..AE10). A session picks rows by position: French
/// AZERTY types "&", "é", ... there unshifted, and its users still press the key marked 1.
constexpr xcb_keycode_t kDigitRowKeycodes[] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
constexpr std::uint16_t kDigitRowKeyCodes[] = {18, 19, 20, 21, 23, 22, 26, 28, 25, 29};

bool isPositional(xcb_keycode_t keycode) {
  return keycode == kKeyAboveTabKeycode ||
         std::find(std::begin(kDigitRowKeycodes), std::end(kDigitRowKeycodes), keycode) !=
             std::end(kDigitRowKeycodes);
}

// Columns of the core keyboard mapping with a key's unshifted keysym: group 1 level 1, then
// group 2 level 1.
constexpr int kFirstGroupColumn = 0;
constexpr int kSecondGroupColumn = 2;

std::optional<xcb_keycode_t> digitRowKeycode(std::uint16_t keyCode) {
  for (std::size_t i = 0; i < std::size(kDigitRowKeyCodes); ++i) {
    if (kDigitRowKeyCodes[i] == keyCode) return kDigitRowKeycodes[i];
  }
  return std::nullopt;
}

struct KeyEntry {
  std::uint16_t keyCode;
  xcb_keysym_t keysym;
  const char* name;
};

// Product key codes come from the ANSI layout of the product's home platform; keysyms and names
// are the X ones (X11/keysymdef.h). Letters and digits use the unshifted keysym of their key.
constexpr KeyEntry kKeys[] = {
    // Letters.
    {0, 'a', "a"},
    {11, 'b', "b"},
    {8, 'c', "c"},
    {2, 'd', "d"},
    {14, 'e', "e"},
    {3, 'f', "f"},
    {5, 'g', "g"},
    {4, 'h', "h"},
    {34, 'i', "i"},
    {38, 'j', "j"},
    {40, 'k', "k"},
    {37, 'l', "l"},
    {46, 'm', "m"},
    {45, 'n', "n"},
    {31, 'o', "o"},
    {35, 'p', "p"},
    {12, 'q', "q"},
    {15, 'r', "r"},
    {1, 's', "s"},
    {17, 't', "t"},
    {32, 'u', "u"},
    {9, 'v', "v"},
    {13, 'w', "w"},
    {7, 'x', "x"},
    {16, 'y', "y"},
    {6, 'z', "z"},
    // Digits; the product's own table holds 1 to 9 in this order.
    {18, '1', "1"},
    {19, '2', "2"},
    {20, '3', "3"},
    {21, '4', "4"},
    {23, '5', "5"},
    {22, '6', "6"},
    {26, '7', "7"},
    {28, '8', "8"},
    {25, '9', "9"},
    {29, '0', "0"},
    // Punctuation a hot key may use.
    {27, '-', "minus"},
    {24, '=', "equal"},
    {33, '[', "bracketleft"},
    {30, ']', "bracketright"},
    {42, '\\', "backslash"},
    {41, ';', "semicolon"},
    {39, '\'', "apostrophe"},
    {43, ',', "comma"},
    {47, '.', "period"},
    {44, '/', "slash"},
    // Keys a session reacts to, and editing keys.
    {48, 0xff09, "Tab"},
    {36, 0xff0d, "Return"},
    {76, 0xff8d, "KP_Enter"},
    {53, 0xff1b, "Escape"},
    {49, ' ', "space"},
    {123, 0xff51, "Left"},
    {126, 0xff52, "Up"},
    {124, 0xff53, "Right"},
    {125, 0xff54, "Down"},
    {51, 0xff08, "BackSpace"},
    {117, 0xffff, "Delete"},
    {115, 0xff50, "Home"},
    {119, 0xff57, "End"},
    {116, 0xff55, "Prior"},
    {121, 0xff56, "Next"},
    // Function keys.
    {122, 0xffbe, "F1"},
    {120, 0xffbf, "F2"},
    {99, 0xffc0, "F3"},
    {118, 0xffc1, "F4"},
    {96, 0xffc2, "F5"},
    {97, 0xffc3, "F6"},
    {98, 0xffc4, "F7"},
    {100, 0xffc5, "F8"},
    {101, 0xffc6, "F9"},
    {109, 0xffc7, "F10"},
    {103, 0xffc8, "F11"},
    {111, 0xffc9, "F12"},
    // Modifiers: Command is Super, Option is Alt.
    {56, 0xffe1, "Shift_L"},
    {60, 0xffe2, "Shift_R"},
    {59, 0xffe3, "Control_L"},
    {62, 0xffe4, "Control_R"},
    {57, 0xffe5, "Caps_Lock"},
    {58, 0xffe9, "Alt_L"},
    {61, 0xffea, "Alt_R"},
    {55, 0xffeb, "Super_L"},
    {54, 0xffec, "Super_R"},
};

constexpr xcb_keysym_t kSuperL = 0xffeb;
constexpr xcb_keysym_t kSuperR = 0xffec;
constexpr xcb_keysym_t kAltL = 0xffe9;
constexpr xcb_keysym_t kAltR = 0xffea;
constexpr xcb_keysym_t kNumLock = 0xff7f;

const KeyEntry* entryForCode(std::uint16_t keyCode) {
  const auto it = std::find_if(std::begin(kKeys), std::end(kKeys),
                               [&](const KeyEntry& entry) { return entry.keyCode == keyCode; });
  return it == std::end(kKeys) ? nullptr : it;
}

const KeyEntry* entryForKeysym(xcb_keysym_t keysym) {
  const auto it = std::find_if(std::begin(kKeys), std::end(kKeys),
                               [&](const KeyEntry& entry) { return entry.keysym == keysym; });
  return it == std::end(kKeys) ? nullptr : it;
}

// Columns of the core keyboard mapping worth searching for a modifier's keysym: evdev keymaps
// put the extra Super and Alt keycodes' keysyms in the second column.
constexpr int kModifierColumns = 4;

}  // namespace

std::uint64_t flagsFromHotKeyModifiers(std::uint32_t modifiers) {
  std::uint64_t flags = 0;
  if (modifiers & 256) flags |= eventflags::kCommand;
  if (modifiers & 512) flags |= eventflags::kShift;
  if (modifiers & 2048) flags |= eventflags::kOption;
  if (modifiers & 4096) flags |= eventflags::kControl;
  return flags;
}

std::string combinationName(std::uint16_t keyCode, std::uint64_t flags) {
  std::string name;
  if (flags & eventflags::kControl) name += "Control+";
  if (flags & eventflags::kOption) name += "Alt+";
  if (flags & eventflags::kCommand) name += "Super+";
  if (flags & eventflags::kShift) name += "Shift+";
  if (keyCode == keycode::kKeyAboveTab) return name + "key above Tab";
  if (const KeyEntry* entry = entryForCode(keyCode)) return name + entry->name;
  return name + "key " + std::to_string(keyCode);
}

std::optional<KeyState> queryKeyState(xcb_connection_t* connection) {
  Reply<xcb_query_keymap_reply_t> reply(
      xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
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
  if (keyCode == keycode::kKeyAboveTab) return {kKeyAboveTabKeycode};
  if (const auto digit = digitRowKeycode(keyCode)) return {*digit};
  const KeyEntry* entry = entryForCode(keyCode);
  if (!entry || !symbols_) return {};
  return keycodesTyping(entry->keysym);
}

std::vector<xcb_keycode_t> KeyMap::keycodesTyping(xcb_keysym_t keysym) const {
  const xcb_setup_t* setup = xcb_get_setup(connection_);
  for (int column : {kFirstGroupColumn, kSecondGroupColumn}) {
    std::vector<xcb_keycode_t> found;
    for (int code = setup->min_keycode; code <= setup->max_keycode; ++code) {
      const auto keycode = static_cast<xcb_keycode_t>(code);
      if (isPositional(keycode)) continue;
      if (xcb_key_symbols_get_keysym(symbols_, keycode, column) == keysym) found.push_back(keycode);
    }
    if (!found.empty()) return found;
  }
  return {};
}

xcb_keysym_t KeyMap::unshiftedKeysym(xcb_keycode_t keycode) const {
  const xcb_keysym_t first = xcb_key_symbols_get_keysym(symbols_, keycode, kFirstGroupColumn);
  if (entryForKeysym(first)) return first;
  return xcb_key_symbols_get_keysym(symbols_, keycode, kSecondGroupColumn);
}

std::uint16_t KeyMap::keyCode(xcb_keycode_t keycode) const {
  if (keycode == kKeyAboveTabKeycode) return keycode::kKeyAboveTab;
  if (keycode >= kDigitRowKeycodes[0] && keycode <= std::end(kDigitRowKeycodes)[-1]) {
    return kDigitRowKeyCodes[keycode - kDigitRowKeycodes[0]];
  }
  if (!symbols_) return kUnknownKeyCode;
  const KeyEntry* entry = entryForKeysym(unshiftedKeysym(keycode));
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
