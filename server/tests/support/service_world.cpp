#include "support/service_world.h"

#include "service/form_text.h"

namespace tolvane::server::test {

SignInRequest newSignInRequest() {
  const std::string verifier = *newSecret();
  return {verifier, s256Challenge(verifier), newSecret()->substr(0, 22)};
}

ServiceConfig ServiceWorld::testConfig() {
  ServiceConfig config;
  config.passwordCost = {.memoryKiB = 256, .passes = 1, .lanes = 1};
  return config;
}

ServiceWorld::ServiceWorld() {
  std::string whyNot;
  storage = openSqliteStorage(dbPath(), whyNot);
  if (!storage)
    ADD_FAILURE() << whyNot;
  else
    service = std::make_unique<Service>(*storage, testConfig(), [this] { return now; });
}

Reply ServiceWorld::call(const std::string& method, const std::string& path,
                         const std::string& body, const std::string& token,
                         const std::string& contentType) {
  Request request{.method = method, .body = body, .address = address};
  const std::size_t query = path.find('?');
  request.path = path.substr(0, query);
  if (auto items = parseForm(query == std::string::npos ? "" : path.substr(query + 1)))
    request.query = std::move(*items);
  if (!token.empty()) request.authorization = "Bearer " + token;
  if (!body.empty() || method != "GET") request.contentType = contentType;
  return service->handle(request);
}

Reply ServiceWorld::openPage(const SignInRequest& r) {
  return call("GET", "/app/connect?app=tolvane&challenge=" + r.challenge + "&state=" + r.state);
}

Reply ServiceWorld::submit(const std::string& ticket, const std::string& email,
                           const std::string& password, const std::string& action) {
  return call("POST", "/app/connect",
              "ticket=" + ticket + "&email=" + percentEncode(email) +
                  "&password=" + percentEncode(password) + "&action=" + action,
              "", "application/x-www-form-urlencoded");
}

Reply ServiceWorld::exchange(const std::string& code, const std::string& verifier,
                             const std::string& device) {
  return call("POST", "/api/app/token",
              Json{{"code", code}, {"verifier", verifier}, {"deviceId", device}}.dump());
}

std::string ServiceWorld::codeFor(const SignInRequest& request, const std::string& email) {
  const std::string password = "correct horse";
  Reply redirect = submit(ticketOf(openPage(request).body), email, password, "signup");
  // Exists already, or sign-up is closed and the account was made by the operator.
  if (redirect.status == 409 || redirect.status == 403)
    redirect = submit(ticketOf(redirect.body), email, password, "signin");
  const std::string location = redirect.headers["Location"];
  EXPECT_EQ(redirect.status, 303) << redirect.body;
  EXPECT_EQ(callbackItem(location, "state"), request.state);
  return callbackItem(location, "code");
}

std::string ServiceWorld::signIn(const std::string& email) {
  const auto request = newSignInRequest();
  const Reply token = exchange(codeFor(request, email), request.verifier);
  EXPECT_EQ(token.status, 200) << token.body;
  const Json reply = Json::parse(token.body, nullptr, false);
  return reply.is_object() ? reply.value("token", "") : "";
}

Reply ServiceWorld::push(const std::string& token, std::int64_t base, const std::string& blob,
                         const std::string& device) {
  return call("PUT", "/api/sync/tolvane",
              Json{{"blob", blob}, {"baseVersion", base}, {"deviceId", device}}.dump(), token);
}

}  // namespace tolvane::server::test
