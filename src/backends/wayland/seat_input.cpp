// The seat's keyboard (keymap, xkb state, focus) and pointer, routed by surface.
#include "backends/wayland/seat_input.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstring>

#include "backends/system/unique_fd.h"
#include "base/utf8.h"

namespace tolvane::wayland {

namespace {

/// A keymap is a few tens of KiB; anything past this is not one.
constexpr std::uint32_t kMaxKeymapBytes = 1 << 20;
/// evdev codes are offset by 8 in xkb.
constexpr std::uint32_t kXkbKeycodeOffset = 8;

struct XkbDeleter {
  void operator()(xkb_context* c) const { xkb_context_unref(c); }
  void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
  void operator()(xkb_state* s) const { xkb_state_unref(s); }
};

struct Route {
  wl_surface* surface = nullptr;
  const KeyboardHandler* keyboard = nullptr;
  const ClickHandler* click = nullptr;
};

}  // namespace

struct SeatInput::State {
  wl_seat* seat = nullptr;
  wl_keyboard* keyboard = nullptr;
  wl_pointer* pointer = nullptr;
  std::unique_ptr<xkb_context, XkbDeleter> context{xkb_context_new(static_cast<xkb_context_flags>(
      XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES))};
  // The keymap is compiled only when one of our surfaces has the keyboard: a compositor sends a
  // new one whenever a keyboard appears (every virtual keyboard does), and compiling each would
  // hold up the very trigger press that created the keyboard.
  std::string keymapText;
  std::unique_ptr<xkb_keymap, XkbDeleter> keymap;
  std::unique_ptr<xkb_state, XkbDeleter> xkb;
  std::uint32_t depressed = 0, latched = 0, locked = 0, group = 0;
  xkb_mod_index_t shiftIndex = XKB_MOD_INVALID, controlIndex = XKB_MOD_INVALID,
                  altIndex = XKB_MOD_INVALID, superIndex = XKB_MOD_INVALID;
  std::vector<Route> routes;

  // The keyboard's focus. `entered` is delivered at the first `modifiers` after `enter` (the
  // compositor sends one right after it), so that it reports the modifiers actually held rather
  // than those of the last surface that had the keyboard.
  wl_surface* keyboardFocus = nullptr;
  bool enterPending = false;
  bool enterDelivered = false;
  std::vector<std::uint32_t> enterKeys;
  Modifiers lastModifiers;

  wl_surface* pointerFocus = nullptr;
  double pointerX = 0, pointerY = 0;

  ~State() {
    dropKeyboard();
    dropPointer();
  }

  const Route* routeOf(wl_surface* surface) const {
    if (surface == nullptr) return nullptr;
    auto it = std::find_if(routes.begin(), routes.end(),
                           [&](const Route& r) { return r.surface == surface; });
    return it == routes.end() ? nullptr : &*it;
  }
  // A copy, so that a handler that removes its route while running stays valid.
  KeyboardHandler keyboardHandler() const {
    const Route* route = routeOf(keyboardFocus);
    return route != nullptr && route->keyboard != nullptr ? *route->keyboard : KeyboardHandler{};
  }

  void capabilities(std::uint32_t caps) {
    const bool hasKeyboard = (caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    const bool hasPointer = (caps & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (hasKeyboard && keyboard == nullptr) {
      keyboard = wl_seat_get_keyboard(seat);
      wl_keyboard_add_listener(keyboard, &kKeyboardListener, this);
    } else if (!hasKeyboard && keyboard != nullptr) {
      dropKeyboard();
      keyboardGone();
    }
    if (hasPointer && pointer == nullptr) {
      pointer = wl_seat_get_pointer(seat);
      wl_pointer_add_listener(pointer, &kPointerListener, this);
    } else if (!hasPointer && pointer != nullptr) {
      dropPointer();
    }
  }
  void dropKeyboard() {
    if (keyboard == nullptr) return;
    if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
      wl_keyboard_release(keyboard);
    } else {
      wl_keyboard_destroy(keyboard);
    }
    keyboard = nullptr;
  }
  void dropPointer() {
    if (pointer == nullptr) return;
    if (wl_pointer_get_version(pointer) >= WL_POINTER_RELEASE_SINCE_VERSION) {
      wl_pointer_release(pointer);
    } else {
      wl_pointer_destroy(pointer);
    }
    pointer = nullptr;
    pointerFocus = nullptr;
  }

  void keymapFrom(std::uint32_t format, int fd, std::uint32_t size) {
    system::UniqueFd owned(fd);
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
      keymapText.clear();
      keymap.reset();
      xkb.reset();
      return;
    }
    if (size == 0 || size > kMaxKeymapBytes) return;
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, owned.get(), 0);
    if (text == MAP_FAILED) return;
    const auto* chars = static_cast<const char*>(text);
    keymapText.assign(chars, strnlen(chars, size));
    munmap(text, size);
    keymap.reset();
    xkb.reset();
    if (keyboardFocus != nullptr && routeOf(keyboardFocus) != nullptr) compileKeymap();
  }

