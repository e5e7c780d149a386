// The names of every key in the preference domain, and which of them settings sync carries.
// No other file spells a key: a misspelt key reads as absent and silently yields a default.
#pragma once

#include <array>
#include <string_view>

namespace tolvane::prefkey {

// Settings owned by AppSettings; each key equals its property name.
inline constexpr std::string_view kOnboardingCompleted = "onboardingCompleted";
inline constexpr std::string_view kLaunchAtLogin = "launchAtLogin";
inline constexpr std::string_view kLanguageCode = "languageCode";
inline constexpr std::string_view kInterceptCmdTab = "interceptCmdTab";
inline constexpr std::string_view kInterceptAppCycle = "interceptAppCycle";
inline constexpr std::string_view kSwitcherUsesOption = "switcherUsesOption";
inline constexpr std::string_view kPaletteKeyCode = "paletteKeyCode";
inline constexpr std::string_view kPaletteModifiers = "paletteModifiers";
inline constexpr std::string_view kShowMinimizedWindows = "showMinimizedWindows";
inline constexpr std::string_view kShowHiddenAppWindows = "showHiddenAppWindows";
inline constexpr std::string_view kSwitcherPaused = "switcherPaused";
inline constexpr std::string_view kExcludedBundleIDs = "excludedBundleIDs";
inline constexpr std::string_view kCrashReportingEnabled = "crashReportingEnabled";
inline constexpr std::string_view kImproveDataSharing = "improveDataSharing";

// Keys in the same domain that belong to other components; listed here so none is reused.

/// The per-application language override: a one-element list holding the language code.
inline constexpr std::string_view kAppleLanguages = "AppleLanguages";
/// Settings sync: its switch, the last synchronised payload and the base version.
inline constexpr std::string_view kCloudSyncEnabled = "cloudSyncEnabled";
inline constexpr std::string_view kCloudSyncLastBlob = "cloudSyncLastBlob";
inline constexpr std::string_view kCloudSyncBaseVersion = "cloudSyncBaseVersion";
/// The anonymous installation identifier shared by crash and usage reporting.
inline constexpr std::string_view kCrashInstallID = "crashInstallID";
/// Tester mode: its switch and the time of the last log export.
inline constexpr std::string_view kTesterModeEnabled = "testerModeEnabled";
inline constexpr std::string_view kTesterLastExport = "testerLastExport";

/// Every key AppSettings owns, in the order its properties are declared.
inline constexpr std::array<std::string_view, 14> kSettingKeys = {
    kOnboardingCompleted,   kLaunchAtLogin,        kLanguageCode,         kInterceptCmdTab,
    kInterceptAppCycle,     kShowMinimizedWindows, kShowHiddenAppWindows, kSwitcherUsesOption,
    kPaletteKeyCode,        kPaletteModifiers,     kSwitcherPaused,       kExcludedBundleIDs,
    kCrashReportingEnabled, kImproveDataSharing};

/// The settings that settings sync copies between machines. Per-machine state (onboarding,
/// login item, the pause switch) and the crash-report consent stay local.
inline constexpr std::array<std::string_view, 10> kSyncedSettingKeys = {
    kLanguageCode,      kInterceptCmdTab,   kInterceptAppCycle,    kSwitcherUsesOption,
    kPaletteKeyCode,    kPaletteModifiers,  kShowMinimizedWindows, kShowHiddenAppWindows,
    kExcludedBundleIDs, kImproveDataSharing};

/// Whether settings sync carries `key`; false for every key not owned by AppSettings.
constexpr bool carriedBySync(std::string_view key) {
  for (auto synced : kSyncedSettingKeys) {
    if (synced == key) return true;
  }
  return false;
}

}  // namespace tolvane::prefkey
