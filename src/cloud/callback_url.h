// The sign-in callback that comes back through the URL scheme ("tolvane://auth?code=…&state=…"):
// a strict, bounded parser, and the constant-time comparison of the returned state.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

/// A longer URL is refused before it is looked at.
inline constexpr std::size_t kMaxCallbackURLBytes = 8 * 1024;
/// Authorization codes are short; a longer one is refused rather than sent on.
inline constexpr std::size_t kMaxAuthCodeBytes = 2 * 1024;

/// What a sign-in callback carries, percent-decoded.
struct AuthCallback {
  /// Printable ASCII (space to "~"), 1 to kMaxAuthCodeBytes bytes.
  std::string code;
  /// kStateCharacters characters of the URL-safe Base64 alphabet.
  std::string state;
};

/// A parsed callback, or why the URL is none. The reason is a short word for the log; it
/// never quotes the URL, which may carry a code.
struct CallbackParse {
  std::optional<AuthCallback> callback;
  std::string_view refusal;
};

/// Reads `url` as "<scheme>://auth[/]?<query>[#…]". The host must be exactly "auth" with no user,
/// port or further path; the first "code" and the first "state" items are taken. Any control
/// character, a percent escape that is not "%" and two hex digits, or a bound exceeded refuses
/// the whole URL.
CallbackParse parseAuthCallback(std::string_view url);

/// Whether two secrets are equal, in a time that depends only on their lengths, so that a
/// forged callback cannot learn the pending state byte by byte.
bool sameSecret(std::string_view a, std::string_view b);

}  // namespace tolvane
