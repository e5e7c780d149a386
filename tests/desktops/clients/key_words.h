// The words the desktop suites' key tools take, as the sway suite gives wtype, so that one
// scenario reads the same on every desktop:
//
//   TOOL [-M MOD] [-m MOD] [-P KEY] [-p KEY] [-k KEY] [-s MS] [TEXT]...
//
// -M/-m press/release a modifier (logo, shift, alt, ctrl), -P/-p press/release a key by its
// keysym name, -k taps one, -s waits MS milliseconds, and any other word is typed character by
// character. Each tool says how a desktop takes the keys.
#pragma once

#include <charconv>
#include <chrono>
#include <cstdint>
#include <set>
#include <string_view>
#include <thread>

namespace tolvane::test {

/// What a key tool does with each word; every step false when the desktop cannot take it.
/// Keys are the desktop's codes or keysyms; a modifier and a key of the same code are one press.
class KeyWords {
 public:
  virtual ~KeyWords() = default;
  virtual bool modifier(std::string_view name, bool pressed) = 0;
  virtual bool key(std::string_view name, bool pressed) = 0;
  virtual bool type(std::string_view text) = 0;

  /// Presses or releases `code`, unless it already is so.
  bool send(std::uint32_t code, bool pressed) {
    if (pressed == held_.contains(code)) return true;
    if (pressed) {
      held_.insert(code);
    } else {
      held_.erase(code);
    }
    return deliver(code, pressed);
  }
  bool held(std::uint32_t code) const { return held_.contains(code); }
  /// Nothing stays pressed after the tool, whatever stopped it.
  void releaseAll() {
    while (!held_.empty()) send(*held_.begin(), false);
  }

  /// Runs the words in order; false at the first that cannot be typed.
  bool run(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
      const std::string_view word = argv[i];
      if (word.size() != 2 || word[0] != '-' || i + 1 == argc) {
        if (!type(word)) return false;
        continue;
      }
      const std::string_view value = argv[++i];
      const bool done = word[1] == 'M'   ? modifier(value, true)
                        : word[1] == 'm' ? modifier(value, false)
                        : word[1] == 'P' ? key(value, true)
                        : word[1] == 'p' ? key(value, false)
                        : word[1] == 'k' ? key(value, true) && key(value, false)
                        : word[1] == 's' ? pause(value)
                                         : false;
      if (!done) return false;
    }
    return true;
  }

 protected:
  /// Sends one change to the desktop and waits until it has handled it, so that the order of
  /// keys and pauses is the order the desktop sees.
  virtual bool deliver(std::uint32_t code, bool pressed) = 0;

 private:
  /// Longer pauses than any test needs are a typing slip.
  static constexpr int kMaxPauseMs = 600000;

  static bool pause(std::string_view value) {
    int ms = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), ms);
    if (error != std::errc{} || end != value.data() + value.size() || ms < 0 || ms > kMaxPauseMs) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
  }

  std::set<std::uint32_t> held_;
};

}  // namespace tolvane::test
