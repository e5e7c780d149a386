// Facts about this machine and process, read from the operating system.
#pragma once

#include "base/random_source.h"
#include "platform/system_info.h"

namespace tolvane::system {

class PosixSystemInfo final : public SystemInfo {
 public:
  std::optional<std::string> environment(const std::string& name) const override;
  /// The distribution's name and version from os-release ("Debian GNU/Linux 12"), else the
  /// kernel's ("Linux 6.1.0-18-amd64").
  std::string osVersion() const override;
  /// The machine name uname reports ("x86_64", "aarch64").
  std::string architecture() const override;
  /// The messages locale without encoding or modifier ("de_DE"); "en_US_POSIX" for the C locale.
  std::string localeIdentifier() const override;
};

/// The operating-system name from the text of an os-release file: NAME and VERSION_ID
/// joined by a space, values unquoted; nothing when NAME is missing.
std::optional<std::string> osNameFromOsRelease(const std::string& text);

/// Random numbers from the operating system's entropy source.
class SystemRandom final : public RandomSource {
 public:
  std::uint64_t uniform(std::uint64_t upperBound) override;
  std::vector<std::uint8_t> secureBytes(std::size_t count) override;
};

}  // namespace tolvane::system
