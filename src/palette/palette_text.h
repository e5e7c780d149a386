// Text from outside made safe for the palette: valid UTF-8 to fold and paint, control
// characters that a painter would act on made visible, lines cut on character boundaries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tolvane {

/// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string repairedUtf8(std::string_view text);

/// Valid UTF-8 in which every control character (C0, DEL, C1) is U+FFFD: a title can carry a
/// newline or an escape, which must neither break a row's line nor reach a painter as a command.
std::string paintableText(std::string_view text);

/// Valid UTF-8 `text` cut to at most `maxBytes`, never inside a character's encoding.
std::string_view cutOnCharacterBoundary(std::string_view text, std::size_t maxBytes);

/// The number of user-perceived characters (extended grapheme clusters) of valid UTF-8 `text`.
std::size_t characterCount(std::string_view text);

}  // namespace tolvane
