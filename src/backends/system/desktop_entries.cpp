// Reading, matching and starting desktop entries.
#include "backends/system/desktop_entries.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace tolvane::system {

namespace fs = std::filesystem;

namespace {

/// Desktop files and icons are small; anything larger is not one and is not read whole.
constexpr std::uintmax_t kMaxFileBytes = 4 << 20;

constexpr std::string_view kPNGSignature = "\x89PNG\r\n\x1a\n";

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

/// Undoes the escapes of a string value: \s \n \t \r \\ (others stay as they are, for the
/// Exec parser to interpret).
std::string unescapeValue(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (const char next = value[++i]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        out += '\\', out += next;
    }
  }
  return out;
}

std::optional<std::string> readSmallFile(const fs::path& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error || size > kMaxFileBytes) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return std::move(text).str();
}

/// Splits an Exec value into arguments, undoing its quoting; nothing when a quote is open.
std::optional<std::vector<std::string>> splitExec(std::string_view exec) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < exec.size() &&
                 std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
        current += exec[++i];
      } else {
        current += c;
      }
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (inArgument) args.push_back(std::move(current));
      current.clear();
      inArgument = false;
    } else if (c == '"') {
      quoted = inArgument = true;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (quoted) return std::nullopt;
  if (inArgument) args.push_back(std::move(current));
  return args;
}

}  // namespace

// --- Parsing --------------------------------------------------------------------------------

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text) {
  DesktopEntry entry;
  bool inMainGroup = false;
  bool isApplication = false;
  bool hidden = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    const auto equals = line.find('=');
    if (!inMainGroup || equals == std::string_view::npos) continue;
    const std::string_view key = trim(line.substr(0, equals));
    const std::string value = unescapeValue(trim(line.substr(equals + 1)));
    if (key == "Type") {
      isApplication = value == "Application";
    } else if (key == "Hidden") {
      hidden = value == "true";
    } else if (key == "NoDisplay") {
      entry.noDisplay = value == "true";
    } else if (key == "Name") {
      entry.name = value;
    } else if (key.starts_with("Name[") && key.ends_with("]")) {
      entry.localizedNames[std::string(key.substr(5, key.size() - 6))] = value;
    } else if (key == "StartupWMClass") {
      entry.startupWMClass = value;
    } else if (key == "Exec") {
      entry.exec = value;
    } else if (key == "Icon") {
      entry.icon = value;
    }
  }
  if (!isApplication || hidden || entry.name.empty()) return std::nullopt;
  return entry;
}

std::optional<std::vector<std::string>> execArguments(const DesktopEntry& entry,
                                                      std::string_view localizedName) {
  auto split = splitExec(entry.exec);
  if (!split || split->empty()) return std::nullopt;
  std::vector<std::string> args;
  for (const auto& arg : *split) {
    if (arg == "%i") {
      if (!entry.icon.empty()) args.insert(args.end(), {"--icon", entry.icon});
      continue;
    }
    std::string expanded;
    for (std::size_t i = 0; i < arg.size(); ++i) {
      if (arg[i] != '%' || i + 1 == arg.size()) {
        expanded += arg[i];
        continue;
      }
      switch (arg[++i]) {
        case '%':
          expanded += '%';
          break;
        case 'c':
          expanded += localizedName;
          break;
        case 'k':
          expanded += entry.path;
          break;
        default:
          break;  // files, URLs and the deprecated codes: started without any
      }
    }
    // An argument that was only a file code disappears instead of becoming "".
    if (!expanded.empty() || arg.empty() || arg.find('%') == std::string::npos) {
      args.push_back(std::move(expanded));
    }
  }
  if (args.empty() || args.front().empty()) return std::nullopt;
  return args;
}

std::vector<std::string> localeKeys(std::string_view locale) {
  std::string_view modifier;
  if (const auto at = locale.find('@'); at != std::string_view::npos) {
    modifier = locale.substr(at + 1);
    locale = locale.substr(0, at);
  }
  locale = locale.substr(0, locale.find('.'));
  if (locale.empty() || locale == "C" || locale == "POSIX") return {};
  const auto underscore = locale.find('_');
  const std::string language(locale.substr(0, underscore));
  const std::string country =
      underscore == std::string_view::npos ? "" : std::string(locale.substr(underscore + 1));
  std::vector<std::string> keys;
  if (!country.empty() && !modifier.empty()) {
    keys.push_back(language + "_" + country + "@" + std::string(modifier));
  }
  if (!country.empty()) keys.push_back(language + "_" + country);
  if (!modifier.empty()) keys.push_back(language + "@" + std::string(modifier));
  keys.push_back(language);
  return keys;
}

// --- Starting programs ----------------------------------------------------------------------

bool isExecutable(const std::string& program) {
  if (program.empty()) return false;
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!dirs.empty()) {
    const auto colon = dirs.find(':');
    const std::string dir(dirs.substr(0, colon));
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
  }
  return false;
}

