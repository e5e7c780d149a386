// The names of every key in the preference domain. No other file spells a key: a misspelt key
// reads as absent and silently yields a default. settings/setting_table.h describes the settings.
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
/// Update checking: the automatic-check switch and the wall-clock time of the last check.
inline constexpr std::string_view kSUEnableAutomaticChecks = "SUEnableAutomaticChecks";
inline constexpr std::string_view kSULastCheckTime = "SULastCheckTime";

/// Every key above that AppSettings does not own.
inline constexpr std::array kKeysOfOtherComponents = {
    kAppleLanguages,       kCloudSyncEnabled,        kCloudSyncLastBlob,
    kCloudSyncBaseVersion, kCrashInstallID,          kTesterModeEnabled,
    kTesterLastExport,     kSUEnableAutomaticChecks, kSULastCheckTime};

}  // namespace tolvane::prefkey
