// The checks applied to what foreign-toplevel events carry: texts and state arrays.
#include "backends/wayland/toplevel_values.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace tolvane::wayland {
namespace {

struct TextCase {
  std::string raw;
  std::size_t maxBytes;
  std::string expected;
};

TEST(BoundedText, RepairsAndCutsOnCharacterBoundaries) {
  const std::vector<TextCase> cases = {
      // Well-formed text passes unchanged.
      {"Terminal — ~/src", 1024, "Terminal — ~/src"},
      // A stray continuation byte, a cut-short sequence, an overlong form and a surrogate.
      {"a\x80z", 1024, "a\xEF\xBF\xBDz"},
      {"a\xE2\x82", 1024, "a\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xC0\xAF", 1024, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xED\xA0\x80", 1024, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      // Controls would break a row or a log line.
      {"one\ntwo\tthree", 1024, "one two three"},
      // The cut never splits a character, nor a replacement.
      {"ab\xC3\xA9", 3, "ab"},
      {"ab\xC3\xA9", 4, "ab\xC3\xA9"},
      {"ab\x80", 4, "ab"},
  };
  for (const auto& c : cases) EXPECT_EQ(boundedText(c.raw, c.maxBytes), c.expected) << c.raw;
  EXPECT_EQ(boundedText(std::string(5000, 'x')).size(), kMaxToplevelTextBytes);
}

TEST(ToplevelStates, DecodesEachValueOnItsOwnAndSkipsOthers) {
  // zwlr_foreign_toplevel_handle_v1.state, one value at a time: two values read as each other
  // would pass together.
  const std::vector<std::pair<std::vector<std::uint32_t>, ToplevelFlags>> rows = {
      {{0}, {.maximized = true}},
      {{1}, {.minimized = true}},
      {{2}, {.activated = true}},
      {{3}, {.fullscreen = true}},
      // Values this client does not know change nothing, alone or among known ones.
      {{4, 7, 0xFFFFFFFF}, {}},
      {{7, 2, 9, 1}, {.minimized = true, .activated = true}},
      {{}, {}},
  };
  for (const auto& [values, expected] : rows) {
    EXPECT_EQ(decodeToplevelStates(values.data(), values.size() * 4), expected)
        << ::testing::PrintToString(values);
  }
  // An array that is not whole values is refused.
  const std::uint32_t values[] = {2, 1};
  EXPECT_FALSE(decodeToplevelStates(values, 7));
  EXPECT_FALSE(decodeToplevelStates(nullptr, 4));
}

}  // namespace
}  // namespace tolvane::wayland
