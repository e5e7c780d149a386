// Fuzzy matching of a search query against a window's text: folding that ignores case,
// diacritics and character width, and the greedy subsequence score with its run and word-start
// bonuses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "views/palette_panel_view.h"

namespace tolvane {

/// A text folded for matching, as a sequence of user-perceived characters (extended grapheme
/// clusters) that compare by canonical equivalence. Each character remembers the bytes of the
/// original text it came from: one original character may fold to several (ß to "ss"), and all
/// of them then point at the same bytes. Build it once per text and reuse it for every query.
class FoldedText {
 public:
  /// Folds `text` (UTF-8; invalid sequences count as U+FFFD and keep their bytes).
  static FoldedText fold(std::string_view text);

  std::size_t size() const { return chars_.size(); }
  bool empty() const { return chars_.empty(); }
  /// Whether character `i` of this text and character `j` of `other` are the same.
  bool same(std::size_t i, const FoldedText& other, std::size_t j) const;
  /// Character `i` as a single code point, or a value above U+10FFFF for a cluster of several.
  std::uint32_t codePoint(std::size_t i) const { return chars_[i]; }
  /// Whether character `i` is a single U+0020 space.
  bool isSpace(std::size_t i) const { return chars_[i] == U' '; }
  /// The original bytes character `i` came from.
  const TextRange& source(std::size_t i) const { return sources_[i]; }

 private:
  void add(std::u32string_view cluster, TextRange source);

  // One entry per character: its code point when it is a single one; else kCluster plus the
  // position of its code points in `clusters_`. Most characters are one code point, so the
  // match loop compares integers.
  static constexpr std::uint32_t kCluster = 0x80000000u;
  std::vector<std::uint32_t> chars_;
  std::vector<std::u32string> clusters_;
  std::vector<TextRange> sources_;
};

/// The score of a match and the positions of the candidate's characters it used, in order.
struct FuzzyResult {
  std::int64_t score = 0;
  std::vector<std::size_t> positions;
};

/// A stateless scorer; safe to call from any thread.
class FuzzyMatch {
 public:
  /// Nothing when the folded query is not a subsequence of the folded candidate; 0 for a query
  /// that folds to nothing; otherwise the score, at least 1 per query character.
  static std::optional<std::int64_t> score(std::string_view query, std::string_view candidate);
  /// The same score for a query folded in advance; the candidate is folded only when it must
  /// be, and not kept.
  static std::optional<std::int64_t> score(const FoldedText& query, std::string_view candidate);
  /// The same score with the characters it matched, on texts folded in advance.
  static std::optional<FuzzyResult> match(const FoldedText& query, const FoldedText& candidate);
  /// The original bytes of the matched characters, adjacent ones merged into one range.
  static std::vector<TextRange> matchedBytes(const FoldedText& candidate,
                                             const std::vector<std::size_t>& positions);
};

}  // namespace tolvane
