// Building the string tables from their compiled-in JSON.
#include "localization/localization_tables.h"

#include <array>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>

#include "localization/embedded_tables.h"

namespace tolvane {

StringTable::StringTable(std::vector<std::pair<std::string, std::string>> entries)
    : entries_(std::move(entries)) {
  index_.reserve(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
}

const std::string* StringTable::find(std::string_view key) const {
  auto it = index_.find(key);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

std::optional<StringTable> parseStringTable(std::string_view json) {
  const auto root = nlohmann::ordered_json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (!root.is_object()) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> entries;
  entries.reserve(root.size());
  for (const auto& [key, value] : root.items()) {
    if (value.is_string()) entries.emplace_back(key, value.get<std::string>());
  }
  return StringTable(std::move(entries));
}

std::string lookupWithFallback(const StringTable& current, const StringTable& english,
                               std::string_view key) {
  if (const auto* text = current.find(key)) return *text;
  if (const auto* text = english.find(key)) return *text;
  return std::string(key);
}

const StringTable& stringTable(AppLanguage language) {
  static std::array<std::once_flag, kAllLanguages.size()> built;
  static std::array<StringTable, kAllLanguages.size()> tables;
  const auto slot = static_cast<std::size_t>(language);
  std::call_once(built[slot], [&] {
    for (std::size_t i = 0; i < kEmbeddedTableCount; ++i) {
      if (kEmbeddedTables[i].code != rawValue(language)) continue;
      if (auto table = parseStringTable(kEmbeddedTables[i].json)) tables[slot] = std::move(*table);
    }
  });
  return tables[slot];
}

}  // namespace tolvane
