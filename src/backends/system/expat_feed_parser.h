// Appcast feeds read with expat: the releases an RSS document announces, within fixed bounds and
// without any entity or document-type processing.
#pragma once

#include <cstddef>

#include "platform/update_feed.h"

namespace tolvane::system {

/// Reads `rss/channel/item` elements: `title`, `link`, and the versions as `sparkle:version` and
/// `sparkle:shortVersionString`, either as elements of the item or as attributes of its first
/// `enclosure` (the enclosure's win), plus the enclosure's `url`. The prefix is whatever the
/// document binds to the Sparkle namespace URI.
///
/// A document with a type declaration is refused outright: a feed never needs one, and refusing
/// it closes entity expansion and external entities in one place. Stateless and thread-safe.
class ExpatFeedParser final : public FeedParser {
 public:
  static constexpr std::size_t kMaxDocumentBytes = 1024 * 1024;
  /// The longest text or attribute value kept from an item.
  static constexpr std::size_t kMaxTextBytes = 4096;
  static constexpr std::size_t kMaxItems = 1000;

  std::optional<std::vector<FeedItem>> parse(std::string_view xml,
                                             std::string& error) const override;
};

}  // namespace tolvane::system
