// Update checks on virtual time: what the user is told after each kind of reply, and when
// automatic checks run.
#include "updates/update_controller.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "backends/sim/sim_http_client.h"
#include "backends/sim/sim_key_monitor.h"
#include "backends/system/expat_feed_parser.h"
#include "support/sim_services.h"

namespace tolvane {
namespace {

constexpr const char* kFeed = "https://updates.example.org/tolvane/appcast.xml";
constexpr double kDay = UpdateController::kCheckIntervalSeconds;

std::string appcast(const std::vector<std::string>& versions) {
  std::string items;
  for (const auto& version : versions) {
    items += "<item><title>Tolvane " + version + "</title><link>https://example.org/" + version +
             "</link><enclosure url=\"https://example.org/tolvane.tar.gz\" sparkle:version=\"" +
             version + "\"/></item>";
  }
  return R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)" +
         items + "</channel></rss>";
}

class UpdateControllerTest : public ::testing::Test, protected test::SimServices {
 protected:
  UpdateController& controller() {
    BundleInfo bundle{.shortVersion = "1.4", .build = "1.4", .feedURL = kFeed};
    controller_ = std::make_unique<UpdateController>(UpdateController::Dependencies{
        preferences, http, parser, clock, loop, interaction, l10n, log, std::move(bundle)});
    return *controller_;
  }
  const std::vector<UpdateNotice>& notices() const { return interaction.updateNotices; }

  sim::SimHttpClient http;
  system::ExpatFeedParser parser;
  sim::SimUserInteraction interaction;
  std::unique_ptr<UpdateController> controller_;
};

TEST_F(UpdateControllerTest, UserChecksAlwaysAnswerAndAutomaticOnesOnlyTellOfANewerRelease) {
  // The feed's reply, the title the user is told, and whether an automatic check tells it too.
  const std::tuple<HttpResponse, std::string, bool> rows[] = {
      {{200, appcast({"1.3", "1.5", "1.4.1"}), ""}, "Tolvane 1.5 is available", true},
      {{200, appcast({"1.4", "1.4.0", "1.4b9"}), ""}, "You’re up to date", false},
      // A feed on an error page is still an error.
      {{503, appcast({"1.5"}), ""}, "Update check failed", false},
      {{std::nullopt, "", "Could not resolve host"}, "Update check failed", false},
  };
  for (const auto& [reply, title, shownAutomatically] : rows) {
    SCOPED_TRACE(title + " " + reply.body);
    interaction.updateNotices.clear();
    preferences.remove(prefkey::kSULastCheckTime);
    http.reply = reply;
    auto& updates = controller();
    updates.start();
    updates.checkForUpdates();
    loop.runUntilIdle();
    ASSERT_EQ(notices().size(), 1u);
    const UpdateNotice& notice = notices()[0];
    EXPECT_EQ(notice.title, title);
    // Only a newer release offers a page, its own.
    EXPECT_EQ(notice.downloadPage, shownAutomatically
                                       ? std::optional<std::string>("https://example.org/1.5")
                                       : std::nullopt);

    // The check just made counts: the automatic one comes a day later.
    const std::size_t before = http.requests().size();
    loop.advance(kDay);
    EXPECT_EQ(http.requests().size(), before + 1);
    EXPECT_EQ(notices().size(), shownAutomatically ? 2u : 1u);
  }
  const HttpRequest request = http.requests().at(0);
  EXPECT_EQ(request.url, kFeed);
  EXPECT_EQ(request.maxReplyBytes, system::ExpatFeedParser::kMaxDocumentBytes);
}

}  // namespace
}  // namespace tolvane
