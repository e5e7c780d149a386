// Repairing the foreign-toplevel texts and decoding their state arrays.
#include "backends/wayland/toplevel_values.h"

#include <cstdint>
#include <cstring>

#include "base/utf8.h"

namespace tolvane::wayland {

std::string boundedText(std::string_view raw, std::size_t maxBytes) {
  std::string text;
  text.reserve(raw.size() < maxBytes ? raw.size() : maxBytes);
  for (std::size_t at = 0; at < raw.size();) {
    char32_t codePoint = 0;
    const std::size_t length = utf8SequenceAt(raw, at, codePoint);
    std::string_view piece = kReplacementCharacter;
    if (length > 0 && isDisplayControl(codePoint)) piece = " ";
    if (length > 0 && !isDisplayControl(codePoint)) piece = raw.substr(at, length);
    if (text.size() + piece.size() > maxBytes) break;
    text += piece;
    at += length > 0 ? length : 1;
  }
  return text;
}

std::optional<ToplevelFlags> decodeToplevelStates(const void* data, std::size_t sizeBytes) {
  if (sizeBytes % sizeof(std::uint32_t) != 0 || (sizeBytes > 0 && data == nullptr)) {
    return std::nullopt;
  }
  // The values of zwlr_foreign_toplevel_handle_v1.state.
  enum : std::uint32_t { kMaximized = 0, kMinimized = 1, kActivated = 2, kFullscreen = 3 };
  ToplevelFlags flags;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t at = 0; at < sizeBytes; at += sizeof(std::uint32_t)) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes + at, sizeof value);
    if (value == kMaximized) flags.maximized = true;
    if (value == kMinimized) flags.minimized = true;
    if (value == kActivated) flags.activated = true;
    if (value == kFullscreen) flags.fullscreen = true;
  }
  return flags;
}

}  // namespace tolvane::wayland
