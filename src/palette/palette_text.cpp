// UTF-8 repair with ICU's decoder, and grapheme counting.
#include "palette/palette_text.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>

namespace tolvane {

namespace {

constexpr UChar32 kReplacement = 0xFFFD;

bool isControl(UChar32 c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

template <typename Map>
std::string mapCodePoints(std::string_view text, Map map) {
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    c = map(c < 0 ? kReplacement : c);
    char encoded[U8_MAX_LENGTH];
    int32_t size = 0;
    U8_APPEND_UNSAFE(encoded, size, c);
    out.append(encoded, static_cast<std::size_t>(size));
  }
  return out;
}

}  // namespace

std::string repairedUtf8(std::string_view text) {
  return mapCodePoints(text, [](UChar32 c) { return c; });
}

std::string paintableText(std::string_view text) {
  return mapCodePoints(text, [](UChar32 c) { return isControl(c) ? kReplacement : c; });
}

std::string_view cutOnCharacterBoundary(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  // Continuation bytes are 10xxxxxx; the cut goes before the lead byte of their character.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::size_t characterCount(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> graphemes(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return 0;
  const auto utf16 = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  graphemes->setText(utf16);
  std::size_t count = 0;
  for (graphemes->first(); graphemes->next() != icu::BreakIterator::DONE;) ++count;
  return count;
}

}  // namespace tolvane
