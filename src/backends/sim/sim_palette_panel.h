// The simulated search palette: records what the core shows, and lets tests type into the
// search field, click rows and take the keyboard away from the panel.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "backends/sim/recording_panel.h"
#include "platform/palette_panel.h"
#include "views/palette_panel_view.h"

namespace tolvane::sim {

class SimPalettePanel final : public RecordingPanel<PalettePanel, PalettePanelView> {
 public:
  void setQueryHandler(std::function<void(const std::string&)> handler) override {
    query_ = std::move(handler);
  }
  void setRowClickHandler(std::function<void(int, int)> handler) override {
    rowClick_ = std::move(handler);
  }
  void setResignHandler(std::function<void()> handler) override { resign_ = std::move(handler); }

  /// The user edits the search field to read `text`; false when no panel is on screen.
  bool type(const std::string& text) {
    if (!visible || !query_) return false;
    query_(text);
    return true;
  }
  /// A click on the row at `row` (`clickCount` 2 for a double click) of the panel on screen;
  /// false when that row is not shown.
  bool click(int row, int clickCount = 1) {
    if (!visible || !last || !rowClick_) return false;
    if (row < 0 || row >= static_cast<int>(last->rows.size())) return false;
    rowClick_(row, clickCount);
    return true;
  }
  /// The panel loses the keyboard (a click elsewhere, another program's grab).
  void resign() {
    if (visible && resign_) resign_();
  }

 private:
  std::function<void(const std::string&)> query_;
  std::function<void(int, int)> rowClick_;
  std::function<void()> resign_;
};

}  // namespace tolvane::sim
