// Makes text that Tolvane does not draw itself (toolkit dialogs, the update notice) follow the
// chosen interface language at once, by redirecting lookups to per-language resource folders.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "base/files.h"

namespace tolvane {

/// The override language and the search for language folders ("<code>.lproj") inside a
/// resource folder (a "bundle"). Lookups may come from any thread; every field is guarded by
/// one lock, which is never held while calling into the file system or a lookup.
class FrameworkLanguage {
 public:
  /// The toolkit's own lookup in one bundle; the redirection calls it on the folder it picks.
  using Lookup = std::function<std::string(const std::string& bundlePath)>;

  explicit FrameworkLanguage(const FileSystem& files) : files_(files) {}
  FrameworkLanguage(const FrameworkLanguage&) = delete;
  FrameworkLanguage& operator=(const FrameworkLanguage&) = delete;

  /// The language code lookups are redirected to; nothing follows the system.
  void setOverride(std::optional<std::string> code);
  std::optional<std::string> overrideCode() const;

  /// Hooks the redirection into the toolkit, once per process; later calls do nothing. The
  /// desktop backend provides the installer; without one nothing is installed.
  void installRedirection(const std::function<void()>& installer);
  bool isRedirectionInstalled() const;

  /// One string lookup through the redirection: with an override whose language folder exists
  /// in `bundlePath`, `lookup` runs on that folder, otherwise on `bundlePath` itself.
  std::string localizedString(const std::string& bundlePath, const Lookup& lookup);

  /// The language folder for (`bundlePath`, `code`): "<code>.lproj", then its first two
  /// characters ("pt-BR" → "pt.lproj"), then "Base.lproj" for English codes. Hits are cached;
  /// misses are not, so a folder installed later is still found.
  std::optional<std::string> languageBundle(const std::string& bundlePath, const std::string& code);

 private:
  const FileSystem& files_;
  mutable std::mutex lock_;
  std::optional<std::string> override_;
  std::map<std::string, std::string> bundleCache_;
  bool installed_ = false;
};

}  // namespace tolvane
