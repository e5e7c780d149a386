// Reads /proc/self/exe.
#include "backends/system/executable_path.h"

#include <unistd.h>

#include <vector>

namespace tolvane::system {

std::optional<std::string> executablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    // readlink truncates silently; a result that fills the buffer may have been cut.
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    if (buffer.size() >= 65536) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::string> companionProgram(const std::string& folder, const std::string& name) {
  const auto self = executablePath();
  if (!self) return std::nullopt;
  const std::string own = self->substr(0, self->rfind('/') + 1);
  for (const std::string& candidate : {own + folder + "/" + name, own + name}) {
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

}  // namespace tolvane::system
