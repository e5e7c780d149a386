// Facts about this program and the machine it runs on.
#pragma once

#include <optional>
#include <string>

namespace tolvane {

/// The program's own identity, read from its bundle (compiled in on Linux).
struct BundleInfo {
  std::string identifier = "com.brenmoor.tolvane";
  std::optional<std::string> shortVersion;
  std::optional<std::string> build;
  /// The appcast address; updates are offered only when it is present.
  std::optional<std::string> feedURL;
  std::string urlScheme = "tolvane";
};

/// Where per-user files live (XDG base directories).
struct UserPaths {
  /// $XDG_CONFIG_HOME, else ~/.config.
  std::string configHome;
  /// $XDG_DATA_HOME, else ~/.local/share.
  std::string dataHome;
  /// $XDG_RUNTIME_DIR, when set.
  std::optional<std::string> runtimeDir;
};

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  virtual std::optional<std::string> environment(const std::string& name) const = 0;
  /// "<name> <version>" of the operating system.
  virtual std::string osVersion() const = 0;
  /// The processor architecture ("x86_64", "arm64", ...).
  virtual std::string architecture() const = 0;
  /// The current locale identifier ("de_DE").
  virtual std::string localeIdentifier() const = 0;
};

}  // namespace tolvane
