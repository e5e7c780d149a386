// The service on a real SQLite database in a temporary folder, on simulated time, called
// directly (no sockets), with the steps of a browser sign-in spelled out once.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "auth/secrets.h"
#include "service/service.h"
#include "storage/storage.h"
#include "support/storage_fixture.h"
#include "support/temp_dir.h"
#include "testing/browser_sign_in.h"

namespace tolvane::server::test {

using Json = nlohmann::json;

/// A PKCE pair and a state as the application makes them.
struct SignInRequest {
  std::string verifier;
  std::string challenge;
  std::string state;
};
SignInRequest newSignInRequest();

using testing::callbackItem;
using testing::ticketOf;

class ServiceWorld : public ::testing::Test {
 protected:
  ServiceWorld();

  /// Cheap hashing: the tests are about the flow, not the cost.
  static ServiceConfig testConfig();

  Reply call(const std::string& method, const std::string& path, const std::string& body = "",
             const std::string& token = "", const std::string& contentType = "application/json");
  Reply openPage(const SignInRequest& request);
  Reply submit(const std::string& ticket, const std::string& email, const std::string& password,
               const std::string& action);
  Reply exchange(const std::string& code, const std::string& verifier,
                 const std::string& device = "device-1");
  /// Signs up (or in, when the account exists) through the page with the password "correct
  /// horse": the callback's code, or "" with a test failure.
  std::string codeFor(const SignInRequest& request, const std::string& email);
  /// The same, and the code exchanged: the bearer token, or "" with a test failure.
  std::string signIn(const std::string& email);
  Reply push(const std::string& token, std::int64_t base, const std::string& blob,
             const std::string& device = "device-1");

  std::string dbPath() const { return folder.path() + "/tolvane.db"; }

  ::tolvane::test::TempDir folder;
  double now = 1'800'000'000;
  std::string address = "192.0.2.7";
  std::unique_ptr<Storage> storage;
  std::unique_ptr<Service> service;
};

}  // namespace tolvane::server::test
