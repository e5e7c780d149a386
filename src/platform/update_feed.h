// Update feeds: the items of an appcast (RSS with enclosure versions), as a parser reads them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

/// One release announced by the feed.
struct FeedItem {
  std::string title;
  /// The machine version ("sparkle:version" of the enclosure, else of the item).
  std::string version;
  /// The version shown to people ("sparkle:shortVersionString"); may be empty.
  std::string shortVersion;
  /// Where the user reads about and downloads the release: the item's link, else the
  /// enclosure's url. Only http and https addresses are kept.
  std::string downloadPage;
};

class FeedParser {
 public:
  virtual ~FeedParser() = default;
  /// The feed's items in document order; nothing, with the reason in `error`, when `xml` is not
  /// a well-formed feed. Bounded: an overlong text or document is refused, not truncated.
  virtual std::optional<std::vector<FeedItem>> parse(std::string_view xml,
                                                     std::string& error) const = 0;
};

}  // namespace tolvane
