// The search palette's panel: painted from the core's description, reporting edits, clicks
// and the loss of the keyboard back.
#pragma once

#include <functional>
#include <string>

namespace tolvane {

// Defined beside the view that computes it.
struct PalettePanelView;

/// The search palette: takes the keyboard while shown without activating this application, so
/// the window the user came from stays the active one until a window is chosen.
class PalettePanel {
 public:
  virtual ~PalettePanel() = default;
  /// Shows the panel, or repaints it in place when it is shown already.
  virtual void show(const PalettePanelView& view) = 0;
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
  /// Every edit of the search field, with the field's whole text (valid UTF-8).
  virtual void setQueryHandler(std::function<void(const std::string& query)> handler) = 0;
  /// A click on a row: `clickCount` 1 for a single click, 2 for a double click.
  virtual void setRowClickHandler(std::function<void(int row, int clickCount)> handler) = 0;
  /// The panel lost the keyboard while shown: a click outside it, another program took the
  /// keyboard, or a watchdog let go of it. Called after the event, on the main thread.
  virtual void setResignHandler(std::function<void()> handler) = 0;
};

}  // namespace tolvane
