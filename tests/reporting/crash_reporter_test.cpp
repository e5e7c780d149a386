// Crash reports: the body each diagnostic becomes, one POST per crash over real HTTP to the
// loopback mock, and silence while reporting is off or after the reporter is gone.
#include "reporting/crash_reporter.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include <nlohmann/json.hpp>

#include "backends/system/curl_http_client.h"
#include "settings/preference_keys.h"
#include "support/counting_http_client.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;

// Keeps the subscriber so a test can deliver from a thread of its choosing, at a time of its
// choosing.
class HeldDiagnostics final : public CrashDiagnostics {
 public:
  void subscribe(std::function<void(std::vector<CrashDiagnostic>)> deliver) override {
    deliver_ = std::move(deliver);
  }
  void deliverFromAnotherThread(std::vector<CrashDiagnostic> diagnostics) {
    std::thread([&] { deliver_(diagnostics); }).join();
  }

 private:
  std::function<void(std::vector<CrashDiagnostic>)> deliver_;
};

class CrashReporterTest : public ::testing::Test, protected test::ReporterServices {
 protected:
  std::unique_ptr<CrashReporter> makeReporter(BundleInfo bundle) {
    return std::make_unique<CrashReporter>(CrashReporter::Dependencies{
        preferences, http, random, std::move(bundle), CloudConfig(mock.baseURL())});
  }
  std::string installID() const { return *preferences.stringValue(prefkey::kCrashInstallID); }

  test::CountingHttpClient http;
};

TEST_F(CrashReporterTest, EachDiagnosticBecomesOnePostWithItsBody) {
  const std::string stack = R"({"threads":[{"frames":[{"address":"0x401000"}]}]})";
  // The crash, the bundle, and the body expected without the fields every body shares.
  const std::tuple<CrashDiagnostic, BundleInfo, Json> rows[] = {
      // Everything present.
      {{"Debian 12", "x86_64", stack, 11, "SIGSEGV", "SEGV_MAPERR at 0x0", "killed"},
       {.shortVersion = "1.4", .build = "140"},
       {{"osVersion", "Debian 12"},
        {"arch", "x86_64"},
        {"appVersion", "1.4"},
        {"build", "140"},
        {"callStack", Json::parse(stack)},
        {"signal", 11},
        {"exceptionType", "SIGSEGV"},
        {"exceptionCode", "SEGV_MAPERR at 0x0"},
        {"terminationReason", "killed"}}},
      // No exception information, no versions in the bundle.
      {{"Fedora 40", "aarch64", "{}"}, {}, {{"osVersion", "Fedora 40"}, {"arch", "aarch64"}}},
      // Stacks that are not JSON objects, and no JSON at all, are sent as empty objects.
      {{"array", "x86_64", "[1,2]"}, {}, {{"osVersion", "array"}}},
      // An invalid byte in a text still gives a valid body.
      {{"bad\xff", "x86_64", R"({"threads":[)"}, {}, {{"osVersion", "bad\xef\xbf\xbd"}}},
  };
  std::vector<CrashDiagnostic> delivery;
  for (const auto& [diagnostic, bundle, expected] : rows) {
    makeReporter(bundle)->receive({diagnostic});
    delivery.push_back(diagnostic);
  }
  ASSERT_TRUE(mock.waitForRequests(std::size(rows)));

  // Requests travel at once, so they may arrive in any order: each is found by its osVersion.
  std::map<std::string, Json> bodies;
  // Method and headers follow from the endpoint, whose table the cloud config test checks.
  for (const auto& request : mock.requests()) {
    EXPECT_EQ(request.path, "/api/crash");
    const Json body = Json::parse(request.body);
    bodies[body["osVersion"]] = body;
  }
  for (const auto& [diagnostic, bundle, fields] : rows) {
    SCOPED_TRACE(diagnostic.osVersion);
    Json expected = {
        {"type", "crash"}, {"app", "tolvane"}, {"installID", installID()},   {"appVersion", "?"},
        {"build", "?"},    {"arch", "x86_64"}, {"callStack", Json::object()}};
    expected.update(fields);
    EXPECT_EQ(bodies[fields["osVersion"]], expected);
  }

  // Several crashes in one delivery: one POST each.
  makeReporter({})->receive(delivery);
  EXPECT_TRUE(mock.waitForRequests(2 * std::size(rows)));
}

TEST_F(CrashReporterTest, NothingIsSentWhileSwitchedOffOrAfterTheReporterIsGone) {
  HeldDiagnostics diagnostics;
  auto reporter = makeReporter({});
  reporter->start(diagnostics);
  const std::vector<CrashDiagnostic> crash{{"Debian 12", "x86_64", "{}", 6}};

  preferences.set(prefkey::kCrashReportingEnabled, false);
  diagnostics.deliverFromAnotherThread(crash);
  EXPECT_EQ(http.sentCount(), 0);

  preferences.set(prefkey::kCrashReportingEnabled, true);
  diagnostics.deliverFromAnotherThread(crash);
  EXPECT_EQ(http.sentCount(), 1);
  ASSERT_TRUE(http.waitForReplies(1));

  reporter.reset();
  diagnostics.deliverFromAnotherThread(crash);
  EXPECT_EQ(http.sentCount(), 1);
}

}  // namespace
}  // namespace tolvane
