// Creating and keeping the installation identifier.
#include "reporting/install_id.h"

#include <mutex>

#include "base/random_uuid.h"
#include "settings/preference_keys.h"

namespace tolvane {

std::string installID(PreferenceStore& preferences, RandomSource& random) {
  // Usage and crash reporting may both reach here first from their own threads; without the
  // lock each could store an identifier of its own and one report would carry a stray id.
  static std::mutex creation;
  std::lock_guard guard(creation);
  if (auto stored = preferences.stringValue(prefkey::kCrashInstallID); stored && !stored->empty()) {
    return *stored;
  }
  // Without secure bytes there is no identifier to keep: reports go without one this time
  // rather than under an id that other machines could share.
  auto fresh = randomUUID(random);
  if (!fresh) return std::string();
  preferences.set(prefkey::kCrashInstallID, *fresh);
  return *fresh;
}

}  // namespace tolvane
