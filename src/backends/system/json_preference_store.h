// The real preference domain: one JSON document in the user's configuration folder, rewritten
// atomically on every change.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/clock.h"
#include "base/files.h"
#include "platform/preferences.h"

namespace tolvane::system {

/// The content of a preference file, split into what readers may see and what they may not.
struct PreferenceDocument {
  /// Members whose JSON type maps onto a PrefValue: true/false, an integer within the signed
  /// 64-bit range, a string, or an array of strings only.
  std::map<std::string, PrefValue, std::less<>> values;
  /// Every other member (fractions, null, objects, mixed arrays, integers past the signed
  /// range), kept as parsed so that a rewrite does not lose a newer version's settings.
  std::map<std::string, nlohmann::json, std::less<>> kept;
  /// Keys of members that are not valid JSON on their own (a number past the range of a
  /// double, a damaged value) in a file that is otherwise one object. Never written back.
  std::vector<std::string> dropped;

  bool operator==(const PreferenceDocument&) const = default;
};

/// Documents nested deeper than this are refused whole; nothing we write nests past depth 2,
/// and deeper input would only cost stack in the recursive parts of the JSON library.
inline constexpr int kMaxPreferenceDocumentDepth = 256;

/// Preference files larger than this are set aside unread; ours stay under a few kilobytes.
inline constexpr std::size_t kMaxPreferenceFileBytes = 4 * 1024 * 1024;

/// Parses a preference file. Blank text is an empty document; anything that is not one JSON
/// object (garbage, a missing closing brace, another top-level type, too deep) gives nothing.
/// In an object that does not parse as a whole, each member is parsed on its own and the ones
/// that fail are listed in `dropped`.
std::optional<PreferenceDocument> parsePreferenceDocument(std::string_view text);

/// The file text for `document`: one JSON object with sorted keys, ending in a line feed.
/// Strings that are not valid UTF-8 are written with replacement characters.
std::string serializePreferenceDocument(const PreferenceDocument& document);

/// The preference domain backed by the JSON file at `path`. Thread-safe.
///
/// A file that is not one JSON object, or is larger than kMaxPreferenceFileBytes, is moved aside
/// to "<path>.corrupt-<UTC timestamp>" and the domain starts empty; members that do not parse
/// on their own are dropped and the rest kept. A FIFO, device or folder at `path` is left alone
/// and changes live only in memory, as they do when a file to set aside cannot be moved or a
/// file cannot be read: such a file is never overwritten. A failed save loses nothing in memory;
/// the next successful save writes every value.
class JsonPreferenceStore final : public PreferenceStore {
 public:
  /// Receives one line per noteworthy event: a file moved aside, values skipped, a save failed.
  using Diagnostic = std::function<void(const std::string& line)>;

  /// Loads `path` at once. The clock dates the name of a corrupt file moved aside.
  JsonPreferenceStore(FileSystem& files, const Clock& clock, std::string path,
                      Diagnostic diagnostic);
  JsonPreferenceStore(const JsonPreferenceStore&) = delete;
  JsonPreferenceStore& operator=(const JsonPreferenceStore&) = delete;

  std::optional<PrefValue> value(std::string_view key) const override;
  void set(std::string_view key, PrefValue v) override;
  void remove(std::string_view key) override;

  /// Reads the file again after another program (or the user, by hand) changed it, and returns
  /// whether any readable value differs from memory. A missing or unreadable file changes
  /// nothing. A file that is not a JSON object is left in place and memory kept; the next save
  /// first moves it aside as a corrupt file, so the user's text is never lost.
  bool reload();

  /// False when changes can no longer reach the file (see the class comment).
  bool persists() const;

 private:
  void load();
  void refuseUnread(ReadFailure failure);
  void setAside(const std::string& reason);
  std::optional<std::string> availableCorruptName() const;
  // Returns the diagnostic line to emit once the lock is released, if the save failed.
  std::optional<std::string> saveLocked();
  void diagnose(const std::string& line) const;

  FileSystem& files_;
  const Clock& clock_;
  const std::string path_;
  const Diagnostic diagnostic_;

  mutable std::mutex lock_;
  PreferenceDocument document_;
  bool persists_ = true;
  /// The file was found changed and not parseable by reload().
  bool unparsedOnDisk_ = false;
};

}  // namespace tolvane::system
