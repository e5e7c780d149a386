// XDG base directory resolution, and the checks that keep the runtime folder the user's own.
#include "backends/system/user_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "backends/system/posix_file_system.h"

namespace tolvane::system {

namespace {
std::optional<std::string> absolute(std::optional<std::string> value) {
  if (value && !value->empty() && value->front() == '/') return value;
  return std::nullopt;
}

std::string homeFolder(const EnvironmentLookup& getenv) {
  if (auto home = absolute(getenv("HOME"))) return *home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::optional<std::string> processEnvironment(const std::string& name) {
  if (const char* v = std::getenv(name.c_str())) return std::string(v);
  return std::nullopt;
}

std::string octal(std::uint32_t permissions) {
  char text[16];  // room for any 32-bit value, though only the permission bits are shown
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(permissions & 07777));
  return text;
}
}  // namespace

UserPaths resolveUserPaths(const EnvironmentLookup& getenv) {
  UserPaths paths;
  const std::string home = homeFolder(getenv);
  paths.configHome = absolute(getenv("XDG_CONFIG_HOME")).value_or(home + "/.config");
  paths.dataHome = absolute(getenv("XDG_DATA_HOME")).value_or(home + "/.local/share");
  paths.runtimeDir = absolute(getenv("XDG_RUNTIME_DIR"));
  return paths;
}

UserPaths currentUserPaths() {
  return resolveUserPaths(processEnvironment);
}

std::optional<std::string> privateFolderProblem(const FileSystem& files, const std::string& path,
                                                std::uint32_t uid) {
  const auto facts = files.linkFacts(path);
  if (!facts) return path + " does not exist";
  if (facts->kind == LinkFacts::Kind::symlink) return path + " is a symbolic link";
  if (facts->kind != LinkFacts::Kind::directory) return path + " is not a folder";
  if (facts->owner != uid) {
    return path + " belongs to user id " + std::to_string(facts->owner) + ", not " +
           std::to_string(uid);
  }
  if ((facts->permissions & 077) != 0) {
    return path + " is open to other users (mode " + octal(facts->permissions) + ")";
  }
  return std::nullopt;
}

std::optional<std::string> chooseRuntimeFolder(const EnvironmentLookup& getenv, FileSystem& files,
                                               std::uint32_t uid, std::string& message) {
  message.clear();
  const auto runtime = absolute(getenv("XDG_RUNTIME_DIR"));
  if (runtime) {
    const auto problem = privateFolderProblem(files, *runtime, uid);
    if (!problem) return runtime;
    message = "XDG_RUNTIME_DIR is not usable: " + *problem + "; ";
  }
  // A fixed name in a shared folder: anyone may create it first, so it is trusted only once
  // lstat shows it is ours and closed. /tmp's sticky bit keeps others from renaming it later.
  const std::string fallback =
      absolute(getenv("TMPDIR")).value_or("/tmp") + "/tolvane-" + std::to_string(uid);
  files.createDirectories(fallback);
  if (const auto problem = privateFolderProblem(files, fallback, uid)) {
    message += "cannot keep the instance lock in " + fallback + ": " + *problem +
               " (remove it, or set XDG_RUNTIME_DIR to a folder only you can use)";
    return std::nullopt;
  }
  if (runtime) message += "using " + fallback;
  return fallback;
}

std::optional<std::string> currentRuntimeFolder(std::string& message) {
  PosixFileSystem files;
  return chooseRuntimeFolder(processEnvironment, files, static_cast<std::uint32_t>(::getuid()),
                             message);
}

}  // namespace tolvane::system
