// The language-folder search and the redirection of toolkit string lookups.
#include "localization/framework_language.h"

#include <vector>

namespace tolvane {

void FrameworkLanguage::setOverride(std::optional<std::string> code) {
  std::lock_guard guard(lock_);
  override_ = std::move(code);
}

std::optional<std::string> FrameworkLanguage::overrideCode() const {
  std::lock_guard guard(lock_);
  return override_;
}

void FrameworkLanguage::installRedirection(const std::function<void()>& installer) {
  {
    std::lock_guard guard(lock_);
    if (installed_ || !installer) return;
    installed_ = true;
  }
  installer();
}

bool FrameworkLanguage::isRedirectionInstalled() const {
  std::lock_guard guard(lock_);
  return installed_;
}

std::string FrameworkLanguage::localizedString(const std::string& bundlePath,
                                               const Lookup& lookup) {
  const auto code = overrideCode();
  if (code) {
    if (auto folder = languageBundle(bundlePath, *code)) return lookup(*folder);
  }
  return lookup(bundlePath);
}

std::optional<std::string> FrameworkLanguage::languageBundle(const std::string& bundlePath,
                                                             const std::string& code) {
  const std::string cacheKey = bundlePath + "|" + code;
  {
    std::lock_guard guard(lock_);
    if (auto it = bundleCache_.find(cacheKey); it != bundleCache_.end()) return it->second;
  }
  std::vector<std::string> names{code};
  if (code.size() > 2 && code.substr(0, 2) != code) names.push_back(code.substr(0, 2));
  if (code.starts_with("en")) names.emplace_back("Base");
  for (const auto& name : names) {
    const std::string candidate = bundlePath + "/" + name + ".lproj";
    if (!files_.isDirectory(candidate)) continue;
    std::lock_guard guard(lock_);
    bundleCache_.emplace(cacheKey, candidate);
    return candidate;
  }
  return std::nullopt;
}

}  // namespace tolvane
