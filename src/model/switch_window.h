// The record every list in Tolvane is made of: one switchable window, or a windowless
// application standing in for its windows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/accessibility.h"
#include "platform/workspace.h"

namespace tolvane {

/// An immutable value: every field is fixed at construction, and nothing in it is refreshed.
/// Copies share the fields (and so the accessibility element, which lives as long as any copy
/// does): a snapshot copies hundreds of records on the key press, and sharing makes each copy
/// one reference count instead of a few string allocations. Identity is `id` alone: two
/// records denote the same window exactly when their ids are equal.
class SwitchWindow {
 public:
  struct Fields {
    std::uint32_t id = 0;
    AXElement axWindow;
    Pid pid = 0;
    std::string title;
    std::string appName;
    std::optional<std::string> bundleID;
    bool isMinimized = false;
    bool appIsHidden = false;
    bool isAppEntry = false;
  };

  explicit SwitchWindow(Fields fields) : f_(std::make_shared<const Fields>(std::move(fields))) {}

  /// The entry for an application that has no switchable window: its id is the bitwise
  /// complement of the process id, at the top of the 32-bit range where real window numbers
  /// never reach, so both kinds can share one id space.
  static SwitchWindow appEntry(const RunningApp& app, AXElement appElement);

  /// The application's localized name, else its bundle identifier, else "?".
  static std::string appNameFor(const RunningApp& app);

  /// The id of the application entry of `pid`.
  static constexpr std::uint32_t appEntryID(Pid pid) { return ~static_cast<std::uint32_t>(pid); }

  std::uint32_t id() const { return f_->id; }
  const AXElement& axWindow() const { return f_->axWindow; }
  Pid pid() const { return f_->pid; }
  const std::string& title() const { return f_->title; }
  const std::string& appName() const { return f_->appName; }
  const std::optional<std::string>& bundleID() const { return f_->bundleID; }
  bool isMinimized() const { return f_->isMinimized; }
  bool appIsHidden() const { return f_->appIsHidden; }
  bool isAppEntry() const { return f_->isAppEntry; }

 private:
  std::shared_ptr<const Fields> f_;
};

}  // namespace tolvane
