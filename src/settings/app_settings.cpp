// Loading, writing and reacting to the user's settings.
#include "settings/app_settings.h"

#include <limits>
#include <utility>

#include "settings/preference_keys.h"

namespace tolvane {

namespace {

void write(PreferenceStore& store, std::string_view key, const std::optional<std::string>& value) {
  // An absent language is an absent key, never an empty string: the language service and the
  // next launch both read "no key" as "follow the system".
  if (value) {
    store.set(key, *value);
  } else {
    store.remove(key);
  }
}

template <typename T>
void write(PreferenceStore& store, std::string_view key, const T& value) {
  store.set(key, PrefValue(std::in_place_type<T>, value));
}

bool fitsUnsigned32(std::int64_t value) {
  return value >= 0 && value <= std::int64_t{std::numeric_limits<std::uint32_t>::max()};
}

}  // namespace

AppSettings::AppSettings(PreferenceStore& store, LoginItems& loginItems, SystemLog& systemLog,
                         DebugLog& debugLog)
    : store_(store), loginItems_(loginItems), systemLog_(systemLog), debugLog_(debugLog) {
  // Existence, not type, decides whether this is a first launch: a "launchAtLogin" of the wrong
  // type reads as the default but is not rewritten, and the login item is left alone.
  const bool launchAtLoginStored = store_.value(prefkey::kLaunchAtLogin).has_value();
  values_ = load(store_);
  if (!launchAtLoginStored) {
    store_.set(prefkey::kLaunchAtLogin, true);
    applyLaunchAtLogin();
  }
}

AppSettings::Values AppSettings::load(const PreferenceStore& store) {
  using namespace prefkey;
  Values v;
  v.onboardingCompleted = store.boolValue(kOnboardingCompleted).value_or(v.onboardingCompleted);
  v.launchAtLogin = store.boolValue(kLaunchAtLogin).value_or(v.launchAtLogin);
  v.languageCode = store.stringValue(kLanguageCode);
  v.interceptCmdTab = store.boolValue(kInterceptCmdTab).value_or(v.interceptCmdTab);
  v.interceptAppCycle = store.boolValue(kInterceptAppCycle).value_or(v.interceptAppCycle);
  v.showMinimizedWindows = store.boolValue(kShowMinimizedWindows).value_or(v.showMinimizedWindows);
  v.showHiddenAppWindows = store.boolValue(kShowHiddenAppWindows).value_or(v.showHiddenAppWindows);
  v.switcherUsesOption = store.boolValue(kSwitcherUsesOption).value_or(v.switcherUsesOption);
  v.paletteKeyCode = store.intValue(kPaletteKeyCode).value_or(v.paletteKeyCode);
  v.paletteModifiers = store.intValue(kPaletteModifiers).value_or(v.paletteModifiers);
  v.switcherPaused = store.boolValue(kSwitcherPaused).value_or(v.switcherPaused);
  v.excludedBundleIDs = store.stringListValue(kExcludedBundleIDs).value_or(v.excludedBundleIDs);
  v.crashReportingEnabled =
      store.boolValue(kCrashReportingEnabled).value_or(v.crashReportingEnabled);
  v.improveDataSharing = store.boolValue(kImproveDataSharing).value_or(v.improveDataSharing);
  return v;
}

Notifier::Subscription AppSettings::subscribe(std::function<void()> handler) {
  return changed_.subscribe(std::move(handler));
}

void AppSettings::setInterceptionChangedHook(std::function<void()> hook) {
  interceptionChangedHook_ = std::move(hook);
}

void AppSettings::setPaletteHotKeyRegistrar(
    std::function<void(std::uint32_t keyCode, std::uint32_t modifiers)> registrar) {
  paletteHotKeyRegistrar_ = std::move(registrar);
}

void AppSettings::setUsageQueueClearer(std::function<void()> clearer) {
  usageQueueClearer_ = std::move(clearer);
}

template <typename T>
void AppSettings::assign(T Values::*field, T value, std::string_view key) {
  // Subscribers must run before the store changes: views and settings sync compare against
  // what they see now, and a subscriber reading a getter here must still get the old value.
  changed_.notify();
  values_.*field = std::move(value);
  write(store_, key, values_.*field);
}

void AppSettings::applyPaletteHotKey() {
  const auto keyCode = values_.paletteKeyCode;
  const auto modifiers = values_.paletteModifiers;
  // The recorder only writes values a hotkey can take, but a synced payload or a hand-edited
  // file can carry anything; truncating would register a combination nobody chose.
  if (!fitsUnsigned32(keyCode) || !fitsUnsigned32(modifiers)) {
    debugLog_.log("palette hotkey not registered: keyCode=" + std::to_string(keyCode) +
                  " modifiers=" + std::to_string(modifiers) + " out of range");
    return;
  }
  if (paletteHotKeyRegistrar_) {
    paletteHotKeyRegistrar_(static_cast<std::uint32_t>(keyCode),
                            static_cast<std::uint32_t>(modifiers));
  }
}

void AppSettings::applyLaunchAtLogin() {
  const auto error =
      values_.launchAtLogin ? loginItems_.registerApp() : loginItems_.unregisterApp();
  // The property keeps what the user chose even when the system refused: the switch in the
  // settings reflects the wish, and the next change or launch tries again.
  if (error) systemLog_.write(std::string(kLoginItemFailurePrefix) + *error);
}

void AppSettings::interceptionChanged() {
  if (interceptionChangedHook_) interceptionChangedHook_();
}

void AppSettings::setOnboardingCompleted(bool value) {
  assign(&Values::onboardingCompleted, value, prefkey::kOnboardingCompleted);
}

void AppSettings::setLaunchAtLogin(bool value) {
  assign(&Values::launchAtLogin, value, prefkey::kLaunchAtLogin);
  applyLaunchAtLogin();
}

void AppSettings::setLanguageCode(std::optional<std::string> value) {
  assign(&Values::languageCode, std::move(value), prefkey::kLanguageCode);
}

void AppSettings::setInterceptCmdTab(bool value) {
  assign(&Values::interceptCmdTab, value, prefkey::kInterceptCmdTab);
  interceptionChanged();
}

void AppSettings::setInterceptAppCycle(bool value) {
  assign(&Values::interceptAppCycle, value, prefkey::kInterceptAppCycle);
  interceptionChanged();
}

void AppSettings::setShowMinimizedWindows(bool value) {
  assign(&Values::showMinimizedWindows, value, prefkey::kShowMinimizedWindows);
}

void AppSettings::setShowHiddenAppWindows(bool value) {
  assign(&Values::showHiddenAppWindows, value, prefkey::kShowHiddenAppWindows);
}

void AppSettings::setSwitcherUsesOption(bool value) {
  assign(&Values::switcherUsesOption, value, prefkey::kSwitcherUsesOption);
  interceptionChanged();
}

void AppSettings::setPaletteKeyCode(std::int64_t value) {
  assign(&Values::paletteKeyCode, value, prefkey::kPaletteKeyCode);
  applyPaletteHotKey();
}

void AppSettings::setPaletteModifiers(std::int64_t value) {
  assign(&Values::paletteModifiers, value, prefkey::kPaletteModifiers);
  applyPaletteHotKey();
}

void AppSettings::setSwitcherPaused(bool value) {
  assign(&Values::switcherPaused, value, prefkey::kSwitcherPaused);
  interceptionChanged();
}

void AppSettings::setExcludedBundleIDs(std::vector<std::string> value) {
  assign(&Values::excludedBundleIDs, std::move(value), prefkey::kExcludedBundleIDs);
}

void AppSettings::setCrashReportingEnabled(bool value) {
  assign(&Values::crashReportingEnabled, value, prefkey::kCrashReportingEnabled);
}

void AppSettings::setImproveDataSharing(bool value) {
  assign(&Values::improveDataSharing, value, prefkey::kImproveDataSharing);
  // Cleared on every false, not only on a change from true: turning sharing off must leave
  // nothing queued, whatever was recorded since the last time.
  if (!value && usageQueueClearer_) usageQueueClearer_();
}

}  // namespace tolvane
