// Folding with ICU and the greedy scorer.
#include "palette/fuzzy_match.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>
#include <string_view>
#include <unordered_map>

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

/// The characters one original character folds to. Titles repeat the same few characters, so
/// each thread remembers the answers; the memory is bounded by starting over when full.
const std::vector<std::u32string>& foldedCharacters(std::u16string_view cluster) {
  constexpr std::size_t kRemembered = 4096;
  thread_local std::unordered_map<std::u16string, std::vector<std::u32string>> remembered;
  std::u16string key(cluster);
  if (auto found = remembered.find(key); found != remembered.end()) return found->second;
  if (remembered.size() >= kRemembered) remembered.clear();
  const auto folded =
      foldCluster(icu::UnicodeString(cluster.data(), static_cast<int32_t>(cluster.size())));
  std::vector<std::u32string> characters;
  if (folded.countChar32() == 1) {
    characters.push_back(codePoints(folded, 0, folded.length()));
  } else if (!folded.isEmpty()) {
    auto& parts = graphemeIterator(1);
    parts.setText(folded);
    for (int32_t a = parts.first(), b = parts.next(); b != icu::BreakIterator::DONE;
         a = b, b = parts.next()) {
      characters.push_back(codePoints(folded, a, b));
    }
  }
  return remembered.emplace(std::move(key), std::move(characters)).first->second;
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
  // The text in UTF-16 for ICU, and the byte offset where each unit's code point starts (and
  // one past the end).
  std::u16string utf16;
  utf16.reserve(text.size());
  std::vector<std::size_t> byteAt;
  byteAt.reserve(text.size() + 1);
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    const auto start = static_cast<std::size_t>(i);
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) c = kReplacement;
    if (U_IS_BMP(c)) {
      utf16.push_back(static_cast<char16_t>(c));
    } else {
      utf16.push_back(U16_LEAD(c));
      utf16.push_back(U16_TRAIL(c));
    }
    byteAt.resize(utf16.size(), start);
  }
  byteAt.push_back(text.size());

  auto& graphemes = graphemeIterator(0);
  const icu::UnicodeString alias(false, utf16.data(), static_cast<int32_t>(utf16.size()));
  graphemes.setText(alias);
  const auto units = static_cast<int32_t>(utf16.size());
  const auto unitAt = [&utf16](int32_t i) { return utf16[static_cast<std::size_t>(i)]; };
  for (int32_t start = 0, end = 0; start < units; start = end) {
    // Two ASCII characters other than CR LF never share a cluster, so ICU is asked only where
    // the text leaves ASCII: most titles are mostly ASCII.
    const bool asciiPair = unitAt(start) < 0x80 && unitAt(start) != '\r' &&
                           (start + 1 == units || unitAt(start + 1) < 0x80);
    end = asciiPair ? start + 1 : graphemes.following(start);
    const TextRange source{
        byteAt[static_cast<std::size_t>(start)],
        byteAt[static_cast<std::size_t>(end)] - byteAt[static_cast<std::size_t>(start)]};
    const char16_t unit = unitAt(start);
    if (end - start == 1 && unit < 0x80) {
      const char32_t folded = foldAscii(static_cast<char>(unit));
      out.add(std::u32string_view(&folded, 1), source);
      continue;
    }
    const std::u16string_view cluster(utf16.data() + start, static_cast<std::size_t>(end - start));
    // A lone mark folds to nothing and adds no character.
    for (const auto& character : foldedCharacters(cluster)) out.add(character, source);
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

// Plain ASCII text as it folds: one character per byte, letters in lower case. What the match
// loop needs of FoldedText, without building one.
struct AsciiText {
  std::string_view text;
  std::size_t size() const { return text.size(); }
  bool same(std::size_t i, const FoldedText& other, std::size_t j) const;
  bool isSpace(std::size_t i) const { return text[i] == ' '; }
};

// The scorer proper, on any candidate that answers size, same and isSpace as FoldedText does;
// `positions` collects the matched characters when given.
template <typename Candidate>
std::optional<std::int64_t> greedyScore(const FoldedText& query, const Candidate& candidate,
                                        std::vector<std::size_t>* positions) {
  std::int64_t score = 0;
  std::int64_t run = 0;
  std::size_t cursor = 0;
  // -2: no first match can count as adjacent to "the previous one".
  std::int64_t last = -2;
  for (std::size_t q = 0; q < query.size(); ++q) {
    std::size_t i = cursor;
    while (i < candidate.size() && !candidate.same(i, query, q)) ++i;
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

bool AsciiText::same(std::size_t i, const FoldedText& other, std::size_t j) const {
  return other.codePoint(j) == foldAscii(text[i]);
}

std::optional<std::int64_t> FuzzyMatch::score(std::string_view query, std::string_view candidate) {
  return score(FoldedText::fold(query), candidate);
}

std::optional<std::int64_t> FuzzyMatch::score(const FoldedText& query, std::string_view candidate) {
  // An ASCII candidate folds to its bytes in lower case, one character each, so the match loop
  // reads it in place. A query character that is not a single ASCII code point meets none of
  // them, as it would meet none of the folded ones.
  if (isPlainAscii(candidate)) return greedyScore(query, AsciiText{candidate}, nullptr);
  return greedyScore(query, FoldedText::fold(candidate), nullptr);
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
