// Windows on every Space: which window numbers exist and who owns them, and accessibility
// elements for windows the application's own list does not show (those on other Spaces).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "base/clock.h"
#include "diagnostics/debug_log.h"
#include "platform/accessibility.h"
#include "platform/window_server.h"

namespace tolvane {

/// Process id → the window numbers it owns on every Space.
using SpaceMap = std::map<Pid, std::set<std::uint32_t>>;

/// Remembers what it learned between refreshes: the element of each window number, numbers a
/// whole search did not find, numbers the enumerator rejected for good, and where an unfinished
/// search resumes. Main thread only.
class SpaceWindowResolver {
 public:
  /// Element ids 0 … kBruteForceLimit − 1 are searched; the limit itself never is.
  static constexpr std::int64_t kBruteForceLimit = 30000;

  SpaceWindowResolver(WindowServer& windowServer, Accessibility& accessibility, const Clock& clock,
                      DebugLog& log)
      : windowServer_(windowServer), accessibility_(accessibility), clock_(clock), log_(log) {}

  /// The all-Spaces map (layer-0 windows only), or nothing when the window server cannot say.
  /// Prunes the resolver's memory against it.
  std::optional<SpaceMap> windowIDsAcrossSpaces();

  /// The window numbers whose element is known for `pid`.
  std::set<std::uint32_t> knownIDs(Pid pid) const;
  /// The application's own list showed `number` with `element`.
  void noteSeen(Pid pid, std::uint32_t number, AXElement element);
  /// The enumerator rejected `number` for good (wrong subrole or too small).
  void noteRejected(Pid pid, std::uint32_t number);
  /// `number` qualified after all: it is no longer rejected.
  void clearRejected(Pid pid, std::uint32_t number);
  /// `number`'s element is dead: forget it, and never search for it again while the window
  /// server still lists it.
  void forgetDead(Pid pid, std::uint32_t number);
  /// The numbers of `pid` rejected for good.
  std::set<std::uint32_t> rejected(Pid pid) const;
  /// Where an unfinished search of `pid` resumes; nothing when no search is pending.
  std::optional<std::int64_t> scanCursor(Pid pid) const;

  /// Elements for `ids`: from memory, else by searching element ids from the cursor until the
  /// wanted numbers are found, the range ends, or the clock passes `deadline` (the cursor then
  /// keeps the place). Numbers a whole search missed become unresolvable.
  std::map<std::uint32_t, AXElement> resolve(Pid pid, const std::set<std::uint32_t>& ids,
                                             double deadline);

  /// Forgets everything about windows and processes `map` no longer lists.
  void prune(const SpaceMap& map);

 private:
  WindowServer& windowServer_;
  Accessibility& accessibility_;
  const Clock& clock_;
  DebugLog& log_;

  std::unordered_map<Pid, std::unordered_map<std::uint32_t, AXElement>> registry_;
  std::unordered_set<std::uint32_t> unresolvable_;
  std::unordered_map<Pid, std::set<std::uint32_t>> rejected_;
  std::unordered_map<Pid, std::int64_t> scanCursor_;
};

}  // namespace tolvane
