#include "load_workload.h"

#include <nlohmann/json.hpp>

#include "testing/browser_sign_in.h"
#include "wire/cloud_bodies.h"

namespace tolvane::server::bench {

namespace {

using Json = nlohmann::json;

constexpr const char* kSyncPath = "/api/sync/tolvane";
constexpr const char* kUsagePath = "/api/improve";
constexpr const char* kJson = "application/json";

httplib::Headers bearer(const ClientIdentity& client) {
  return {{"Authorization", "Bearer " + client.token}};
}

// A batch as a day of switching leaves it: sessions and activations mostly, now and then an
// application slow to list its windows.
Json usageEvents(double firstSecond) {
  static const char* const apps[] = {"org.gnome.Nautilus", "firefox-esr", "org.gnome.Terminal",
                                     "code", "thunderbird"};
  Json events = Json::array();
  for (int i = 0; i < kEventsPerBatch; ++i) {
    const double at = firstSecond + i * 37.5;
    const std::string app = apps[i % std::size(apps)];
    if (i % 10 == 9) {
      events.push_back({{"t", at},
                        {"n", "enumerate.slow"},
                        {"p", {{"app", app}, {"ms", 240}, {"partial", false}}}});
    } else if (i % 2 == 0) {
      events.push_back({{"t", at},
                        {"n", "session"},
                        {"p",
                         {{"trigger", "cmdTab"},
                          {"ms", 850 + i},
                          {"keystrokes", 1 + i % 4},
                          {"resultIndex", i % 4},
                          {"cancelled", false},
                          {"searchChars", 0},
                          {"sample", 5}}}});
    } else {
      events.push_back({{"t", at},
                        {"n", "activate.result"},
                        {"p",
                         {{"ok", true},
                          {"app", app},
                          {"method", "axRaise"},
                          {"minimized", false},
                          {"ms", 12 + i % 7}}}});
    }
  }
  return events;
}

std::string usageBody(const std::string& installID) {
  const wire::ClientInfo info{.installID = installID,
                              .appVersion = "0.1.0",
                              .build = "1",
                              .osVersion = "Debian GNU/Linux 12 (bookworm)",
                              .arch = "x86_64",
                              .locale = "en_US"};
  return wire::encodeUsageBatch(info, usageEvents(1796000000.0));
}

int push(httplib::Client& http, ClientIdentity& client, std::uint64_t sequence) {
  const std::string body = wire::encode(wire::SyncPush{.blob = settingsBlob(sequence),
                                                       .baseVersion = client.syncVersion,
                                                       .deviceId = client.installID});
  const auto reply = http.Put(kSyncPath, bearer(client), body, kJson);
  if (!reply) return 0;
  if (reply->status == 200) {
    const auto version = wire::readPushedVersion(Json::parse(reply->body, nullptr, false));
    if (!version) return 0;
    client.syncVersion = *version;
  }
  return reply->status;
}

}  // namespace

const char* operationName(Operation operation) {
  switch (operation) {
    case Operation::syncGet:
      return "sync GET";
    case Operation::syncPut:
      return "sync PUT";
    case Operation::usageBatch:
      return "usage batch (50)";
  }
  return "?";
}

std::size_t usageBatchBytes() {
  return usageBody("install-load0").size();
}

std::string settingsBlob(std::uint64_t sequence) {
  Json excluded = Json::array();
  for (int i = 0; i < 12; ++i) excluded.push_back("org.example.application" + std::to_string(i));
  const Json settings = {
      {"triggerModifier", "super"}, {"paletteKeyCode", 49},     {"paletteModifiers", 524288},
      {"showWindowlessApps", true}, {"includeMinimized", true}, {"hudDelayMs", 120 + sequence % 50},
      {"hudSize", "medium"},        {"appearance", "system"},   {"language", "system"},
      {"launchAtLogin", true},      {"shareUsage", true},       {"excludedBundleIDs", excluded},
      {"changed", sequence}};
  return settings.dump();
}

std::optional<std::vector<ClientIdentity>> prepareClients(const std::string& baseURL, int count,
                                                          std::string& whyNot) {
  std::vector<ClientIdentity> clients;
  httplib::Client http(baseURL);
  for (int i = 0; i < count; ++i) {
    const std::string name = "load" + std::to_string(i);
    const auto token =
        testing::signInAsApplication(baseURL, name + "@example.org", "correct horse", whyNot);
    if (!token) return std::nullopt;
    ClientIdentity client{.token = *token, .installID = "install-" + name};
    client.usageBody = usageBody(client.installID);
    if (const int status = push(http, client, 0); status != 200) {
      whyNot = "the first push of " + name + " answered " + std::to_string(status);
      return std::nullopt;
    }
    clients.push_back(std::move(client));
  }
  return clients;
}

int sendOnce(httplib::Client& http, Operation operation, ClientIdentity& client,
             std::uint64_t sequence) {
  switch (operation) {
    case Operation::syncGet: {
      const auto reply = http.Get(kSyncPath, bearer(client));
      return reply ? reply->status : 0;
    }
    case Operation::syncPut:
      return push(http, client, sequence);
    case Operation::usageBatch: {
      const auto reply = http.Post(kUsagePath, bearer(client), client.usageBody, kJson);
      return reply ? reply->status : 0;
    }
  }
  return 0;
}

}  // namespace tolvane::server::bench
