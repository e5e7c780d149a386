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

/// Percent-decodes `text` ("+" stays "+"); nothing for a malformed escape.
std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace);
/// Percent-encodes everything but RFC 3986's unreserved characters.
std::string percentEncode(std::string_view text);

bool isValidUtf8(std::string_view text);

/// The address trimmed and with ASCII letters in lower case, when it has the shape
/// local@domain (no spaces or control characters, at most 254 bytes); nothing otherwise.
std::optional<std::string> normalisedEmail(std::string_view text);

}  // namespace tolvane::server
