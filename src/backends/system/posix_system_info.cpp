// os-release, uname, the locale environment, getrandom and OpenSSL's generator.
#include "backends/system/posix_system_info.h"

#include <openssl/rand.h>

#include <sys/random.h>
#include <sys/utsname.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tolvane::system {

namespace {

std::string unquoted(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::string readAll(const char* path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool fillRandom(std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::getrandom(data, count, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<std::string> osNameFromOsRelease(const std::string& text) {
  std::optional<std::string> name;
  std::optional<std::string> version;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("NAME=")) name = unquoted(line.substr(5));
    if (line.starts_with("VERSION_ID=")) version = unquoted(line.substr(11));
  }
  if (!name || name->empty()) return std::nullopt;
  return version && !version->empty() ? *name + " " + *version : *name;
}

std::optional<std::string> PosixSystemInfo::environment(const std::string& name) const {
  if (const char* value = std::getenv(name.c_str())) return std::string(value);
  return std::nullopt;
}

std::string PosixSystemInfo::osVersion() const {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    if (auto name = osNameFromOsRelease(readAll(path))) return *name;
  }
  utsname info{};
  if (::uname(&info) == 0) return std::string(info.sysname) + " " + info.release;
  return "Linux";
}

std::string PosixSystemInfo::architecture() const {
  utsname info{};
  return ::uname(&info) == 0 ? info.machine : "unknown";
}

std::string PosixSystemInfo::localeIdentifier() const {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    auto value = environment(variable);
    if (!value || value->empty()) continue;
    std::string locale = value->substr(0, value->find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") break;
    return locale;
  }
  return "en_US_POSIX";
}

std::uint64_t SystemRandom::uniform(std::uint64_t upperBound) {
  if (upperBound <= 1) return 0;
  // Rejection sampling: the plain remainder would favour small values.
  const std::uint64_t limit = UINT64_MAX - UINT64_MAX % upperBound;
  for (;;) {
    std::uint64_t value = 0;
    if (!fillRandom(reinterpret_cast<std::uint8_t*>(&value), sizeof value)) return 0;
    if (value < limit) return value % upperBound;
  }
}

std::vector<std::uint8_t> SystemRandom::secureBytes(std::size_t count) {
  // Secrets (sign-in verifiers and states, install ids) come from OpenSSL's generator, which
  // the kernel seeds; an empty result tells the caller that no secret could be made.
  std::vector<std::uint8_t> bytes(count);
  if (count > static_cast<std::size_t>(INT_MAX)) return {};
  if (count > 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) return {};
  return bytes;
}

}  // namespace tolvane::system
