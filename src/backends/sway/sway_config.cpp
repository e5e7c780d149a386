// Reading the user's key bindings from sway's configuration text, and comparing combos the way
// sway matches them.
#include <algorithm>
#include <cctype>
#include <set>

#include "backends/sway/sway_bindings.h"

namespace tolvane::sway {
namespace {

/// A logical line longer than this (after continuation and variables) is not read: no real
/// binding needs it, and it keeps substitution from growing without bound.
constexpr std::size_t kMaxLineBytes = 64u << 10;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The configuration's commands: continued lines joined, blank lines and comments left out.
std::vector<std::string> logicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const bool continues = !line.empty() && line.back() == '\\';
    if (continues) line.remove_suffix(1);
    if (current.size() + line.size() <= kMaxLineBytes) current.append(line);
    if (continues && !text.empty()) continue;
    const std::string_view command = trimmed(current);
    if (!command.empty() && command.front() != '#') lines.emplace_back(command);
    current.clear();
  }
  return lines;
}

// The configuration's variables, in the order sway meets them.
class Variables {
 public:
  void set(std::string name, std::string value) {
    for (auto& [known, known_value] : values_) {
      if (known == name) {
        known_value = std::move(value);
        return;
      }
    }
    values_.emplace_back(std::move(name), std::move(value));
    // The longest name that matches wins, so "$mod2" is not read as "$mod" then "2".
    std::stable_sort(values_.begin(), values_.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  }

  /// `text` with each variable replaced once by its value; absent when it grows too long.
  std::optional<std::string> substituted(std::string_view text) const {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
      const auto found = text[at] != '$'
                             ? values_.end()
                             : std::find_if(values_.begin(), values_.end(), [&](const auto& v) {
                                 return text.compare(at, v.first.size(), v.first) == 0;
                               });
      if (found == values_.end()) {
        out.push_back(text[at++]);
      } else {
        out.append(found->second);
        at += found->first.size();
      }
      if (out.size() > kMaxLineBytes) return std::nullopt;
    }
    return out;
  }

 private:
  std::vector<std::pair<std::string, std::string>> values_;
};

// The words of a command: split on blanks, quotes grouping and removed.
std::vector<std::string> words(std::string_view command) {
  std::vector<std::string> out;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (const char c : command) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word.push_back(c);
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (isSpace(c)) {
      if (inWord) out.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  if (inWord) out.push_back(std::move(word));
  return out;
}

// Records what one whole command (its blocks' headers prepended) sets or binds.
void readCommand(std::string_view command, Variables& variables, std::vector<std::string>& combos) {
  if (command.substr(0, 4) == "set " || command.substr(0, 4) == "set\t") {
    const std::string_view rest = trimmed(command.substr(4));
    const std::size_t nameEnd = std::min(rest.find_first_of(" \t"), rest.size());
    if (rest.empty() || rest.front() != '$' || nameEnd == rest.size()) return;
    if (auto value = variables.substituted(trimmed(rest.substr(nameEnd)))) {
      variables.set(std::string(rest.substr(0, nameEnd)), std::move(*value));
    }
    return;
  }
  const auto expanded = variables.substituted(command);
  if (!expanded) return;
  const std::vector<std::string> parts = words(*expanded);
  // Bindings of other modes read "mode <name> bindsym …" here and are left out.
  if (parts.empty() || parts.front() != "bindsym") return;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i] == "--release") return;
    if (parts[i].substr(0, 2) == "--") continue;
    combos.push_back(parts[i]);
    return;
  }
}

// The command a line inside blocks stands for; absent when it grows too long.
std::optional<std::string> joined(const std::vector<std::string>& headers, std::string_view line) {
  std::size_t size = line.size();
  for (const std::string& header : headers) size += header.size() + 1;
  if (size > kMaxLineBytes) return std::nullopt;
  std::string out;
  for (const std::string& header : headers) out.append(header).push_back(' ');
  out.append(line);
  return out;
}

// A combo's keys as sway matches them: modifiers under one name each, then the other keys.
std::set<std::string> comboKeys(std::string_view combo) {
  static const std::pair<std::string_view, std::string_view> kAliases[] = {
      {"control", "ctrl"}, {"alt", "mod1"}, {"super", "mod4"}, {"caps", "lock"}};
  std::set<std::string> keys;
  while (!combo.empty()) {
    const std::size_t end = std::min(combo.find('+'), combo.size());
    std::string key = lowered(combo.substr(0, end));
    for (const auto& [alias, name] : kAliases) {
      if (key == alias) key = name;
    }
    if (!key.empty()) keys.insert(std::move(key));
    combo.remove_prefix(std::min(end + 1, combo.size()));
  }
  return keys;
}

}  // namespace

std::vector<std::string> configuredCombos(std::string_view configText) {
  const std::vector<std::string> lines = logicalLines(configText);
  Variables variables;
  // The open blocks' headers, outermost first: sway prepends them to each line inside.
  std::vector<std::string> headers;
  std::vector<std::string> combos;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line == "}") {
      if (!headers.empty()) headers.pop_back();
    } else if (line.back() == '{') {
      headers.emplace_back(trimmed(line.substr(0, line.size() - 1)));
    } else if (i + 1 < lines.size() && lines[i + 1] == "{") {
      headers.emplace_back(line);  // a block whose brace opens on the next line
      ++i;
    } else {
      if (const auto command = joined(headers, line)) readCommand(*command, variables, combos);
    }
  }
  return combos;
}

bool sameCombo(std::string_view a, std::string_view b) {
  return comboKeys(trimmed(a)) == comboKeys(trimmed(b));
}

}  // namespace tolvane::sway
