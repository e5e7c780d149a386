// Loading, writing and reacting to the user's settings.
#include "settings/app_settings.h"

#include <string>
#include <type_traits>
#include <utility>

#include "settings/preference_keys.h"

namespace tolvane {

namespace {

// Nothing is the nil string; every other value keeps its type.
SettingValue fromStored(std::optional<PrefValue> stored) {
  if (!stored) return std::optional<std::string>();
  return std::visit([](auto&& v) -> SettingValue { return std::move(v); }, std::move(*stored));
}

// The inverse of fromStored: the nil string is nothing.
std::optional<PrefValue> toStored(const SettingValue& value) {
  return std::visit(
      [](const auto& v) -> std::optional<PrefValue> {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::optional<std::string>>) {
          return v ? std::optional<PrefValue>(*v) : std::nullopt;
        } else {
          return v;
        }
      },
      value);
}

}  // namespace

AppSettings::AppSettings(PreferenceStore& store, LoginItems& loginItems, SystemLog& systemLog,
                         DebugLog& debugLog)
    : store_(store), loginItems_(loginItems), systemLog_(systemLog), debugLog_(debugLog) {
  for (std::size_t i = 0; i < kSettingTable.size(); ++i) {
    const SettingEntry& entry = kSettingTable[i];
    auto stored = store_.value(entry.key);
    if (stored && !entry.accepts(*stored)) reportRefused(entry, *stored);
    values_[i] =
        fromStored(stored && entry.accepts(*stored) ? std::move(stored) : entry.defaultValue());
  }
  // Existence, not type, decides whether this is a first launch: a "launchAtLogin" of the wrong
  // type reads as the default but is not rewritten, and the login item is left alone.
  if (!store_.value(prefkey::kLaunchAtLogin)) {
    store_.set(prefkey::kLaunchAtLogin, true);
    applyLaunchAtLogin();
  }
}

