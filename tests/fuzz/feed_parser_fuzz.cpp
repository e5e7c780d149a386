// Fuzz target for the appcast reader and the version order: any bytes must parse or be refused
// without a crash, whatever parses stays within the reader's bounds with web pages only, and
// the version order is antisymmetric for any two texts.
#include <cctype>
#include <string>

#include "backends/system/expat_feed_parser.h"
#include "fuzz/fuzz_target.h"
#include "updates/appcast.h"

using tolvane::fuzz::require;
using tolvane::system::ExpatFeedParser;

namespace {

bool isWebPage(std::string_view page) {
  std::string scheme(page.substr(0, 8));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme.starts_with("http://") || scheme == "https://";
}

int sign(int value) {
  return (value > 0) - (value < 0);
}

}  // namespace

TOLVANE_FUZZ_TARGET(bytes) {
  std::string error;
  if (const auto items = ExpatFeedParser().parse(bytes, error)) {
    require(items->size() <= ExpatFeedParser::kMaxItems);
    for (const auto& item : *items) {
      for (const std::string* text :
           {&item.title, &item.version, &item.shortVersion, &item.downloadPage})
        require(text->size() <= ExpatFeedParser::kMaxTextBytes);
      require(item.downloadPage.empty() || isWebPage(item.downloadPage));
    }
    tolvane::newestUpdate(*items, "1.0");
  } else {
    require(!error.empty());
  }

  const std::string_view a = bytes.substr(0, bytes.size() / 2);
  const std::string_view b = bytes.substr(bytes.size() / 2);
  require(sign(tolvane::compareVersions(a, b)) == -sign(tolvane::compareVersions(b, a)));
  require(tolvane::compareVersions(a, a) == 0);
}
