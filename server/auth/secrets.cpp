#include "auth/secrets.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>

namespace tolvane::server {

namespace {

std::string base64Url(const unsigned char* bytes, std::size_t length) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  out.reserve((length * 4 + 2) / 3);
  std::size_t i = 0;
  for (; i + 2 < length; i += 3) {
    const unsigned v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift : {18, 12, 6, 0}) out += kAlphabet[(v >> shift) & 63];
  }
  if (length - i == 1) {
    const unsigned v = bytes[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
  } else if (length - i == 2) {
    const unsigned v = bytes[i] << 16 | bytes[i + 1] << 8;
    for (int shift : {18, 12, 6}) out += kAlphabet[(v >> shift) & 63];
  }
  return out;
}

std::array<unsigned char, SHA256_DIGEST_LENGTH> sha256(std::string_view text) {
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest.data());
  return digest;
}

bool isBase64UrlCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

}  // namespace

std::optional<std::string> newSecret() {
  std::array<unsigned char, 32> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) return std::nullopt;
  return base64Url(bytes.data(), bytes.size());
}

std::string secretHash(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : sha256(text)) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}

std::string s256Challenge(std::string_view verifier) {
  const auto digest = sha256(verifier);
  return base64Url(digest.data(), digest.size());
}

bool isBase64Url(std::string_view text, std::size_t minimum, std::size_t maximum) {
  if (text.size() < minimum || text.size() > maximum) return false;
  for (const char c : text) {
    if (!isBase64UrlCharacter(c)) return false;
  }
  return true;
}

bool isPkceVerifier(std::string_view text) {
  if (text.size() < 43 || text.size() > 128) return false;
  for (const char c : text) {
    if (!isBase64UrlCharacter(c) && c != '.' && c != '~') return false;
  }
  return true;
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace tolvane::server
