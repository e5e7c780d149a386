// Writing and removing the XDG autostart entry.
#include "backends/system/autostart_login_items.h"

#include <utility>

namespace tolvane::system {

namespace {

// Characters that force an Exec argument into double quotes, as freedesktop.org's rules for
// the Exec key list them; launchers split unquoted arguments at the others.
constexpr std::string_view kReservedInExec = " \t\n\"'\\><~|&;$*?#()`";
// Inside double quotes these four still need a backslash.
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

// The escaping every string value of a desktop entry gets, applied after the Exec quoting;
// a backslash from the quoting step therefore ends up doubled in the file.
std::string escapeValue(std::string_view value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string execArgument(std::string_view argument) {
  const bool quoted =
      argument.empty() || argument.find_first_of(kReservedInExec) != std::string_view::npos;
  std::string out;
  if (quoted) out += '"';
  for (char c : argument) {
    if (quoted && kEscapedInQuotes.find(c) != std::string_view::npos) out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  if (quoted) out += '"';
  return out;
}

std::string autostartEntry(std::string_view executablePath) {
  std::string entry = "[Desktop Entry]\n";
  entry += "Type=Application\n";
  entry += "Name=Tolvane\n";
  entry += "Comment=Window switcher\n";
  entry += "Exec=" + escapeValue(execArgument(executablePath)) + "\n";
  entry += "Terminal=false\n";
  entry += "NoDisplay=false\n";
  entry += "X-GNOME-Autostart-enabled=true\n";
  return entry;
}

AutostartLoginItems::AutostartLoginItems(FileSystem& files, std::string entryPath,
                                         std::string executablePath)
    : files_(files), entryPath_(std::move(entryPath)), executablePath_(std::move(executablePath)) {}

std::optional<std::string> AutostartLoginItems::registerApp() {
  const std::string folder = parentFolder(entryPath_);
  if (!files_.createDirectories(folder)) return "cannot create folder " + folder;
  // Atomic, so a session starting while we write never reads half an entry.
  if (!writeFileAtomically(files_, entryPath_, autostartEntry(executablePath_))) {
    return "cannot write " + entryPath_;
  }
  return std::nullopt;
}

std::optional<std::string> AutostartLoginItems::unregisterApp() {
  if (files_.remove(entryPath_)) return std::nullopt;
  // Removal also fails when the entry is already gone, which is what was asked for.
  if (!files_.exists(entryPath_)) return std::nullopt;
  return "cannot remove " + entryPath_;
}

}  // namespace tolvane::system
