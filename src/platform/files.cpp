// The atomic-replace recipe shared by every file that must never be seen half-written.
#include "platform/files.h"

namespace tolvane {

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
