// Version runs, their piecewise comparison and the choice of the release to offer.
#include "updates/appcast.h"

#include <algorithm>

namespace tolvane {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Bytes of UTF-8 sequences count as letters, so a non-ASCII tag still forms a run.
bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80;
}

char lowered(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// One run of a version; `end` stands for every run past the last one.
struct Run {
  enum class Kind { end, number, letters };
  Kind kind = Kind::end;
  // Numbers without leading zeros (so "0" is empty), letters lower-cased.
  std::string text;
};

std::vector<Run> runsOf(std::string_view version) {
  std::vector<Run> runs;
  std::size_t i = 0;
  while (i < version.size()) {
    const char c = version[i];
    const bool digit = isDigit(c);
    if (!digit && !isLetter(c)) {
      ++i;
      continue;
    }
    Run run{digit ? Run::Kind::number : Run::Kind::letters, {}};
    for (; i < version.size() && (digit ? isDigit(version[i]) : isLetter(version[i])); ++i) {
      if (digit && run.text.empty() && version[i] == '0') continue;
      run.text.push_back(lowered(version[i]));
    }
    runs.push_back(std::move(run));
  }
  return runs;
}

int sign(int value) {
  return (value > 0) - (value < 0);
}

// Numbers of any length compare without overflow: without leading zeros the longer one is
// larger, and equal lengths compare digit by digit.
int compareNumbers(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return sign(a.compare(b));
}

int compareRuns(const Run& a, const Run& b) {
  using Kind = Run::Kind;
  if (a.kind == Kind::letters && b.kind == Kind::letters) return sign(a.text.compare(b.text));
  // A missing run reads as zero against a number.
  if (a.kind != Kind::letters && b.kind != Kind::letters) return compareNumbers(a.text, b.text);
  // Letters against a number or the end: the letters mark a pre-release, which is older.
  return a.kind == Kind::letters ? -1 : 1;
}

bool isUsableVersion(std::string_view version) {
  return !version.empty() && version.size() <= kMaxVersionBytes &&
         std::none_of(version.begin(), version.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

}  // namespace

int compareVersions(std::string_view a, std::string_view b) {
  const auto runsA = runsOf(a);
  const auto runsB = runsOf(b);
  const Run end;
  for (std::size_t i = 0; i < std::max(runsA.size(), runsB.size()); ++i) {
    const Run& runA = i < runsA.size() ? runsA[i] : end;
    const Run& runB = i < runsB.size() ? runsB[i] : end;
    if (const int order = compareRuns(runA, runB); order != 0) return order;
  }
  return 0;
}

std::string_view comparableVersion(const FeedItem& item) {
  return item.version.empty() ? item.shortVersion : item.version;
}

std::string_view displayVersion(const FeedItem& item) {
  return item.shortVersion.empty() ? item.version : item.shortVersion;
}

std::optional<FeedItem> newestUpdate(const std::vector<FeedItem>& items,
                                     std::string_view installedVersion) {
  const FeedItem* newest = nullptr;
  for (const auto& item : items) {
    if (!isUsableVersion(comparableVersion(item)) || !isUsableVersion(displayVersion(item))) {
      continue;
    }
    const std::string_view candidate = newest ? comparableVersion(*newest) : installedVersion;
    if (compareVersions(comparableVersion(item), candidate) > 0) newest = &item;
  }
  if (!newest) return std::nullopt;
  return *newest;
}

}  // namespace tolvane
