// What the foreign-toplevel events carry, checked before use: texts repaired and bounded, the
// state array decoded.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::wayland {

/// The most bytes a title or app_id keeps; a client may set any length.
inline constexpr std::size_t kMaxToplevelTextBytes = 1024;

/// `raw` as valid UTF-8 of at most `maxBytes` bytes: each malformed byte becomes U+FFFD and each
/// control character a space; the cut never splits a character.
std::string boundedText(std::string_view raw, std::size_t maxBytes = kMaxToplevelTextBytes);

/// The flags of one `state` event.
struct ToplevelFlags {
  bool maximized = false;
  bool minimized = false;
  bool activated = false;
  bool fullscreen = false;
  bool operator==(const ToplevelFlags&) const = default;
};

/// Decodes a `state` array of 32-bit values in host order; values this client does not know are
/// skipped. Absent when the array's size is not a multiple of 4 (the event is then ignored).
std::optional<ToplevelFlags> decodeToplevelStates(const void* data, std::size_t sizeBytes);

}  // namespace tolvane::wayland
