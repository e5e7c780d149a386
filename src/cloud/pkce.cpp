// URL-safe Base64 and the making of a sign-in's verifier, challenge and state.
#include "cloud/pkce.h"

#include <vector>

namespace tolvane {

namespace {

std::optional<std::string> secureToken(RandomSource& random, std::size_t count) {
  const std::vector<std::uint8_t> bytes = random.secureBytes(count);
  if (bytes.size() < count) return std::nullopt;
  return base64URL(std::span(bytes).first(count));
}

}  // namespace

std::string base64URL(std::span<const std::uint8_t> bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string encoded;
  encoded.reserve((bytes.size() * 4 + 2) / 3);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) encoded += kAlphabet[(group >> shift) & 0x3F];
  }
  // One leftover byte makes two characters, two make three; the padding is simply left off.
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    const std::uint32_t group = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
    for (std::size_t c = 0; c <= rest; ++c) encoded += kAlphabet[(group >> (18 - 6 * c)) & 0x3F];
  }
  return encoded;
}

std::string pkceChallenge(const Digest& digest, std::string_view verifier) {
  return base64URL(digest.sha256(verifier));
}

std::optional<PkcePair> makePkcePair(RandomSource& random, const Digest& digest) {
  auto verifier = secureToken(random, kVerifierBytes);
  auto state = secureToken(random, kStateBytes);
  if (!verifier || !state) return std::nullopt;
  std::string challenge = pkceChallenge(digest, *verifier);
  return PkcePair{std::move(*verifier), std::move(challenge), std::move(*state)};
}

}  // namespace tolvane
