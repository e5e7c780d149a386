// Any request to any endpoint, with or without a live token, against a real SQLite database:
// no input may crash the service, and every reply must be a status it can give.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "auth/secrets.h"
#include "service/form_text.h"
#include "service/service.h"
#include "storage/storage.h"

using namespace tolvane::server;

namespace {

struct World {
  std::unique_ptr<Storage> storage;
  std::unique_ptr<Service> service;
  std::string token;
};

World& world() {
  static World* made = [] {
    auto* w = new World;
    char folder[] = "/tmp/tolvane-server-fuzz-XXXXXX";
    std::string whyNot;
    w->storage = openSqliteStorage(std::string(mkdtemp(folder)) + "/fuzz.db", whyNot);
    if (!w->storage) {
      std::fprintf(stderr, "fuzz: %s\n", whyNot.c_str());
      abort();
    }
    ServiceConfig config;
    config.passwordCost = {.memoryKiB = 64, .passes = 1, .lanes = 1};
    // The fuzzer sends far more than any client: limits would only hide the paths behind them.
    config.signInPerAddress = config.signInPerAccount = {.burst = 1e12, .perSecond = 1e12};
    config.uploadsPerAddress = config.uploadsPerAccount = {.burst = 1e12, .perSecond = 1e12};
    config.pagesPerAddress = config.uploadBytesPerAddress = {.burst = 1e12, .perSecond = 1e12};
    w->service = std::make_unique<Service>(*w->storage, config, [] { return 1.8e9; });
    // A token stored as the exchange stores one, so the token's paths are reachable.
    const auto account = w->storage->createAccount(
        "fuzz@example.org", hashPassword("fuzz-password", config.passwordCost).value_or(""),
        "free");
    w->token = *newSecret();
    if (!account.ok() || w->storage->addToken(secretHash(w->token), account.value.id, "fuzz",
                                              "code", 1.8e9) != StoreStatus::ok)
      abort();
    return w;
  }();
  return *made;
}

struct Route {
  const char* method;
  const char* path;
};
constexpr Route kRoutes[] = {{"GET", "/app/connect"},      {"POST", "/app/connect"},
                             {"POST", "/api/app/token"},   {"GET", "/api/me"},
                             {"GET", "/api/sync/tolvane"}, {"PUT", "/api/sync/tolvane"},
                             {"POST", "/api/improve"},     {"POST", "/api/crash"},
                             {"POST", "/api/testlog"},     {"DELETE", "/api/sync/tolvane"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  World& w = world();
  const std::uint8_t selector = data[0];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const Route& route = kRoutes[(selector & 0x0F) % std::size(kRoutes)];
  Request request{.method = route.method, .path = route.path, .address = "fuzz"};
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
