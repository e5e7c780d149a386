// The well-formed UTF-8 decoder.
#include "base/utf8.h"

namespace tolvane {

std::size_t utf8SequenceAt(std::string_view text, std::size_t at, char32_t& codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(1) < low || byte(1) > high) return 0;
  codePoint = lead & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    if (!isUtf8Continuation(byte(i))) return 0;
    codePoint = (codePoint << 6) | (byte(i) & 0x3F);
  }
  return length;
}

bool isWellFormedUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    char32_t codePoint = 0;
    const std::size_t length = utf8SequenceAt(text, at, codePoint);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

bool isDisplayControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

std::string shownText(std::string_view text, std::size_t maxCharacters) {
  std::string shown;
  shown.reserve(text.size());
  std::size_t at = 0;
  for (std::size_t count = 0; at < text.size() && count < maxCharacters; ++count) {
    char32_t codePoint = 0;
    const std::size_t length = utf8SequenceAt(text, at, codePoint);
    if (length == 0) {
      shown += kReplacementCharacter;
      ++at;
    } else {
      shown += isDisplayControl(codePoint) ? std::string_view(" ") : text.substr(at, length);
      at += length;
    }
  }
  return shown;
}

}  // namespace tolvane
