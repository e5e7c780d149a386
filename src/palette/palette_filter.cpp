// Ranking lines with the palette's folding and scorer.
#include "palette/palette_filter.h"

#include "palette/fuzzy_match.h"
#include "palette/palette_model.h"
#include "palette/palette_text.h"

namespace tolvane {

std::string filterLine(std::string_view raw) {
  return repairedUtf8(cutOnCharacterBoundary(raw, kFilterLineBytes));
}

std::vector<std::string> filterLines(std::string_view query, std::vector<std::string> lines) {
  std::vector<FoldedText> folded;
  folded.reserve(lines.size());
  for (const auto& line : lines) folded.push_back(FoldedText::fold(line));
  std::vector<const FoldedText*> candidates;
  candidates.reserve(folded.size());
  for (const auto& text : folded) candidates.push_back(&text);
  std::vector<std::string> ranked;
  for (const auto& match : rankCandidates(FoldedText::fold(query), candidates)) {
    ranked.push_back(std::move(lines[match.index]));
  }
  return ranked;
}

}  // namespace tolvane
