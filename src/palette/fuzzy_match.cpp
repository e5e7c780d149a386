// Folding with ICU and the greedy scorer.
#include "palette/fuzzy_match.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>

namespace tolvane {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

/// ICU's grapheme iterator is costly to create; each thread keeps its own (they are not
/// thread-safe), one for the original text and one for splitting a folded character.
icu::BreakIterator& graphemeIterator(int which) {
  thread_local std::unique_ptr<icu::BreakIterator> iterators[2];
  auto& slot = iterators[which];
  if (!slot) {
    UErrorCode status = U_ZERO_ERROR;
    slot.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  }
  return *slot;
}

const icu::Normalizer2& nfd() {
  UErrorCode status = U_ZERO_ERROR;
  return *icu::Normalizer2::getNFDInstance(status);
}

const icu::Normalizer2& nfkc() {
  UErrorCode status = U_ZERO_ERROR;
  return *icu::Normalizer2::getNFKCInstance(status);
}

bool isWidthVariant(UChar32 c) {
  const auto type = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
  return type == U_DT_WIDE || type == U_DT_NARROW;
}

/// Full case folding, then width variants to their ordinary forms, then canonical
/// decomposition without the nonspacing marks. Compatibility mappings other than width stay
/// (ligatures that case folding leaves, superscripts, no-break spaces), and no locale applies.
icu::UnicodeString foldCluster(icu::UnicodeString text) {
  text.foldCase(U_FOLD_CASE_DEFAULT);
  icu::UnicodeString narrowed;
  for (int32_t i = 0; i < text.length();) {
    const UChar32 c = text.char32At(i);
    i += U16_LENGTH(c);
    icu::UnicodeString mapping;
    if (isWidthVariant(c) && nfkc().getRawDecomposition(c, mapping)) {
      narrowed += mapping;
    } else {
      narrowed += c;
    }
  }
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString decomposed = nfd().normalize(narrowed, status);
  icu::UnicodeString folded;
  for (int32_t i = 0; i < decomposed.length();) {
    const UChar32 c = decomposed.char32At(i);
    i += U16_LENGTH(c);
    if (u_charType(c) != U_NON_SPACING_MARK) folded += c;
  }
  return folded;
}

std::u32string codePoints(const icu::UnicodeString& text, int32_t start, int32_t end) {
  std::u32string out;
  for (int32_t i = start; i < end;) {
    const UChar32 c = text.char32At(i);
    i += U16_LENGTH(c);
    out.push_back(static_cast<char32_t>(c));
  }
  return out;
}

bool isPlainAscii(std::string_view text) {
  for (unsigned char c : text) {
    // CR LF is the one ASCII pair that forms a single character.
    if (c >= 0x80 || c == '\r') return false;
  }
  return true;
}

char32_t foldAscii(char c) {
  return static_cast<char32_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

}  // namespace

void FoldedText::add(std::u32string_view cluster, TextRange source) {
  if (cluster.size() == 1) {
    chars_.push_back(static_cast<std::uint32_t>(cluster[0]));
  } else {
    chars_.push_back(kCluster | static_cast<std::uint32_t>(clusters_.size()));
    clusters_.emplace_back(cluster);
  }
  sources_.push_back(source);
}

FoldedText FoldedText::fold(std::string_view text) {
  FoldedText out;
  out.chars_.reserve(text.size());
  out.sources_.reserve(text.size());
  if (isPlainAscii(text)) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      out.chars_.push_back(static_cast<std::uint32_t>(foldAscii(text[i])));
      out.sources_.push_back({i, 1});
    }
    return out;
  }
  // The byte offset where each UTF-16 unit's code point starts, and one past the end.
  icu::UnicodeString utf16;
  std::vector<std::size_t> byteAt;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    const auto start = static_cast<std::size_t>(i);
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) c = kReplacement;
    utf16 += c;
    byteAt.resize(static_cast<std::size_t>(utf16.length()), start);
  }
  byteAt.push_back(text.size());

  auto& graphemes = graphemeIterator(0);
  graphemes.setText(utf16);
  auto& parts = graphemeIterator(1);
  for (int32_t start = graphemes.first(), end = graphemes.next(); end != icu::BreakIterator::DONE;
       start = end, end = graphemes.next()) {
    const TextRange source{
        byteAt[static_cast<std::size_t>(start)],
        byteAt[static_cast<std::size_t>(end)] - byteAt[static_cast<std::size_t>(start)]};
    const UChar unit = utf16.charAt(start);
    if (end - start == 1 && unit < 0x80) {
      out.add(std::u32string(1, foldAscii(static_cast<char>(unit))), source);
      continue;
    }
    const auto folded = foldCluster(icu::UnicodeString(utf16, start, end - start));
    if (folded.isEmpty()) continue;  // a lone mark folds to nothing
    if (folded.countChar32() == 1) {
      out.add(codePoints(folded, 0, folded.length()), source);
      continue;
    }
    parts.setText(folded);
    for (int32_t a = parts.first(), b = parts.next(); b != icu::BreakIterator::DONE;
         a = b, b = parts.next()) {
      out.add(codePoints(folded, a, b), source);
    }
  }
  return out;
}

bool FoldedText::same(std::size_t i, const FoldedText& other, std::size_t j) const {
  const auto a = chars_[i];
  const auto b = other.chars_[j];
  if (((a | b) & kCluster) == 0) return a == b;
  if ((a & b & kCluster) == 0) return false;
  return clusters_[a & ~kCluster] == other.clusters_[b & ~kCluster];
}

namespace {

// The scorer proper; `positions` collects the matched characters when given.
std::optional<std::int64_t> greedyScore(const FoldedText& query, const FoldedText& candidate,
                                        std::vector<std::size_t>* positions) {
  std::int64_t score = 0;
  std::int64_t run = 0;
  std::size_t cursor = 0;
  // -2: no first match can count as adjacent to "the previous one".
  std::int64_t last = -2;
  for (std::size_t q = 0; q < query.size(); ++q) {
    std::size_t i = cursor;
    while (i < candidate.size() && !query.same(q, candidate, i)) ++i;
    if (i == candidate.size()) return std::nullopt;
    cursor = i + 1;
    const auto at = static_cast<std::int64_t>(i);
    if (at == last + 1) {
      ++run;
      score += run + 3;
    } else {
      score += 1;
      run = 0;
    }
    if (i == 0 || candidate.isSpace(i - 1)) score += 4;
    last = at;
    if (positions) positions->push_back(i);
  }
  return score;
}

}  // namespace

std::optional<std::int64_t> FuzzyMatch::score(std::string_view query, std::string_view candidate) {
  return greedyScore(FoldedText::fold(query), FoldedText::fold(candidate), nullptr);
}

std::optional<FuzzyResult> FuzzyMatch::match(const FoldedText& query, const FoldedText& candidate) {
  FuzzyResult result;
  const auto score = greedyScore(query, candidate, &result.positions);
  if (!score) return std::nullopt;
  result.score = *score;
  return result;
}

std::vector<TextRange> FuzzyMatch::matchedBytes(const FoldedText& candidate,
                                                const std::vector<std::size_t>& positions) {
  std::vector<TextRange> ranges;
  for (std::size_t position : positions) {
    const TextRange& source = candidate.source(position);
    if (!ranges.empty()) {
      auto& back = ranges.back();
      // Both halves of a character that folded to two ("ss" from ß) name the same bytes.
      if (back.start <= source.start && source.start < back.start + back.length) continue;
      if (back.start + back.length == source.start) {
        back.length += source.length;
        continue;
      }
    }
    ranges.push_back(source);
  }
  return ranges;
}

}  // namespace tolvane
