// The appcast reader on expat's streaming callbacks: a depth counter follows rss/channel/item,
// and only the few texts of an item are ever kept.
#include "backends/system/expat_feed_parser.h"

#include <expat.h>

#include <algorithm>
#include <memory>

namespace tolvane::system {
namespace {

// Expat joins a namespaced name as "<namespace URI><separator><local name>". A space cannot
// occur in a URI, so the joined name is never ambiguous.
constexpr char kNamespaceSeparator = ' ';
constexpr std::string_view kSparkleNamespace =
    "http://www.andymatuschak.org/xml-namespaces/sparkle";

// Depths of the elements we read: the root is at 1.
constexpr int kRssDepth = 1;
constexpr int kChannelDepth = 2;
constexpr int kItemDepth = 3;
constexpr int kFieldDepth = 4;

struct ParserFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};
using ParserHandle = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree>;

bool isSparkle(std::string_view name, std::string_view local) {
  return name.size() == kSparkleNamespace.size() + 1 + local.size() &&
         name.starts_with(kSparkleNamespace) &&
         name[kSparkleNamespace.size()] == kNamespaceSeparator && name.ends_with(local);
}

std::string trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(kSpace) - first + 1));
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
           return p == (t >= 'A' && t <= 'Z' ? static_cast<char>(t - 'A' + 'a') : t);
         });
}

// Only web pages may reach the notice's Download button: a "javascript:", "file:" or custom
// scheme link would run or open something else entirely.
bool isWebAddress(std::string_view url) {
  std::size_t rest = 0;
  if (startsWithIgnoringCase(url, "https://")) {
    rest = 8;
  } else if (startsWithIgnoringCase(url, "http://")) {
    rest = 7;
  } else {
    return false;
  }
  return url.size() > rest && std::none_of(url.begin(), url.end(), [](char c) {
           return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
         });
}

enum class Field { none, title, link, version, shortVersion };

Field fieldNamed(std::string_view name) {
  if (name == "title") return Field::title;
  if (name == "link") return Field::link;
  if (isSparkle(name, "version")) return Field::version;
  if (isSparkle(name, "shortVersionString")) return Field::shortVersion;
  return Field::none;
}

// What one item said, before the enclosure's values and the item's own are merged.
struct ItemDraft {
  std::string title;
  std::string link;
  std::string version;
  std::string shortVersion;
  bool hasEnclosure = false;
  std::string enclosureURL;
  std::string enclosureVersion;
  std::string enclosureShortVersion;

  FeedItem finished() const {
    FeedItem item{
        .title = title,
        .version = enclosureVersion.empty() ? version : enclosureVersion,
        .shortVersion = enclosureShortVersion.empty() ? shortVersion : enclosureShortVersion};
    if (isWebAddress(link)) {
      item.downloadPage = link;
    } else if (isWebAddress(enclosureURL)) {
      item.downloadPage = enclosureURL;
    }
    return item;
  }
};

class FeedReader {
 public:
  explicit FeedReader(XML_Parser parser) : parser_(parser) {}

  void fail(std::string why) {
    if (!error_.empty()) return;
    error_ = std::move(why);
    XML_StopParser(parser_, XML_FALSE);
  }
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  std::vector<FeedItem>& items() { return items_; }

  void startElement(std::string_view name, const XML_Char** attributes) {
    ++depth_;
    if (failed()) return;
    if (depth_ == kRssDepth) {
      if (name != "rss") return fail("the document is not an RSS feed");
      matched_ = kRssDepth;
    } else if (depth_ == kChannelDepth && matched_ == kRssDepth && name == "channel") {
      matched_ = kChannelDepth;
    } else if (depth_ == kItemDepth && matched_ == kChannelDepth && name == "item") {
      startItem();
    } else if (depth_ == kFieldDepth && matched_ == kItemDepth) {
      startField(name, attributes);
    }
  }

  void endElement() {
    if (!failed()) {
      if (depth_ == kFieldDepth && field_ != Field::none) endField();
      if (depth_ == kItemDepth && matched_ == kItemDepth) items_.push_back(draft_.finished());
      if (depth_ == matched_) --matched_;
    }
    --depth_;
  }

