// Typed reads shared by every PreferenceStore.
#include "platform/preferences.h"

namespace tolvane {

namespace {
template <typename T>
std::optional<T> typed(const PreferenceStore& store, std::string_view key) {
  auto v = store.value(key);
  if (!v) return std::nullopt;
  if (auto* p = std::get_if<T>(&*v)) return std::move(*p);
  return std::nullopt;
}
}  // namespace

std::optional<bool> PreferenceStore::boolValue(std::string_view key) const {
  return typed<bool>(*this, key);
}
std::optional<std::int64_t> PreferenceStore::intValue(std::string_view key) const {
  return typed<std::int64_t>(*this, key);
}
std::optional<std::string> PreferenceStore::stringValue(std::string_view key) const {
  return typed<std::string>(*this, key);
}
std::optional<std::vector<std::string>> PreferenceStore::stringListValue(
    std::string_view key) const {
  return typed<std::vector<std::string>>(*this, key);
}

}  // namespace tolvane
