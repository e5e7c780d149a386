// The search palette's state: the windows taken when it opened, the query, the ranked windows
// that match it, and the selected one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/switch_window.h"
#include "palette/fuzzy_match.h"
#include "views/palette_panel_view.h"

namespace tolvane {

/// How a window is searched and shown: its title (its application's name when untitled) and
/// its application's name, both made paintable; the search runs over "title name".
struct PaletteCandidate {
  std::string title;
  std::string appName;
  FoldedText folded;
};

/// The candidate for `window`.
PaletteCandidate paletteCandidate(const SwitchWindow& window);

/// The candidates that match `query`, best first; equal scores keep the candidates' order, and
/// an empty query keeps every candidate in order (with no matched characters). The palette and
/// `tolvane filter` rank with this one function.
struct RankedCandidate {
  std::size_t index = 0;
  FuzzyResult match;
};
std::vector<RankedCandidate> rankCandidates(const FoldedText& query,
                                            const std::vector<const FoldedText*>& candidates);

/// Main thread. After every change of the query the first match is selected.
class PaletteModel {
 public:
  /// The windows the palette lists, most recently used first; asked at each reload.
  using SnapshotSource = std::function<std::vector<SwitchWindow>()>;

  explicit PaletteModel(SnapshotSource source) : source_(std::move(source)) {}

  /// A fresh snapshot, an empty query, the first window selected, and a focus request.
  void reload();
  /// Sets the query and re-runs the filter.
  void setQuery(std::string query);
  /// Re-filters the snapshot for the current query and selects the first match.
  void refresh();
  /// Moves the selection by `step` rows, clamped to the list; nothing when the list is empty.
  void moveSelection(int step);
  /// Selects the visible window `id`; nothing when it is not visible.
  void select(std::uint32_t id);

  const std::string& query() const { return query_; }
  const std::vector<SwitchWindow>& visible() const { return visible_; }
  std::optional<std::uint32_t> selectedID() const { return selectedID_; }
  std::uint64_t focusRequestID() const { return focusRequestID_; }
  /// The snapshot of the last reload.
  const std::vector<SwitchWindow>& all() const { return all_; }
  std::optional<SwitchWindow> selectedWindow() const;
  std::optional<std::size_t> selectionIndex() const;

  /// How visible row `row` is shown, and the bytes of its title and application name that
  /// matched the query.
  struct RowText {
    const PaletteCandidate* candidate = nullptr;
    std::vector<TextRange> titleMatches;
    std::vector<TextRange> appNameMatches;
  };
  RowText rowText(std::size_t row) const;

 private:
  SnapshotSource source_;
  std::string query_;
  std::vector<SwitchWindow> all_;
  // Folded once per reload: every keystroke re-ranks the same texts.
  std::vector<PaletteCandidate> candidates_;
  std::vector<SwitchWindow> visible_;
  // Parallel to visible_: which candidate each row is, and which of its characters matched.
  std::vector<RankedCandidate> ranked_;
  std::optional<std::uint32_t> selectedID_;
  std::uint64_t focusRequestID_ = 0;
};

}  // namespace tolvane
