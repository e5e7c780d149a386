// The atomic-replace recipe shared by every file that must never be seen half-written, and the
// words of a refused bounded read.
#include "base/files.h"

#include <utility>

namespace tolvane {

std::string refusedReadMessage(std::string_view what, const std::string& path, ReadFailure failure,
                               std::size_t maxBytes) {
  std::string reason;
  switch (failure) {
    case ReadFailure::missing:
      reason = "missing";
      break;
    case ReadFailure::notRegularFile:
      reason = "not a regular file";
      break;
    case ReadFailure::tooLarge:
      reason = "larger than " + std::to_string(maxBytes) + " bytes";
      break;
    case ReadFailure::unreadable:
      reason = "unreadable";
      break;
  }
  return std::string(what) + " refused path=" + path + " reason=" + reason;
}

std::string parentFolder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::optional<std::string> finalLinkTarget(const FileSystem& fs, const std::string& path) {
  // Linux's own limit on links followed while resolving one name (MAXSYMLINKS).
  constexpr int kMaxLinksFollowed = 40;
  std::string current = path;
  for (int followed = 0; followed <= kMaxLinksFollowed; ++followed) {
    auto next = fs.linkTarget(current);
    if (!next) return current;
    if (next->empty()) return std::nullopt;
    // A relative link text is relative to the folder holding the link, not to ours.
    current = next->front() == '/' ? std::move(*next) : parentFolder(current) + "/" + *next;
  }
  return std::nullopt;
}

bool writeFileAtomically(FileSystem& fs, const std::string& path, std::string_view bytes) {
  // Renaming over a link would replace the link with a plain file; dotfile managers keep the
  // preferences as a link into their repository, so the file at the end of the chain is the one
  // replaced, with the temporary beside it so that the rename stays on one file system.
  const auto target = finalLinkTarget(fs, path);
  if (!target) return false;
  const auto temporary = fs.writeNewTemporaryFile(*target, bytes);
  if (!temporary) return false;
  if (!fs.rename(*temporary, *target)) {
    fs.remove(*temporary);
    return false;
  }
  return true;
}

}  // namespace tolvane
