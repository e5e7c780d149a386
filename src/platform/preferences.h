// The preference domain: one typed key/value store shared by every component that owns keys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolvane {

/// A stored preference value. These four types are all the domain holds; each value keeps its
/// type across a save and a load.
using PrefValue = std::variant<bool, std::int64_t, std::string, std::vector<std::string>>;

/// The application's preference domain. Safe to call from any thread (the usage reporter reads
/// it from its own queue); every change is persisted before the call returns, best effort.
class PreferenceStore {
 public:
  virtual ~PreferenceStore() = default;

  /// The stored value, whatever its type, or nothing when the key is absent.
  virtual std::optional<PrefValue> value(std::string_view key) const = 0;
  /// Stores `v` under `key`, replacing a value of any type.
  virtual void set(std::string_view key, PrefValue v) = 0;
  /// Removes `key`; removing an absent key does nothing.
  virtual void remove(std::string_view key) = 0;

  /// Typed reads: the value when it is stored with exactly that type, else nothing.
  std::optional<bool> boolValue(std::string_view key) const;
  std::optional<std::int64_t> intValue(std::string_view key) const;
  std::optional<std::string> stringValue(std::string_view key) const;
  std::optional<std::vector<std::string>> stringListValue(std::string_view key) const;
};

}  // namespace tolvane
