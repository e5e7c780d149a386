// The in-memory preference domain.
#include "backends/sim/sim_preference_store.h"

namespace tolvane::sim {

namespace {
int countOf(const std::map<std::string, int, std::less<>>& counts, std::string_view key) {
  auto it = counts.find(key);
  return it == counts.end() ? 0 : it->second;
}

void increment(std::map<std::string, int, std::less<>>& counts, std::string_view key) {
  auto it = counts.find(key);
  if (it == counts.end()) it = counts.emplace(std::string(key), 0).first;
  ++it->second;
}
}  // namespace

std::optional<PrefValue> SimPreferenceStore::value(std::string_view key) const {
  std::lock_guard guard(lock_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void SimPreferenceStore::set(std::string_view key, PrefValue v) {
  std::lock_guard guard(lock_);
  values_.insert_or_assign(std::string(key), std::move(v));
  increment(writes_, key);
}

void SimPreferenceStore::remove(std::string_view key) {
  std::lock_guard guard(lock_);
  if (auto it = values_.find(key); it != values_.end()) values_.erase(it);
  increment(removals_, key);
}

int SimPreferenceStore::writes(std::string_view key) const {
  std::lock_guard guard(lock_);
  return countOf(writes_, key);
}

int SimPreferenceStore::removals(std::string_view key) const {
  std::lock_guard guard(lock_);
  return countOf(removals_, key);
}

int SimPreferenceStore::totalWrites() const {
  std::lock_guard guard(lock_);
  int total = 0;
  for (const auto& [key, count] : writes_) total += count;
  for (const auto& [key, count] : removals_) total += count;
  return total;
}

SimPreferenceStore::Values SimPreferenceStore::snapshot() const {
  std::lock_guard guard(lock_);
  return values_;
}

}  // namespace tolvane::sim
