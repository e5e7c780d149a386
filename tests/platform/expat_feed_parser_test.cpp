// The appcast reader: what it takes from a feed, and every document it must refuse.
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

TEST(ExpatFeedParserTest, ReadsItemsFromElementsAndEnclosureAttributesOfTheSparkleNamespace) {
  const std::string xml = feed(R"(
    <item>
      <title> Tolvane 1.5 </title>
      <link>
        https://example.org/releases/1.5
      </link>
      <sparkle:version>150</sparkle:version>
      <sparkle:shortVersionString>1.5</sparkle:shortVersionString>
      <description><![CDATA[<b>new</b>]]></description>
    </item>
    <item>
      <title>Tolvane 1.6 &amp; more</title>
      <sparkle:version>ignored, the enclosure's wins</sparkle:version>
      <enclosure url="https://example.org/tolvane-1.6.tar.gz" sparkle:version="160"
                 sparkle:shortVersionString="1.6" length="1" type="application/octet-stream"/>
      <enclosure url="https://example.org/second" sparkle:version="999"/>
    </item>
    <item><title>No versions, no page</title><link>ftp://example.org/x</link></item>)");
  EXPECT_EQ(itemsOf(xml),
            (std::vector<std::string>{
                "Tolvane 1.5 | 150 | 1.5 | https://example.org/releases/1.5",
                "Tolvane 1.6 & more | 160 | 1.6 | https://example.org/tolvane-1.6.tar.gz",
                "No versions, no page |  |  | ",
            }));
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
      {"<rss><channel><item></channel></rss>", "mismatched tag"},
      {feed("<item><title>a &undefined; b</title></item>"), "undefined entity"},
      {"<feed xmlns=\"http://www.w3.org/2005/Atom\"/>", "an Atom feed"},
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
