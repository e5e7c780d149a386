// tolvane-gnome-remote-keys: types the key tools' words (desktops/clients/key_words.h) on GNOME
// Shell through Mutter's remote desktop (the session bus's org.gnome.Mutter.RemoteDesktop).
// Keys go as keysyms: Mutter finds their keys in the seat's keymap and adds the level modifiers
// a character needs. A modifier and the key of the same keysym (-M logo -P Super_L) are one
// press; every key still held is released at the end.
#include <systemd/sd-bus.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include "desktops/clients/key_words.h"

namespace {

constexpr const char* kMutter = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";

const std::map<std::string_view, xkb_keysym_t> kModifiers = {{"logo", XKB_KEY_Super_L},
                                                             {"shift", XKB_KEY_Shift_L},
                                                             {"alt", XKB_KEY_Alt_L},
                                                             {"ctrl", XKB_KEY_Control_L}};

class Keyboard final : public tolvane::test::KeyWords {
 public:
  ~Keyboard() override {
    // A session left running would end with the connection anyway, but only once Mutter
    // notices.
    releaseAll();
    if (started_) call("Stop", "");
    sd_bus_flush_close_unref(bus_);
  }

  /// A remote desktop session of the compositor's, started; false with a message when refused.
  bool open() {
    sd_bus_error failure{};
    sd_bus_message* reply = nullptr;
    const char* path = nullptr;
    const bool created = sd_bus_open_user(&bus_) >= 0 &&
                         sd_bus_call_method(bus_, kMutter, "/org/gnome/Mutter/RemoteDesktop",
                                            kMutter, "CreateSession", &failure, &reply, "") >= 0 &&
                         sd_bus_message_read(reply, "o", &path) >= 0;
    if (created) session_ = path;
    if (!created) std::fprintf(stderr, "no remote desktop session: %s\n", failure.message);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&failure);
    started_ = created && call("Start", "");
    return started_;
  }

  bool deliver(std::uint32_t keysym, bool pressed) override {
    return call("NotifyKeyboardKeysym", "ub", keysym, int{pressed});
  }
  bool modifier(std::string_view name, bool pressed) override {
    const auto it = kModifiers.find(name);
    return it != kModifiers.end() && send(it->second, pressed);
  }
  bool key(std::string_view name, bool pressed) override {
    const xkb_keysym_t keysym =
        xkb_keysym_from_name(std::string(name).c_str(), XKB_KEYSYM_NO_FLAGS);
    return keysym != XKB_KEY_NoSymbol && send(keysym, pressed);
  }
  bool type(std::string_view text) override {
    for (const char c : text) {
      const xkb_keysym_t keysym = xkb_utf32_to_keysym(static_cast<unsigned char>(c));
      if (c < ' ' || c > '~' || keysym == XKB_KEY_NoSymbol || !send(keysym, true) ||
          !send(keysym, false)) {
        return false;
      }
    }
    return true;
  }

 private:
  template <typename... Args>
  bool call(const char* member, const char* types, Args... args) {
    sd_bus_error failure{};
    const bool answered = sd_bus_call_method(bus_, kMutter, session_.c_str(), kSessionInterface,
                                             member, &failure, nullptr, types, args...) >= 0;
    if (!answered) std::fprintf(stderr, "%s: %s\n", member, failure.message);
    sd_bus_error_free(&failure);
    return answered;
  }

  sd_bus* bus_ = nullptr;
  std::string session_;
  bool started_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  Keyboard keyboard;
  if (!keyboard.open()) return 1;
  const bool typed = keyboard.run(argc, argv);
  if (!typed) std::fprintf(stderr, "cannot type the words given\n");
  return typed ? 0 : 1;
}