  void text(std::string_view data) {
    // Text of elements nested inside a field is not the field's own.
    if (failed() || field_ == Field::none || depth_ != kFieldDepth) return;
    if (text_.size() + data.size() > ExpatFeedParser::kMaxTextBytes) {
      return fail("an item's text is longer than " +
                  std::to_string(ExpatFeedParser::kMaxTextBytes) + " bytes");
    }
    text_.append(data);
  }

 private:
  void startItem() {
    if (items_.size() == ExpatFeedParser::kMaxItems) {
      return fail("the feed has more than " + std::to_string(ExpatFeedParser::kMaxItems) +
                  " items");
    }
    matched_ = kItemDepth;
    draft_ = {};
  }

  void startField(std::string_view name, const XML_Char** attributes) {
    field_ = fieldNamed(name);
    text_.clear();
    if (name == "enclosure" && !draft_.hasEnclosure) readEnclosure(attributes);
  }

  void endField() {
    std::string value = trimmed(text_);
    switch (field_) {
      case Field::title:
        draft_.title = std::move(value);
        break;
      case Field::link:
        draft_.link = std::move(value);
        break;
      case Field::version:
        draft_.version = std::move(value);
        break;
      case Field::shortVersion:
        draft_.shortVersion = std::move(value);
        break;
      case Field::none:
        break;
    }
    field_ = Field::none;
  }

  void readEnclosure(const XML_Char** attributes) {
    draft_.hasEnclosure = true;
    for (std::size_t i = 0; attributes[i] && attributes[i + 1]; i += 2) {
      const std::string_view name = attributes[i];
      const std::string_view value = attributes[i + 1];
      if (value.size() > ExpatFeedParser::kMaxTextBytes) {
        return fail("an enclosure attribute is longer than " +
                    std::to_string(ExpatFeedParser::kMaxTextBytes) + " bytes");
      }
      if (name == "url") {
        draft_.enclosureURL = trimmed(value);
      } else if (isSparkle(name, "version")) {
        draft_.enclosureVersion = trimmed(value);
      } else if (isSparkle(name, "shortVersionString")) {
        draft_.enclosureShortVersion = trimmed(value);
      }
    }
  }

  XML_Parser parser_;
  std::string error_;
  std::vector<FeedItem> items_;
  int depth_ = 0;
  // How deep the open elements follow rss/channel/item: 0 before the root, 3 inside an item.
  int matched_ = 0;
  ItemDraft draft_;
  Field field_ = Field::none;
  std::string text_;
};

FeedReader& readerOf(void* userData) {
  return *static_cast<FeedReader*>(userData);
}

void installHandlers(XML_Parser parser, FeedReader& reader) {
  XML_SetUserData(parser, &reader);
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* name, const XML_Char** attributes) {
        readerOf(data).startElement(name, attributes);
      },
      [](void* data, const XML_Char*) { readerOf(data).endElement(); });
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
    readerOf(data).text(std::string_view(text, static_cast<std::size_t>(length)));
  });
  XML_SetStartDoctypeDeclHandler(
      parser, [](void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        readerOf(data).fail("document type declarations are refused");
      });
}

}  // namespace

std::optional<std::vector<FeedItem>> ExpatFeedParser::parse(std::string_view xml,
                                                            std::string& error) const {
  if (xml.size() > kMaxDocumentBytes) {
    error = "the document is larger than " + std::to_string(kMaxDocumentBytes) + " bytes";
    return std::nullopt;
  }
  ParserHandle parser(XML_ParserCreateNS(nullptr, kNamespaceSeparator));
  if (!parser) {
    error = "cannot create an XML parser";
    return std::nullopt;
  }
  // Never fetch an external DTD or parameter entity, whatever the document asks for.
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
  FeedReader reader(parser.get());
  installHandlers(parser.get(), reader);
  const auto status = XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE);
  if (reader.failed()) {
    error = reader.error();
    return std::nullopt;
  }
  if (status != XML_STATUS_OK) {
    error = std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) + " at line " +
            std::to_string(XML_GetCurrentLineNumber(parser.get()));
    return std::nullopt;
  }
  return std::move(reader.items());
}

}  // namespace tolvane::system
