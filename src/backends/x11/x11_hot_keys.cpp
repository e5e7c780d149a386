// Global hot keys: grabs, refusals and presses.
//
//   HotKeys                          | on X11
//   ---------------------------------+-------------------------------------------------------------
//   register a combination           | passive asynchronous XGrabKey on the root window of every
//                                    | keycode that types the key, with each lock variant
//   modifier mask (hot-key encoding) | Command 256 -> Super, Shift 512, Option 2048 -> Alt,
//                                    | Control 4096, through the server's modifier mapping
//   refusal                          | the grab's X error (BadAccess: another client owns it,
//                                    | most likely the window manager, named); a key this
//                                    | keyboard cannot type
//   a press                          | KeyPress of a grabbed combination, also while a window of
//                                    | ours holds the keyboard; an auto-repeat (a press stamped
//                                    | with the key's last release time) is not a new press
//   unregister                       | XUngrabKey of each grab
//   mapping change                   | MappingNotify: every combination is grabbed anew
#include "backends/x11/x11_hot_keys.h"

#include <algorithm>

namespace tolvane::x11 {

namespace {

constexpr std::uint16_t kModifierBits = 0xff;
/// A window manager's name comes from another client; the reason quotes at most this much.
constexpr std::size_t kMaxNameBytes = 40;

/// Another client's text made fit for a log line and a tooltip: valid UTF-8 without control
/// characters, cut at a character boundary.
std::string plainText(std::string_view text, std::size_t maxBytes) {
  std::string plain;
  for (unsigned char c : repairUtf8(text)) {
    if (c < 0x20 || c == 0x7f) continue;
    plain.push_back(static_cast<char>(c));
  }
  if (plain.size() > maxBytes) {
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(plain[end]) & 0xc0) == 0x80) --end;
    plain.resize(end);
  }
  return plain;
}

}  // namespace

X11HotKeys::X11HotKeys(Connection& connection)
    : connection_(connection), atoms_(connection), keys_(connection.xcb()) {
  connection_.addSink(this);
}

X11HotKeys::~X11HotKeys() {
  connection_.removeSink(this);
  for (const auto& [id, hotKey] : hotKeys_) {
    ungrabKeys(connection_.xcb(), connection_.root(), hotKey.grabs);
  }
}

std::optional<HotKeyId> X11HotKeys::registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                   std::function<void()> onPress) {
  refusal_.reset();
  if (keyCode > 0xffff) {
    refusal_ = "key " + std::to_string(keyCode) + " does not exist";
    return std::nullopt;
  }
  const auto code = static_cast<std::uint16_t>(keyCode);
  const std::uint64_t flags = flagsFromHotKeyModifiers(modifiers);
  // Grabbing again from this client would silently take over the other registration's grab.
  const bool taken = std::any_of(hotKeys_.begin(), hotKeys_.end(), [&](const auto& entry) {
    return entry.second.keyCode == code && entry.second.flags == flags;
  });
  if (taken) {
    refusal_ = combinationName(code, flags) + " is registered already";
    return std::nullopt;
  }
  auto outcome = grab(code, flags);
  if (outcome.refusal) {
    refusal_ = std::move(outcome.refusal);
    return std::nullopt;
  }
  const HotKeyId id = nextId_++;
  hotKeys_.emplace(id, HotKey{code, flags, std::move(outcome.grabs), std::move(onPress)});
  return id;
}

void X11HotKeys::unregisterHotKey(HotKeyId id) {
  const auto it = hotKeys_.find(id);
  if (it == hotKeys_.end()) return;
  ungrabKeys(connection_.xcb(), connection_.root(), it->second.grabs);
  hotKeys_.erase(it);
}

X11HotKeys::GrabOutcome X11HotKeys::grab(std::uint16_t keyCode, std::uint64_t flags) {
  const std::string name = combinationName(keyCode, flags);
  if (!keys_.modifierMask(flags)) return {{}, name + " needs a modifier this keyboard lacks"};
  auto grabs = keys_.grabsFor(keyCode, flags);
  if (grabs.empty()) return {{}, name + " cannot be typed with this keyboard layout"};
  if (const auto refused =
          grabKeys(connection_.xcb(), connection_.root(), grabs, XCB_GRAB_MODE_ASYNC)) {
    ungrabKeys(connection_.xcb(), connection_.root(), grabs);
    std::string reason = name + " " + refusalText(refused->errorCode);
    if (refused->errorCode == XCB_ACCESS) {
      if (const auto manager = windowManagerName()) reason += ", most likely " + *manager;
    }
    return {{}, std::move(reason)};
  }
  connection_.flush();
  return {std::move(grabs), std::nullopt};
}

std::optional<std::string> X11HotKeys::windowManagerName() const {
  xcb_connection_t* xcb = connection_.xcb();
  const auto check = readProperty(xcb, connection_.root(), atoms_.supportingWmCheck).first();
  if (!check || *check == XCB_WINDOW_NONE) return std::nullopt;
  ReadStatus status = ReadStatus::ok;
  const auto title = readTitle(xcb, atoms_, *check, status);
  if (!title) return std::nullopt;
  const std::string name = plainText(*title, kMaxNameBytes);
  if (name.empty()) return std::nullopt;
  return "the window manager (" + name + ")";
}

bool X11HotKeys::handleEvent(const xcb_generic_event_t& event) {
  if (keys_.followMappingChange(event)) {
    regrabAll();
    return false;
  }
  switch (eventType(event)) {
    case XCB_KEY_PRESS:
      return handlePress(reinterpret_cast<const xcb_key_press_event_t&>(event));
    case XCB_KEY_RELEASE: {
      // Only noted: the release may belong to a key another service is waiting for.
      const auto& release = reinterpret_cast<const xcb_key_release_event_t&>(event);
      releaseTimes_[release.detail] = release.time;
      return false;
    }
    default:
      return false;
  }
}

bool X11HotKeys::handlePress(const xcb_key_press_event_t& event) {
  // Whatever window the press was reported to: the root window through the passive grab, or,
  // while a window of ours holds the keyboard (the palette), that window, since a passive grab
  // does not activate under an active one.
  const KeyGrab key{event.detail, static_cast<std::uint16_t>(event.state & kModifierBits)};
  const auto it = std::find_if(hotKeys_.begin(), hotKeys_.end(), [&](const auto& entry) {
    const auto& grabs = entry.second.grabs;
    return std::find(grabs.begin(), grabs.end(), key) != grabs.end();
  });
  if (it == hotKeys_.end()) return false;
  connection_.noteUserTime(event.time);
  const auto released = releaseTimes_.find(event.detail);
  if (released != releaseTimes_.end() && released->second == event.time) return true;
  // A copy: the handler may unregister its own hot key.
  const auto onPress = it->second.onPress;
  if (onPress) onPress();
  return true;
}

void X11HotKeys::regrabAll() {
  // The grabs name keycodes; a layout change may have moved the combinations. One refused
  // now stays registered without grabs, and presses nothing, until the next change.
  for (auto& [id, hotKey] : hotKeys_) {
    ungrabKeys(connection_.xcb(), connection_.root(), hotKey.grabs);
    hotKey.grabs = grab(hotKey.keyCode, hotKey.flags).grabs;
  }
}

}  // namespace tolvane::x11
