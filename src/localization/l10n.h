// The interface language of the moment and every user-visible text, looked up by key.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "localization/app_language.h"
#include "localization/framework_language.h"
#include "platform/notifier.h"
#include "platform/preferences.h"

namespace tolvane {

/// Main thread only. Views look texts up while drawing, so a change of language shows at once
/// everywhere; subscribers hear of each change to redraw.
/// The first "%@" of a text table's format replaced by `argument`; a format without one is
/// returned as it is.
std::string formatText(std::string format, std::string_view argument);

class L10n {
 public:
  /// `preferredLanguages` answers the system's preferred languages, most preferred first.
  L10n(PreferenceStore& preferences, FrameworkLanguage& framework,
       std::function<std::vector<std::string>()> preferredLanguages);

  AppLanguage language() const { return language_; }

  /// The text of `key` in the current language, else in English, else the key itself: a
  /// missing text shows its key, never an empty label.
  std::string string(std::string_view key) const;

  /// Switches to the language whose code is exactly `code`, or follows the system when `code`
  /// is absent or names no language. Also points the platform-facing language list
  /// ("AppleLanguages") and the toolkit redirection at the same choice.
  void apply(const std::optional<std::string>& code);

  /// Applies the stored "languageCode" once at start-up.
  void bootstrap();

  /// Called after every change of language.
  [[nodiscard]] Notifier::Subscription subscribe(std::function<void()> handler) {
    return changed_.subscribe(std::move(handler));
  }

  /// Connects the toolkit's redirection installer (the desktop backend's); run at most once.
  void setRedirectionInstaller(std::function<void()> installer) {
    installer_ = std::move(installer);
  }

 private:
  void syncOverride(std::optional<AppLanguage> chosen);

  PreferenceStore& preferences_;
  FrameworkLanguage& framework_;
  std::function<std::vector<std::string>()> preferredLanguages_;
  std::function<void()> installer_;
  AppLanguage language_ = AppLanguage::en;
  Notifier changed_;
};

}  // namespace tolvane
