// Appcast versions: how two release versions compare, and which announced release to offer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/update_feed.h"

namespace tolvane {

/// Negative when `a` is older than `b`, zero when they name the same release, positive when
/// `a` is newer. Versions are read as runs of digits and runs of letters; every other character
/// only separates runs. Runs compare piecewise: numbers by value ("1.10" > "1.9"), letters
/// alphabetically without regard to case ("1.0b1" < "1.0rc1"), and a number above letters. A
/// version that ends early compares as zeros against numbers ("1.0" == "1.0.0") and above
/// letters, so pre-release letters sit below the release ("1.0b2" < "1.0").
int compareVersions(std::string_view a, std::string_view b);

/// An item's version as releases are compared: the machine version, else the shown one.
std::string_view comparableVersion(const FeedItem& item);

/// An item's version as people read it: the shown version, else the machine version.
std::string_view displayVersion(const FeedItem& item);

/// The longest version an item may carry; longer ones (and ones with control characters) come
/// from a broken or hostile feed, and the item is passed over.
inline constexpr std::size_t kMaxVersionBytes = 64;

/// The newest item whose version is above `installedVersion`; of equal versions the first in
/// the feed. Nothing when no usable item is newer.
std::optional<FeedItem> newestUpdate(const std::vector<FeedItem>& items,
                                     std::string_view installedVersion);

}  // namespace tolvane
