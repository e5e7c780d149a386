// Desktop entries (XDG .desktop files) of installed applications: which one a window belongs
// to, its name in the user's language, how to start it, and where its icon is.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::system {

/// One application entry, as much of it as the desktop uses.
struct DesktopEntry {
  /// The desktop-file id: the path below the applications folder, '/' turned into '-', without
  /// ".desktop" ("org.gnome.Nautilus", "kde4-kate").
  std::string id;
  /// Where the file is.
  std::string path;
  std::string name;
  /// Name[locale] values by their locale key ("de", "pt_BR", "sr@latin").
  std::map<std::string, std::string, std::less<>> localizedNames;
  std::string startupWMClass;
  std::string exec;
  std::string icon;
  /// The entry asks not to be listed in menus (a helper, a settings module).
  bool noDisplay = false;
};

/// Parses the [Desktop Entry] group of a desktop file's text; nothing unless it is an
/// application entry that is not marked Hidden.
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text);

/// The argument vector of an Exec value started without files or URLs: quoting undone, field
/// codes expanded (%i, %c, %k) or dropped; nothing when the value is malformed or empty.
std::optional<std::vector<std::string>> execArguments(const DesktopEntry& entry,
                                                      std::string_view localizedName);

/// The locale keys to try for a POSIX locale name, most specific first:
/// "de_DE.UTF-8@euro" gives de_DE@euro, de_DE, de@euro, de.
std::vector<std::string> localeKeys(std::string_view locale);

/// Whether `program` is an executable file: a path, or a name found in $PATH.
bool isExecutable(const std::string& program);

/// Starts `argv` detached: in a session of its own, stdio on /dev/null, not waited for and
/// leaving no child behind to reap. False when the program is missing or could not be started.
bool launchDetached(const std::vector<std::string>& argv);

/// The installed application entries, read once and re-read when a lookup misses after a
/// folder changed. Main thread only.
class DesktopEntries {
 public:
  /// `folders` are applications folders, most important first: an id found in an earlier one
  /// hides the same id in later ones. `locale` is a POSIX locale name ("pt_BR.UTF-8").
  DesktopEntries(std::vector<std::string> folders, std::string locale);

  /// $XDG_DATA_HOME/applications, then $XDG_DATA_DIRS/*/applications (with the defaults the
  /// XDG base-directory rules give when they are unset).
  static std::vector<std::string> defaultFolders();
  /// The locale of messages: LC_ALL, else LC_MESSAGES, else LANG.
  static std::string defaultLocale();

  /// Every entry, scanned again first when a folder changed since the last scan.
  const std::vector<DesktopEntry>& all();
  /// The entry with this desktop-file id.
  const DesktopEntry* byID(std::string_view id);
  /// The entry for a window's WM_CLASS, compared without case: StartupWMClass against the
  /// class, then the instance; then the desktop-file id against the class, then the instance.
  const DesktopEntry* byWMClass(std::string_view instance, std::string_view windowClass);
  /// The entry's Name in the user's language, else its Name.
  std::string localizedName(const DesktopEntry& entry) const;
  /// The entry's icon as PNG bytes: an absolute PNG path, or the largest fitting PNG in the
  /// hicolor theme or the pixmaps folder next to the applications folders.
  std::optional<std::string> iconPNG(const DesktopEntry& entry) const;
  /// The entry stored at `path` (a file of one of the folders, or any desktop file).
  std::optional<DesktopEntry> atPath(const std::string& path) const;

 private:
  void scan();
  bool foldersChanged() const;
  /// Looks `find` up, scanning again once if it finds nothing and a folder changed.
  template <class Find>
  const DesktopEntry* lookup(Find find);

  std::vector<std::string> folders_;
  std::vector<std::string> localeKeys_;
  std::vector<DesktopEntry> entries_;
  std::vector<std::filesystem::file_time_type> scannedTimes_;
  bool scanned_ = false;
};

}  // namespace tolvane::system
