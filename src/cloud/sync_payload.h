// The synchronised settings as one record: built from the settings store, written as the blob
// the service keeps, read back from another machine's blob with every value checked, and
// applied through the store's own setters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/debug_log.h"
#include "settings/app_settings.h"

namespace tolvane {

/// The settings that settings sync carries. Each field is absent when unknown; an absent field
/// is left out of the blob. Field names are the preference keys.
struct SyncPayload {
  /// A blob longer than this is not read at all. It holds the blob of the largest list of
  /// identifiers the settings store accepts, as long as they need no escaping.
  static constexpr std::size_t kMaxBlobBytes = 256 * 1024;

  std::optional<std::string> languageCode;
  std::optional<bool> interceptCmdTab;
  std::optional<bool> interceptAppCycle;
  std::optional<bool> switcherUsesOption;
  std::optional<std::int64_t> paletteKeyCode;
  std::optional<std::int64_t> paletteModifiers;
  std::optional<bool> showMinimizedWindows;
  std::optional<bool> showHiddenAppWindows;
  std::optional<std::vector<std::string>> excludedBundleIDs;
  std::optional<bool> improveDataSharing;
  /// Keys whose remote value was refused while decoding. Applying leaves their settings as they
  /// are; a refused language is not read as "follow the system".
  std::vector<std::string_view> rejectedKeys;

  /// Every field from the settings; languageCode is absent while the language follows the
  /// system.
  static SyncPayload from(const AppSettings& settings);

  /// The payload as compact JSON with sorted keys, so equal settings give byte-identical blobs;
  /// "{}" when it cannot be encoded (a string that is not UTF-8).
  std::string blob() const;

  /// The payload a blob describes, or nothing when the blob as a whole is unreadable: longer
  /// than kMaxBlobBytes, not JSON, or not a JSON object. A member of the wrong type, out of the
  /// setting's range or naming something this machine does not know is refused for that key
  /// alone, and one line "sync: rejected key=<key> reason=<why>" goes to `log`; the value
  /// itself is never logged. Unknown members are ignored, and null counts as absent.
  static std::optional<SyncPayload> decode(std::string_view blob, DebugLog& log);

  /// Writes the payload into the settings through their setters, so each setting's reaction
  /// runs as for a change the user made. languageCode is always written (absent means follow
  /// the system) unless it was refused; every other field only when present.
  void apply(AppSettings& settings) const;

  bool operator==(const SyncPayload&) const = default;
};

}  // namespace tolvane
