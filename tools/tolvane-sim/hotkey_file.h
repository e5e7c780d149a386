// The system's switcher hotkeys kept in a file, so that their state outlives the simulated
// process: a scenario can kill Tolvane and look at what it left behind, and the next launch
// starts from it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "backends/sim/sim_desktop.h"
#include "platform/window_server.h"
#include "trace.h"

namespace tolvane::simtool {

/// A window server that answers like the simulated desktop, except that the symbolic hotkeys
/// live in a file: one "<number> <0|1>" line each, replaced atomically on every change. Every
/// change also prints a trace line. Setting a hotkey is async-signal-safe (no allocation, no
/// locks, no stdio), because the emergency restore calls it from a signal handler.
class FileHotKeyServer final : public WindowServer {
 public:
  /// Reads the file's state when it exists; a missing or unreadable file means every hotkey is
  /// enabled. With an empty path the state lives in memory only.
  FileHotKeyServer(sim::SimDesktop& desktop, Trace& trace, std::string path);

  std::optional<std::vector<WindowInfo>> onScreenWindows() override {
    return desktop_.onScreenWindows();
  }
  std::optional<std::vector<WindowInfo>> allWindows() override { return desktop_.allWindows(); }
  std::optional<std::int32_t> mainConnectionID() override { return desktop_.mainConnectionID(); }
  std::optional<std::vector<std::uint64_t>> copySpaces(std::int32_t connection, int mask) override {
    return desktop_.copySpaces(connection, mask);
  }
  std::optional<std::vector<std::uint32_t>> copyWindowsOnSpaces(
      std::int32_t connection, const std::vector<std::uint64_t>& spaces) override {
    return desktop_.copyWindowsOnSpaces(connection, spaces);
  }
  bool hasRemoteTokens() const override { return desktop_.hasRemoteTokens(); }
  AXElement elementFromRemoteToken(const RemoteToken& token) override {
    return desktop_.elementFromRemoteToken(token);
  }
  bool isSecureInputEnabled() override { return desktop_.isSecureInputEnabled(); }
  std::optional<Pid> secureInputHolderPid() override { return desktop_.secureInputHolderPid(); }
  bool processExists(Pid pid) override { return desktop_.processExists(pid); }

  bool hasSymbolicHotKeySetter() const override { return desktop_.available.hotKeySetter; }
  int setSymbolicHotKeyEnabled(std::int32_t hotKey, bool enabled) override;
  std::optional<bool> isSymbolicHotKeyEnabled(std::int32_t hotKey) override;

  /// The state now; hotkeys never set are enabled.
  bool isEnabled(std::int32_t hotKey) const;

 private:
  struct Slot {
    std::atomic<std::int32_t> hotKey{0};  // 0: free
    std::atomic<bool> enabled{true};
  };
  static constexpr std::size_t kSlots = 16;

  Slot* slotFor(std::int32_t hotKey, bool create);
  void load();
  void save() const;
  void trace(std::int32_t hotKey, bool enabled) const;

  sim::SimDesktop& desktop_;
  Trace& trace_;
  std::string path_;
  std::string temporaryPath_;
  std::array<Slot, kSlots> slots_;
};

}  // namespace tolvane::simtool
