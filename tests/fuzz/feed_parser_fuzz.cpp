// Fuzz target for the appcast reader and the version order: any bytes must parse or be refused
// without a crash, whatever parses stays within the reader's bounds with web pages only, and
// the version order is antisymmetric for any two texts.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "backends/system/expat_feed_parser.h"
#include "updates/appcast.h"

namespace {

using tolvane::system::ExpatFeedParser;

bool isWebPage(std::string_view page) {
  std::string scheme(page.substr(0, 8));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme.starts_with("http://") || scheme == "https://";
}

bool withinBounds(const tolvane::FeedItem& item) {
  for (const std::string* text :
       {&item.title, &item.version, &item.shortVersion, &item.downloadPage}) {
    if (text->size() > ExpatFeedParser::kMaxTextBytes) return false;
  }
  return item.downloadPage.empty() || isWebPage(item.downloadPage);
}

int sign(int value) {
  return (value > 0) - (value < 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (const auto items = ExpatFeedParser().parse(bytes, error)) {
    if (items->size() > ExpatFeedParser::kMaxItems) std::abort();
    for (const auto& item : *items) {
      if (!withinBounds(item)) std::abort();
    }
    tolvane::newestUpdate(*items, "1.0");
  } else if (error.empty()) {
    std::abort();
  }

  const std::string_view a = bytes.substr(0, size / 2);
  const std::string_view b = bytes.substr(size / 2);
  if (sign(tolvane::compareVersions(a, b)) != -sign(tolvane::compareVersions(b, a))) std::abort();
  if (tolvane::compareVersions(a, a) != 0) std::abort();
  return 0;
}
