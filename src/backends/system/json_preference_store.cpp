// Reading and atomically rewriting the JSON preference file, without ever losing a value the
// file held: corrupt files are moved aside, unknown values ride along on every rewrite.
#include "backends/system/json_preference_store.h"

#include <limits>
#include <utility>

#include "diagnostics/debug_log.h"

namespace tolvane::system {

namespace {

using Json = nlohmann::json;

bool isBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// Follows JSON text a character at a time and tells the structure apart from what lies inside
// strings, escapes included.
class StructureTracker {
 public:
  /// Whether `c` is structure: outside every string, and not a string's own quote.
  bool structural(char c) {
    if (inString_) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        inString_ = false;
      }
      return false;
    }
    inString_ = c == '"';
    return !inString_;
  }

 private:
  bool inString_ = false;
  bool escaped_ = false;
};

// The JSON library recurses while copying, comparing and writing values, so an absurdly deep
// file must be refused before it is parsed. Exact for valid JSON; for invalid text the parser
// rejects it anyway.
bool nestsTooDeep(std::string_view text) {
  StructureTracker tracker;
  int depth = 0;
  for (char c : text) {
    if (!tracker.structural(c)) continue;
    if (c == '[' || c == '{') {
      if (++depth > kMaxPreferenceDocumentDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

std::optional<PrefValue> representable(const Json& member) {
  if (member.is_boolean()) return PrefValue(member.get<bool>());
  if (member.is_number_unsigned()) {
    // The parser gives every non-negative integer the unsigned type.
    const auto n = member.get<std::uint64_t>();
    if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return {};
    return PrefValue(static_cast<std::int64_t>(n));
  }
  if (member.is_number_integer()) return PrefValue(member.get<std::int64_t>());
  if (member.is_string()) return PrefValue(member.get<std::string>());
  if (!member.is_array()) return std::nullopt;
  std::vector<std::string> list;
  list.reserve(member.size());
  for (const auto& item : member) {
    if (!item.is_string()) return std::nullopt;
    list.push_back(item.get<std::string>());
  }
  return PrefValue(std::move(list));
}

Json toJson(const PrefValue& value) {
  return std::visit([](const auto& v) { return Json(v); }, value);
}

// "20261206T062952Z": the ISO 8601 basic format, which sorts like the date and needs no
// characters that some file systems or shells treat specially.
std::string compactTimestamp(double wallSeconds) {
  std::string stamp = iso8601(wallSeconds);
  std::erase_if(stamp, [](char c) { return c == '-' || c == ':'; });
  return stamp;
}

// A key as it may appear in one diagnostic line: bytes that could break the line or the list
// (controls, commas, backslashes) are escaped, and a long key is cut.
std::string printableKey(std::string_view key) {
  constexpr std::size_t kMaxKeyBytes = 64;
  std::string out;
  for (char c : key.substr(0, kMaxKeyBytes)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == ',' || c == '\\') {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  if (key.size() > kMaxKeyBytes) out += "...";
  return out;
}

std::string joined(const std::vector<std::string>& keys) {
  // A file with thousands of bad keys still makes one readable line.
  constexpr std::size_t kMaxKeysListed = 20;
  std::string list;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i == kMaxKeysListed) return list + ",+" + std::to_string(keys.size() - i) + " more";
    if (i > 0) list += ',';
    list += printableKey(keys[i]);
  }
  return list;
}

std::vector<std::string> keysOf(const std::map<std::string, Json, std::less<>>& members) {
  std::vector<std::string> keys;
  for (const auto& [key, member] : members) keys.push_back(key);
  return keys;
}

Json parseJson(std::string_view text) {
  return Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
}

// Files with a duplicate key keep the last one, as the JSON library does for a whole document.
void addMember(PreferenceDocument& document, const std::string& key, const Json& member) {
  document.values.erase(key);
  document.kept.erase(key);
  if (auto value = representable(member)) {
    document.values.emplace(key, std::move(*value));
  } else {
    document.kept.emplace(key, member);
  }
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The texts between the top-level commas of one JSON object, found by tracking strings, escapes
// and brackets only; whether each member is valid JSON is left to its own parse. Nothing when
// the text is not one object: no opening brace, no matching closing brace, or text after it.
std::optional<std::vector<std::string_view>> topLevelMembers(std::string_view text) {
  text = trimmed(text);
  if (text.starts_with("\xEF\xBB\xBF")) text = trimmed(text.substr(3));
  if (!text.starts_with('{')) return std::nullopt;
  std::vector<std::string_view> members;
  std::size_t memberStart = 1;
  StructureTracker tracker;
  int depth = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (!tracker.structural(c)) continue;
    if (c == '[' || c == '{') {
      ++depth;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    } else if (depth > 0) {
      continue;  // a comma inside a nested value
    } else if (c == ']') {
      return std::nullopt;
    } else if (c == '}' || c == ',') {
      members.push_back(text.substr(memberStart, i - memberStart));
      memberStart = i + 1;
      if (c == '}') return i + 1 == text.size() ? std::optional(members) : std::nullopt;
    }
  }
  return std::nullopt;
}

// The key of a member that did not parse, as well as it can be told: the decoded key when the
// key itself is a valid string, else the member's raw opening bytes.
std::string keyOfBrokenMember(std::string_view member) {
  constexpr std::size_t kMaxRawBytes = 32;
  member = trimmed(member);
  if (member.starts_with('"')) {
    bool escaped = false;
    for (std::size_t i = 1; i < member.size(); ++i) {
      if (escaped) {
        escaped = false;
      } else if (member[i] == '\\') {
        escaped = true;
      } else if (member[i] == '"') {
        const Json key = parseJson(member.substr(0, i + 1));
        if (key.is_string()) return key.get<std::string>();
        break;
      }
    }
  }
  return std::string(member.substr(0, kMaxRawBytes));
}

// The fallback for a document the JSON library refuses as a whole: a number out of range or a
// damaged value must cost its own member only, not every setting of the file.
std::optional<PreferenceDocument> parseMemberByMember(std::string_view text) {
  const auto members = topLevelMembers(text);
  if (!members) return std::nullopt;
  PreferenceDocument document;
  for (std::string_view member : *members) {
    // An empty member (a stray comma) holds nothing to lose.
    if (isBlank(member)) continue;
    std::string single = "{";
    single.append(member);
    single += '}';
    const Json object = parseJson(single);
    if (object.is_object() && object.size() == 1) {
      addMember(document, object.begin().key(), object.begin().value());
      continue;
    }
    std::string key = keyOfBrokenMember(member);
    document.values.erase(key);
    document.kept.erase(key);
    document.dropped.push_back(std::move(key));
  }
  return document;
}

}  // namespace

std::optional<PreferenceDocument> parsePreferenceDocument(std::string_view text) {
  if (isBlank(text)) return PreferenceDocument{};
  if (nestsTooDeep(text)) return std::nullopt;
  const Json root = parseJson(text);
  if (root.is_discarded()) return parseMemberByMember(text);
  if (!root.is_object()) return std::nullopt;
  PreferenceDocument document;
  for (const auto& [key, member] : root.items()) addMember(document, key, member);
  return document;
}

std::string serializePreferenceDocument(const PreferenceDocument& document) {
  Json root = Json::object();
  for (const auto& [key, member] : document.kept) root[key] = member;
  for (const auto& [key, value] : document.values) root[key] = toJson(value);
  // Replacing invalid UTF-8 instead of throwing: a stray byte in one value must not cost the
  // whole save.
  return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

JsonPreferenceStore::JsonPreferenceStore(FileSystem& files, const Clock& clock, std::string path,
                                         Diagnostic diagnostic)
    : files_(files), clock_(clock), path_(std::move(path)), diagnostic_(std::move(diagnostic)) {
  load();
}

void JsonPreferenceStore::load() {
  const auto read = files_.readRegularFile(path_, kMaxPreferenceFileBytes);
  if (!read.content) {
    refuseUnread(read.failure);
    return;
  }
  auto document = parsePreferenceDocument(*read.content);
  if (!document) {
    setAside("not a JSON object");
    return;
  }
  document_ = std::move(*document);
  if (!document_.dropped.empty()) {
    diagnose("preferences values dropped keys=" + joined(document_.dropped) + " path=" + path_);
  }
  if (!document_.kept.empty()) {
    diagnose("preferences values skipped keys=" + joined(keysOf(document_.kept)) +
             " path=" + path_);
  }
}

void JsonPreferenceStore::refuseUnread(ReadFailure failure) {
  switch (failure) {
    case ReadFailure::missing:
      return;
    case ReadFailure::tooLarge:
      setAside("larger than " + std::to_string(kMaxPreferenceFileBytes) + " bytes");
      return;
    case ReadFailure::notRegularFile:
      // A FIFO, device or folder is not ours to move or replace; it stays as the user made it.
      persists_ = false;
      diagnose("preferences file not a regular file path=" + path_ +
               " left in place, changes stay in memory");
      return;
    case ReadFailure::unreadable:
      // Whatever the file holds may be fine; overwriting it with the defaults would lose it.
      persists_ = false;
      diagnose("preferences file unreadable path=" + path_ + " changes stay in memory");
      return;
  }
}

void JsonPreferenceStore::setAside(const std::string& reason) {
  const auto target = availableCorruptName();
  if (target && files_.rename(path_, *target)) {
    diagnose("preferences file corrupt reason=" + reason + " movedTo=" + *target);
    return;
  }
  persists_ = false;
  diagnose("preferences file corrupt reason=" + reason + " path=" + path_ +
           " move failed, file left in place, changes stay in memory");
}

std::optional<std::string> JsonPreferenceStore::availableCorruptName() const {
  // Two corrupt files in the same second must not overwrite each other's evidence.
  const std::string base = path_ + ".corrupt-" + compactTimestamp(clock_.wallSeconds());
  if (!files_.exists(base)) return base;
  for (int n = 2; n < 100; ++n) {
    std::string candidate = base + "-" + std::to_string(n);
    if (!files_.exists(candidate)) return candidate;
  }
  return std::nullopt;
}

std::optional<PrefValue> JsonPreferenceStore::value(std::string_view key) const {
  std::lock_guard guard(lock_);
  auto it = document_.values.find(key);
  if (it == document_.values.end()) return std::nullopt;
  return it->second;
}

void JsonPreferenceStore::set(std::string_view key, PrefValue v) {
  std::optional<std::string> failure;
  {
    std::lock_guard guard(lock_);
    if (auto it = document_.kept.find(key); it != document_.kept.end()) document_.kept.erase(it);
    document_.values.insert_or_assign(std::string(key), std::move(v));
    failure = saveLocked();
  }
  if (failure) diagnose(*failure);
}

void JsonPreferenceStore::remove(std::string_view key) {
  std::optional<std::string> failure;
  {
    std::lock_guard guard(lock_);
    // An unrepresentable value under the key goes too: the caller wants the key gone.
    const auto erased =
        document_.values.erase(std::string(key)) + document_.kept.erase(std::string(key));
    if (erased == 0) return;
    failure = saveLocked();
  }
  if (failure) diagnose(*failure);
}

bool JsonPreferenceStore::persists() const {
  std::lock_guard guard(lock_);
  return persists_;
}

bool JsonPreferenceStore::reload() {
  std::optional<std::string> line;
  bool changed = false;
  {
    std::lock_guard guard(lock_);
    if (!persists_) return false;
    const auto read = files_.readRegularFile(path_, kMaxPreferenceFileBytes);
    // A file removed by hand is written again, whole, by the next change; until then memory
    // holds every setting, so nothing is lost by waiting.
    if (!read.content) return false;
    auto document = parsePreferenceDocument(*read.content);
    if (!document) {
      // Left as it is while the user may still be editing it; the next save moves it aside
      // first, so their text is never simply overwritten.
      unparsedOnDisk_ = true;
      line = "preferences file changed on disk but is not a JSON object path=" + path_ +
             " settings in memory kept";
    } else {
      unparsedOnDisk_ = false;
      changed = document->values != document_.values;
      document_ = std::move(*document);
    }
  }
  if (line) diagnose(*line);
  return changed;
}

std::optional<std::string> JsonPreferenceStore::saveLocked() {
  if (!persists_) return std::nullopt;
  if (unparsedOnDisk_) {
    unparsedOnDisk_ = false;
    const auto target = availableCorruptName();
    if (!target || !files_.rename(path_, *target)) {
      persists_ = false;
      return "preferences file not a JSON object path=" + path_ +
             " move failed, file left in place, changes stay in memory";
    }
  }
  // Saving under the lock keeps the file in step with memory: two threads' saves cannot land
  // in the opposite order of their changes.
  const std::string text = serializePreferenceDocument(document_);
  if (files_.createDirectories(parentFolder(path_)) && writeFileAtomically(files_, path_, text)) {
    return std::nullopt;
  }
  return "preferences save failed path=" + path_ + " changes stay in memory until the next save";
}

void JsonPreferenceStore::diagnose(const std::string& line) const {
  if (diagnostic_) diagnostic_(line);
}

}  // namespace tolvane::system
