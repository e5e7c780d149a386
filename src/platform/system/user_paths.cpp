// XDG base directory resolution.
#include "platform/system/user_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tolvane::system {

namespace {
std::optional<std::string> absolute(std::optional<std::string> value) {
  if (value && !value->empty() && value->front() == '/') return value;
  return std::nullopt;
}

std::string homeFolder(
    const std::function<std::optional<std::string>(const std::string&)>& getenv) {
  if (auto home = absolute(getenv("HOME"))) return *home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}
}  // namespace

UserPaths resolveUserPaths(
    const std::function<std::optional<std::string>(const std::string&)>& getenv) {
  UserPaths paths;
  const std::string home = homeFolder(getenv);
  paths.configHome = absolute(getenv("XDG_CONFIG_HOME")).value_or(home + "/.config");
  paths.dataHome = absolute(getenv("XDG_DATA_HOME")).value_or(home + "/.local/share");
  paths.runtimeDir = absolute(getenv("XDG_RUNTIME_DIR"));
  return paths;
}

UserPaths currentUserPaths() {
  return resolveUserPaths([](const std::string& name) -> std::optional<std::string> {
    if (const char* v = std::getenv(name.c_str())) return std::string(v);
    return std::nullopt;
  });
}

}  // namespace tolvane::system
