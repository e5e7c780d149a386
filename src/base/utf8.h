// Reading UTF-8 from outside: one decoder of well-formed sequences for every place that
// validates, repairs or cuts text it did not make.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace tolvane {

/// U+FFFD, what a malformed sequence becomes where text is repaired.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

inline bool isUtf8Continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

/// The length of the well-formed UTF-8 sequence at `text[at]` (Unicode's table of well-formed
/// byte sequences: no overlong forms, surrogates or code points past U+10FFFF), with its code
/// point in `codePoint`; 0 when the bytes there are malformed or cut short.
std::size_t utf8SequenceAt(std::string_view text, std::size_t at, char32_t& codePoint);

/// Whether all of `text` is well-formed UTF-8.
bool isWellFormedUtf8(std::string_view text);

/// Characters that would break a line, move the cursor or switch a toolkit's parsing: C0 and C1
/// controls, DEL, and the line and paragraph separators.
bool isDisplayControl(char32_t c);

/// `text` as a label may show it: each malformed byte as U+FFFD, each control as a space, at
/// most `maxCharacters` code points of it.
std::string shownText(std::string_view text,
                      std::size_t maxCharacters = std::numeric_limits<std::size_t>::max());

}  // namespace tolvane
