// Who is who on a real desktop: the element handles the accessibility contract hands out, the
// key that tells one application from another, and the process ids of applications the display
// server names no process for. Shared by every desktop that feeds the desktop model.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <string>

#include "platform/accessibility.h"
#include "platform/workspace.h"

namespace tolvane::desktop {

/// A window as the display server numbers it (an XID, a toplevel's id). The contracts speak of
/// 32-bit window numbers; a number above that range has no name there.
using WindowNumber = std::uint64_t;

/// An accessibility element of a real desktop. `serial` names one incarnation of what it
/// stands for, as the desktop chose (an application's, or a window's own): a process id or a
/// window number that comes back later does not revive an old element.
class DesktopElement final : public AXElementRef {
 public:
  enum class Kind { systemWide, application, window };

  DesktopElement(Kind kind, Pid pid, WindowNumber window, std::uint64_t serial)
      : kind(kind), pid(pid), window(window), serial(serial) {}

  const Kind kind;
  const Pid pid;
  /// The window for a window element; 0 otherwise.
  const WindowNumber window;
  const std::uint64_t serial;
};

/// What makes an application the same one from one change to the next, besides its pid: the
/// name the display server groups windows by (an app_id), or for a window that has none, that
/// window alone. A desktop that groups by process alone leaves both empty.
struct AppKey {
  std::string name;
  WindowNumber lone = 0;
  auto operator<=>(const AppKey&) const = default;
};

/// Where the process ids of applications without a trustworthy pid start. Above the largest
/// pid Linux hands out (2^22), so they never name a real process.
inline constexpr Pid kSyntheticPidBase = 0x40000000;
/// How many synthetic ids there are: kSyntheticPidBase + n stays a positive 32-bit pid.
inline constexpr Pid kSyntheticCount = 0x3FFFFFFF;

/// The synthetic pid numbered `index` (only its low 30 bits count), for a desktop whose server
/// numbers the clients itself (the X server's resource-id space).
constexpr Pid syntheticPidAt(std::uint32_t index) {
  return kSyntheticPidBase + static_cast<Pid>(index & static_cast<std::uint32_t>(kSyntheticCount));
}

/// Synthetic pids handed out by application key: a key keeps its number while it is in use.
/// Numbers go upwards and, after a billion applications, again from the bottom, skipping those
/// still in use.
class SyntheticPids {
 public:
  Pid of(const AppKey& key);
  /// Forgets every key `inUse` rejects, so its number can serve again.
  template <typename InUse>
  void keepOnly(InUse inUse) {
    std::erase_if(pids_, [&](const auto& entry) { return !inUse(entry.first); });
  }

 private:
  std::map<AppKey, Pid> pids_;
  Pid next_ = 1;
};

}  // namespace tolvane::desktop
