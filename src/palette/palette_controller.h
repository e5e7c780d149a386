// Opens and closes the search palette, reads the keyboard while it is open, and hands the
// chosen window to the activator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/geometry.h"
#include "base/random_source.h"
#include "base/run_loop.h"
#include "diagnostics/debug_log.h"
#include "focus/window_activator.h"
#include "localization/l10n.h"
#include "model/usage_recorder.h"
#include "palette/palette_model.h"
#include "platform/accessibility.h"
#include "platform/event_tap.h"
#include "platform/local_key_monitor.h"
#include "platform/palette_panel.h"
#include "platform/screens.h"

namespace tolvane {

/// Main thread only. While the palette is open it holds the keyboard, and the switcher and the
/// palette never hold it together: a switcher session in progress keeps the palette shut.
class PaletteController {
 public:
  static constexpr double kPanelWidth = 600;
  static constexpr double kPanelHeight = 420;
  /// The panel's centre sits this far down the visible frame (62 % up from its bottom).
  static constexpr double kCentreFromTop = 0.38;
  /// One session in this many is reported.
  static constexpr std::uint64_t kSessionSampling = 5;

  struct Services {
    PalettePanel& panel;
    LocalKeyMonitor& keyMonitor;
    const Screens& screens;
    RunLoop& runLoop;
    const Clock& clock;
    const L10n& l10n;
    const Accessibility& accessibility;
    WindowActivator& activator;
    UsageRecorder& usage;
    RandomSource& random;
    DebugLog& log;
    /// The windows to list, taken at each opening.
    PaletteModel::SnapshotSource snapshot;
    /// The palette hotkey in use as the user reads it ("Alt+Space"), asked at each drawing.
    std::function<std::string()> hotKeyText;
    /// Whether a switcher session holds the keyboard right now.
    std::function<bool()> switcherSessionActive;
    /// The palette takes the keyboard (true) or gives it back (false), so the stall watchdog
    /// watches closely while it is held.
    std::function<void(bool held)> holdKeyboard;
  };

  explicit PaletteController(Services services);
  ~PaletteController();
  PaletteController(const PaletteController&) = delete;
  PaletteController& operator=(const PaletteController&) = delete;

  /// Opens the palette with a fresh snapshot, or reloads it in place when it is open.
  void show();
  /// Closes the palette; a session not yet reported is reported as cancelled.
  void close();
  /// Closes an open palette, opens a closed one.
  void toggle();
  /// Reports the session, closes, then activates `window` (even one that has gone since).
  void confirm(const SwitchWindow& window);
  /// A key-down while the palette is open; true when it was consumed.
  bool handle(const KeyEvent& event);

  bool isOpen() const { return open_; }
  const PaletteModel& model() const { return model_; }

 private:
  void render();
  void onRowClick(int row, int clickCount);
  void recordSession(bool cancelled, std::optional<std::size_t> resultIndex);
  std::optional<Rect> placement() const;

  Services s_;
  PaletteModel model_;
  bool open_ = false;
  // Counts openings, so that a close posted for one opening never closes the next.
  std::uint64_t opening_ = 0;
  std::optional<MonitorToken> keyMonitor_;
  std::optional<Rect> frame_;
  std::optional<double> sessionStartTime_;
  std::int64_t sessionKeystrokes_ = 0;
  // Work posted on the run loop holds this weakly and does nothing once the controller is gone.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace tolvane
