// The appcast reader: the only download pages it keeps, and every document it must refuse.
#include "backends/system/expat_feed_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace tolvane::system {
namespace {

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
    std::string error;
    const auto items = ExpatFeedParser().parse(
        feed("<item><link>" + link + "</link><enclosure url=\"" + url + "\"/></item>"), error);
    ASSERT_TRUE(items) << error;
    ASSERT_EQ(items->size(), 1u);
    EXPECT_EQ(items->front().downloadPage, page);
  }
}

TEST(ExpatFeedParserTest, RefusesDocumentsThatAreNoFeedOrBreakTheBounds) {
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
      // Any document type declaration, so no entity is ever expanded or fetched.
      {"<!DOCTYPE rss SYSTEM \"http://example.org/rss.dtd\"><rss/>", "an external DTD"},
      {feed(manyItems), "too many items"},
      {feed("<item><title>" + longText + "</title></item>"), "an overlong title"},
      {largest + " ", "an overlong document"},
  };
  std::string error;
  for (const auto& [xml, what] : rows) {
    SCOPED_TRACE(what);
    error.clear();
    EXPECT_FALSE(ExpatFeedParser().parse(xml, error));
    EXPECT_NE(error, "");
  }
  const auto read = ExpatFeedParser().parse(largest, error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->size(), 1u);
}

}  // namespace
}  // namespace tolvane::system
