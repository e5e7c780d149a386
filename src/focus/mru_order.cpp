// Promotion and ordering by the focus history.
#include "focus/mru_order.h"

#include <algorithm>
#include <unordered_map>

namespace tolvane {

void MRUOrder::bump(std::uint32_t id) {
  auto found = std::find(ids_.begin(), ids_.end(), id);
  if (found != ids_.end()) {
    // Rotating the prefix keeps the others' relative order and moves no element twice.
    std::rotate(ids_.begin(), found, found + 1);
  } else {
    ids_.insert(ids_.begin(), id);
  }
  if (ids_.size() > kCapacity) ids_.resize(kCapacity);
}

void MRUOrder::append(std::uint32_t id) {
  if (std::find(ids_.begin(), ids_.end(), id) == ids_.end()) ids_.push_back(id);
}

std::vector<SwitchWindow> MRUOrder::sorted(const std::vector<SwitchWindow>& windows) const {
  if (ids_.empty()) return windows;

  std::unordered_map<std::uint32_t, std::uint32_t> rank;
  rank.reserve(ids_.size());
  for (std::size_t i = 0; i < ids_.size(); ++i) {
    rank.emplace(ids_[i], static_cast<std::uint32_t>(i));  // emplace keeps the first place
  }

  // One key per window: its rank when it has one, else a value above every rank. Ties (equal
  // ranks from duplicate ids, or no rank at all) fall back to the input index, so sorting by
  // (key, index) is the stable order the history asks for.
  constexpr std::uint64_t kUnranked = std::uint64_t{1} << 32;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keys;
  keys.reserve(windows.size());
  for (std::size_t i = 0; i < windows.size(); ++i) {
    auto r = rank.find(windows[i].id());
    keys.emplace_back(r == rank.end() ? kUnranked : r->second, static_cast<std::uint32_t>(i));
  }
  std::sort(keys.begin(), keys.end());

  std::vector<SwitchWindow> result;
  result.reserve(windows.size());
  for (const auto& key : keys) result.push_back(windows[key.second]);
  return result;
}

std::vector<SwitchWindow> MRUOrder::promoting(std::optional<std::uint32_t> id,
                                              std::vector<SwitchWindow> windows) {
  if (!id) return windows;
  auto found = std::find_if(windows.begin(), windows.end(),
                            [&](const SwitchWindow& w) { return w.id() == *id; });
  if (found == windows.end() || found == windows.begin()) return windows;
  std::rotate(windows.begin(), found, found + 1);
  return windows;
}

}  // namespace tolvane
