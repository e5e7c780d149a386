// Fuzzes the sign-in callback parser: whatever URL arrives through the URL scheme, it must be
// refused with a reason or yield a code and state within their bounds, and a callback built
// back from what it yielded must read the same.
#include <string>

#include "cloud/callback_url.h"
#include "cloud/pkce.h"
#include "fuzz/fuzz_target.h"
#include "model/cloud_config.h"

using tolvane::fuzz::require;

TOLVANE_FUZZ_TARGET(url) {
  const auto parsed = tolvane::parseAuthCallback(url);
  require(parsed.callback.has_value() == parsed.refusal.empty());
  if (!parsed.callback) return;
  const auto& [code, state] = *parsed.callback;
  require(url.size() <= tolvane::kMaxCallbackURLBytes);
  require(!code.empty() && code.size() <= tolvane::kMaxAuthCodeBytes);
  for (const char c : code) require(c >= 0x20 && c <= 0x7E);
  require(
      state.size() == tolvane::kStateCharacters &&
      state.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") ==
          std::string::npos);
  require(tolvane::sameSecret(state, state));

  const auto again =
      tolvane::parseAuthCallback("tolvane://auth?code=" + tolvane::percentEncode(code) +
                                 "&state=" + tolvane::percentEncode(state));
  require(again.callback && again.callback->code == code && again.callback->state == state);
}
