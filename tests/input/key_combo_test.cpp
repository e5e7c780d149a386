// Key names, modifier masks, chips and menu shortcuts of hot-key combinations.
#include "model/key_combo.h"

#include <gtest/gtest.h>

#include "platform/event_tap.h"

namespace tolvane {
namespace {

using Strings = std::vector<std::string>;
using namespace keycombo;

TEST(KeyComboTest, NamesExactlyTheTableKeys) {
  std::size_t named = 0;
  for (std::uint32_t code = 0; code < 512; ++code) named += keyName(code).has_value();
  EXPECT_EQ(named, kNamedKeyCount);
  // Letters follow ANSI positions, digits their own order, F-keys theirs.
  const std::pair<std::uint32_t, const char*> rows[] = {
      {0, "A"},      {11, "B"},      {6, "Z"},        {29, "0"},
      {25, "9"},     {122, "F1"},    {111, "F12"},    {50, "`"},
      {42, "\\"},    {53, "Esc"},    {117, "Delete"}, {121, "Page Down"},
      {49, "Space"}, {36, "Return"}, {48, "Tab"},     {123, "Left"},
  };
  for (const auto& [code, name] : rows) EXPECT_EQ(keyName(code), name) << code;
}

TEST(KeyComboTest, SymbolsCarbonFlagsAndKeyEquivalents) {
  // Chips: modifiers in Ctrl, Alt, Shift, Super order, then the name or "?".
  EXPECT_EQ(symbols(49, 2048), (Strings{"Alt", "Space"}));
  EXPECT_EQ(symbols(0, 4096 + 256), (Strings{"Ctrl", "Super", "A"}));
  EXPECT_EQ(symbols(200, 0), (Strings{"?"}));
  EXPECT_EQ(symbols(53, 256 + 512 + 2048 + 4096),
            (Strings{"Ctrl", "Alt", "Shift", "Super", "Esc"}));

  constexpr std::uint64_t kCapsLock = 0x10000;
  constexpr std::uint64_t kFunction = 0x800000;
  const std::pair<std::uint64_t, std::uint32_t> flagRows[] = {
      {eventflags::kCommand | eventflags::kShift, 768},
      {kCapsLock | kFunction | 0xff, 0},
      {eventflags::kControl | eventflags::kOption | kCapsLock, 4096 + 2048},
  };
  for (const auto& [flags, mask] : flagRows) EXPECT_EQ(carbonFlags(flags), mask) << flags;

  // One-character names lower-cased, symbols for the editing keys the tray knows; Esc and the
  // function keys give none.
  const std::pair<std::uint32_t, std::optional<std::string>> equivalents[] = {
      {0, "a"},  {49, " "},  {53, std::nullopt}, {122, std::nullopt}, {123, "←"},
      {36, "↩"}, {121, "⇟"}, {29, "0"},          {42, "\\"},          {200, std::nullopt},
  };
  for (const auto& [code, equivalent] : equivalents) EXPECT_EQ(keyEquivalent(code), equivalent);
}

}  // namespace
}  // namespace tolvane
