// Creating and keeping the installation identifier.
#include "reporting/install_id.h"

#include <cstdio>
#include <mutex>

#include "settings/preference_keys.h"

namespace tolvane {

std::string makeUUID(RandomSource& random) {
  auto bytes = random.secureBytes(16);
  bytes.resize(16);
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

std::string installID(PreferenceStore& preferences, RandomSource& random) {
  // Usage and crash reporting may both reach here first from their own threads; without the
  // lock each could store an identifier of its own and one report would carry a stray id.
  static std::mutex creation;
  std::lock_guard guard(creation);
  if (auto stored = preferences.stringValue(prefkey::kCrashInstallID); stored && !stored->empty()) {
    return *stored;
  }
  std::string fresh = makeUUID(random);
  preferences.set(prefkey::kCrashInstallID, fresh);
  return fresh;
}

}  // namespace tolvane
