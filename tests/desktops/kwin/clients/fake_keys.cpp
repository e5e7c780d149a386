// tolvane-kwin-fake-keys: types the key tools' words (desktops/clients/key_words.h) on KWin
// through org_kde_kwin_fake_input, text under a US layout. The keys are evdev codes: KWin sends
// them through the seat's own keymap, as a physical keyboard's. A modifier and the key of the same
// code (-M logo -P Super_L) are one press; every key still held is released at the end.
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "desktops/clients/key_words.h"
#include "fake-input-client-protocol.h"

namespace {

constexpr std::uint32_t kReleased = 0, kPressed = 1;

const std::map<std::string_view, std::uint32_t> kModifiers = {
    {"logo", KEY_LEFTMETA}, {"shift", KEY_LEFTSHIFT}, {"alt", KEY_LEFTALT}, {"ctrl", KEY_LEFTCTRL}};

const std::map<std::string_view, std::uint32_t> kNamedKeys = {
    {"Super_L", KEY_LEFTMETA},   {"Super_R", KEY_RIGHTMETA},   {"Shift_L", KEY_LEFTSHIFT},
    {"Shift_R", KEY_RIGHTSHIFT}, {"Alt_L", KEY_LEFTALT},       {"Alt_R", KEY_RIGHTALT},
    {"Control_L", KEY_LEFTCTRL}, {"Control_R", KEY_RIGHTCTRL}, {"Tab", KEY_TAB},
    {"grave", KEY_GRAVE},        {"Escape", KEY_ESC},          {"Return", KEY_ENTER},
    {"space", KEY_SPACE},        {"BackSpace", KEY_BACKSPACE}, {"Delete", KEY_DELETE},
    {"Left", KEY_LEFT},          {"Right", KEY_RIGHT},         {"Up", KEY_UP},
    {"Down", KEY_DOWN},          {"Home", KEY_HOME},           {"End", KEY_END},
    {"minus", KEY_MINUS},        {"period", KEY_DOT},          {"comma", KEY_COMMA}};

/// The US layout's unshifted characters in the order of their evdev rows.
constexpr std::pair<std::string_view, std::uint32_t> kRows[] = {{"1234567890-=", KEY_1},
                                                                {"qwertyuiop[]", KEY_Q},
                                                                {"asdfghjkl;'`", KEY_A},
                                                                {"zxcvbnm,./", KEY_Z}};
constexpr std::string_view kShifted = "!@#$%^&*()_+", kShiftedBase = "1234567890-=";

struct Typed {
  std::uint32_t code;
  bool shift;
};

/// A letter, digit or the punctuation of the US rows; nothing for the rest.
std::optional<Typed> keyOf(char c) {
  const bool upper = c >= 'A' && c <= 'Z';
  const char base = upper ? static_cast<char>(c - 'A' + 'a') : c;
  if (c == ' ') return Typed{KEY_SPACE, false};
  if (const auto at = kShifted.find(c); at != std::string_view::npos) {
    return Typed{keyOf(kShiftedBase[at])->code, true};
  }
  for (const auto& [row, first] : kRows) {
    if (const auto at = row.find(base); at != std::string_view::npos) {
      return Typed{static_cast<std::uint32_t>(first + at), upper};
    }
  }
  return std::nullopt;
}

std::optional<std::uint32_t> namedKey(std::string_view name) {
  if (const auto it = kNamedKeys.find(name); it != kNamedKeys.end()) return it->second;
  if (name.size() == 1 && keyOf(name[0]) && !keyOf(name[0])->shift) return keyOf(name[0])->code;
  return std::nullopt;
}

struct Keyboard final : tolvane::test::KeyWords {
  wl_display* display = nullptr;
  org_kde_kwin_fake_input* input = nullptr;

  bool deliver(std::uint32_t code, bool pressed) override {
    org_kde_kwin_fake_input_keyboard_key(input, code, pressed ? kPressed : kReleased);
    return wl_display_roundtrip(display) >= 0;
  }
  bool modifier(std::string_view name, bool pressed) override {
    const auto it = kModifiers.find(name);
    return it != kModifiers.end() && send(it->second, pressed);
  }
  bool key(std::string_view name, bool pressed) override {
    const auto code = namedKey(name);
    return code && send(*code, pressed);
  }
  bool type(std::string_view text) override {
    for (const char c : text) {
      const auto key = keyOf(c);
      if (!key) return false;
      const bool shifted = held(KEY_LEFTSHIFT);
      if (key->shift && !shifted && !send(KEY_LEFTSHIFT, true)) return false;
      if (!send(key->code, true) || !send(key->code, false)) return false;
      if (key->shift && !shifted && !send(KEY_LEFTSHIFT, false)) return false;
    }
    return true;
  }
};

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t version) {
  auto& keyboard = *static_cast<Keyboard*>(data);
  if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4) {
    keyboard.input = static_cast<org_kde_kwin_fake_input*>(
        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
  }
}
void globalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {.global = global, .global_remove = globalRemove};

}  // namespace

int main(int argc, char** argv) {
  Keyboard keyboard;
  keyboard.display = wl_display_connect(nullptr);
  if (keyboard.display == nullptr) {
    std::fprintf(stderr, "no Wayland display\n");
    return 1;
  }
  wl_registry* registry = wl_display_get_registry(keyboard.display);
  wl_registry_add_listener(registry, &kRegistryListener, &keyboard);
  wl_display_roundtrip(keyboard.display);
  if (keyboard.input == nullptr) {
    std::fprintf(stderr, "the compositor offers no org_kde_kwin_fake_input version 4\n");
    return 1;
  }
  org_kde_kwin_fake_input_authenticate(keyboard.input, "Tolvane tests", "types the test keys");
  const bool typed = keyboard.run(argc, argv);
  keyboard.releaseAll();
  // Destroyed, not left to the exit: the sanitizer builds count a proxy left over as a leak.
  org_kde_kwin_fake_input_destroy(keyboard.input);
  wl_registry_destroy(registry);
  wl_display_roundtrip(keyboard.display);
  wl_display_disconnect(keyboard.display);
  if (!typed) std::fprintf(stderr, "cannot type the words given\n");
  return typed ? 0 : 1;
}
