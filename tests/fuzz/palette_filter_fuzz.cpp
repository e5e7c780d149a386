// Fuzzes the palette's text handling with whatever bytes a window title or a line of
// `tolvane filter` may hold: the input is a query, a NUL byte, then lines. Folding and ranking
// must not crash, the ranked lines must be valid UTF-8 taken from the input, and highlighted
// bytes must lie inside the candidate, in order, without overlap.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "palette/fuzzy_match.h"
#include "palette/palette_filter.h"
#include "palette/palette_text.h"

namespace {

const auto check = tolvane::fuzz::require;

void checkHighlights(std::string_view query, std::string_view candidate) {
  const auto folded = tolvane::FoldedText::fold(candidate);
  const auto match = tolvane::FuzzyMatch::match(tolvane::FoldedText::fold(query), folded);
  check(match.has_value() == tolvane::FuzzyMatch::score(query, candidate).has_value());
  if (!match) return;
  std::size_t end = 0;
  for (const auto& range : tolvane::FuzzyMatch::matchedBytes(folded, match->positions)) {
    check(range.length > 0 && range.start >= end && range.start + range.length <= candidate.size());
    end = range.start + range.length;
  }
}

}  // namespace

TOLVANE_FUZZ_TARGET(input) {
  const auto split = input.find('\0');
  const auto query = input.substr(0, split);
  const auto rest = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < rest.size();) {
    const auto newline = std::min(rest.find('\n', start), rest.size());
    lines.push_back(tolvane::filterLine(rest.substr(start, newline - start)));
    checkHighlights(query, rest.substr(start, newline - start));
    start = newline + 1;
  }
  const auto ranked = tolvane::filterLines(query, lines);
  check(ranked.size() <= lines.size());
  if (query.empty()) check(ranked == lines);
  for (const auto& line : ranked) check(tolvane::repairedUtf8(line) == line);
  for (const auto& line : lines) {
    const auto paintable = tolvane::paintableText(line);
    for (std::size_t i = 0; i < paintable.size(); ++i) {
      const auto byte = static_cast<unsigned char>(paintable[i]);
      const bool c1 = byte == 0xC2 && i + 1 < paintable.size() &&
                      static_cast<unsigned char>(paintable[i + 1]) <= 0x9F;
      check(byte >= 0x20 && byte != 0x7F && !c1);
    }
  }
}