void AppSettings::reportRefused(const SettingEntry& entry, const PrefValue& stored) {
  // Said once, at loading: following the store later keeps the default without repeating it.
  // Only a number is quoted; a stored string is the file's, not ours to echo.
  std::string line = "setting refused key=" + std::string(entry.key);
  if (const auto* number = std::get_if<std::int64_t>(&stored)) {
    line += " value=" + std::to_string(*number);
  }
  line += entry.maskBits != 0 ? ": a hotkey needs a modifier and only modifier bits"
                              : ": wrong type or out of range";
  debugLog_.log(line + ", default kept");
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

void AppSettings::assign(SettingIndex setting, SettingValue value) {
  // Subscribers must run before the store changes: views and settings sync compare against
  // what they see now, and a subscriber reading a getter here must still get the old value.
  changed_.notify();
  values_[setting.value] = std::move(value);
  const std::string_view key = kSettingTable[setting.value].key;
  // A nil language is an absent key, never an empty string: the language service and the next
  // launch both read "no key" as "follow the system".
  if (auto stored = toStored(values_[setting.value])) {
    store_.set(key, std::move(*stored));
  } else {
    store_.remove(key);
  }
}

bool AppSettings::followStore() {
  bool changed = false;
  for (std::size_t i = 0; i < kSettingTable.size(); ++i) {
    const SettingEntry& entry = kSettingTable[i];
    auto stored = store_.value(entry.key);
    SettingValue now =
        fromStored(stored && entry.accepts(*stored) ? std::move(stored) : entry.defaultValue());
    if (now == values_[i]) continue;
    changed = true;
    followChange(i, std::move(now));
  }
  return changed;
}

void AppSettings::followChange(std::size_t index, SettingValue value) {
  // Through the setters, so each change notifies and takes effect exactly as if it had been
  // made here; writing the same value back to the store leaves the file as it is.
  const std::string_view key = kSettingTable[index].key;
  const auto asBool = [&value] { return std::get<bool>(value); };
  const auto asInt = [&value] { return std::get<std::int64_t>(value); };
  if (key == prefkey::kOnboardingCompleted) return setOnboardingCompleted(asBool());
  if (key == prefkey::kLaunchAtLogin) return setLaunchAtLogin(asBool());
  if (key == prefkey::kLanguageCode) {
    return setLanguageCode(std::get<std::optional<std::string>>(std::move(value)));
  }
  if (key == prefkey::kInterceptCmdTab) return setInterceptCmdTab(asBool());
  if (key == prefkey::kInterceptAppCycle) return setInterceptAppCycle(asBool());
  if (key == prefkey::kShowMinimizedWindows) return setShowMinimizedWindows(asBool());
  if (key == prefkey::kShowHiddenAppWindows) return setShowHiddenAppWindows(asBool());
  if (key == prefkey::kSwitcherUsesOption) return setSwitcherUsesOption(asBool());
  if (key == prefkey::kPaletteKeyCode) return setPaletteKeyCode(asInt());
  if (key == prefkey::kPaletteModifiers) return setPaletteModifiers(asInt());
  if (key == prefkey::kSwitcherPaused) return setSwitcherPaused(asBool());
  if (key == prefkey::kExcludedBundleIDs) {
    return setExcludedBundleIDs(std::get<std::vector<std::string>>(std::move(value)));
  }
  if (key == prefkey::kCrashReportingEnabled) return setCrashReportingEnabled(asBool());
  // The last setting of the table; a new one needs its line above (the test of following the
  // store changes every setting and would see it unchanged).
  setImproveDataSharing(asBool());
}

void AppSettings::applyPaletteHotKey() {
  const auto keyCode = paletteKeyCode();
  const auto modifiers = paletteModifiers();
  // Loading only keeps values in range, but a setter takes anything it is given; truncating
  // would register a combination nobody chose.
  if (!settingEntry(prefkey::kPaletteKeyCode).accepts(keyCode) ||
      !settingEntry(prefkey::kPaletteModifiers).accepts(modifiers)) {
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
  const auto error = launchAtLogin() ? loginItems_.registerApp() : loginItems_.unregisterApp();
  // The property keeps what the user chose even when the system refused: the switch in the
  // settings reflects the wish, and the next change or launch tries again.
  if (error) systemLog_.write(std::string(kLoginItemFailurePrefix) + *error);
}

void AppSettings::setLanguageChangedHook(std::function<void()> hook) {
  languageChangedHook_ = std::move(hook);
}

void AppSettings::interceptionChanged() {
  if (interceptionChangedHook_) interceptionChangedHook_();
}

void AppSettings::setOnboardingCompleted(bool value) {
  assign(prefkey::kOnboardingCompleted, value);
}

void AppSettings::setLaunchAtLogin(bool value) {
  assign(prefkey::kLaunchAtLogin, value);
  applyLaunchAtLogin();
}

void AppSettings::setLanguageCode(std::optional<std::string> value) {
  assign(prefkey::kLanguageCode, std::move(value));
  if (languageChangedHook_) languageChangedHook_();
}

void AppSettings::setInterceptCmdTab(bool value) {
  assign(prefkey::kInterceptCmdTab, value);
  interceptionChanged();
}

void AppSettings::setInterceptAppCycle(bool value) {
  assign(prefkey::kInterceptAppCycle, value);
  interceptionChanged();
}

void AppSettings::setShowMinimizedWindows(bool value) {
  assign(prefkey::kShowMinimizedWindows, value);
}

void AppSettings::setShowHiddenAppWindows(bool value) {
  assign(prefkey::kShowHiddenAppWindows, value);
}

void AppSettings::setSwitcherUsesOption(bool value) {
  assign(prefkey::kSwitcherUsesOption, value);
  interceptionChanged();
}

void AppSettings::setPaletteKeyCode(std::int64_t value) {
  assign(prefkey::kPaletteKeyCode, value);
  applyPaletteHotKey();
}

void AppSettings::setPaletteModifiers(std::int64_t value) {
  assign(prefkey::kPaletteModifiers, value);
  applyPaletteHotKey();
}

void AppSettings::setSwitcherPaused(bool value) {
  assign(prefkey::kSwitcherPaused, value);
  interceptionChanged();
}

void AppSettings::setExcludedBundleIDs(std::vector<std::string> value) {
  assign(prefkey::kExcludedBundleIDs, std::move(value));
}

void AppSettings::setCrashReportingEnabled(bool value) {
  assign(prefkey::kCrashReportingEnabled, value);
}

void AppSettings::setImproveDataSharing(bool value) {
  assign(prefkey::kImproveDataSharing, value);
  // Cleared on every false, not only on a change from true: turning sharing off must leave
  // nothing queued, whatever was recorded since the last time.
  if (!value && usageQueueClearer_) usageQueueClearer_();
}

}  // namespace tolvane
