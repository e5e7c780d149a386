// A helper process that ends Tolvane's hold on the keyboard when Tolvane is stopped (SIGSTOP, a
// debugger): a stopped process runs no thread of its own, its watchdog included, so only
// another process can let go for it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::system {

/// The scheduling state in the text of /proc/<pid>/stat: the field after the command name, which
/// is in parentheses and may itself hold spaces and parentheses. Nothing when the text is not
/// such a line.
std::optional<char> processStateOfStat(std::string_view stat);

/// What the sentinel decides on each look: it acts once the parent has been stopped for
/// kStoppedSeconds while it held the keyboard. The parent's state is read only while it holds.
class SentinelWatch {
 public:
  static constexpr double kStoppedSeconds = 0.2;

  struct Readers {
    /// Monotonic seconds.
    std::function<double()> now;
    /// The published window, 0 while nothing of the parent holds the keyboard.
    std::function<std::uint32_t()> heldWindow;
    /// The parent's scheduling state; nothing when it cannot be read.
    std::function<std::optional<char>()> parentState;
  };

  explicit SentinelWatch(Readers readers) : r_(std::move(readers)) {}

  /// One look: the window whose client must be disconnected now, or nothing.
  std::optional<std::uint32_t> look();

 private:
  Readers r_;
  /// When the parent was first seen stopped with a hold, during the current stop.
  std::optional<double> stoppedSince_;
};

/// The sentinel process as Tolvane sees it. Owns the child: destroying it ends the child.
class KeyboardSentinel {
 public:
  static constexpr double kPollSeconds = 0.1;

  /// Runs in the sentinel process: disconnects the client that owns `window` from the display
  /// (which ends every grab of that client); true when the display did so.
  using LetGo = std::function<bool(std::uint32_t window)>;

  /// Forks the sentinel. Call before any other thread exists: the child runs only its poll,
  /// never the caller's code again. It keeps none of this process's descriptors but `keep`
  /// (a connection `letGo` shuts down; -1: none). Nothing, with `error` set, when it cannot
  /// start.
  static std::unique_ptr<KeyboardSentinel> start(LetGo letGo, std::string& error, int keep = -1);
  ~KeyboardSentinel();
  KeyboardSentinel(const KeyboardSentinel&) = delete;
  KeyboardSentinel& operator=(const KeyboardSentinel&) = delete;

  /// Any thread, lock-free and async-signal-safe: `window` is a window of the connection that
  /// holds an active grab of the keyboard right now, or 0 when no grab of ours holds it.
  void publishHold(std::uint32_t window);
  /// Whether the sentinel disconnected Tolvane from the display.
  bool acted() const;
  pid_t pid() const { return child_; }

 private:
  struct Page;
  KeyboardSentinel(Page* page, pid_t child) : page_(page), child_(child) {}

  Page* page_;
  pid_t child_;
};

}  // namespace tolvane::system
