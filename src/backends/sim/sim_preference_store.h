// An in-memory preference domain for tests and scenarios, counting every write per key.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/preferences.h"

namespace tolvane::sim {

/// A PreferenceStore that keeps values in memory. Safe from any thread, like the real one.
class SimPreferenceStore final : public PreferenceStore {
 public:
  using Values = std::map<std::string, PrefValue, std::less<>>;

  /// Starts with `initial`; seeding counts as no write.
  explicit SimPreferenceStore(Values initial = {}) : values_(std::move(initial)) {}

  std::optional<PrefValue> value(std::string_view key) const override;
  void set(std::string_view key, PrefValue v) override;
  void remove(std::string_view key) override;

  /// How many times `set` was called for `key`.
  int writes(std::string_view key) const;
  /// How many times `remove` was called for `key`, whether or not it was present.
  int removals(std::string_view key) const;
  /// Calls of `set` and `remove` over all keys.
  int totalWrites() const;
  /// Everything stored now.
  Values snapshot() const;

 private:
  mutable std::mutex lock_;
  Values values_;
  std::map<std::string, int, std::less<>> writes_;
  std::map<std::string, int, std::less<>> removals_;
};

}  // namespace tolvane::sim