bool launchDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || !isExecutable(argv.front())) return false;
  // setsid -f forks the program into a new session and exits at once: the program is nobody's
  // child here, keeps default signal dispositions, and the only wait is for setsid itself.
  std::vector<std::string> command{"setsid", "-f"};
  command.insert(command.end(), argv.begin(), argv.end());
  std::vector<char*> args;
  for (auto& arg : command) args.push_back(arg.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // Tolvane keeps SIGCONT blocked to notice its own stops; the program must not inherit that.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int failed = posix_spawnp(&pid, "setsid", &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// --- The installed entries ------------------------------------------------------------------

DesktopEntries::DesktopEntries(std::vector<std::string> folders, std::string locale)
    : folders_(std::move(folders)), localeKeys_(localeKeys(locale)) {}

std::vector<std::string> DesktopEntries::defaultFolders() {
  std::vector<std::string> folders;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (dataHome && *dataHome) {
    folders.push_back(std::string(dataHome) + "/applications");
  } else if (home && *home) {
    folders.push_back(std::string(home) + "/.local/share/applications");
  }
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  std::string_view dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
  while (!dirs.empty()) {
    const auto colon = dirs.find(':');
    const auto dir = dirs.substr(0, colon);
    if (!dir.empty()) folders.push_back(std::string(dir) + "/applications");
    dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
  }
  return folders;
}

std::string DesktopEntries::defaultLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* value = std::getenv(name); value && *value) return value;
  }
  return {};
}

bool DesktopEntries::foldersChanged() const {
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    std::error_code error;
    const auto time = fs::last_write_time(folders_[i], error);
    if ((error ? fs::file_time_type::min() : time) != scannedTimes_[i]) return true;
  }
  return false;
}

void DesktopEntries::scan() {
  entries_.clear();
  scannedTimes_.clear();
  std::vector<std::string> seen;
  for (const auto& folder : folders_) {
    std::error_code error;
    const auto time = fs::last_write_time(folder, error);
    scannedTimes_.push_back(error ? fs::file_time_type::min() : time);
    if (error) continue;
    const auto options = fs::directory_options::skip_permission_denied;
    for (fs::recursive_directory_iterator it(folder, options, error), end; !error && it != end;
         it.increment(error)) {
      if (it->path().extension() != ".desktop" || !it->is_regular_file(error)) continue;
      std::string id = fs::relative(it->path(), folder, error).replace_extension().string();
      std::replace(id.begin(), id.end(), '/', '-');
      if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
      seen.push_back(id);  // an earlier folder's file hides this one, even an unusable one
      auto entry = atPath(it->path().string());
      if (!entry) continue;
      entry->id = std::move(id);
      entries_.push_back(std::move(*entry));
    }
  }
  scanned_ = true;
}

template <class Find>
const DesktopEntry* DesktopEntries::lookup(Find find) {
  if (!scanned_) scan();
  if (const DesktopEntry* found = find()) return found;
  if (!foldersChanged()) return nullptr;
  scan();
  return find();
}

const std::vector<DesktopEntry>& DesktopEntries::all() {
  if (!scanned_ || foldersChanged()) scan();
  return entries_;
}

const DesktopEntry* DesktopEntries::byID(std::string_view id) {
  if (id.empty()) return nullptr;
  return lookup([&]() -> const DesktopEntry* {
    for (const auto& entry : entries_) {
      if (entry.id == id) return &entry;
    }
    return nullptr;
  });
}

const DesktopEntry* DesktopEntries::byWMClass(std::string_view instance,
                                              std::string_view windowClass) {
  if (instance.empty() && windowClass.empty()) return nullptr;
  return lookup([&]() -> const DesktopEntry* {
    const std::string_view names[] = {windowClass, instance};
    for (const auto wanted : names) {
      if (wanted.empty()) continue;
      for (const auto& entry : entries_) {
        if (equalsIgnoringCase(entry.startupWMClass, wanted)) return &entry;
      }
    }
    for (const auto wanted : names) {
      if (wanted.empty()) continue;
      for (const auto& entry : entries_) {
        if (equalsIgnoringCase(entry.id, wanted)) return &entry;
      }
    }
    return nullptr;
  });
}

std::string DesktopEntries::localizedName(const DesktopEntry& entry) const {
  for (const auto& key : localeKeys_) {
    if (auto it = entry.localizedNames.find(key); it != entry.localizedNames.end()) {
      return it->second;
    }
  }
  return entry.name;
}

std::optional<DesktopEntry> DesktopEntries::atPath(const std::string& path) const {
  const auto text = readSmallFile(path);
  if (!text) return std::nullopt;
  auto entry = parseDesktopEntry(*text);
  if (entry) {
    entry->path = path;
    entry->id = fs::path(path).stem().string();
  }
  return entry;
}

std::optional<std::string> DesktopEntries::iconPNG(const DesktopEntry& entry) const {
  if (entry.icon.empty()) return std::nullopt;
  std::vector<fs::path> candidates;
  if (entry.icon.front() == '/') {
    candidates.emplace_back(entry.icon);
  } else {
    std::string name = entry.icon;
    if (name.ends_with(".png")) name.resize(name.size() - 4);
    // Big enough for a switcher tile first, then anything that exists.
    static constexpr std::string_view kSizes[] = {"128x128", "256x256", "96x96", "512x512",
                                                  "64x64",   "48x48",   "32x32"};
    for (const auto& folder : folders_) {
      const fs::path share = fs::path(folder).parent_path();
      for (auto size : kSizes) {
        candidates.push_back(share / "icons/hicolor" / size / "apps" / (name + ".png"));
      }
      candidates.push_back(share / "pixmaps" / (name + ".png"));
    }
  }
  for (const auto& candidate : candidates) {
    auto bytes = readSmallFile(candidate);
    if (bytes && bytes->starts_with(kPNGSignature)) return bytes;
  }
  return std::nullopt;
}

}  // namespace tolvane::system