  /// The latest keymap compiled, with the modifiers last reported; false when there is none.
  bool compileKeymap() {
    if (xkb) return true;
    if (keymapText.empty() || !context) return false;
    std::unique_ptr<xkb_keymap, XkbDeleter> fresh(
        xkb_keymap_new_from_buffer(context.get(), keymapText.data(), keymapText.size(),
                                   XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!fresh) {
      keymapText.clear();  // not a keymap: never compiled again
      return false;
    }
    std::unique_ptr<xkb_state, XkbDeleter> state(xkb_state_new(fresh.get()));
    if (!state) return false;
    keymap = std::move(fresh);
    xkb = std::move(state);
    xkb_state_update_mask(xkb.get(), depressed, latched, locked, 0, 0, group);
    shiftIndex = xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_SHIFT);
    controlIndex = xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_CTRL);
    altIndex = xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_ALT);
    superIndex = xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_LOGO);
    return true;
  }

  bool held(xkb_mod_index_t index) const {
    return index != XKB_MOD_INVALID &&
           xkb_state_mod_index_is_active(xkb.get(), index, XKB_STATE_MODS_DEPRESSED) > 0;
  }
  Modifiers modifiers() const {
    if (!xkb) return {};
    return {held(shiftIndex), held(controlIndex), held(altIndex), held(superIndex)};
  }
  std::uint32_t keysymOf(std::uint32_t evdevKey) const {
    return xkb ? xkb_state_key_get_one_sym(xkb.get(), evdevKey + kXkbKeycodeOffset) : 0;
  }
  std::uint32_t baseKeysymOf(std::uint32_t evdevKey) const {
    if (!xkb) return 0;
    const xkb_keycode_t code = evdevKey + kXkbKeycodeOffset;
    const xkb_keysym_t* syms = nullptr;
    const xkb_layout_index_t layout = xkb_state_key_get_layout(xkb.get(), code);
    if (layout == XKB_LAYOUT_INVALID) return 0;
    const int count = xkb_keymap_key_get_syms_by_level(keymap.get(), code, layout, 0, &syms);
    return count == 1 ? syms[0] : 0;
  }
  // What the key types, without controls (Tab, Return and Escape type control characters).
  std::string textOf(std::uint32_t evdevKey) const {
    if (!xkb) return {};
    char buffer[64] = {};
    const int length =
        xkb_state_key_get_utf8(xkb.get(), evdevKey + kXkbKeycodeOffset, buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return {};
    const std::string_view text(buffer, static_cast<std::size_t>(length));
    for (std::size_t at = 0; at < text.size();) {
      char32_t codePoint = 0;
      const std::size_t n = utf8SequenceAt(text, at, codePoint);
      if (n == 0 || isDisplayControl(codePoint)) return {};
      at += n;
    }
    return std::string(text);
  }

  void enter(wl_surface* surface, const wl_array* keys) {
    keyboardFocus = surface;
    enterPending = routeOf(surface) != nullptr;
    if (enterPending) compileKeymap();
    enterDelivered = false;
    enterKeys.clear();
    if (keys == nullptr || keys->size % sizeof(std::uint32_t) != 0) return;
    const auto* codes = static_cast<const std::uint32_t*>(keys->data);
    enterKeys.assign(codes, codes + keys->size / sizeof(std::uint32_t));
  }
  void deliverEnter() {
    if (!enterPending) return;
    enterPending = false;
    enterDelivered = true;
    lastModifiers = modifiers();
    std::vector<std::uint32_t> keysyms;
    for (std::uint32_t key : enterKeys) {
      if (const std::uint32_t sym = keysymOf(key); sym != 0) keysyms.push_back(sym);
    }
    if (auto handler = keyboardHandler(); handler.entered) handler.entered(lastModifiers, keysyms);
  }
  // Told to every routed surface, not only the focused one: a surface mapped a moment ago may
  // be waiting for an enter that this keyboard will never send.
  void keyboardGone() {
    keyboardFocus = nullptr;
    enterPending = enterDelivered = false;
    std::vector<std::function<void()>> told;
    for (const Route& route : routes) {
      if (route.keyboard != nullptr && route.keyboard->gone) told.push_back(route.keyboard->gone);
    }
    // Copies: a handler may unroute its surface, or another, while it runs.
    for (const auto& handler : told) handler();
  }
  void leaveKeyboard() {
    const bool delivered = enterDelivered;
    const KeyboardHandler handler = keyboardHandler();
    keyboardFocus = nullptr;
    enterPending = enterDelivered = false;
    if (delivered && handler.left) handler.left();
  }
  void key(std::uint32_t evdevKey, bool pressed) {
    deliverEnter();
    if (!enterDelivered || !xkb) return;
    const std::uint32_t sym = keysymOf(evdevKey);
    const std::string text = pressed ? textOf(evdevKey) : std::string();
    if (auto handler = keyboardHandler(); handler.key) {
      handler.key(sym, pressed, text, baseKeysymOf(evdevKey));
    }
  }
  void modifiersChanged(std::uint32_t nowDepressed, std::uint32_t nowLatched,
                        std::uint32_t nowLocked, std::uint32_t nowGroup) {
    depressed = nowDepressed;
    latched = nowLatched;
    locked = nowLocked;
    group = nowGroup;
    if (xkb) xkb_state_update_mask(xkb.get(), depressed, latched, locked, 0, 0, group);
    if (enterPending) return deliverEnter();
    if (!enterDelivered) return;
    const Modifiers now = modifiers();
    if (now == lastModifiers) return;
    lastModifiers = now;
    if (auto handler = keyboardHandler(); handler.modifiers) handler.modifiers(now);
  }
  void click() {
    const Route* route = routeOf(pointerFocus);
    if (route == nullptr || route->click == nullptr || !*route->click) return;
    const ClickHandler handler = *route->click;
    handler(pointerX, pointerY);
  }

  static const wl_seat_listener kSeatListener;
  static const wl_keyboard_listener kKeyboardListener;
  static const wl_pointer_listener kPointerListener;
};

