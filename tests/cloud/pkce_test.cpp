// A sign-in's proof key: URL-safe Base64, the verifier and state lengths, and the S256 challenge
// through the real digest. A short read of the random source is the account test's.
#include "cloud/pkce.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "backends/system/openssl_digest.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// RFC 7636, appendix B: the verifier's 32 octets, their encoding, and its S256 challenge.
const Bytes kRfcVerifierBytes = {116, 24,  223, 180, 151, 153, 224, 37,  79,  250, 96,
                                 125, 216, 173, 187, 186, 22,  212, 37,  77,  105, 214,
                                 191, 240, 91,  88,  5,   88,  83,  132, 141, 121};
constexpr const char* kRfcVerifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
constexpr const char* kRfcChallenge = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";

TEST(Pkce, Base64URLHasNoPaddingAndTheURLSafeAlphabet) {
  const std::pair<Bytes, const char*> rows[] = {
      // RFC 4648's test vectors, their padding left off: every length of the last group.
      {bytesOf(""), ""},
      {bytesOf("f"), "Zg"},
      {bytesOf("fo"), "Zm8"},
      {bytesOf("foo"), "Zm9v"},
      // The two characters that differ from plain Base64 ("+/8=" there).
      {Bytes{0xFB, 0xFF}, "-_8"},
      {kRfcVerifierBytes, kRfcVerifier},
  };
  for (const auto& [bytes, encoded] : rows) EXPECT_EQ(base64URL(bytes), encoded);
}

TEST(Pkce, TheChallengeIsTheEncodedSha256OfAVerifierOfTheRightLength) {
  const system::OpenSslDigest digest;
  EXPECT_EQ(pkceChallenge(digest, kRfcVerifier), kRfcChallenge);

  test::ScriptedRandom random;
  random.script = {kRfcVerifierBytes, Bytes(16, 0xFF)};
  const auto pair = makePkcePair(random, digest);
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->verifier, kRfcVerifier);
  EXPECT_EQ(pair->challenge, kRfcChallenge);
  EXPECT_EQ(pair->state, "_____________________w");

  // Past the script the source answers as many bytes as asked: the lengths show what was asked.
  const auto fresh = makePkcePair(random, digest);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->verifier.size(), 43u);
  EXPECT_EQ(fresh->state.size(), 22u);
  EXPECT_NE(makePkcePair(random, digest).value_or(PkcePair{}).state, fresh->state);
}

}  // namespace
}  // namespace tolvane
