// Any request to any endpoint, with or without a live token, against a real SQLite database:
// no input may crash the service, and every reply must be a status it can give.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "auth/secrets.h"
#include "service/form_text.h"
#include "service/service.h"
#include "storage/storage.h"

using namespace tolvane::server;

namespace {

// The service on its own database, never freed: libFuzzer ends the process without unwinding.
struct World {
  World() {
    char folder[] = "/tmp/tolvane-server-fuzz-XXXXXX";
    std::string whyNot;
    storage = openSqliteStorage(std::string(mkdtemp(folder)) + "/fuzz.db", whyNot);
    if (!storage) {
      std::fprintf(stderr, "fuzz: %s\n", whyNot.c_str());
      abort();
    }
    ServiceConfig config;
    config.passwordCost = {.memoryKiB = 64, .passes = 1, .lanes = 1};
    // The fuzzer sends far more than any client: limits would only hide the paths behind them.
    config.signInPerAddress = config.signInPerAccount = {.burst = 1e12, .perSecond = 1e12};
    config.uploadsPerAddress = config.uploadsPerAccount = {.burst = 1e12, .perSecond = 1e12};
    config.pagesPerAddress = config.uploadBytesPerAddress = {.burst = 1e12, .perSecond = 1e12};
    service = std::make_unique<Service>(*storage, config, [] { return 1.8e9; });
    // A token stored as the exchange stores one, so the token's paths are reachable.
    const auto account = storage->createAccount(
        "fuzz@example.org", hashPassword("fuzz-password", config.passwordCost).value_or(""),
        "free");
    token = *newSecret();
    if (!account.ok() || storage->addToken(secretHash(token), account.value.id, "fuzz", "code",
                                           1.8e9) != StoreStatus::ok)
      abort();
  }

  std::unique_ptr<Storage> storage;
  std::unique_ptr<Service> service;
  std::string token;
};

// Each method and path.
constexpr std::pair<const char*, const char*> kRoutes[] = {
    {"GET", "/app/connect"},      {"POST", "/app/connect"},
    {"POST", "/api/app/token"},   {"GET", "/api/me"},
    {"GET", "/api/sync/tolvane"}, {"PUT", "/api/sync/tolvane"},
    {"POST", "/api/improve"},     {"POST", "/api/crash"},
    {"POST", "/api/testlog"},     {"DELETE", "/api/sync/tolvane"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static World& w = *new World;
  const std::uint8_t selector = data[0];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto [method, path] = kRoutes[(selector & 0x0F) % std::size(kRoutes)];
  Request request{.method = method, .path = path, .address = "fuzz"};
  // Never sign out the one token: the rest of the run would lose its paths.
  const int bearer = (selector >> 4) & 3;
  if (bearer == 0) request.authorization = "Bearer " + w.token;
  if (bearer == 1) request.authorization = "Bearer " + input.substr(0, 64);
  request.contentType = (selector & 0x40)   ? "application/json"
                        : (selector & 0x80) ? "application/x-www-form-urlencoded"
                                            : input.substr(0, 16);
  request.body = input;
  if (request.method == std::string("GET")) {
    if (auto query = parseForm(input)) request.query = std::move(*query);
  }
  const Reply reply = w.service->handle(request);
  if (reply.status < 200 || reply.status > 503) abort();
  return 0;
}
