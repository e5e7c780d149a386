// The fourteen string tables: key → text for every interface language.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "localization/app_language.h"

namespace tolvane {

/// One language's texts. Immutable once built, so it may be read from any thread.
class StringTable {
 public:
  StringTable() = default;
  explicit StringTable(std::vector<std::pair<std::string, std::string>> entries);

  /// The text of `key`, or nullptr when this table lacks it.
  const std::string* find(std::string_view key) const;
  /// Every key and text, in the table's order.
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  std::vector<std::pair<std::string, std::string>> entries_;
  std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
};

/// Parses a table's JSON text (one object of key → string); entries that are not strings are
/// left out. Nothing when the text is not a JSON object.
std::optional<StringTable> parseStringTable(std::string_view json);

/// `key` in `current`, else in `english`, else the key itself.
std::string lookupWithFallback(const StringTable& current, const StringTable& english,
                               std::string_view key);

/// The table of `language`, built from the compiled-in data on first use and kept for the life
/// of the process. A table that is missing or cannot be parsed is empty, so every lookup falls
/// back to English.
const StringTable& stringTable(AppLanguage language);

}  // namespace tolvane
