// The one table of the settings AppSettings owns: each key with its type, default, the values it
// accepts and whether settings sync carries it. Every list of setting keys is derived from it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/preferences.h"
#include "settings/preference_keys.h"

namespace tolvane {

/// What a setting holds, in the order of PrefValue's alternatives. A string setting may also be
/// nil, which the preference domain keeps as an absent key.
enum class SettingType { boolean, integer, string, stringList };

/// Whether settings sync copies a setting between machines.
enum class Sync { local, carried };

/// One setting: its key and the stored values that count as a value of it.
struct SettingEntry {
  std::string_view key;
  SettingType type = SettingType::boolean;
  Sync sync = Sync::local;
  /// A boolean's default (0 or 1) or an integer's. A string is nil and a list empty by default.
  std::int64_t defaultNumber = 0;
  /// The closed range an integer lies in.
  std::int64_t min = 0;
  std::int64_t max = 0;
  /// The most bytes of a string or of one list item.
  std::size_t maxLength = 0;
  /// The most items of a list.
  std::size_t maxItems = 0;
  /// For an integer that is a mask: the bits it may combine. It must then hold at least one of
  /// them and no other bit. Zero for a plain number.
  std::int64_t maskBits = 0;

  /// Whether `value` has this setting's type and lies within its range. Loading treats any other
  /// stored value as absent; settings sync rejects any other remote value for this key alone.
  bool accepts(const PrefValue& value) const;
  /// What the setting holds when its key is absent or not accepted; nothing for a nil string.
  std::optional<PrefValue> defaultValue() const;
};

/// Builders of table entries, one per type.
namespace setting {
constexpr SettingEntry flag(std::string_view key, bool byDefault, Sync sync) {
  return {key, SettingType::boolean, sync, byDefault};
}
constexpr SettingEntry integer(std::string_view key, std::int64_t byDefault, std::int64_t min,
                               std::int64_t max, Sync sync) {
  return {key, SettingType::integer, sync, byDefault, min, max};
}
// A non-empty combination of `bits`: its range runs from the lowest of them to all of them.
constexpr SettingEntry mask(std::string_view key, std::int64_t byDefault, std::int64_t bits,
                            Sync sync) {
  return {key, SettingType::integer, sync, byDefault, bits & -bits, bits, 0, 0, bits};
}
constexpr SettingEntry optionalString(std::string_view key, std::size_t maxLength, Sync sync) {
  return {key, SettingType::string, sync, 0, 0, 0, maxLength};
}
constexpr SettingEntry stringList(std::string_view key, std::size_t maxItems,
                                  std::size_t maxItemLength, Sync sync) {
  return {key, SettingType::stringList, sync, 0, 0, 0, maxItemLength, maxItems};
}
}  // namespace setting

/// Every setting, in the order AppSettings declares its properties. Per-machine state
/// (onboarding, login item, the pause switch) and the crash-report consent stay local.
inline constexpr auto kSettingTable = [] {
  using namespace prefkey;
  using namespace setting;
  return std::array{
      flag(kOnboardingCompleted, false, Sync::local),
      flag(kLaunchAtLogin, true, Sync::local),
      // 35 bytes hold any language tag short of the extension and private-use forms (RFC 5646,
      // section 4.4.1).
      optionalString(kLanguageCode, 35, Sync::carried),
      flag(kInterceptCmdTab, true, Sync::carried),
      flag(kInterceptAppCycle, true, Sync::carried),
      flag(kShowMinimizedWindows, true, Sync::carried),
      flag(kShowHiddenAppWindows, true, Sync::carried),
      flag(kSwitcherUsesOption, false, Sync::carried),
      // Space with Option. Virtual key codes fit in 16 bits. The modifiers combine Command 256,
      // Shift 512, Option 2048 and Control 4096, at least one of them: a global grab of a bare
      // key would take that key from every other program.
      integer(kPaletteKeyCode, 49, 0, 0xFFFF, Sync::carried),
      mask(kPaletteModifiers, 2048, 256 | 512 | 2048 | 4096, Sync::carried),
      flag(kSwitcherPaused, false, Sync::local),
      // Application identifiers are reverse domain names or desktop-file ids, which the DNS and
      // D-Bus name rules cap at 255 bytes.
      stringList(kExcludedBundleIDs, 1000, 255, Sync::carried),
      flag(kCrashReportingEnabled, true, Sync::local),
      flag(kImproveDataSharing, true, Sync::carried),
  };
}();

/// The entry of `key`, or nothing when no setting has that key.
constexpr const SettingEntry* findSetting(std::string_view key) {
  for (const auto& entry : kSettingTable) {
    if (entry.key == key) return &entry;
  }
  return nullptr;
}

// Not constexpr: reaching it while compiling a SettingIndex stops the build. Defined all the
// same, because clang 14 evaluates some consteval conversions (aggregate rows of a class with
// a converting constructor) at run time; there a known key never reaches it.
[[noreturn]] void noSettingHasThisKey();

/// The position of a setting in kSettingTable, found from its key while compiling: a key that
/// names no setting does not build.
struct SettingIndex {
  // Implicit, so that a key constant stands for its setting wherever an index is asked for.
  consteval SettingIndex(std::string_view key) {
    while (value < kSettingTable.size() && kSettingTable[value].key != key) ++value;
    if (value == kSettingTable.size()) noSettingHasThisKey();
  }
  std::size_t value = 0;
};

/// The entry of a setting named by its key constant, e.g. settingEntry(prefkey::kLanguageCode).
constexpr const SettingEntry& settingEntry(SettingIndex setting) {
  return kSettingTable[setting.value];
}

namespace prefkey {

/// Every key AppSettings owns, in the order of kSettingTable.
inline constexpr auto kSettingKeys = [] {
  std::array<std::string_view, kSettingTable.size()> keys{};
  for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = kSettingTable[i].key;
  return keys;
}();

/// The keys settings sync copies between machines, in the order of kSettingTable.
inline constexpr auto kSyncedSettingKeys = [] {
  constexpr auto isCarried = [](const SettingEntry& entry) { return entry.sync == Sync::carried; };
  std::array<std::string_view, std::ranges::count_if(kSettingTable, isCarried)> keys{};
  std::size_t next = 0;
  for (const auto& entry : kSettingTable) {
    if (isCarried(entry)) keys[next++] = entry.key;
  }
  return keys;
}();

/// Whether settings sync carries `key`; false for every key not owned by AppSettings.
constexpr bool carriedBySync(std::string_view key) {
  const SettingEntry* entry = findSetting(key);
  return entry && entry->sync == Sync::carried;
}

}  // namespace prefkey

}  // namespace tolvane
