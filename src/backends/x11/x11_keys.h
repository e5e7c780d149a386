// Keys at the X edge: the product's virtual key codes and modifier flags to and from X keycodes
// and modifier masks (following the server's current keyboard and modifier mappings), the
// physical key state, and passive key grabs that report who owns a combination.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "backends/system/key_table.h"
#include "backends/x11/x11_connection.h"
#include "platform/event_tap.h"

namespace tolvane::x11 {

using system::combinationName;
using system::flagsFromHotKeyModifiers;
using system::kUnknownKeyCode;

/// One passive grab: an X keycode with an exact modifier mask.
struct KeyGrab {
  xcb_keycode_t keycode = 0;
  std::uint16_t modifiers = 0;
  bool operator==(const KeyGrab&) const = default;
};

/// Which keys are down: one bit per X keycode, as QueryKeymap answers.
using KeyState = std::array<std::uint8_t, 32>;

/// The logical state of every key (the physical one, unless a grab freezes the keyboard);
/// nothing when the connection failed.
std::optional<KeyState> queryKeyState(xcb_connection_t* connection);

/// The same asked now and answered later: sent right behind another request, one round trip
/// answers both, and the keys are read as they were when the server handled that request.
class PendingKeyState {
 public:
  explicit PendingKeyState(xcb_connection_t* connection);
  ~PendingKeyState();
  PendingKeyState(const PendingKeyState&) = delete;
  PendingKeyState& operator=(const PendingKeyState&) = delete;
  /// The answer; only the first call gets it.
  std::optional<KeyState> take();

 private:
  xcb_connection_t* connection_;
  xcb_query_keymap_cookie_t cookie_;
  bool taken_ = false;
};
bool isDown(const KeyState& state, xcb_keycode_t keycode);

/// The server's keyboard and modifier mappings as the product's codes see them. Reload after
/// a MappingNotify: keycodes and modifier bits may move with the layout.
///
/// Which X key a product key is:
/// - The digits 0-9 and the key above Tab (the product's "`") by physical position, the evdev
///   keycodes of the digit row and TLDE. The product means the key: French AZERTY types "&",
///   "é", ... and "²" there unshifted, and its users still press the key marked 1 or the one
///   left of it.
/// - Every other key (letters, punctuation, Space, Return, Tab, Escape, BackSpace, Delete, the
///   arrows, Home, End, Prior, Next, F1-F12, the modifiers) by the keysym the key types without
///   a modifier, skipping the keys taken by position. A French user pressing Control-A means
///   the key labelled A, and one pressing Control-; the key labelled ";". Punctuation is not
///   positional because positions would collide with letters on other layouts (the US ";" key
///   types "m" on AZERTY); a layout on which no key types the character unshifted ("[" on
///   AZERTY needs AltGr) has no key for that product code, and a combination with it cannot be
///   grabbed. A keymap whose first group is not Latin is searched in its second group too.
class KeyMap {
 public:
  explicit KeyMap(xcb_connection_t* connection);
  ~KeyMap();
  KeyMap(const KeyMap&) = delete;
  KeyMap& operator=(const KeyMap&) = delete;

  /// Reads both mappings again.
  void reload();
  /// Reloads when `event` is a MappingNotify of the keyboard or the modifiers (a pointer
  /// mapping moves no key); true when it did, so the holder can grab its keys anew. Every
  /// holder of a key map follows every change, so nobody consumes the event.
  bool followMappingChange(const xcb_generic_event_t& event);

  /// Every X keycode that types the product key; empty when the keyboard has none.
  std::vector<xcb_keycode_t> keycodes(std::uint16_t keyCode) const;
  /// The product key of an X keycode; kUnknownKeyCode for keys outside the table.
  std::uint16_t keyCode(xcb_keycode_t keycode) const;
  /// A key press as the core sees it, from the keycode and state of an X key event that reached
  /// another reader of the connection (Qt's).
  KeyEvent keyDown(std::uint32_t keycode, std::uint32_t state) const {
    return {KeyEventType::keyDown, keyCode(static_cast<xcb_keycode_t>(keycode)),
            flags(static_cast<std::uint16_t>(state))};
  }

  /// The X modifier mask of product flags; nothing when a flag has no modifier bit on this
  /// server (Super mapped nowhere, say): grabbing without it would take the bare key.
  std::optional<std::uint16_t> modifierMask(std::uint64_t flags) const;
  /// The product flags of an X modifier mask; NumLock, CapsLock and Mod5 bits count for nothing.
  std::uint64_t flags(std::uint16_t mask) const;
  /// The masks a combination must also be grabbed with so that NumLock or CapsLock being on
  /// does not defeat it: none, NumLock, Lock and both (without duplicates).
  std::vector<std::uint16_t> lockVariants() const;
  /// Every grab a combination needs: each keycode with each lock variant; empty when this
  /// keyboard cannot type the combination.
  std::vector<KeyGrab> grabsFor(std::uint16_t keyCode, std::uint64_t flags) const;

  /// The modifier bits a key sets while down; 0 for keys outside the modifier mapping.
  std::uint16_t modifierBitsOf(xcb_keycode_t keycode) const;
  /// The modifier bits the keys that are down set.
  std::uint16_t heldModifiers(const KeyState& state) const;

 private:
  void loadModifierMapping();
  /// Keys not taken by position whose unshifted keysym, in the first group or else the second,
  /// is `keysym`.
  std::vector<xcb_keycode_t> keycodesTyping(xcb_keysym_t keysym) const;
  /// The unshifted keysym of a key in the first group, or the second group's when the first
  /// names no product key.
  xcb_keysym_t unshiftedKeysym(xcb_keycode_t keycode) const;
  std::optional<std::uint16_t> bitOfKeysyms(std::initializer_list<xcb_keysym_t> keysyms) const;

  xcb_connection_t* connection_;
  xcb_key_symbols_t* symbols_ = nullptr;
  /// Keycodes of each of the eight modifiers (Shift, Lock, Control, Mod1..Mod5).
  std::array<std::vector<xcb_keycode_t>, 8> modifierKeys_;
  std::uint16_t superMask_ = 0;
  std::uint16_t altMask_ = 0;
  std::uint16_t numLockMask_ = 0;
};

/// The first grab of a batch the server refused, and its X error code (BadAccess: another
/// client owns the combination).
struct GrabRefusal {
  std::size_t index = 0;
  std::uint8_t errorCode = 0;
};
/// Passive grabs of `grabs` on `window` (owner_events false, pointer asynchronous), each one
/// checked; nothing when all succeeded. After a refusal the caller ungrabs the whole batch.
std::optional<GrabRefusal> grabKeys(xcb_connection_t* connection, xcb_window_t window,
                                    std::span<const KeyGrab> grabs, std::uint8_t keyboardMode);
/// Releases passive grabs this client holds; grabs other clients hold are not touched.
void ungrabKeys(xcb_connection_t* connection, xcb_window_t window, std::span<const KeyGrab> grabs);

/// "is grabbed by another program" for BadAccess, the error code otherwise.
std::string refusalText(std::uint8_t errorCode);

}  // namespace tolvane::x11
