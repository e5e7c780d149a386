// Owns the switcher HUD: computes a session's layout, shows the panel centred on the main
// screen with the session's rows, and makes sure a hidden panel stays hidden.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "base/run_loop.h"
#include "hud/switcher_view.h"
#include "localization/l10n.h"
#include "platform/screens.h"
#include "platform/switcher_panel.h"

namespace tolvane {

/// Main thread only. Makes no decision about sessions; the switcher engine drives it.
class SwitcherController {
 public:
  /// The usable area assumed when there is no screen at all.
  static constexpr Size kFallbackScreen{1512, 875};
  /// A hidden panel is ordered out again this long after `hide`, unless a show came between.
  static constexpr double kRehideSeconds[] = {0.25, 1.0};

  struct Services {
    SwitcherPanel& panel;
    Screens& screens;
    RunLoop& runLoop;
    const L10n& l10n;
  };

  explicit SwitcherController(Services services);
  ~SwitcherController();
  SwitcherController(const SwitcherController&) = delete;
  SwitcherController& operator=(const SwitcherController&) = delete;

  /// The layout for `count` windows on the main screen's visible frame.
  HUDLayout layout(std::int64_t count) const;
  /// Hands the panel the view a show of these would bring, for it to paint ahead while the
  /// panel is still hidden (the HUD's delay); selection moves until the show update it.
  void prepare(std::vector<SwitchWindow> windows, int selection, HUDLayout layout);
  /// Shows (or refreshes) the panel with the session's windows, selection and layout.
  void show(std::vector<SwitchWindow> windows, int selection, HUDLayout layout);
  /// Hides the panel, and again 0.25 s and 1.0 s later unless a newer show happened.
  void hide();
  /// Moves the highlight; the engine calls it after each move.
  void setSelection(int selection);
  bool isPanelVisible() const { return panelCreated_ && s_.panel.isVisible(); }
  const SwitcherModel& model() const { return model_; }
  /// Receives the index of a clicked window row.
  void setRowClickHandler(std::function<void(int index)> handler) {
    rowClick_ = std::move(handler);
  }

  /// The display titles that occur more than once among `windows`.
  static std::set<std::string> duplicateTitles(const std::vector<SwitchWindow>& windows,
                                               std::size_t count);

 private:
  /// The model and its description, placed centred on the main screen's visible frame.
  void setModel(std::vector<SwitchWindow> windows, int selection, HUDLayout layout);

  Services s_;
  SwitcherModel model_;
  // The description last pushed; a selection move restyles two of its slots instead of
  // describing every row again on the key press.
  SwitcherPanelView view_;
  std::uint64_t visibilityGeneration_ = 0;
  bool panelCreated_ = false;
  // The panel holds a preparation of view_ that no show or hide has ended yet.
  bool prepared_ = false;
  std::function<void(int)> rowClick_;
  std::shared_ptr<SwitcherController*> self_;
};

}  // namespace tolvane
