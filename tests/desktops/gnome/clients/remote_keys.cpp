// tolvane-gnome-remote-keys: types on GNOME Shell through Mutter's remote desktop (the session
// bus's org.gnome.Mutter.RemoteDesktop), in the words the sway suite gives wtype, so that one
// scenario reads the same on every desktop:
//
//   tolvane-gnome-remote-keys [-M MOD] [-m MOD] [-P KEY] [-p KEY] [-k KEY] [-s MS] [TEXT]...
//
// -M/-m press/release a modifier (logo, shift, alt, ctrl), -P/-p press/release a key by its
// keysym name, -k taps one, -s waits MS milliseconds, and any other word is typed character by
// character. Keys go as keysyms: Mutter finds their keys in the seat's keymap and adds the level
// modifiers a character needs. A modifier and the key of the same keysym (-M logo -P Super_L)
// are one press; every key still held is released at the end.
#include <systemd/sd-bus.h>
#include <xkbcommon/xkbcommon.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <thread>

namespace {

/// Longer pauses than any test needs are a typing slip.
constexpr int kMaxPauseMs = 600000;
constexpr const char* kMutter = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";

const std::map<std::string_view, xkb_keysym_t> kModifiers = {{"logo", XKB_KEY_Super_L},
                                                             {"shift", XKB_KEY_Shift_L},
                                                             {"alt", XKB_KEY_Alt_L},
                                                             {"ctrl", XKB_KEY_Control_L}};

class Keyboard {
 public:
  ~Keyboard() {
    // Nothing stays pressed after the tool, whatever stopped it; a session left running would
    // end with the connection anyway, but only once Mutter notices.
    while (!held_.empty()) send(*held_.begin(), false);
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

  /// Sends one change and waits for Mutter's answer, so that the order of keys and pauses is
  /// the order Mutter sees.
  bool send(xkb_keysym_t keysym, bool pressed) {
    if (pressed == held_.contains(keysym)) return true;
    if (pressed) {
      held_.insert(keysym);
    } else {
      held_.erase(keysym);
    }
    return call("NotifyKeyboardKeysym", "ub", keysym, int{pressed});
  }
  bool tap(xkb_keysym_t keysym) { return send(keysym, true) && send(keysym, false); }
  bool type(std::string_view text) {
    for (const char c : text) {
      const xkb_keysym_t keysym = xkb_utf32_to_keysym(static_cast<unsigned char>(c));
      if (c < ' ' || c > '~' || keysym == XKB_KEY_NoSymbol || !tap(keysym)) return false;
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
  std::set<xkb_keysym_t> held_;
};

xkb_keysym_t keysymOf(const char* name) {
  return xkb_keysym_from_name(name, XKB_KEYSYM_NO_FLAGS);
}

/// Runs the words in order; false at the first it cannot type.
bool run(Keyboard& keyboard, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    const bool takesValue = word.size() == 2 && word[0] == '-' && i + 1 < argc;
    if (!takesValue) {
      if (!keyboard.type(word)) return false;
      continue;
    }
    const char* value = argv[++i];
    const std::string_view text = value;
    const auto modifier = kModifiers.find(text);
    const xkb_keysym_t key = keysymOf(value);
    int ms = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    switch (word[1]) {
      case 'M':
      case 'm':
        if (modifier == kModifiers.end()) return false;
        if (!keyboard.send(modifier->second, word[1] == 'M')) return false;
        break;
      case 'P':
      case 'p':
      case 'k':
        if (key == XKB_KEY_NoSymbol) return false;
        if (!(word[1] == 'k' ? keyboard.tap(key) : keyboard.send(key, word[1] == 'P'))) {
          return false;
        }
        break;
      case 's':
        if (error != std::errc{} || end != text.data() + text.size() || ms < 0 ||
            ms > kMaxPauseMs) {
          return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        break;
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Keyboard keyboard;
  if (!keyboard.open()) return 1;
  const bool typed = run(keyboard, argc, argv);
  if (!typed) std::fprintf(stderr, "cannot type the words given\n");
  return typed ? 0 : 1;
}
