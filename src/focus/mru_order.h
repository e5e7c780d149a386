// The focus history: window numbers, most recently used first. It alone decides the order in
// which the switcher and the palette list windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/switch_window.h"

namespace tolvane {

/// A plain value. Invariant: no number occurs twice. After every promotion it holds at most
/// `kCapacity` entries; seeding with `append` does not trim. Numbers of closed windows are
/// never removed; they age out through the cap.
class MRUOrder {
 public:
  static constexpr std::size_t kCapacity = 512;

  /// Moves `id` to the front, then trims the oldest entries beyond the capacity.
  void bump(std::uint32_t id);
  /// Adds `id` at the back unless it is present (the existing, more recent place wins).
  void append(std::uint32_t id);
  /// The same for each of `ids` in turn.
  void append(const std::vector<std::uint32_t>& ids);

  /// Windows with history first, most recent first; the rest keep their input order. With an
  /// empty history the input order is kept exactly. Takes the list by value so a caller that
  /// no longer needs it can move it in.
  std::vector<SwitchWindow> sorted(std::vector<SwitchWindow> windows) const;

  /// Moves the first window whose id is `id` to the front; every other window keeps its place.
  /// Unchanged when `id` is absent, not found, or already first.
  static std::vector<SwitchWindow> promoting(std::optional<std::uint32_t> id,
                                             std::vector<SwitchWindow> windows);

  const std::vector<std::uint32_t>& ids() const { return ids_; }

 private:
  std::vector<std::uint32_t> ids_;
};

}  // namespace tolvane
