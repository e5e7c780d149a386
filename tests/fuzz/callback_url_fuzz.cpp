// Fuzzes the sign-in callback parser: whatever URL arrives through the URL scheme, it must be
// refused with a reason or yield a code and state within their bounds, and a callback built
// back from what it yielded must read the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cloud/callback_url.h"
#include "cloud/pkce.h"
#include "model/cloud_config.h"

namespace {

bool printableASCII(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view url(reinterpret_cast<const char*>(data), size);
  const auto parsed = tolvane::parseAuthCallback(url);
  if (!parsed.callback) {
    if (parsed.refusal.empty()) std::abort();
    return 0;
  }
  const auto& [code, state] = *parsed.callback;
  if (!parsed.refusal.empty() || size > tolvane::kMaxCallbackURLBytes) std::abort();
  if (code.empty() || code.size() > tolvane::kMaxAuthCodeBytes || !printableASCII(code)) {
    std::abort();
  }
  if (state.size() != tolvane::kStateCharacters ||
      state.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") !=
          std::string::npos) {
    std::abort();
  }
  if (!tolvane::sameSecret(state, state)) std::abort();

  const auto again =
      tolvane::parseAuthCallback("tolvane://auth?code=" + tolvane::percentEncode(code) +
                                 "&state=" + tolvane::percentEncode(state));
  if (!again.callback || again.callback->code != code || again.callback->state != state) {
    std::abort();
  }
  return 0;
}
