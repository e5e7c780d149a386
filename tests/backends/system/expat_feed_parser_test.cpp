// The appcast reader: the only download pages it keeps, and every document it must refuse.
#include "backends/system/expat_feed_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace tolvane::system {
namespace {

// Each item as "title | version | short version | download page".
std::vector<std::string> itemsOf(std::string_view xml) {
  std::string error;
  const auto parsed = ExpatFeedParser().parse(xml, error);
  EXPECT_TRUE(parsed) << error;
  std::vector<std::string> items;
  for (const auto& item : parsed.value_or(std::vector<FeedItem>{})) {
    items.push_back(item.title + " | " + item.version + " | " + item.shortVersion + " | " +
                    item.downloadPage);
  }
  return items;
}

std::string feed(const std::string& items) {
  return R"(<?xml version="1.0" encoding="utf-8"?><rss version="2.0" )"
         R"(xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">)"
         "<channel><title>Tolvane</title><link>https://example.org</link>" +
         items + "</channel></rss>";
}

TEST(ExpatFeedParserTest, OnlyWebPagesAreKeptAsDownloadPages) {
  // Link, enclosure url, and the page kept: a link that is no web page gives way to the
  // enclosure's, and when neither is one there is no page at all.
  const std::vector<std::tuple<std::string, std::string, std::string>> rows = {
      {"javascript:alert(1)", "https://example.org/pkg", "https://example.org/pkg"},
      {"file:///etc/passwd", "data:text/html,hi", ""},
      {"https://exa mple.org/", "", ""},
      {"tolvane://auth?code=1", "http://example.org/a", "http://example.org/a"},
  };
  for (const auto& [link, url, page] : rows) {
    SCOPED_TRACE(link + " | " + url);
    const auto items =
        itemsOf(feed("<item><link>" + link + "</link><enclosure url=\"" + url + "\"/></item>"));
    EXPECT_EQ(items, std::vector<std::string>{" |  |  | " + page});
  }
}

TEST(ExpatFeedParserTest, RefusesDocumentsThatAreNoFeedOrBreakTheBounds) {
  const std::string laughs =
      R"(<?xml version="1.0"?><!DOCTYPE rss [<!ENTITY a "aaaaaaaaaa">)"
      R"(<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">)"
      R"(<!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;"><!ENTITY e "&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;">)"
      R"(]><rss><channel><item><title>&e;&e;&e;&e;&e;&e;&e;&e;</title></item></channel></rss>)";
  const std::string external =
      R"(<?xml version="1.0"?><!DOCTYPE rss [<!ENTITY x SYSTEM "file:///etc/hostname">]>)"
      R"(<rss><channel><item><title>&x;</title></item></channel></rss>)";
  std::string manyItems;
  for (std::size_t i = 0; i <= ExpatFeedParser::kMaxItems; ++i) manyItems += "<item/>";
  const std::string longText(ExpatFeedParser::kMaxTextBytes + 1, 'x');
  // A document of exactly the largest size, with the longest title, is still read.
  const std::string longestItem = "<item><title>" + longText.substr(1) + "</title></item>";
  const std::string largest =
      feed(longestItem +
           std::string(ExpatFeedParser::kMaxDocumentBytes - feed(longestItem).size(), ' '));

  const std::vector<std::pair<std::string, std::string>> rows = {
      {"", "empty"},
      {feed("<item><title>a &undefined; b</title></item>"), "undefined entity"},
      {laughs, "entity expansion"},
      {external, "an external entity"},
      {"<!DOCTYPE rss SYSTEM \"http://example.org/rss.dtd\"><rss/>", "an external DTD"},
      {feed(manyItems), "too many items"},
      {feed("<item><title>" + longText + "</title></item>"), "an overlong title"},
      {largest + " ", "an overlong document"},
  };
  for (const auto& [xml, what] : rows) {
    SCOPED_TRACE(what);
    std::string error;
    EXPECT_FALSE(ExpatFeedParser().parse(xml, error));
    EXPECT_NE(error, "");
  }
  EXPECT_EQ(itemsOf(largest).size(), 1u);
}

}  // namespace
}  // namespace tolvane::system
