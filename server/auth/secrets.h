// The random secrets tolvane-server hands out (sign-in tickets, codes, tokens) and how they are
// kept: only their SHA-256 is stored, so a copy of the database signs nobody in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvane::server {

/// 32 bytes from OpenSSL's random source, URL-safe Base64 without padding (43 characters).
/// Nothing when the random source fails.
std::optional<std::string> newSecret();

/// Lowercase hex SHA-256 of `text`: the form in which secrets are stored and looked up.
std::string secretHash(std::string_view text);

/// The PKCE S256 challenge of `verifier`: URL-safe Base64 of its SHA-256, without padding.
std::string s256Challenge(std::string_view verifier);

/// True when `text` is `minimum`…`maximum` characters of the URL-safe Base64 alphabet (the
/// shape of challenges, states, codes and tokens; RFC 7636 verifiers also allow ".~").
bool isBase64Url(std::string_view text, std::size_t minimum, std::size_t maximum);
bool isPkceVerifier(std::string_view text);

/// Compares without an early exit, so the time taken says nothing about where they differ.
bool constantTimeEquals(std::string_view a, std::string_view b);

}  // namespace tolvane::server
