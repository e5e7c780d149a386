// The login item on a Linux desktop: an XDG autostart entry in the user's configuration folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/files.h"
#include "platform/login_items.h"

namespace tolvane::system {

/// The text of the autostart desktop entry that starts `executablePath` with the session.
std::string autostartEntry(std::string_view executablePath);

/// `argument` as one argument of a desktop entry's Exec key, before the general escaping of
/// string values: quoted when it holds a reserved character, '%' doubled so it is no field code.
std::string execArgument(std::string_view argument);

/// Registers the application by writing the desktop entry at `entryPath`
/// (<configHome>/autostart/<bundle id>.desktop) and unregisters it by deleting that file.
class AutostartLoginItems final : public LoginItems {
 public:
  AutostartLoginItems(FileSystem& files, std::string entryPath, std::string executablePath);

  /// Creates the autostart folder when missing and writes the entry atomically.
  std::optional<std::string> registerApp() override;
  /// Deletes the entry; an entry that is already gone is success.
  std::optional<std::string> unregisterApp() override;

 private:
  FileSystem& files_;
  const std::string entryPath_;
  const std::string executablePath_;
};

}  // namespace tolvane::system
