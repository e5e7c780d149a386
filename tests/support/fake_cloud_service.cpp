// The fake service's endpoints: token exchange with PKCE checked, the account, sign-out, the
// sync store with revision checks, and ingestion that takes anything.
#include "support/fake_cloud_service.h"

#include <nlohmann/json.hpp>

#include "backends/system/openssl_digest.h"

namespace tolvane::test {

namespace {

std::string base64url(const std::array<std::uint8_t, 32>& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (const auto byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += kAlphabet[(buffer >> bits) & 0x3F];
    }
  }
  if (bits > 0) out += kAlphabet[(buffer << (6 - bits)) & 0x3F];
  return out;
}

nlohmann::json bodyOf(const RecordedRequest& request) {
  auto body = nlohmann::json::parse(request.body, nullptr, false);
  return body.is_object() ? body : nlohmann::json::object();
}

std::string bearerOf(const RecordedRequest& request) {
  const auto header = request.header("Authorization");
  const std::string prefix = "Bearer ";
  return header && header->starts_with(prefix) ? header->substr(prefix.size()) : std::string();
}

MockReply reply(int status, const nlohmann::json& body) {
  return MockReply::json(status, body.dump());
}

}  // namespace

FakeCloudService::FakeCloudService(MockBackend& mock) : state_(std::make_shared<State>()) {
  auto state = state_;
  mock.respond("/api/app/token", [state](const RecordedRequest& request) {
    const auto body = bodyOf(request);
    const auto code = body.value("code", std::string());
    const auto verifier = body.value("verifier", std::string());
    std::lock_guard guard(state->lock);
    const auto found = state->challenges.find(code);
    if (found == state->challenges.end()) return reply(400, {{"error", "unknown code"}});
    const std::string challenge = found->second;
    state->challenges.erase(found);  // single use, right or wrong
    if (base64url(system::OpenSslDigest().sha256(verifier)) != challenge) {
      return reply(400, {{"error", "verifier does not match"}});
    }
    const std::string token = "token-" + std::to_string(state->nextId++);
    state->tokens.insert(token);
    return reply(200, {{"token", token}, {"email", kEmail}, {"tier", kTier}});
  });
  mock.respond("/api/me", [state](const RecordedRequest& request) {
    std::lock_guard guard(state->lock);
    if (!state->tokens.count(bearerOf(request))) return reply(401, {{"error", "unauthorized"}});
    return reply(200, {{"email", kEmail}, {"tier", kTier}});
  });
  mock.respond("/api/app/logout", [state](const RecordedRequest& request) {
    std::lock_guard guard(state->lock);
    state->tokens.erase(bearerOf(request));
    return reply(200, nlohmann::json::object());
  });
  mock.respond("/api/sync/tolvane", [state](const RecordedRequest& request) {
    std::lock_guard guard(state->lock);
    if (!state->tokens.count(bearerOf(request))) return reply(401, {{"error", "unauthorized"}});
    if (request.method == "GET") {
      if (state->version == 0) return reply(200, nlohmann::json::object());
      return reply(200, {{"version", state->version}, {"blob", state->blob}});
    }
    const auto body = bodyOf(request);
    if (!body.contains("blob") || !body["blob"].is_string() ||
        body.value("baseVersion", -1) != state->version) {
      return reply(409, {{"error", "conflict"}});
    }
    state->blob = body["blob"].get<std::string>();
    return reply(200, {{"version", ++state->version}});
  });
}

std::string FakeCloudService::authorize(const std::string& challenge) {
  std::lock_guard guard(state_->lock);
  const std::string code = "code-" + std::to_string(state_->nextId++);
  state_->challenges[code] = challenge;
  return code;
}

int FakeCloudService::syncVersion() const {
  std::lock_guard guard(state_->lock);
  return state_->version;
}

std::string FakeCloudService::syncBlob() const {
  std::lock_guard guard(state_->lock);
  return state_->blob;
}

std::size_t FakeCloudService::liveTokens() const {
  std::lock_guard guard(state_->lock);
  return state_->tokens.size();
}

std::optional<std::string> queryItem(const std::string& url, const std::string& name) {
  const auto query = url.find('?');
  if (query == std::string::npos) return std::nullopt;
  std::size_t at = query + 1;
  while (at <= url.size()) {
    const auto end = std::min(url.find('&', at), url.size());
    const std::string item = url.substr(at, end - at);
    const auto equals = item.find('=');
    if (item.substr(0, equals) == name) {
      std::string decoded;
      const std::string raw = equals == std::string::npos ? "" : item.substr(equals + 1);
      for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size()) {
          decoded += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else {
          decoded += raw[i];
        }
      }
      return decoded;
    }
    at = end + 1;
  }
  return std::nullopt;
}

}  // namespace tolvane::test