using S = SeatInput::State;

const wl_seat_listener S::kSeatListener = {
    .capabilities = [](void* d, wl_seat*,
                       std::uint32_t caps) { static_cast<S*>(d)->capabilities(caps); },
    .name = [](void*, wl_seat*, const char*) {},
};

const wl_keyboard_listener S::kKeyboardListener = {
    .keymap = [](void* d, wl_keyboard*, std::uint32_t format, int fd,
                 std::uint32_t size) { static_cast<S*>(d)->keymapFrom(format, fd, size); },
    .enter = [](void* d, wl_keyboard*, std::uint32_t, wl_surface* surface,
                wl_array* keys) { static_cast<S*>(d)->enter(surface, keys); },
    .leave = [](void* d, wl_keyboard*, std::uint32_t,
                wl_surface*) { static_cast<S*>(d)->leaveKeyboard(); },
    .key =
        [](void* d, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
           std::uint32_t state) {
          static_cast<S*>(d)->key(key, state == WL_KEYBOARD_KEY_STATE_PRESSED);
        },
    .modifiers =
        [](void* d, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
           std::uint32_t locked, std::uint32_t group) {
          static_cast<S*>(d)->modifiersChanged(depressed, latched, locked, group);
        },
    .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
};

const wl_pointer_listener S::kPointerListener = {
    .enter =
        [](void* d, wl_pointer*, std::uint32_t, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
          auto* self = static_cast<S*>(d);
          self->pointerFocus = surface;
          self->pointerX = wl_fixed_to_double(x);
          self->pointerY = wl_fixed_to_double(y);
        },
    .leave = [](void* d, wl_pointer*, std::uint32_t,
                wl_surface*) { static_cast<S*>(d)->pointerFocus = nullptr; },
    .motion =
        [](void* d, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
          auto* self = static_cast<S*>(d);
          self->pointerX = wl_fixed_to_double(x);
          self->pointerY = wl_fixed_to_double(y);
        },
    .button =
        [](void* d, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button,
           std::uint32_t state) {
          if (button == BTN_LEFT && state == WL_POINTER_BUTTON_STATE_PRESSED) {
            static_cast<S*>(d)->click();
          }
        },
    .axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
    .frame = [](void*, wl_pointer*) {},
    .axis_source = [](void*, wl_pointer*, std::uint32_t) {},
    .axis_stop = [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
    .axis_discrete = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
    .axis_value120 = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
};

SeatInput::SeatInput() : state_(std::make_unique<State>()) {}
SeatInput::~SeatInput() = default;

void SeatInput::attach(wl_seat* seat) {
  if (state_->seat != nullptr || seat == nullptr) return;
  state_->seat = seat;
  wl_seat_add_listener(seat, &State::kSeatListener, state_.get());
}

void SeatInput::detach() {
  state_->dropKeyboard();
  state_->dropPointer();
  state_->seat = nullptr;
}

void SeatInput::route(wl_surface* surface, const KeyboardHandler* keyboard,
                      const ClickHandler* click) {
  unroute(surface);
  state_->routes.push_back({surface, keyboard, click});
}

void SeatInput::unroute(wl_surface* surface) {
  auto& routes = state_->routes;
  routes.erase(std::remove_if(routes.begin(), routes.end(),
                              [&](const Route& r) { return r.surface == surface; }),
               routes.end());
  if (state_->keyboardFocus == surface) {
    state_->keyboardFocus = nullptr;
    state_->enterPending = state_->enterDelivered = false;
  }
  if (state_->pointerFocus == surface) state_->pointerFocus = nullptr;
}

}  // namespace tolvane::wayland
