// Ranking the snapshot for a query, and moving the selection.
#include "palette/palette_model.h"

#include <algorithm>

#include "palette/palette_text.h"

namespace tolvane {

PaletteCandidate paletteCandidate(const SwitchWindow& window) {
  PaletteCandidate candidate{
      .title = paintableText(window.title().empty() ? window.appName() : window.title()),
      .appName = paintableText(window.appName())};
  candidate.folded = FoldedText::fold(candidate.title + " " + candidate.appName);
  return candidate;
}

std::vector<RankedCandidate> rankCandidates(const FoldedText& query,
                                            const std::vector<const FoldedText*>& candidates) {
  std::vector<RankedCandidate> ranked;
  ranked.reserve(candidates.size());
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (query.empty()) {
      ranked.push_back({k, {}});
    } else if (auto match = FuzzyMatch::match(query, *candidates[k])) {
      ranked.push_back({k, std::move(*match)});
    }
  }
  // Stable: among equal scores the earlier candidate (the more recently used window) wins.
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.match.score > b.match.score; });
  return ranked;
}

void PaletteModel::reload() {
  all_ = source_();
  candidates_.clear();
  candidates_.reserve(all_.size());
  for (const auto& window : all_) candidates_.push_back(paletteCandidate(window));
  setQuery({});
  ++focusRequestID_;
}

void PaletteModel::setQuery(std::string query) {
  query_ = std::move(query);
  refresh();
}

void PaletteModel::refresh() {
  std::vector<const FoldedText*> folded;
  folded.reserve(candidates_.size());
  for (const auto& candidate : candidates_) folded.push_back(&candidate.folded);
  // The query is not trimmed: a single space is a query like any other.
  ranked_ = rankCandidates(FoldedText::fold(query_), folded);
  visible_.clear();
  visible_.reserve(ranked_.size());
  for (const auto& entry : ranked_) visible_.push_back(all_[entry.index]);
  selectedID_ = visible_.empty() ? std::nullopt : std::optional(visible_.front().id());
}

void PaletteModel::moveSelection(int step) {
  if (visible_.empty()) return;
  const auto current = selectionIndex();
  const auto last = static_cast<std::int64_t>(visible_.size()) - 1;
  const auto target = std::clamp<std::int64_t>(
      (current ? static_cast<std::int64_t>(*current) : -1) + step, 0, last);
  selectedID_ = visible_[static_cast<std::size_t>(target)].id();
}

void PaletteModel::select(std::uint32_t id) {
  for (const auto& window : visible_) {
    if (window.id() == id) selectedID_ = id;
  }
}

std::optional<std::size_t> PaletteModel::selectionIndex() const {
  if (!selectedID_) return std::nullopt;
  for (std::size_t i = 0; i < visible_.size(); ++i) {
    if (visible_[i].id() == *selectedID_) return i;
  }
  return std::nullopt;
}

std::optional<SwitchWindow> PaletteModel::selectedWindow() const {
  const auto index = selectionIndex();
  if (!index) return std::nullopt;
  return visible_[*index];
}

PaletteModel::RowText PaletteModel::rowText(std::size_t row) const {
  const auto& entry = ranked_[row];
  const PaletteCandidate& candidate = candidates_[entry.index];
  RowText text{.candidate = &candidate};
  const auto ranges = FuzzyMatch::matchedBytes(candidate.folded, entry.match.positions);
  // The candidate is "title name": ranges are split at the separating space.
  const std::size_t titleEnd = candidate.title.size();
  const std::size_t nameStart = titleEnd + 1;
  for (const auto& range : ranges) {
    const std::size_t end = range.start + range.length;
    if (range.start < titleEnd) {
      text.titleMatches.push_back({range.start, std::min(end, titleEnd) - range.start});
    }
    if (end > nameStart) {
      const std::size_t start = std::max(range.start, nameStart);
      text.appNameMatches.push_back({start - nameStart, end - start});
    }
  }
  return text;
}

}  // namespace tolvane
