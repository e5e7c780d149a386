// The window server: window lists, Spaces, the system's symbolic hotkeys and secure input.
// Functions marked "may be unavailable" stand for private interfaces some desktops lack; the
// core must work without them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/accessibility.h"
#include "platform/workspace.h"

namespace tolvane {

/// One entry of a window list. Each field may be missing, as in any dictionary another
/// process filled in.
struct WindowInfo {
  std::optional<std::int64_t> number;
  std::optional<std::int64_t> layer;
  std::optional<std::int64_t> ownerPid;
};

/// The 20-byte token that names an accessibility element of another process: the pid (int32,
/// little-endian), four zero bytes, the constant 0x636f636f, then the element id (int64,
/// little-endian).
using RemoteToken = std::array<std::uint8_t, 20>;

/// The token naming element `elementID` of process `pid`.
RemoteToken makeRemoteToken(Pid pid, std::int64_t elementID);

/// The process and element id a token names; nothing when its fixed bytes are wrong.
struct RemoteTokenTarget {
  Pid pid = 0;
  std::int64_t elementID = 0;
};
std::optional<RemoteTokenTarget> parseRemoteToken(const RemoteToken& token);

class WindowServer {
 public:
  virtual ~WindowServer() = default;

  /// Windows on screen, front to back, without desktop elements; nothing when the call fails.
  virtual std::optional<std::vector<WindowInfo>> onScreenWindows() = 0;
  /// Every window, on screen or not, without desktop elements.
  virtual std::optional<std::vector<WindowInfo>> allWindows() = 0;

  // Spaces (may be unavailable).
  virtual std::optional<std::int32_t> mainConnectionID() = 0;
  /// Ids of every Space; nothing when unavailable or when the call fails.
  virtual std::optional<std::vector<std::uint64_t>> copySpaces(std::int32_t connection,
                                                               int mask) = 0;
  /// Window numbers on the given Spaces.
  virtual std::optional<std::vector<std::uint32_t>> copyWindowsOnSpaces(
      std::int32_t connection, const std::vector<std::uint64_t>& spaces) = 0;
  /// Creates an element from a remote token (may be unavailable: then always nothing).
  virtual bool hasRemoteTokens() const = 0;
  virtual AXElement elementFromRemoteToken(const RemoteToken& token) = 0;

  // The system's own switcher hotkeys (may be unavailable). The setter must be safe to call
  // from a signal handler: the emergency restore runs it there.
  virtual bool hasSymbolicHotKeySetter() const = 0;
  virtual int setSymbolicHotKeyEnabled(std::int32_t hotKey, bool enabled) = 0;
  /// Whether a hotkey is enabled; nothing when the query is unavailable.
  virtual std::optional<bool> isSymbolicHotKeyEnabled(std::int32_t hotKey) = 0;

  // Secure keyboard input: another client owns the keyboard (a password prompt, a locker).
  virtual bool isSecureInputEnabled() = 0;
  virtual std::optional<Pid> secureInputHolderPid() = 0;
  /// Whether a process with this id exists (a signal-0 probe).
  virtual bool processExists(Pid pid) = 0;
};

}  // namespace tolvane
