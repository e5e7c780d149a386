// Ranking lines with the palette's folding and scorer, read and scored block by block.
//
// The ranking is rankCandidates' (palette_model.cpp): every line scored by FuzzyMatch, then a
// stable sort by score, so that equal scores keep the input order. Only the matches are kept,
// each block's in one string, and the sort moves small references to them.
#include "palette/palette_filter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "palette/fuzzy_match.h"
#include "palette/palette_text.h"

namespace tolvane {

namespace {

// Lines are handed to the scorers in blocks of about this many bytes; an input that fits in
// one is scored on the calling thread alone, without starting any.
constexpr std::size_t kBlockBytes = 256 * 1024;
constexpr unsigned kMaxThreads = 8;

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

/// Blocks of whole lines from a descriptor, each line ending in '\n' and cut after
/// kFilterLineBytes + 1 bytes (one past the limit tells whether the cut falls inside a
/// character); the rest of a long line is read and dropped.
class LineBlocks {
 public:
  explicit LineBlocks(int input) : input_(input), buffer_(64 * 1024) {}

  /// The next block into `block`; false once the input is exhausted.
  bool next(std::string& block) {
    block.clear();
    // A block ends only after a line feed, so that no line is split between two.
    while (block.size() < kBlockBytes || lineBytes_ > 0) {
      if (!fill()) {
        finishLastLine(block);
        break;
      }
      take(block);
    }
    return !block.empty();
  }
  bool failed() const { return failed_; }
  bool ended() const { return ended_ && start_ == end_; }

 private:
  // Whether bytes wait in the buffer, reading more when none do.
  bool fill() {
    if (start_ < end_) return true;
    while (!ended_) {
      const ssize_t n = ::read(input_, buffer_.data(), buffer_.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed_ = n < 0;
        ended_ = true;
        break;
      }
      start_ = 0;
      end_ = static_cast<std::size_t>(n);
      return true;
    }
    return false;
  }

  // Moves buffered bytes into `block` up to and including the next line feed.
  void take(std::string& block) {
    const char* from = buffer_.data() + start_;
    const auto* newline = static_cast<const char*>(std::memchr(from, '\n', end_ - start_));
    const std::size_t length = newline ? static_cast<std::size_t>(newline - from) : end_ - start_;
    const std::size_t room = kFilterLineBytes + 1 - std::min(lineBytes_, kFilterLineBytes + 1);
    block.append(from, std::min(length, room));
    lineBytes_ += length;
    start_ += newline ? length + 1 : length;
    if (newline) {
      block.push_back('\n');
      lineBytes_ = 0;
    }
  }

  // A last line without its line feed ends with the input.
  void finishLastLine(std::string& block) {
    if (lineBytes_ == 0) return;
    block.push_back('\n');
    lineBytes_ = 0;
  }

  const int input_;
  std::vector<char> buffer_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  std::size_t lineBytes_ = 0;
  bool ended_ = false;
  bool failed_ = false;
};

struct Hit {
  std::int64_t score = 0;
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
};

/// One block's matching lines, as filterLine makes them, in input order.
struct ScoredBlock {
  std::string text;
  std::vector<Hit> hits;
};

/// The score of one line, or nothing when it does not match.
std::optional<std::int64_t> lineScore(const FoldedText& query, std::string_view line) {
  if (query.empty()) return 0;
  return FuzzyMatch::score(query, line);
}

ScoredBlock scoreBlock(const FoldedText& query, std::string_view block) {
  ScoredBlock scored;
  std::string repaired;
  for (std::size_t at = 0; at < block.size();) {
    const std::size_t newline = block.find('\n', at);
    std::string_view line = block.substr(at, newline - at);
    at = newline + 1;
    // ASCII needs no repair, and its every byte is a character boundary.
    if (isAscii(line)) {
      line = line.substr(0, kFilterLineBytes);
    } else {
      repaired = filterLine(line);
      line = repaired;
    }
    const auto score = lineScore(query, line);
    if (!score) continue;
    scored.hits.push_back({*score, static_cast<std::uint32_t>(scored.text.size()),
                           static_cast<std::uint32_t>(line.size())});
    scored.text.append(line);
  }
  return scored;
}

/// Scores the blocks of `lines` on `threads` threads, the calling one among them; the results
/// stand in input order.
class BlockScoring {
 public:
  BlockScoring(const FoldedText& query, LineBlocks& lines) : query_(query), lines_(lines) {}

  std::vector<ScoredBlock> run(unsigned threads) {
    std::string first;
    if (lines_.next(first)) store(0, scoreBlock(query_, first));
    next_ = 1;
    if (!lines_.ended()) {
      std::vector<std::jthread> helpers;
      for (unsigned i = 1; i < threads; ++i) helpers.emplace_back([this] { work(); });
      work();
    }
    return std::move(results_);
  }

 private:
  void work() {
    std::string block;
    for (;;) {
      std::size_t index = 0;
      {
        std::lock_guard guard(readLock_);
        if (!lines_.next(block)) return;
        index = next_++;
      }
      store(index, scoreBlock(query_, block));
    }
  }

  void store(std::size_t index, ScoredBlock scored) {
    std::lock_guard guard(resultsLock_);
    if (results_.size() <= index) results_.resize(index + 1);
    results_[index] = std::move(scored);
  }

  const FoldedText& query_;
  LineBlocks& lines_;
  std::mutex readLock_;
  std::size_t next_ = 0;
  std::mutex resultsLock_;
  std::vector<ScoredBlock> results_;
};

struct HitRef {
  std::int64_t score;
  std::uint32_t block;
  std::uint32_t hit;
};

bool writeRanked(const std::vector<ScoredBlock>& blocks, std::FILE* output) {
  std::vector<HitRef> ranked;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    for (std::size_t h = 0; h < blocks[b].hits.size(); ++h) {
      ranked.push_back(
          {blocks[b].hits[h].score, static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(h)});
    }
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const HitRef& a, const HitRef& b) { return a.score > b.score; });
  for (const auto& ref : ranked) {
    const ScoredBlock& block = blocks[ref.block];
    const Hit& hit = block.hits[ref.hit];
    std::fwrite(block.text.data() + hit.offset, 1, hit.length, output);
    std::fputc('\n', output);
  }
  return std::fflush(output) == 0 && !std::ferror(output);
}

}  // namespace

std::string filterLine(std::string_view raw) {
  return repairedUtf8(cutOnCharacterBoundary(raw, kFilterLineBytes));
}

std::vector<std::string> filterLines(std::string_view query, std::vector<std::string> lines) {
  const auto folded = FoldedText::fold(query);
  std::vector<std::pair<std::int64_t, std::size_t>> matches;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (const auto score = lineScore(folded, lines[i])) matches.emplace_back(*score, i);
  }
  std::stable_sort(matches.begin(), matches.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> ranked;
  ranked.reserve(matches.size());
  for (const auto& match : matches) ranked.push_back(std::move(lines[match.second]));
  return ranked;
}

bool filterStream(std::string_view query, int input, std::FILE* output) {
  const auto folded = FoldedText::fold(query);
  LineBlocks lines(input);
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
  const auto blocks = BlockScoring(folded, lines).run(threads);
  const bool written = writeRanked(blocks, output);
  return written && !lines.failed();
}

}  // namespace tolvane
