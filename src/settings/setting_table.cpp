// The one range check of every setting, and the table's compile-time invariants.
#include "settings/setting_table.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace tolvane {

void noSettingHasThisKey() {
  std::abort();
}

namespace {

// A key used twice would load one stored value into two settings, and a key of another
// component would let a setting overwrite that component's state.
constexpr bool keysAreUnclaimed() {
  for (std::size_t i = 0; i < kSettingTable.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (kSettingTable[i].key == kSettingTable[j].key) return false;
    }
    for (auto other : prefkey::kKeysOfOtherComponents) {
      if (kSettingTable[i].key == other) return false;
    }
  }
  return true;
}
static_assert(keysAreUnclaimed());

// A default the table rejects would be refused by everything that checks the range: the palette
// hotkey would not register it, and settings sync would not take it from another machine.
constexpr bool integerDefaultsLieInRange() {
  for (const auto& entry : kSettingTable) {
    const bool inRange = entry.defaultNumber >= entry.min && entry.defaultNumber <= entry.max;
    const bool inMask = entry.maskBits == 0 || (entry.defaultNumber & ~entry.maskBits) == 0;
    if (entry.type == SettingType::integer && !(inRange && inMask)) return false;
  }
  return true;
}
static_assert(integerDefaultsLieInRange());

}  // namespace

bool SettingEntry::accepts(const PrefValue& value) const {
  if (value.index() != static_cast<std::size_t>(type)) return false;
  const auto fits = [this](const std::string& text) { return text.size() <= maxLength; };
  if (const auto* number = std::get_if<std::int64_t>(&value)) {
    const bool inMask = maskBits == 0 || (*number & ~maskBits) == 0;
    return *number >= min && *number <= max && inMask;
  }
  if (const auto* text = std::get_if<std::string>(&value)) return fits(*text);
  if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
    return list->size() <= maxItems && std::ranges::all_of(*list, fits);
  }
  return true;  // a boolean
}

std::optional<PrefValue> SettingEntry::defaultValue() const {
  switch (type) {
    case SettingType::boolean:
      return defaultNumber != 0;
    case SettingType::integer:
      return defaultNumber;
    case SettingType::string:
      return std::nullopt;
    case SettingType::stringList:
      return std::vector<std::string>{};
  }
  return std::nullopt;
}

}  // namespace tolvane
