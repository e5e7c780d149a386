// The proof key of a browser sign-in (RFC 7636, method S256): the verifier kept here, the
// challenge shown to the service, and the random state that ties the callback to the sign-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/random_source.h"
#include "platform/digest.h"

namespace tolvane {

/// Secure random bytes behind a verifier: 43 characters once encoded.
inline constexpr std::size_t kVerifierBytes = 32;
/// Secure random bytes behind a state: 22 characters once encoded.
inline constexpr std::size_t kStateBytes = 16;
/// The encoded length of kStateBytes, the only length a returned state may have.
inline constexpr std::size_t kStateCharacters = 22;

/// One sign-in's secrets. The verifier leaves the process only in the token exchange, the
/// challenge and the state only in the sign-in page's address.
struct PkcePair {
  std::string verifier;
  std::string challenge;
  std::string state;
};

/// Base64 with "-" and "_" in place of "+" and "/", and without "=" padding.
std::string base64URL(std::span<const std::uint8_t> bytes);

/// The S256 challenge of `verifier`: its SHA-256, encoded as base64URL.
std::string pkceChallenge(const Digest& digest, std::string_view verifier);

/// A fresh verifier, its challenge and a state. Nothing when the secure random source gives
/// fewer bytes than asked: a short verifier or state would be guessable.
std::optional<PkcePair> makePkcePair(RandomSource& random, const Digest& digest);

}  // namespace tolvane
