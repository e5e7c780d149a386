// The switchable windows of other applications: discovery per application under a deadline,
// kept in a per-process cache, and snapshots taken from that cache on the key press.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/clock.h"
#include "diagnostics/debug_log.h"
#include "focus/mru_order.h"
#include "model/switch_window.h"
#include "model/usage_recorder.h"
#include "platform/accessibility.h"
#include "platform/workspace.h"
#include "settings/app_settings.h"
#include "windows/space_window_resolver.h"

namespace tolvane {

/// What the window server reports for each process on all Spaces; nothing when it could not
/// say, in which case each application falls back to the numbers the resolver already knows.
using CrossSpacePass = std::optional<SpaceMap>;

/// Discovery (refreshApp) talks to other applications and can be slow; the query (snapshot)
/// never does, so the switcher can take one on the key press. Main thread only.
class WindowEnumerator {
 public:
  static constexpr double kMinimumSide = 100.0;
  static constexpr double kSlowRefreshMilliseconds = 150.0;

  struct Services {
    Workspace& workspace;
    Accessibility& accessibility;
    SpaceWindowResolver& resolver;
    const AppSettings& settings;
    /// The focus history every snapshot is sorted by.
    const MRUOrder& order;
    const Clock& clock;
    DebugLog& log;
    UsageRecorder& usage;
  };

  /// The result of walking an application's own window list.
  struct AXWindowsResult {
    std::vector<SwitchWindow> candidates;
    std::set<std::uint32_t> listedIDs;
    bool completed = false;
    /// The application did not answer in time (-25204) when asked for its windows.
    bool unresponsive = false;
  };

  explicit WindowEnumerator(Services services) : s_(services) {}

  /// The cached switchable windows, filtered by the settings and sorted by the focus history.
  /// Makes no accessibility or window-server call. Drops cache entries of processes that are no
  /// longer running regular applications.
  std::vector<SwitchWindow> snapshot(std::optional<Pid> scopePID, bool includeAppEntries);

  /// Rediscovers one application's windows until `deadline` (seconds on the clock). True when
  /// everything for it was finished; false when another refresh would find more.
  bool refreshApp(const RunningApp& app, double deadline, const CrossSpacePass& crossSpace,
                  bool includeAppEntries, bool revisitRejected);

  /// Forgets a process (it terminated).
  void removeApp(Pid pid) { cachedByPID_.erase(pid); }
  /// Whether the process has a cache entry (it has been refreshed at least once).
  bool isCached(Pid pid) const { return cachedByPID_.count(pid) != 0; }

  // The steps of discovery, public for tests.
  std::optional<std::string> stringAttribute(const AXElement& element, std::string_view name);
  std::optional<bool> boolAttribute(const AXElement& element, std::string_view name);
  std::optional<Size> sizeAttribute(const AXElement& element);
  /// A record for the element when it qualifies (accepted subrole, not too small), else nothing.
  std::optional<SwitchWindow> switchWindow(std::uint32_t id, const AXElement& element,
                                           const RunningApp& app);
  AXWindowsResult axWindows(const RunningApp& app, double deadline);
  /// Replaces the process's cache entry: the fresh records first, then old ones that are still
  /// live (all old ones when the enumeration was cut short).
  void updateCache(Pid pid, const std::vector<SwitchWindow>& discovered,
                   const std::set<std::uint32_t>& liveIDs, bool enumerationCompleted);

 private:
  // Returns whether the merge loop ran to its end. Numbers whose element turned out dead are
  // added to `dead`.
  bool mergeOtherSpaces(const RunningApp& app, const std::set<std::uint32_t>& missing,
                        const std::set<std::uint32_t>& earlierRejected, double deadline,
                        std::vector<SwitchWindow>& candidates, std::set<std::uint32_t>& dead);
  void classifyRejected(const RunningApp& app, std::uint32_t number, const AXElement& element,
                        bool alreadyRejected);

  Services s_;
  std::unordered_map<Pid, std::vector<SwitchWindow>> cachedByPID_;
};

}  // namespace tolvane
