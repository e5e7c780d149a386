// Reading what a browser posts: URL-encoded forms, checked UTF-8, and e-mail addresses.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::server {

/// The fields of an "application/x-www-form-urlencoded" body ("+" is a space, %XX a byte), the
/// first of each name. Nothing when an escape is malformed or a field is not valid UTF-8.
std::optional<std::map<std::string, std::string>> parseForm(std::string_view body);

/// What a '%' not followed by two hex digits means: a form refuses it; a request target keeps
/// it as it stands, as servers commonly do.
enum class MalformedEscape { refuse, keep };

/// Percent-decodes `text`, "+" as a space when `plusIsSpace`; nothing for a malformed escape
/// that `malformed` refuses.
std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace,
                                         MalformedEscape malformed = MalformedEscape::refuse);
/// 0-15 for a hex digit, else -1.
int hexDigitValue(char c);
/// Percent-encodes everything but RFC 3986's unreserved characters.
std::string percentEncode(std::string_view text);

bool isValidUtf8(std::string_view text);

/// The address trimmed and with ASCII letters in lower case, when it has the shape
/// local@domain (no spaces or control characters, at most 254 bytes); nothing otherwise.
std::optional<std::string> normalisedEmail(std::string_view text);

}  // namespace tolvane::server
