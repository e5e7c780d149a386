// Cutting text sway sent to a bounded size without splitting a character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/utf8.h"

namespace tolvane::sway {

/// At most `maxBytes` of `text`, cut before a character that would not fit whole.
inline std::string cutUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t end = maxBytes;
  while (end > 0 && isUtf8Continuation(static_cast<unsigned char>(text[end]))) --end;
  return std::string(text.substr(0, end));
}

}  // namespace tolvane::sway
