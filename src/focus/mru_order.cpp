// Promotion and ordering by the focus history.
#include "focus/mru_order.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

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
  append(std::vector{id});
}

void MRUOrder::append(const std::vector<std::uint32_t>& ids) {
  // A set, not a search of the history per number: seeding appends every window on screen,
  // and a search each made that quadratic in the number of windows.
  std::unordered_set<std::uint32_t> present(ids_.begin(), ids_.end());
  for (auto id : ids) {
    if (present.insert(id).second) ids_.push_back(id);
  }
}

namespace {

// Number -> rank for one sort. Open addressing over a power-of-two table at most half full:
// this runs on the key press that opens the switcher, and building a node-based map of a full
// history costs more than the whole sort.
class RankTable {
 public:
  explicit RankTable(const std::vector<std::uint32_t>& ids) {
    std::size_t capacity = 16;
    shift_ = 60;
    while (capacity < ids.size() * 2) {
      capacity *= 2;
      --shift_;
    }
    mask_ = capacity - 1;
    keys_.assign(capacity, 0);
    ranks_.assign(capacity, kEmpty);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      std::size_t slot = indexOf(ids[i]);
      while (ranks_[slot] != kEmpty && keys_[slot] != ids[i]) slot = (slot + 1) & mask_;
      // Should a number occur twice, its first (most recent) place is kept.
      if (ranks_[slot] == kEmpty) {
        keys_[slot] = ids[i];
        ranks_[slot] = static_cast<std::uint32_t>(i);
      }
    }
  }

  /// The rank of `id`, or kEmpty when it has none.
  std::uint32_t find(std::uint32_t id) const {
    for (std::size_t slot = indexOf(id);; slot = (slot + 1) & mask_) {
      if (ranks_[slot] == kEmpty || keys_[slot] == id) return ranks_[slot];
    }
  }

  static constexpr std::uint32_t kEmpty = UINT32_MAX;

 private:
  // Fibonacci hashing: the top bits of the product spread runs of nearby numbers (window
  // numbers are handed out in sequence) over the whole table.
  std::size_t indexOf(std::uint32_t id) const {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(id) * 0x9E3779B97F4A7C15ull) >>
                                    shift_);
  }
  int shift_ = 60;
  std::size_t mask_ = 0;
  std::vector<std::uint32_t> keys_;
  std::vector<std::uint32_t> ranks_;
};

}  // namespace

std::vector<SwitchWindow> MRUOrder::sorted(std::vector<SwitchWindow> windows) const {
  if (ids_.empty()) return windows;
  const RankTable rank(ids_);

  // One key per window: its rank when it has one, else a value above every rank. Ties (equal
  // ranks from duplicate ids, or no rank at all) fall back to the input index, so sorting by
  // (key, index) is the stable order the history asks for.
  constexpr std::uint64_t kUnranked = std::uint64_t{1} << 32;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keys;
  keys.reserve(windows.size());
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const std::uint32_t r = rank.find(windows[i].id());
    keys.emplace_back(r == RankTable::kEmpty ? kUnranked : r, static_cast<std::uint32_t>(i));
  }
  std::sort(keys.begin(), keys.end());

  std::vector<SwitchWindow> result;
  result.reserve(windows.size());
  for (const auto& key : keys) result.push_back(std::move(windows[key.second]));
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
