// Version order and the choice of the release to offer.
#include "updates/appcast.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane {
namespace {

TEST(AppcastTest, VersionsCompareRunByRun) {
  // Each row reads "a < b"; the test also checks the reverse and that each equals itself.
  const std::vector<std::pair<std::string, std::string>> older = {
      // Numbers by value, not by text.
      {"1.9", "1.10"},
      {"99999999999999999999998", "99999999999999999999999"},
      // Pre-release letters sit below the release and below any later number.
      {"1.0b1", "1.0"},
      {"1.0a2", "1.0b1"},
      // Separators only separate.
      {"1_4", "1-5"},
  };
  for (const auto& [a, b] : older) {
    SCOPED_TRACE(a + " < " + b);
    EXPECT_LT(compareVersions(a, b), 0);
    EXPECT_GT(compareVersions(b, a), 0);
    EXPECT_EQ(compareVersions(a, a), 0);
  }
}

TEST(AppcastTest, TheNewestUsableItemAboveTheInstalledVersionIsOffered) {
  auto item = [](std::string version, std::string shortVersion = "") {
    return FeedItem{.title = "t",
                    .version = std::move(version),
                    .shortVersion = std::move(shortVersion),
                    .downloadPage = "https://e.org"};
  };
  // The feed's items, and the version of the item offered over an installed 1.4.
  const std::vector<std::pair<std::vector<FeedItem>, std::optional<std::string>>> rows = {
      {{item("1.3"), item("1.5"), item("1.4.1")}, "1.5"},
      {{item("1.4"), item("1.4.0"), item("1.3")}, std::nullopt},
      // Without a machine version the shown one is compared.
      {{item("", "2.0")}, ""},
      // Items without a version, or with one no feed would carry, are passed over.
      {{item(""), item(std::string(kMaxVersionBytes + 1, '9')), item("9\n")}, std::nullopt},
  };
  for (const auto& [items, version] : rows) {
    const auto offered = newestUpdate(items, "1.4");
    EXPECT_EQ(offered ? std::optional(offered->version) : std::nullopt, version);
  }
}

}  // namespace
}  // namespace tolvane
