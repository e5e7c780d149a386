// The atomic-replace recipe shared by every file that must never be seen half-written.
#include "platform/files.h"

namespace tolvane {

std::string parentFolder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool writeFileAtomically(FileSystem& fs, const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp";
  if (!fs.writeFileSynced(temporary, bytes)) {
    fs.remove(temporary);
    return false;
  }
  if (!fs.rename(temporary, path)) {
    fs.remove(temporary);
    return false;
  }
  return true;
}

}  // namespace tolvane
